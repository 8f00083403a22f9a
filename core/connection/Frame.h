// The unit's command framing and the link settings an address selects.
//
// A frame is the command text in the unit's code page (Windows-1252) followed
// by one checksum byte: the sum, modulo 256, of every byte of the text except
// its last (the "\r"). Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "linkdriver/xelcomm.h"

namespace xel::core {

// A frame is at most 250 bytes: 249 of text and the checksum byte.
inline constexpr size_t kFrameMax = 250;
inline constexpr size_t kCommandTextMax = kFrameMax - 1;

// Sum of all bytes but the last, modulo 256; 0 for a text of one byte or none.
uint8_t commandChecksum(std::string_view text) noexcept;

// The bytes to send for one command, or nullopt when its text does not fit a
// frame (such a command is refused whole, never cut).
std::optional<std::string> frameCommand(std::u16string_view command);

// Link settings for an address: one containing "COM" or "USB" (case-sensitive)
// names a serial device or the USB bridge, anything else is a TCP host. Always
// 38400 baud, 8 data bits, no parity, one stop bit. nullopt when the name does
// not fit its field (9 characters for a device, 63 for a host): cutting it
// would open some other device or host.
std::optional<CommSettings> linkSettingsFor(std::u16string_view address);

}  // namespace xel::core
