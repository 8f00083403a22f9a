// What the soak holds the core to: for each EEPROM byte, the values the unit
// may hold given what WaitSettled said about each change; for the live
// switches, the unit states an acknowledged change must have set.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/objrt/objrt.h"

namespace xeltest::soak {

// The unit's EEPROM as the client's changes leave it.
//
// A change queues bytes the client chose and bytes the core's model already
// held (a trim put writes its whole format record). The model is known byte by
// byte from the changes made, except after a Query reloaded it from the unit:
// bytes no getter shows (flag words, the rest of a name after its end) are
// then whatever the unit held, which the oracle knows only as a set.
//
//   acknowledged (0): the unit holds the last value queued for each byte;
//   failed (1, 2):    it holds the earlier value or any value queued meanwhile;
//   reloaded:         each byte a getter shows must be one the unit may hold,
//                     and from then on is the one it holds.
class EepromOracle {
public:
    static constexpr int kSize = 1024;

    explicit EepromOracle(const std::vector<uint8_t>& unit);

    // One put: the bytes it queues from `address`; nullopt where the core
    // queues what its model holds.
    void put(uint16_t address, const std::vector<std::optional<uint8_t>>& bytes);
    // The value the core's model holds for byte `address`, when known.
    std::optional<uint8_t> model(uint16_t address) const { return model_[address]; }
    // WaitSettled's answer for the puts since the last call.
    void settled(LONG result);
    // A Query reloaded `area` (addresses) from the unit; `shown` holds the
    // bytes the getters show now. Returns a description of each byte shown
    // that the unit cannot hold (empty: all fine).
    std::vector<std::string> reloaded(const std::set<uint16_t>& area, const std::map<uint16_t, uint8_t>& shown);
    // Each byte of a dump the unit cannot hold (empty: all fine).
    std::vector<std::string> check(const std::vector<uint8_t>& unit) const;

private:
    std::string describe(uint16_t address, int found) const;

    std::array<std::set<uint8_t>, kSize> allowed_;
    std::array<std::optional<uint8_t>, kSize> model_;
    std::map<uint16_t, std::vector<std::optional<uint8_t>>> batch_;
};

// The live switches. Each acknowledged change of a switch must show in the
// unit's log, in order, as a command from the host, or as a front-panel action
// that set the same state (a change that met the panel's own doing is answered
// without a command).
class SwitchOracle {
public:
    enum Kind { Mute = 0, Film = 1, Button = 2, Pin = 3 };
    static constexpr int kKinds = 4;

    void reserve(size_t n);
    void acknowledged(Kind kind, int state) { expected_[kind].push_back(static_cast<uint8_t>(state)); }
    size_t count() const;
    // Reads xelsim's log (JSON lines) and returns, per switch, what is missing.
    std::vector<std::string> check(const std::string& logPath) const;

private:
    std::array<std::vector<uint8_t>, kKinds> expected_;
};

}  // namespace xeltest::soak
