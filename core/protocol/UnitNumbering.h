// The unit counts formats (its buttons) and the AES/EBU fallback from 1, the
// automation interfaces from 0. Values on either side may be anything a LONG
// holds — a client's put, a configuration file, a unit's reply — so the step
// between the two wraps instead of overflowing.
#pragma once

#include <cstdint>
#include <optional>

#include "core/protocol/FormatRecord.h"
#include "core/xelor.h"

namespace xel::core {

constexpr LONG unitNumber(LONG ours) noexcept { return static_cast<LONG>(static_cast<uint32_t>(ours) + 1u); }
constexpr LONG ourNumber(LONG unit) noexcept { return static_cast<LONG>(static_cast<uint32_t>(unit) - 1u); }

// The format a "button" reply names, or nothing when it names no button.
constexpr std::optional<int32_t> formatOfButton(LONG button) noexcept {
    if (button < 1 || button > kFormatCount) return std::nullopt;
    return ourNumber(button);
}

}  // namespace xel::core
