// The type description of the format object (IFormat and its class).
// The tables drive IDispatch, the type information and the registration; they
// are apart from the class so a member's dispid or name is changed here.
#pragma once

#include <iterator>

#include "core/xelor.h"
#include "platform/objrt/Object.h"

namespace xel::core {

namespace formatdesc {
namespace d = objrt::desc;
// One member a line, in the order the interface lists them.
// clang-format off
inline constexpr auto kMembers = d::members(
    d::property<&IFormat::get_ProcessorName, &IFormat::put_ProcessorName>(1, "ProcessorName"),
    d::property<&IFormat::get_Count, &IFormat::put_Count>(2, "Count"),
    d::property<&IFormat::get_FormatName, &IFormat::put_FormatName>(3, "FormatName", {"Format"}),
    d::property<&IFormat::get_InputTrim, &IFormat::put_InputTrim>(4, "InputTrim", {"Format"}),
    d::property<&IFormat::get_OutputTrim, &IFormat::put_OutputTrim>(5, "OutputTrim", {"Format"}),
    d::property<&IFormat::get_InputDelay, &IFormat::put_InputDelay>(6, "InputDelay", {"Format"}),
    d::property<&IFormat::get_SurroundDelay, &IFormat::put_SurroundDelay>(7, "SurroundDelay", {"Format"}),
    d::property<&IFormat::get_CurrentFormat, &IFormat::put_CurrentFormat>(8, "CurrentFormat"),
    d::property<&IFormat::get_ProcessorGUID, &IFormat::put_ProcessorGUID>(9, "ProcessorGUID"),
    d::method<&IFormat::GetTrimsAndDelays>(
        10, "GetTrimsAndDelays", {"Format", "InputTrim", "OutputTrim", "InputDelay", "SurroundDelay"}),
    d::method<&IFormat::Query>(11, "Query"),
    d::method<&IFormat::Cleanup>(12, "Cleanup"),
    d::property<&IFormat::get_Pin, &IFormat::put_Pin>(13, "Pin"),
    d::property<&IFormat::get_ModePin, &IFormat::put_ModePin>(14, "ModePin"),
    d::property<&IFormat::get_Film, &IFormat::put_Film>(15, "Film"));
// clang-format on
}  // namespace formatdesc

inline constexpr objrt::InterfaceDesc kIFormatDesc =
    objrt::desc::dualInterface<IFormat>("IFormat", formatdesc::kMembers);
inline constexpr objrt::ImplTypeDesc kFormatImpls[] = {{&kIFormatDesc, IMPLTYPEFLAG_FDEFAULT}};
inline constexpr objrt::CoClassDesc kFormatClass{CLSID_Format, "Format", "Format Class", kFormatImpls,
                                                 std::size(kFormatImpls)};

}  // namespace xel::core
