#include "core/model/CVU.h"

#include <cstring>

namespace xel::core {

void CVU::decodeReading(const LONG reply[kVuReplyValues], int32_t levels[kLevelCount]) noexcept {
    for (int k = 0; k < kVuReplyValues; ++k) {
        const uint32_t v = static_cast<uint32_t>(reply[k]);
        levels[2 * k] = static_cast<int32_t>((v >> 12) & 0xFFF);
        levels[2 * k + 1] = static_cast<int32_t>(v & 0xFFF);
    }
}

void CVU::storeLevels(const int32_t levels[kLevelCount]) noexcept {
    std::lock_guard lock(mutex_);
    std::memcpy(levels_, levels, sizeof levels_);
}

void CVU::storeReading(const LONG reply[kVuReplyValues]) noexcept {
    int32_t decoded[kLevelCount];
    decodeReading(reply, decoded);
    storeLevels(decoded);
}

void CVU::levels(int32_t out[kLevelCount]) const noexcept {
    std::lock_guard lock(mutex_);
    std::memcpy(out, levels_, sizeof levels_);
}

HRESULT CVU::ReadLevels(LONG* Left, LONG* Right, LONG* Center, LONG* Sub, LONG* LeftSurround, LONG* RightSurround,
                        LONG* LeftEx, LONG* RightEx) noexcept {
    LONG* const out[kLevelCount] = {Left, Right, Center, Sub, LeftSurround, RightSurround, LeftEx, RightEx};
    for (LONG* p : out)
        if (!p) return E_POINTER;
    int32_t copy[kLevelCount];
    levels(copy);
    for (int i = 0; i < kLevelCount; ++i) *out[i] = copy[i];
    return S_OK;
}

HRESULT CVU::Cleanup() noexcept { return S_OK; }

}  // namespace xel::core
