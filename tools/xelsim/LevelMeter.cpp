#include "tools/xelsim/LevelMeter.h"

#include <algorithm>

namespace xelsim {

namespace {

// How many channels carry sound for each input: stereo, 5.1, 7.1, bitstream inputs as 5.1,
// the two unused inputs silent.
constexpr int kActiveChannels[9] = {0, 2, 6, 8, 6, 6, 6, 0, 0};

}  // namespace

LevelMeter::LevelMeter(std::uint32_t seed) : rng_(seed) { target_.fill(1800.0); }

void LevelMeter::hold(const Levels& levels) {
    for (int c = 0; c < kChannels; ++c) hold_[c] = std::clamp(levels[c], 0, kMaxLevel);
    held_ = true;
    last_ = hold_;
}

Levels LevelMeter::next(int button, bool audioOn) {
    if (held_) return last_ = hold_;
    const int active = (button >= 1 && button <= 8) ? kActiveChannels[button] : 0;
    std::normal_distribution<double> drift(0.0, 350.0);
    std::uniform_int_distribution<int> floor(0, 24);
    for (int c = 0; c < kChannels; ++c) {
        // Draw every channel every time so the series does not depend on the input.
        const double step = drift(rng_);
        const int noise = floor(rng_);
        if (!audioOn) {
            level_[c] = 0.0;
            last_[c] = 0;
            continue;
        }
        if (c < active) {
            target_[c] = std::clamp(target_[c] + step, 300.0, 3900.0);
            level_[c] = 0.6 * level_[c] + 0.4 * target_[c];
            last_[c] = std::clamp(static_cast<int>(level_[c]) + noise, 0, kMaxLevel);
        } else {
            level_[c] = 0.0;
            last_[c] = noise;
        }
    }
    return last_;
}

}  // namespace xelsim
