// The firmware download, one bootloader exchange per step, run by the core's
// worker thread while the download is active:
//   0 read both images, then open the bootloader channel on the connection's
//     address (an image that cannot be read fails here, before anything is
//     erased: the unit keeps its program)
//   1 erase program memory 0x000400-0x01FFFF, one 64-byte row per step
//   2 write the program-memory image (PROGMEM.MCP), one 16-byte row per step
//   3 write the data-EEPROM image (EEDATA.MCP), then the final write at 0x7FFF
//   4 failed, 5 complete (the channel is closed by the caller)
// Every row of an image is written in file order, whatever its address. The
// user-identifier and configuration images are not sent.
//
// Thread contract: one thread (the monitor) drives an instance.
#pragma once

#include <cstdint>
#include <vector>

#include "core/control/HexImage.h"
#include "platform/objrt/objrt.h"

namespace xel::core {

class CComm;

class FirmwareDownload {
public:
    static constexpr uint32_t kEraseStart = 0x000400;
    static constexpr uint32_t kEraseEnd = 0x01FFFF;
    static constexpr uint32_t kEraseRow = 64;

    // One step in `state` (0-3) with the images of the last conversion; the
    // next state.
    int32_t step(int32_t state, CComm& comm, const MemoryImagePaths& images) noexcept;

    // Per mille of the work of `state` done so far.
    LONG progress(int32_t state) const noexcept;

private:
    int32_t erase(CComm& comm);
    int32_t writeRow(int32_t state, CComm& comm);
    // Reads the program-memory and data-EEPROM images whole; false when either
    // cannot be read.
    bool load(const MemoryImagePaths& images);
    const std::vector<ImageRow>& rowsOf(int32_t state) const;

    uint32_t eraseAddress_ = kEraseStart;
    std::vector<ImageRow> program_;
    std::vector<ImageRow> data_;
    size_t next_ = 0;  // the next row of the image being written
};

}  // namespace xel::core
