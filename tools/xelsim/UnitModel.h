// The unit itself: its EEPROM, its live switches and its command interpreter.
// Pure: a frame goes in, the reply comes out; the caller does all I/O, timing and
// fault injection. Not thread-safe; xelsim drives it from its one event loop.
#pragma once

#include "tools/xelsim/Eeprom.h"
#include "tools/xelsim/Framer.h"
#include "tools/xelsim/LevelMeter.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace xelsim {

enum class Verdict { Unchecked, Good, Bad };

struct IpSettings {
    bool known = false;  // set once a host has sent "setip"
    std::array<std::uint8_t, 4> address{};
    int hostBits = 0;
    std::array<std::uint8_t, 4> gateway{};
    int port = 0;
};

// The switches as the wire reports them.
struct UnitState {
    bool checksumOn = false;  // "checksum": frames are checked once a host enabled it
    bool audioOn = true;      // "mute" answers 1 while the audio is on
    int button = 1;           // "button": the selected input, 1-8
    int pin = 1;              // "pin": the automation pin, 1-16
    bool digital = true;      // "digitalenable": 0 is film (bypass) mode
};

struct Reply {
    std::string bytes;           // what the unit sends back; empty when it resets instead
    bool refused = false;        // answered "?"
    bool resets = false;         // the unit restarts without answering ("setip")
    bool eepromChanged = false;  // "wreep" stored bytes
    bool ipChanged = false;
};

class UnitModel {
public:
    static constexpr int kButtons = 8;
    static constexpr int kPins = 16;
    static constexpr std::size_t kMaxReadCount = 64;  // values per "rdeep"
    static constexpr const char* kFirmwareVersion = "2\t1";

    UnitModel(const EepromImage& eeprom, std::uint32_t seed);

    // How the unit judges the frame's checksum in its current state.
    Verdict verdict(const Frame& frame) const;
    Reply execute(const Frame& frame);

    // Power-on: input and mode from the EEPROM's power-on byte, audio on, pin 1,
    // checksum checking off. The EEPROM and the recorded IP settings stay.
    void powerOn();

    // The unit's own controls (front panel, automation inputs). False when out of range.
    bool pressButton(int button);
    bool setPin(int pin);
    void setFilm(bool film) { state_.digital = !film; }
    void setMuted(bool muted) { state_.audioOn = !muted; }
    bool poke(std::size_t address, const std::vector<std::uint8_t>& bytes);
    LevelMeter& meter() { return meter_; }
    void setIp(const IpSettings& ip) { ip_ = ip; }

    const EepromImage& eeprom() const { return eeprom_; }
    const UnitState& state() const { return state_; }
    const IpSettings& ip() const { return ip_; }
    const Levels& levels() const { return meter_.last(); }

private:
    using Args = std::vector<std::uint32_t>;
    struct Command;
    static const Command kCommands[];

    Reply checksum(const Args& args);
    Reply picver(const Args& args);
    Reply rdeep(const Args& args);
    Reply wreep(const Args& args);
    Reply mute(const Args& args);
    Reply button(const Args& args);
    Reply pin(const Args& args);
    Reply digitalenable(const Args& args);
    Reply vu(const Args& args);
    Reply setip(const Args& args);

    EepromImage eeprom_;
    UnitState state_;
    IpSettings ip_;
    LevelMeter meter_;
};

// Reply shapes: values in upper-case hex without leading zeros, TAB between them.
std::string replyValues(const std::vector<std::uint32_t>& values);
std::string replyDone();
std::string replyRefused();

}  // namespace xelsim
