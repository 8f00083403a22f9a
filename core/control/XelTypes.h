// The type description of the core object: its incoming interfaces IXel and
// IXelStatus, its outgoing _IXelEvents and _IXelStatusEvents, and the class
// that joins them. The tables drive IDispatch, the type information and the
// registration; they are apart from the class so a change of a member's
// dispid or name is made here, not among the core object's state.
#pragma once

#include <iterator>

#include "core/xelor.h"
#include "platform/objrt/Object.h"

namespace xel::core {

// The outgoing interfaces as C++ declarations, for their descriptions: the
// source only ever calls IDispatch::Invoke on a sink.
struct XelEvents : IDispatch {
    static constexpr IID kIID = DIID__IXelEvents;
    virtual HRESULT InputChange(LONG Input) noexcept = 0;             // 1
    virtual HRESULT AutomationChange(LONG Automation) noexcept = 0;   // 2
    virtual HRESULT ModeChange(LONG Mode) noexcept = 0;               // 3
    virtual HRESULT CommFail() noexcept = 0;                          // 4
    virtual HRESULT MuteChange(VARIANT_BOOL Mute) noexcept = 0;       // 5
    virtual HRESULT PICDownloadStateChange(LONG State) noexcept = 0;  // 6
};
struct XelStatusEvents : IDispatch {
    static constexpr IID kIID = DIID__IXelStatusEvents;
    virtual HRESULT DownloadProgress(LONG Permille) noexcept = 0;  // 1
};

namespace xeldesc {
namespace d = objrt::desc;
// One member a line, in the order the interface lists them.
// clang-format off
inline constexpr auto kMembers = d::members(
    d::propget<&IXel::get_Comm>(1, "Comm"),
    d::propget<&IXel::get_Profile>(2, "Profile"),
    d::propget<&IXel::get_Format>(3, "Format"),
    d::propget<&IXel::get_VU>(4, "VU"),
    d::property<&IXel::get_PowerOnFormat, &IXel::put_PowerOnFormat>(5, "PowerOnFormat"),
    d::property<&IXel::get_AESEBUFallback, &IXel::put_AESEBUFallback>(6, "AESEBUFallback"),
    d::method<&IXel::Load>(7, "Load", {"Filename"}),
    d::method<&IXel::Save>(8, "Save", {"Filename"}),
    d::property<&IXel::get_Mute, &IXel::put_Mute>(9, "Mute"),
    d::method<&IXel::Query>(10, "Query"),
    d::method<&IXel::Cleanup>(11, "Cleanup"),
    d::method<&IXel::SetIP>(12, "SetIP", {"Address", "HostBits", "Gateway"}),
    d::property<&IXel::get_PowerOnMode, &IXel::put_PowerOnMode>(13, "PowerOnMode"),
    d::method<&IXel::ParseHexFile>(14, "ParseHexFile", {"Filename"}),
    d::method<&IXel::DownloadToPIC>(15, "DownloadToPIC"),
    d::property<&IXel::get_FilmReturnFormat, &IXel::put_FilmReturnFormat>(16, "FilmReturnFormat"));
// clang-format on
// clang-format off
inline constexpr auto kEventMembers = d::members(
    d::method<&XelEvents::InputChange>(1, "InputChange", {"Input"}),
    d::method<&XelEvents::AutomationChange>(2, "AutomationChange", {"Automation"}),
    d::method<&XelEvents::ModeChange>(3, "ModeChange", {"Mode"}),
    d::method<&XelEvents::CommFail>(4, "CommFail"),
    d::method<&XelEvents::MuteChange>(5, "MuteChange", {"Mute"}),
    d::method<&XelEvents::PICDownloadStateChange>(6, "PICDownloadStateChange", {"State"}));
// clang-format on
// clang-format off
inline constexpr auto kStatusMembers = d::members(
    d::method<&IXelStatus::WaitSettled>(1, "WaitSettled", {"TimeoutMs", d::retval("Result")}),
    d::propget<&IXelStatus::get_DownloadProgress>(2, "DownloadProgress"));
// clang-format on
inline constexpr auto kStatusEventMembers =
    d::members(d::method<&XelStatusEvents::DownloadProgress>(1, "DownloadProgress", {"Permille"}));
}  // namespace xeldesc

inline constexpr objrt::InterfaceDesc kIXelDesc = objrt::desc::dualInterface<IXel>("IXel", xeldesc::kMembers);
inline constexpr objrt::InterfaceDesc kIXelEventsDesc =
    objrt::desc::eventInterface<XelEvents>("_IXelEvents", xeldesc::kEventMembers);
inline constexpr objrt::InterfaceDesc kIXelStatusDesc =
    objrt::desc::dualInterface<IXelStatus>("IXelStatus", xeldesc::kStatusMembers);
inline constexpr objrt::InterfaceDesc kIXelStatusEventsDesc =
    objrt::desc::eventInterface<XelStatusEvents>("_IXelStatusEvents", xeldesc::kStatusEventMembers);
inline constexpr objrt::ImplTypeDesc kXelImpls[] = {
    {&kIXelDesc, IMPLTYPEFLAG_FDEFAULT},
    {&kIXelStatusDesc, 0},
    {&kIXelEventsDesc, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
    {&kIXelStatusEventsDesc, IMPLTYPEFLAG_FSOURCE},
};
inline constexpr objrt::CoClassDesc kXelClass{CLSID_Xel, "Xel", "Xel Class", kXelImpls, std::size(kXelImpls)};

}  // namespace xel::core
