// The 8-bit "ANSI" code page of the unit, its files and INI files
// (Windows-1252), and UTF-8 <-> UTF-16 for everything that speaks UTF-8.
//
// All functions are pure and may be called from any thread. Embedded NULs are
// ordinary characters: texts from the unit are fixed width with trailing NULs,
// and cutting them is the caller's business.
#pragma once

#include <string>
#include <string_view>

namespace xel::cp {

// Windows-1252 bytes -> UTF-16. Every byte maps to one code unit; the five bytes
// the code page leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1
// control of the same number, so any byte string survives a round trip.
std::u16string toUtf16(std::string_view ansi);
char16_t toUtf16(char ansi);

// UTF-16 -> Windows-1252. A character the code page cannot hold becomes one '?'
// (a surrogate pair too, and a lone surrogate).
std::string fromUtf16(std::u16string_view text);
// One code point -> its byte, or '?' when the code page cannot hold it.
char fromCodePoint(char32_t c);
// True when the code page holds the code point (so fromUtf16 keeps it).
bool isMappable(char32_t c);

// UTF-8 <-> UTF-16. Malformed input (a bad UTF-8 sequence, an overlong form, an
// encoded surrogate, a lone surrogate in UTF-16) becomes U+FFFD, one per
// maximal ill-formed part, as Unicode recommends; nothing is dropped silently.
std::u16string utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view text);
bool isValidUtf8(std::string_view utf8);

// Shortcuts for INI files and printing: Windows-1252 <-> UTF-8.
std::string ansiToUtf8(std::string_view ansi);
std::string utf8ToAnsi(std::string_view utf8);

}  // namespace xel::cp
