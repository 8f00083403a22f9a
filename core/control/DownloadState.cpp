#include "core/control/DownloadState.h"

namespace xel::core {

void DownloadState::setImages(const MemoryImagePaths& images) {
    std::lock_guard lock(imageMutex_);
    images_ = images;
}

void DownloadState::start() noexcept {
    std::lock_guard lock(startMutex_);
    progress_.store(0);
    state_.store(PICDownloadOpening);
    active_.store(true);
}

int32_t DownloadState::step(int32_t state, CComm& comm) noexcept {
    if (state == PICDownloadOpening) {
        // The images of the last conversion, taken once for the whole download.
        std::lock_guard lock(imageMutex_);
        runningImages_ = images_;
    }
    const int32_t next = firmware_.step(state, comm, runningImages_);
    progress_.store(firmware_.progress(next));
    return next;
}

void DownloadState::advance(int32_t state, int32_t next) noexcept {
    int32_t expected = state;
    state_.compare_exchange_strong(expected, next);
}

void DownloadState::end() noexcept {
    std::lock_guard lock(startMutex_);
    const int32_t state = state_.load();
    if (state == PICDownloadFailed || state == PICDownloadComplete) active_.store(false);
}

}  // namespace xel::core
