// Texts the unit keeps one character per EEPROM address: the processor name and
// GUID, the theatre number and name, the screen number. The unit stores
// Windows-1252 bytes, so a character travels as its code-page byte (a character
// the code page cannot hold becomes '?') and comes back through the same table;
// "é" and "€" survive a round trip.
//
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/codepage/CodePage.h"
#include "platform/objrt/objrt.h"

namespace xel::core {

// The `count` values to queue for a field of `count` addresses: the byte of each
// of the text's first `count` characters, 0 for the addresses after its end.
inline void textToEeprom(std::u16string_view text, int count, LONG* values) noexcept {
    for (int i = 0; i < count; ++i) {
        LONG v = 0;
        if (static_cast<size_t>(i) < text.size())
            v = static_cast<unsigned char>(cp::fromCodePoint(text[static_cast<size_t>(i)]));
        values[i] = v;
    }
}

// A text of exactly `count` characters from the values an EEPROM read returned
// (the low byte of each; zero bytes become zero characters).
inline std::u16string textFromEeprom(const LONG* values, int count) {
    std::u16string out;
    out.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) out.push_back(cp::toUtf16(static_cast<char>(values[i] & 0xFF)));
    return out;
}

// The characters of a BSTR up to its first zero character (a null BSTR is empty).
inline std::u16string_view textUpToNul(BSTR text) noexcept {
    return text ? std::u16string_view(text, ObjWideLen(text)) : std::u16string_view();
}

}  // namespace xel::core
