// Configuration files (*.xel): one unit's whole setup in exactly 352 bytes.
//
//   offset size record
//        0    7 signature 4B 00 52 00 56 00 58 ("KRVXEL" as UTF-16LE, cut after 7 bytes)
//        7    4 PowerOnFormat             11    4 AESEBUFallback
//       15    4 format count              19  192 format records 0-7, 24 bytes each
//      211   32 processor name           243   32 theatre number
//      275   32 theatre name             307    4 screen number
//      311   37 processor GUID text      348    4 PowerOnMode
//
// Numbers are 32-bit signed little-endian. Texts are Windows-1252, padded with
// zero bytes; a text that fills its width has no terminator. The records are the
// FormatRecord bytes the unit holds at 0x68 + 24 * i, copied unchanged.
//
// Pure codec plus the file operations: no state, any thread.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/protocol/FormatRecord.h"

namespace xel::core {

inline constexpr size_t kConfigFileSize = 352;
inline constexpr std::array<uint8_t, 7> kConfigSignature = {0x4B, 0x00, 0x52, 0x00, 0x56, 0x00, 0x58};

// Field widths and offsets of the file, in file order.
struct ConfigLayout {
    static constexpr size_t kPowerOnFormat = 7;
    static constexpr size_t kAesEbuFallback = 11;
    static constexpr size_t kFormatCount = 15;
    static constexpr size_t kRecords = 19;
    static constexpr size_t kProcessorName = 211;
    static constexpr size_t kTheaterNumber = 243;
    static constexpr size_t kTheaterName = 275;
    static constexpr size_t kScreenNumber = 307;
    static constexpr size_t kProcessorGuid = 311;
    static constexpr size_t kPowerOnMode = 348;

    static constexpr size_t kProcessorNameWidth = 32;
    static constexpr size_t kTheaterNumberWidth = 32;
    static constexpr size_t kTheaterNameWidth = 32;
    static constexpr size_t kScreenNumberWidth = 4;
    static constexpr size_t kProcessorGuidWidth = 37;
};
static_assert(ConfigLayout::kPowerOnMode + 4 == kConfigFileSize);
static_assert(ConfigLayout::kRecords + kFormatCount * kFormatRecordSize == ConfigLayout::kProcessorName);

// One unit's setup as the file carries it. Texts are what the objects hand out
// (a text is used up to its first zero character).
struct UnitSetup {
    int32_t powerOnFormat = 0;
    int32_t aesEbuFallback = 0;
    int32_t formatCount = 0;
    std::array<FormatRecord, kFormatCount> records{};
    std::u16string processorName;
    std::u16string theaterNumber;
    std::u16string theaterName;
    std::u16string screenNumber;
    std::u16string processorGuid;
    int32_t powerOnMode = 0;
};

using ConfigBytes = std::array<uint8_t, kConfigFileSize>;

// The file image of a setup. Texts go through the code page (a character it
// cannot hold becomes '?') and are cut at their width.
ConfigBytes encodeConfig(const UnitSetup& setup);

// The setup a file image holds, or nothing when it is shorter than 352 bytes or
// does not start with the signature. Bytes after the 352nd are not looked at.
// Each text ends at its first zero byte or at its width.
std::optional<UnitSetup> decodeConfig(std::span<const uint8_t> bytes);

// Replaces `path` with `bytes` through a temporary file in the same folder that
// is renamed over the target only once every byte is written and flushed, so a
// failed save leaves the previous file as it was. A symbolic link is followed:
// the file it leads to is replaced in its own folder, keeps its permission bits,
// and the link stays. Where no temporary file can be made (a read-only folder)
// but the file itself is writable, it is written in place; a failure part-way
// then leaves it short. False on any failure (the temporary file is removed).
bool writeFileReplacing(const std::filesystem::path& path, std::span<const uint8_t> bytes);

// Up to `maxBytes` from the start of a file (fewer when it is shorter), or
// nothing when it cannot be opened or read.
std::optional<std::vector<uint8_t>> readFileStart(const std::filesystem::path& path, size_t maxBytes);

}  // namespace xel::core
