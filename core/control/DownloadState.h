// The firmware download as the core object runs it: the images ParseHexFile
// converted, the state machine DownloadToPIC starts and the monitor thread
// steps (PICDownloadOpening to PICDownloadData, then Complete or Failed), and
// the progress IXelStatus reports.
//
// Thread contract
// - setImages, start and reportedProgress run on client threads, beside the
//   monitor.
// - active, state, step, advance, progress and end run on the monitor thread.
// - A start that comes in while a step runs wins: advance then leaves the
//   state alone, and end keeps the download active.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "core/control/FirmwareDownload.h"
#include "core/control/HexImage.h"
#include "core/xelor.h"

namespace xel::core {

class CComm;

class DownloadState {
public:
    // The images of a conversion, for the next download to start.
    void setImages(const MemoryImagePaths& images);
    // Starts the download over from PICDownloadOpening with no progress.
    void start() noexcept;

    bool active() const noexcept { return active_.load(); }
    int32_t state() const noexcept { return state_.load(); }
    // One step in `state` over `comm`; the state it leads to. The progress of
    // that state is kept for progress().
    int32_t step(int32_t state, CComm& comm) noexcept;
    // Moves from `state` to `next`, unless a start came in since `state` was read.
    void advance(int32_t state, int32_t next) noexcept;
    LONG progress() const noexcept { return progress_.load(); }
    // The download reached its end state: inactive, unless a start came in.
    void end() noexcept;
    // What DownloadProgress reports: the progress while active, -1 otherwise.
    LONG reportedProgress() const noexcept { return active_.load() ? progress_.load() : -1; }

private:
    std::mutex startMutex_;  // a start against the end of the download before it
    std::atomic<bool> active_{false};
    std::atomic<int32_t> state_{0};
    std::atomic<LONG> progress_{0};
    std::mutex imageMutex_;
    MemoryImagePaths images_;         // from the last ParseHexFile
    MemoryImagePaths runningImages_;  // the images of the running download (monitor thread)
    FirmwareDownload firmware_;       // monitor thread only
};

}  // namespace xel::core
