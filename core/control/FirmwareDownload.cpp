#include "core/control/FirmwareDownload.h"

#include "core/connection/CComm.h"
#include "core/xelor.h"

namespace xel::core {

int32_t FirmwareDownload::step(int32_t state, CComm& comm, const MemoryImagePaths& images) noexcept {
    try {
        switch (state) {
            case PICDownloadOpening:
                if (!comm.OpenBootloader()) return PICDownloadFailed;
                eraseAddress_ = kEraseStart;
                rows_.clear();
                next_ = 0;
                return PICDownloadErasing;
            case PICDownloadErasing:
                return erase(comm, images);
            case PICDownloadProgram:
            case PICDownloadData:
                return writeRow(state, comm, images);
            default:
                return PICDownloadFailed;
        }
    } catch (...) {
        return PICDownloadFailed;  // out of memory reading an image
    }
}

int32_t FirmwareDownload::erase(CComm& comm, const MemoryImagePaths& images) {
    if (eraseAddress_ <= kEraseEnd) {
        // Command 3 erases one row; its address goes low byte first.
        const uint8_t packet[5] = {0x03, 0x01, static_cast<uint8_t>(eraseAddress_),
                                   static_cast<uint8_t>(eraseAddress_ >> 8), static_cast<uint8_t>(eraseAddress_ >> 16)};
        if (comm.BootSendPacket(packet, sizeof packet, 255, 25) < 0) return PICDownloadFailed;
        eraseAddress_ += kEraseRow;
        return PICDownloadErasing;
    }
    return load(images[MemoryImage::ProgramMemory]) ? PICDownloadProgram : PICDownloadFailed;
}

int32_t FirmwareDownload::writeRow(int32_t state, CComm& comm, const MemoryImagePaths& images) {
    const bool program = state == PICDownloadProgram;
    if (next_ < rows_.size()) {
        BootBlockRequest request{};
        request.command = program ? 2 : 5;
        request.count = 16;
        request.address = rows_[next_].address;
        request.unitSize = program ? 8 : 1;
        request.revision = 1;
        request.attempts = 3;
        if (comm.BootWriteBlock(request, rows_[next_].bytes.data()) == 0) return PICDownloadFailed;
        ++next_;
        return state;
    }
    rows_.clear();
    next_ = 0;
    if (program) return load(images[MemoryImage::DataEeprom]) ? PICDownloadData : PICDownloadFailed;
    // The final write tells the bootloader the new program is complete.
    const BootBlockRequest finish{5, 1, 0, 0x7FFF, 1, 1, 3};
    const uint8_t done = 0x00;
    return comm.BootWriteBlock(finish, &done) != 0 ? PICDownloadComplete : PICDownloadFailed;
}

bool FirmwareDownload::load(const std::filesystem::path& path) {
    rows_.clear();
    next_ = 0;
    if (path.empty()) return false;  // no image converted yet
    ImageReadResult image = ReadMemoryImage(path);
    if (!image.ok) return false;
    rows_ = std::move(image.rows);
    return true;
}

LONG FirmwareDownload::progress(int32_t state) const noexcept {
    switch (state) {
        case PICDownloadOpening:
            return 0;
        case PICDownloadErasing:
            return static_cast<LONG>((eraseAddress_ - kEraseStart) * 1000ull / (kEraseEnd + 1 - kEraseStart));
        case PICDownloadProgram:
        case PICDownloadData:
            return rows_.empty() ? 0 : static_cast<LONG>(next_ * 1000 / rows_.size());
        default:
            return 1000;
    }
}

}  // namespace xel::core
