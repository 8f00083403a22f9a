// FormatRecord: the 24 bytes of one format, laid out the same way in the format
// object, in the unit's EEPROM and in configuration files. Multi-byte fields are
// little-endian; the library carries trims, delays and flag bits unscaled and
// never interprets flag bits 0-7 or the input number.
//
//   offset size field
//        0   16 name (Windows-1252 bytes, padded with zero bytes)
//       16    2 InputDelay      18  2 SurroundDelay
//       20    1 InputTrim       21  1 OutputTrim
//       22    2 flags: bits 0-7 flags, 8-11 mode pin, 12-14 input number, 15 carried
//
// Plain value type: no locking of its own; the format object guards its table.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/protocol/EepromMap.h"

namespace xel::core {

inline constexpr int kFormatCount = 8;
inline constexpr int kFormatRecordSize = 24;
inline constexpr int kFormatNameSize = 16;

// EEPROM address of record `index` (0-7).
constexpr uint16_t formatRecordAddress(int index) noexcept {
    return static_cast<uint16_t>(kEepromFormatRecords + kFormatRecordSize * index);
}

struct FormatRecord {
    uint8_t bytes[kFormatRecordSize] = {};

    static constexpr int kInputDelay = 16;
    static constexpr int kSurroundDelay = 18;
    static constexpr int kInputTrim = 20;
    static constexpr int kOutputTrim = 21;
    static constexpr int kFlags = 22;

    uint16_t word(int offset) const noexcept { return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8)); }
    void setWord(int offset, uint16_t value) noexcept {
        bytes[offset] = static_cast<uint8_t>(value & 0xFF);
        bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
    }

    uint16_t inputDelay() const noexcept { return word(kInputDelay); }
    void setInputDelay(uint16_t v) noexcept { setWord(kInputDelay, v); }
    uint16_t surroundDelay() const noexcept { return word(kSurroundDelay); }
    void setSurroundDelay(uint16_t v) noexcept { setWord(kSurroundDelay, v); }
    uint8_t inputTrim() const noexcept { return bytes[kInputTrim]; }
    void setInputTrim(uint8_t v) noexcept { bytes[kInputTrim] = v; }
    uint8_t outputTrim() const noexcept { return bytes[kOutputTrim]; }
    void setOutputTrim(uint8_t v) noexcept { bytes[kOutputTrim] = v; }
    uint16_t flags() const noexcept { return word(kFlags); }
    void setFlags(uint16_t v) noexcept { setWord(kFlags, v); }

    // Bits 8-11 of the flag word.
    int modePin() const noexcept { return (flags() >> 8) & 0x0F; }
    void setModePin(int pin) noexcept {
        setFlags(static_cast<uint16_t>((flags() & ~0x0F00u) | ((static_cast<unsigned>(pin) & 0x0Fu) << 8)));
    }

    // The name's bytes up to the first zero byte (at most 16).
    std::string name() const {
        size_t n = 0;
        while (n < kFormatNameSize && bytes[n] != 0) ++n;
        return std::string(reinterpret_cast<const char*>(bytes), n);
    }
    // Replaces the name field; a longer name is cut to 16 bytes, the rest zero.
    void setName(std::string_view ansi) noexcept {
        std::memset(bytes, 0, kFormatNameSize);
        std::memcpy(bytes, ansi.data(), ansi.size() < kFormatNameSize ? ansi.size() : size_t(kFormatNameSize));
    }
};
static_assert(sizeof(FormatRecord) == kFormatRecordSize);

// Record `index` of the default processor definition (records 6 and 7 empty).
inline FormatRecord defaultFormatRecord(int index) {
    struct Row {
        const char* name;
        uint16_t flags;
    };
    static constexpr Row kRows[6] = {
        {"Analog 2ch", 0x1103}, {"Analog 6ch", 0x2105}, {"Digital 8ch", 0x3109},
        {"Toslink", 0x4111},    {"S/PDIF 1", 0x5121},   {"S/PDIF 2", 0x6141},
    };
    FormatRecord r;
    if (index >= 0 && index < 6) {
        r.setName(kRows[index].name);
        r.setFlags(kRows[index].flags);
    }
    return r;
}

}  // namespace xel::core
