// Pure helpers of the command line: numbers, addresses, the console's trim
// text, shell lines and unit texts. No state; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xelctl {

// A whole number as an operator types it: optional sign, decimal digits, or
// "0x"/"&H" and hexadecimal digits; within [min, max]. nullopt otherwise.
std::optional<int64_t> parseInteger(std::string_view text, int64_t min, int64_t max);

// on/off, true/false, yes/no, 1/0 (any case).
std::optional<bool> parseSwitch(std::string_view text);

// A dotted IPv4 address "a.b.c.d" (each 0-255, decimal, no blanks), packed with
// the first octet in the top byte.
std::optional<uint32_t> parseIPv4(std::string_view text);
std::string formatIPv4(uint32_t address);

// The host-bits argument of the unit's "setip" for a subnet mask: the number of
// trailing zero bits of the mask, 33 for a zero mask (as the console's
// "Configure IP" dialog counts them).
int hostBitsOfMask(uint32_t mask);
// The mask the unit will use for that many host bits: all ones shifted left,
// 0 for 32 or more.
uint32_t canonicalMask(int hostBits);

// The console's text for a trim given in tenths of a dB: 180 -> "18.0dB",
// 5 -> "0.5dB", -5 -> "-0.5dB", 0 -> "0.0dB".
std::string trimText(long tenths);

// A text from the unit, cut at its first NUL (fixed-width fields are padded
// with NULs), as UTF-8.
std::string cutAtNul(std::u16string_view text);

// Splits one shell line into words: blanks separate; "..." and '...' quote
// (backslash escapes \" \\ \n \r \t inside double quotes); an unquoted '#' at
// the start of a word begins a comment. nullopt for an unterminated quote.
std::optional<std::vector<std::string>> splitShellLine(std::string_view line);

}  // namespace xelctl
