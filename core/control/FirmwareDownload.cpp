#include "core/control/FirmwareDownload.h"

#include "core/connection/CComm.h"
#include "core/xelor.h"

namespace xel::core {

int32_t FirmwareDownload::step(int32_t state, CComm& comm, const MemoryImagePaths& images) noexcept {
    try {
        switch (state) {
            case PICDownloadOpening:
                // Both images first: erasing and then finding an image missing
                // would leave the unit without a program.
                if (!load(images)) return PICDownloadFailed;
                if (!comm.OpenBootloader()) return PICDownloadFailed;
                eraseAddress_ = kEraseStart;
                return PICDownloadErasing;
            case PICDownloadErasing: return erase(comm);
            case PICDownloadProgram:
            case PICDownloadData: return writeRow(state, comm);
            default: return PICDownloadFailed;
        }
    } catch (...) {
        return PICDownloadFailed;  // out of memory reading an image
    }
}

int32_t FirmwareDownload::erase(CComm& comm) {
    if (eraseAddress_ <= kEraseEnd) {
        // Command 3 erases one row; its address goes low byte first.
        const uint8_t packet[5] = {0x03, 0x01, static_cast<uint8_t>(eraseAddress_),
                                   static_cast<uint8_t>(eraseAddress_ >> 8), static_cast<uint8_t>(eraseAddress_ >> 16)};
        if (comm.BootSendPacket(packet, sizeof packet, 255, 25) < 0) return PICDownloadFailed;
        eraseAddress_ += kEraseRow;
        return PICDownloadErasing;
    }
    next_ = 0;
    return PICDownloadProgram;
}

int32_t FirmwareDownload::writeRow(int32_t state, CComm& comm) {
    const bool program = state == PICDownloadProgram;
    const std::vector<ImageRow>& rows = rowsOf(state);
    if (next_ < rows.size()) {
        BootBlockRequest request{};
        request.command = program ? 2 : 5;
        request.count = 16;
        request.address = rows[next_].address;
        request.unitSize = program ? 8 : 1;
        request.revision = 1;
        request.attempts = 3;
        if (comm.BootWriteBlock(request, rows[next_].bytes.data()) == 0) return PICDownloadFailed;
        ++next_;
        return state;
    }
    next_ = 0;
    if (program) return PICDownloadData;
    // The final write tells the bootloader the new program is complete.
    const BootBlockRequest finish{5, 1, 0, 0x7FFF, 1, 1, 3};
    const uint8_t done = 0x00;
    return comm.BootWriteBlock(finish, &done) != 0 ? PICDownloadComplete : PICDownloadFailed;
}

bool FirmwareDownload::load(const MemoryImagePaths& images) {
    program_.clear();
    data_.clear();
    next_ = 0;
    const auto& programPath = images[MemoryImage::ProgramMemory];
    const auto& dataPath = images[MemoryImage::DataEeprom];
    if (programPath.empty() || dataPath.empty()) return false;  // no image converted yet
    ImageReadResult program = ReadMemoryImage(programPath);
    if (!program.ok) return false;
    ImageReadResult data = ReadMemoryImage(dataPath);
    if (!data.ok) return false;
    program_ = std::move(program.rows);
    data_ = std::move(data.rows);
    return true;
}

const std::vector<ImageRow>& FirmwareDownload::rowsOf(int32_t state) const {
    return state == PICDownloadProgram ? program_ : data_;
}

LONG FirmwareDownload::progress(int32_t state) const noexcept {
    switch (state) {
        case PICDownloadOpening: return 0;
        case PICDownloadErasing:
            return static_cast<LONG>((eraseAddress_ - kEraseStart) * 1000ull / (kEraseEnd + 1 - kEraseStart));
        case PICDownloadProgram:
        case PICDownloadData: {
            const std::vector<ImageRow>& rows = rowsOf(state);
            return rows.empty() ? 0 : static_cast<LONG>(next_ * 1000 / rows.size());
        }
        default: return 1000;
    }
}

}  // namespace xel::core
