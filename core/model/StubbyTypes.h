// The type description of the placeholder object (IStubby, its empty
// outgoing interface and its class).
// The tables drive IDispatch, the type information and the registration; they
// are apart from the class so a member's dispid or name is changed here.
#pragma once

#include <iterator>

#include "core/xelor.h"
#include "platform/objrt/Object.h"

namespace xel::core {

// The outgoing interface of CStubby: no events.
struct StubbyEvents : IDispatch {
    static constexpr IID kIID = DIID__IStubbyEvents;
};

inline constexpr objrt::InterfaceDesc kIStubbyDesc =
    objrt::desc::emptyInterface<IStubby>("IStubby", objrt::kInterfaceDual);
inline constexpr objrt::InterfaceDesc kStubbyEventsDesc =
    objrt::desc::emptyInterface<StubbyEvents>("_IStubbyEvents", objrt::kInterfaceDispatchOnly);
inline constexpr objrt::ImplTypeDesc kStubbyImpls[] = {
    {&kIStubbyDesc, IMPLTYPEFLAG_FDEFAULT},
    {&kStubbyEventsDesc, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
};
inline constexpr objrt::CoClassDesc kStubbyClass{CLSID_Stubby, "Stubby", "Stubby Class", kStubbyImpls,
                                                 std::size(kStubbyImpls)};

}  // namespace xel::core
