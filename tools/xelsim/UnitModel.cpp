#include "tools/xelsim/UnitModel.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>

namespace xelsim {

struct UnitModel::Command {
    std::string_view keyword;
    std::size_t minArgs;
    std::size_t maxArgs;
    Reply (UnitModel::*run)(const Args&);
};

// One entry per command the unit understands; each handler checks its own values.
const UnitModel::Command UnitModel::kCommands[] = {
    {"checksum", 0, 1, &UnitModel::checksum},
    {"picver", 0, 0, &UnitModel::picver},
    {"rdeep", 2, 2, &UnitModel::rdeep},
    {"wreep", 2, Framer::kMaxText, &UnitModel::wreep},
    {"mute", 0, 1, &UnitModel::mute},
    {"button", 0, 1, &UnitModel::button},
    {"pin", 0, 1, &UnitModel::pin},
    {"digitalenable", 0, 1, &UnitModel::digitalenable},
    {"vu", 0, 0, &UnitModel::vu},
    {"setip", 10, 10, &UnitModel::setip},
};

namespace {

Reply values(std::vector<std::uint32_t> v) { return Reply{replyValues(v)}; }
Reply done() { return Reply{replyDone()}; }
Reply refused() {
    Reply r{replyRefused()};
    r.refused = true;
    return r;
}

// Hexadecimal numbers as a small firmware parser takes them: digits of either case,
// leading zeros allowed, at most eight digits.
std::optional<std::uint32_t> parseHex(std::string_view s) {
    if (s.empty() || s.size() > 8) return std::nullopt;
    std::uint32_t v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            return std::nullopt;
        v = v << 4 | static_cast<std::uint32_t>(d);
    }
    return v;
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') ++i;
        std::size_t start = i;
        while (i < text.size() && text[i] != ' ') ++i;
        if (i > start) out.push_back(text.substr(start, i - start));
    }
    return out;
}

}  // namespace

std::string replyValues(const std::vector<std::uint32_t>& values) {
    std::string out;
    char buf[12];
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) out.push_back('\t');
        std::snprintf(buf, sizeof buf, "%X", values[i]);
        out += buf;
    }
    return out + "\r\n>";
}

std::string replyDone() { return "\r\n>"; }
std::string replyRefused() { return "?\r\n>"; }

UnitModel::UnitModel(const EepromImage& eeprom, std::uint32_t seed) : eeprom_(eeprom), meter_(seed) { powerOn(); }

void UnitModel::powerOn() {
    const std::uint8_t b = eeprom_[ee::kPowerOn];
    const int format = b & 0x7F;  // stored as format + 1
    state_ = UnitState{};
    // A power-on byte that names no input (an erased chip, say) starts on input 1.
    state_.button = (format >= 1 && format <= kButtons) ? format : 1;
    state_.digital = (b & 0x80) == 0;
}

Verdict UnitModel::verdict(const Frame& frame) const {
    if (!state_.checksumOn) return Verdict::Unchecked;
    return frame.checksumMatches() ? Verdict::Good : Verdict::Bad;
}

Reply UnitModel::execute(const Frame& frame) {
    if (frame.overflow || verdict(frame) == Verdict::Bad) return refused();
    const auto w = words(frame.text);
    if (w.empty()) return done();  // an empty line only brings the prompt back
    for (const Command& cmd : kCommands) {
        if (cmd.keyword != w[0]) continue;
        const std::size_t n = w.size() - 1;
        if (n < cmd.minArgs || n > cmd.maxArgs) return refused();
        Args args;
        for (std::size_t i = 1; i < w.size(); ++i) {
            auto v = parseHex(w[i]);
            if (!v) return refused();
            args.push_back(*v);
        }
        return (this->*cmd.run)(args);
    }
    return refused();
}

Reply UnitModel::checksum(const Args& args) {
    if (args.empty()) return values({state_.checksumOn ? 1u : 0u});
    if (args[0] > 1) return refused();
    state_.checksumOn = args[0] == 1;
    return done();
}

Reply UnitModel::picver(const Args&) { return Reply{std::string(kFirmwareVersion) + replyDone()}; }

Reply UnitModel::rdeep(const Args& args) {
    // "rdeep N A": the N + 1 bytes from address A.
    const std::size_t count = std::size_t{args[0]} + 1;
    const std::size_t address = args[1];
    if (count > kMaxReadCount || address >= kEepromSize || count > kEepromSize - address) return refused();
    std::vector<std::uint32_t> out;
    for (std::size_t i = 0; i < count; ++i) out.push_back(eeprom_[address + i]);
    return values(out);
}

Reply UnitModel::wreep(const Args& args) {
    // "wreep A B1 B2 ...": all bytes are stored, or none when any is out of range.
    const std::size_t address = args[0];
    const std::size_t count = args.size() - 1;
    if (address >= kEepromSize || count > kEepromSize - address) return refused();
    for (std::size_t i = 1; i < args.size(); ++i)
        if (args[i] > 0xFF) return refused();
    for (std::size_t i = 0; i < count; ++i) eeprom_[address + i] = static_cast<std::uint8_t>(args[i + 1]);
    Reply r = done();
    r.eepromChanged = true;
    return r;
}

Reply UnitModel::mute(const Args& args) {
    if (args.empty()) return values({state_.audioOn ? 1u : 0u});
    if (args[0] > 1) return refused();
    state_.audioOn = args[0] == 1;
    return done();
}

Reply UnitModel::button(const Args& args) {
    if (args.empty()) return values({static_cast<std::uint32_t>(state_.button)});
    if (!pressButton(static_cast<int>(std::min<std::uint32_t>(args[0], 0xFFFF)))) return refused();
    return done();
}

Reply UnitModel::pin(const Args& args) {
    if (args.empty()) return values({static_cast<std::uint32_t>(state_.pin)});
    if (!setPin(static_cast<int>(std::min<std::uint32_t>(args[0], 0xFFFF)))) return refused();
    return done();
}

Reply UnitModel::digitalenable(const Args& args) {
    if (args.empty()) return values({state_.digital ? 1u : 0u});
    if (args[0] > 1) return refused();
    state_.digital = args[0] == 1;
    return done();
}

Reply UnitModel::vu(const Args&) {
    const Levels l = meter_.next(state_.button, state_.audioOn);
    std::vector<std::uint32_t> out;
    for (int pair = 0; pair < 4; ++pair)
        out.push_back(static_cast<std::uint32_t>(l[2 * pair]) << 12 | static_cast<std::uint32_t>(l[2 * pair + 1]));
    return values(out);
}

Reply UnitModel::setip(const Args& args) {
    // "setip A B C D HOSTBITS G1 G2 G3 G4 PORT"
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 7, 8})
        if (args[i] > 0xFF) return refused();
    if (args[4] > 32 || args[9] > 0xFFFF) return refused();
    IpSettings ip;
    ip.known = true;
    for (int i = 0; i < 4; ++i) {
        ip.address[i] = static_cast<std::uint8_t>(args[i]);
        ip.gateway[i] = static_cast<std::uint8_t>(args[5 + i]);
    }
    ip.hostBits = static_cast<int>(args[4]);
    ip.port = static_cast<int>(args[9]);
    ip_ = ip;
    Reply r;
    r.resets = true;
    r.ipChanged = true;
    return r;
}

bool UnitModel::pressButton(int button) {
    if (button < 1 || button > kButtons) return false;
    state_.button = button;
    return true;
}

bool UnitModel::setPin(int pin) {
    if (pin < 1 || pin > kPins) return false;
    state_.pin = pin;
    return true;
}

bool UnitModel::poke(std::size_t address, const std::vector<std::uint8_t>& bytes) {
    if (address >= kEepromSize || bytes.size() > kEepromSize - address) return false;
    for (std::size_t i = 0; i < bytes.size(); ++i) eeprom_[address + i] = bytes[i];
    return true;
}

}  // namespace xelsim
