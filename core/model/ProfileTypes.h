// The type description of the profile object (IProfile and its class).
// The tables drive IDispatch, the type information and the registration; they
// are apart from the class so a member's dispid or name is changed here.
#pragma once

#include <iterator>

#include "core/xelor.h"
#include "platform/objrt/Object.h"

namespace xel::core {

namespace profiledesc {
namespace d = objrt::desc;
// The puts name their value pVal, as the gets do.
// One member a line, in the order the interface lists them.
// clang-format off
inline constexpr auto kMembers = d::members(
    d::propget<&IProfile::get_TheaterNumber>(1, "TheaterNumber"),
    d::propput<&IProfile::put_TheaterNumber>(1, "TheaterNumber", {"pVal"}),
    d::propget<&IProfile::get_TheaterName>(2, "TheaterName"),
    d::propput<&IProfile::put_TheaterName>(2, "TheaterName", {"pVal"}),
    d::propget<&IProfile::get_ScreenNumber>(3, "ScreenNumber"),
    d::propput<&IProfile::put_ScreenNumber>(3, "ScreenNumber", {"pVal"}),
    d::method<&IProfile::Query>(4, "Query"),
    d::method<&IProfile::Cleanup>(5, "Cleanup"));
// clang-format on
}  // namespace profiledesc

inline constexpr objrt::InterfaceDesc kIProfileDesc =
    objrt::desc::dualInterface<IProfile>("IProfile", profiledesc::kMembers);
inline constexpr objrt::ImplTypeDesc kProfileImpls[] = {{&kIProfileDesc, IMPLTYPEFLAG_FDEFAULT}};
inline constexpr objrt::CoClassDesc kProfileClass{CLSID_Profile, "Profile", "Profile Class", kProfileImpls,
                                                  std::size(kProfileImpls)};

}  // namespace xel::core
