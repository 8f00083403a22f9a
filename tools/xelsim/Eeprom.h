// The unit's parameter EEPROM: its size, map, factory contents and the files that
// hold an image of it (a raw image, or a saved configuration used as a seed).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace xelsim {

// One byte per address; the unit's map ends at 0x20C, the chip goes on to 0x3FF.
constexpr std::size_t kEepromSize = 0x400;
using EepromImage = std::array<std::uint8_t, kEepromSize>;

namespace ee {
constexpr std::uint16_t kPowerOn = 0x001;   // bits 0-6: format + 1; bit 7 set: film at power-on
constexpr std::uint16_t kFallback = 0x002;  // AES/EBU fallback format + 1
constexpr std::uint16_t kFormatCount = 0x003;
constexpr std::uint16_t kProcessorName = 0x004;  // 32 bytes
constexpr std::uint16_t kTheaterNumber = 0x024;  // 32 bytes
constexpr std::uint16_t kTheaterName = 0x044;    // 32 bytes
constexpr std::uint16_t kScreenNumber = 0x064;   // 4 bytes
constexpr std::uint16_t kFormatRecords = 0x068;  // 8 records of 24 bytes
constexpr std::size_t kFormatRecordSize = 24;
constexpr std::uint16_t kProcessorGuid = 0x1E8;  // 36 characters
constexpr std::uint16_t kFilmReturn = 0x20C;
}  // namespace ee

constexpr std::string_view kDefaultProcessorGuid = "5B1E7C3A-42D9-4f0e-A6C2-9D83E1F04A27";

// Factory contents: the default processor definition, power-on format 0 in digital mode.
// Addresses the map does not use read 0xFF, as on an erased chip.
EepromImage factoryEeprom();

// Reads a raw image written by saveEeprom(). The file must hold exactly kEepromSize bytes.
bool loadEeprom(const std::string& path, EepromImage& image, std::string& error);
bool saveEeprom(const std::string& path, const EepromImage& image, std::string& error);

// Overlays a saved configuration file (.xel, 352 bytes) onto `image`: power-on and
// fallback settings, processor name and GUID, theatre profile and all eight format
// records, stored exactly as a host loading that file into the unit would store them.
bool seedFromConfig(const std::string& path, EepromImage& image, std::string& error);

// Replaces `path` with `bytes` so that a reader sees either the old or the new file whole.
bool replaceFile(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error);
bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error);

}  // namespace xelsim
