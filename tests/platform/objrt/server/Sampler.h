// The test-only in-process server's contract: one class with a dual interface
// and an event interface, shared by the server library and the tests that
// drive it early- and late-bound.
#pragma once

#include "platform/objrt/Describe.h"

namespace objrt_test {

inline constexpr GUID LIBID_Sampler = makeGuid("6d3c1b52-93a4-4f0e-8c71-2b5f0e9a4d10");
inline constexpr GUID APPID_Sampler = makeGuid("6d3c1b52-93a4-4f0e-8c71-2b5f0e9a4d11");
inline constexpr GUID CLSID_Sampler = makeGuid("6d3c1b52-93a4-4f0e-8c71-2b5f0e9a4d12");

enum SamplerMode : int32_t { SamplerModeIdle = 0, SamplerModeRunning = 1 };

// Dispatch ids follow the vtable order, each get before its put.
struct ISampler : IDispatch {
    static constexpr IID kIID = makeGuid("6d3c1b52-93a4-4f0e-8c71-2b5f0e9a4d20");
    virtual HRESULT get_Level(LONG* pVal) noexcept = 0;  // 1
    virtual HRESULT put_Level(LONG newVal) noexcept = 0;
    virtual HRESULT get_Channel(SHORT* pVal) noexcept = 0;  // 2
    virtual HRESULT put_Channel(SHORT newVal) noexcept = 0;
    virtual HRESULT get_Label(BSTR* pVal) noexcept = 0;  // 3
    virtual HRESULT put_Label(BSTR newVal) noexcept = 0;
    virtual HRESULT get_Enabled(VARIANT_BOOL* pVal) noexcept = 0;  // 4
    virtual HRESULT put_Enabled(VARIANT_BOOL newVal) noexcept = 0;
    // 5: Before = the level, then level *= Factor; Result = the new level.
    virtual HRESULT Scale(LONG Factor, LONG* Before, LONG* Result) noexcept = 0;
    // 6: raises LevelChanged(Level, Enabled), then LabelChanged(Label); returns
    // S_OK or the first failure a sink reported.
    virtual HRESULT Announce() noexcept = 0;
    virtual HRESULT get_Self(ISampler** pVal) noexcept = 0;         // 7
    virtual HRESULT get_Item(LONG Index, BSTR* pVal) noexcept = 0;  // 8: four named slots
    virtual HRESULT put_Item(LONG Index, BSTR newVal) noexcept = 0;
    virtual HRESULT Echo(LONG Code) noexcept = 0;              // 9: returns Code as its status
    virtual HRESULT get_Mode(SamplerMode* pVal) noexcept = 0;  // 10
    virtual HRESULT put_Mode(SamplerMode newVal) noexcept = 0;
};

// The outgoing interface: sinks implement the events as methods.
struct ISamplerEvents : IDispatch {
    static constexpr IID kIID = makeGuid("6d3c1b52-93a4-4f0e-8c71-2b5f0e9a4d21");
    virtual HRESULT LevelChanged(LONG Level, VARIANT_BOOL Enabled) noexcept = 0;  // 1
    virtual HRESULT LabelChanged(BSTR Label) noexcept = 0;                        // 2
};

namespace d = xel::objrt::desc;

// One member a line, in the order the interface lists them.
// clang-format off
inline constexpr auto kISamplerMembers = d::members(
    d::property<&ISampler::get_Level, &ISampler::put_Level>(1, "Level"),
    d::property<&ISampler::get_Channel, &ISampler::put_Channel>(2, "Channel"),
    d::property<&ISampler::get_Label, &ISampler::put_Label>(3, "Label"),
    d::property<&ISampler::get_Enabled, &ISampler::put_Enabled>(4, "Enabled"),
    d::method<&ISampler::Scale>(5, "Scale", {"Factor", "Before", d::retval("Result")}),
    d::method<&ISampler::Announce>(6, "Announce"),
    d::propget<&ISampler::get_Self>(7, "Self", {d::retval("pVal", "ISampler")}),
    d::property<&ISampler::get_Item, &ISampler::put_Item>(8, "Item", {"Index"}),
    d::method<&ISampler::Echo>(9, "Echo", {"Code"}, "returns its argument as the status"),
    d::property<&ISampler::get_Mode, &ISampler::put_Mode>(10, "Mode"));
// clang-format on
inline constexpr xel::objrt::InterfaceDesc kISamplerDesc = d::dualInterface<ISampler>("ISampler", kISamplerMembers);

inline constexpr auto kISamplerEventsMembers =
    // clang-format off
    d::members(d::method<&ISamplerEvents::LevelChanged>(1, "LevelChanged", {"Level", "Enabled"}),
               d::method<&ISamplerEvents::LabelChanged>(2, "LabelChanged", {"Label"}));
// clang-format on
inline constexpr xel::objrt::InterfaceDesc kISamplerEventsDesc =
    d::eventInterface<ISamplerEvents>("_ISamplerEvents", kISamplerEventsMembers);

inline constexpr xel::objrt::ImplTypeDesc kSamplerImpls[] = {
    {&kISamplerDesc, IMPLTYPEFLAG_FDEFAULT},
    {&kISamplerEventsDesc, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
};
inline constexpr xel::objrt::CoClassDesc kSamplerClass{CLSID_Sampler, "Sampler", "Sampler Class", kSamplerImpls, 2};

}  // namespace objrt_test
