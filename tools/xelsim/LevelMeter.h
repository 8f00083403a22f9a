// The unit's eight output level meters: readings that move like programme material,
// the same sequence for the same seed, or values held fixed from the front panel.
#pragma once

#include <array>
#include <cstdint>
#include <random>

namespace xelsim {

constexpr int kChannels = 8;  // L, R, C, Sub, LS, RS, LEx, REx
constexpr int kMaxLevel = 0xFFF;
using Levels = std::array<int, kChannels>;

class LevelMeter {
public:
    explicit LevelMeter(std::uint32_t seed);

    // The next reading for a unit playing input `button` (1-8); silence while muted.
    // Each call advances the sequence by one step, so a seed gives one fixed series.
    Levels next(int button, bool audioOn);

    // Holds the meters at `levels` (each cut to 0-4095) until release().
    void hold(const Levels& levels);
    void release() { held_ = false; }
    bool held() const { return held_; }
    const Levels& last() const { return last_; }

private:
    std::mt19937 rng_;
    std::array<double, kChannels> level_{};
    std::array<double, kChannels> target_{};
    Levels last_{};
    Levels hold_{};
    bool held_ = false;
};

}  // namespace xelsim
