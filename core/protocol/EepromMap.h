// The unit's EEPROM map: where each setting the library reads and writes lives.
// One byte per address; texts one character per address (EepromText.h), format
// records kFormatRecordSize bytes each (FormatRecord.h).
//
//   0x001       power-on format + 1 (bits 0-6); bit 7 set when the power-on mode is 0
//   0x002       AES/EBU fallback + 1
//   0x003       format count
//   0x004  32   processor name
//   0x024  32   theatre number
//   0x044  32   theatre name
//   0x064   4   screen number
//   0x068 8x24  format records
//   0x1E8  36   processor GUID
//   0x20C       film return format
//
// Constants only; any thread.
#pragma once

#include <cstdint>

namespace xel::core {

inline constexpr uint16_t kEepromPowerOn = 0x001;
inline constexpr uint16_t kEepromAesEbuFallback = 0x002;
inline constexpr uint16_t kEepromFormatCount = 0x003;
inline constexpr uint16_t kEepromProcessorName = 0x004;
inline constexpr int kProcessorNameSize = 32;
inline constexpr uint16_t kEepromTheaterNumber = 0x024;
inline constexpr int kTheaterNumberSize = 32;
inline constexpr uint16_t kEepromTheaterName = 0x044;
inline constexpr int kTheaterNameSize = 32;
inline constexpr uint16_t kEepromScreenNumber = 0x064;
inline constexpr int kScreenNumberSize = 4;
inline constexpr uint16_t kEepromFormatRecords = 0x068;
inline constexpr uint16_t kEepromProcessorGuid = 0x1E8;
inline constexpr int kProcessorGuidSize = 36;
inline constexpr uint16_t kEepromFilmReturnFormat = 0x20C;

}  // namespace xel::core
