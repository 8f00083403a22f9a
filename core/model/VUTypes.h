// The type description of the level-meter object (IVU and its class).
// The tables drive IDispatch, the type information and the registration; they
// are apart from the class so a member's dispid or name is changed here.
#pragma once

#include <iterator>

#include "core/xelor.h"
#include "platform/objrt/Object.h"

namespace xel::core {

namespace vudesc {
namespace d = objrt::desc;
// One member a line, in the order the interface lists them.
// clang-format off
inline constexpr auto kMembers = d::members(
    d::method<&IVU::ReadLevels>(1, "ReadLevels",
                                {"Left", "Right", "Center", "Sub", "LeftSurround", "RightSurround", "LeftEx",
                                 "RightEx"}),
    d::method<&IVU::Cleanup>(2, "Cleanup"));
// clang-format on
}  // namespace vudesc

inline constexpr objrt::InterfaceDesc kIVUDesc = objrt::desc::dualInterface<IVU>("IVU", vudesc::kMembers);
inline constexpr objrt::ImplTypeDesc kVUImpls[] = {{&kIVUDesc, IMPLTYPEFLAG_FDEFAULT}};
inline constexpr objrt::CoClassDesc kVUClass{CLSID_VU, "VU", "VU Class", kVUImpls, std::size(kVUImpls)};

}  // namespace xel::core
