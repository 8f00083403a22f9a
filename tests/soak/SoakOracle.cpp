#include "tests/soak/SoakOracle.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace xeltest::soak {

EepromOracle::EepromOracle(const std::vector<uint8_t>& unit) {
    for (int b = 0; b < kSize; ++b) {
        const uint8_t v = b < static_cast<int>(unit.size()) ? unit[static_cast<size_t>(b)] : 0;
        allowed_[static_cast<size_t>(b)] = {v};
        model_[static_cast<size_t>(b)] = v;
    }
}

void EepromOracle::put(uint16_t address, const std::vector<std::optional<uint8_t>>& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        const size_t b = address + i;
        const std::optional<uint8_t> v = bytes[i] ? bytes[i] : model_[b];
        model_[b] = v;
        batch_[static_cast<uint16_t>(b)].push_back(v);
    }
}

void EepromOracle::settled(LONG result) {
    for (const auto& [address, queued] : batch_) {
        auto& allowed = allowed_[address];
        if (result == 0) {
            // An unknown byte is the model's copy of what the unit holds: writing
            // it leaves the unit as it was.
            if (queued.back()) allowed = {*queued.back()};
        } else {
            for (const auto& v : queued)
                if (v) allowed.insert(*v);
        }
    }
    batch_.clear();
}

std::string EepromOracle::describe(uint16_t address, int found) const {
    std::ostringstream s;
    s << "byte 0x" << std::hex << address << ": 0x" << found << ", the unit may hold {";
    const char* sep = "";
    for (uint8_t v : allowed_[address]) {
        s << sep << "0x" << static_cast<int>(v);
        sep = ", ";
    }
    s << "}";
    return s.str();
}

std::vector<std::string> EepromOracle::reloaded(const std::set<uint16_t>& area,
                                                const std::map<uint16_t, uint8_t>& shown) {
    std::vector<std::string> wrong;
    for (uint16_t b : area) {
        auto& allowed = allowed_[b];
        const auto it = shown.find(b);
        if (it == shown.end()) {
            model_[b] = allowed.size() == 1 ? std::optional<uint8_t>(*allowed.begin()) : std::nullopt;
            continue;
        }
        if (!allowed.count(it->second)) wrong.push_back(describe(b, it->second));
        allowed = {it->second};
        model_[b] = it->second;
    }
    return wrong;
}

std::vector<std::string> EepromOracle::check(const std::vector<uint8_t>& unit) const {
    std::vector<std::string> wrong;
    for (int b = 0; b < kSize; ++b) {
        const int v = b < static_cast<int>(unit.size()) ? unit[static_cast<size_t>(b)] : -1;
        if (v < 0 || !allowed_[static_cast<size_t>(b)].count(static_cast<uint8_t>(v)))
            wrong.push_back(describe(static_cast<uint16_t>(b), v));
    }
    return wrong;
}

void SwitchOracle::reserve(size_t n) {
    for (auto& e : expected_) e.reserve(n);
}

size_t SwitchOracle::count() const {
    size_t n = 0;
    for (const auto& e : expected_) n += e.size();
    return n;
}

namespace {

// The switch and state a host command ("mute 0", "button 3") or a front-panel
// line ("mute on", "button 3") sets; false for anything else (queries included).
bool switchSet(const std::string& text, bool panel, SwitchOracle::Kind& kind, int& state) {
    const auto space = text.find(' ');
    if (space == std::string::npos) return false;
    const std::string word = text.substr(0, space);
    const std::string arg = text.substr(space + 1);
    if (panel && (word == "mute" || word == "film")) {
        if (arg != "on" && arg != "off") return false;
        kind = word == "mute" ? SwitchOracle::Mute : SwitchOracle::Film;
        state = arg == "on" ? 1 : 0;
        return true;
    }
    unsigned long value = 0;
    try {
        size_t used = 0;
        value = std::stoul(arg, &used, panel ? 10 : 16);
        if (used != arg.size()) return false;
    } catch (...) {
        return false;
    }
    if (!panel && word == "mute") {
        kind = SwitchOracle::Mute;  // the unit's argument is 1 for audio on
        state = value == 0 ? 1 : 0;
    } else if (!panel && word == "digitalenable") {
        kind = SwitchOracle::Film;  // 0 is film (bypass) mode
        state = value == 0 ? 1 : 0;
    } else if (word == "button") {
        kind = SwitchOracle::Button;
        state = static_cast<int>(value);
    } else if (word == "pin") {
        kind = SwitchOracle::Pin;
        state = static_cast<int>(value);
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> SwitchOracle::check(const std::string& logPath) const {
    static const char* const kNames[kKinds] = {"mute", "film", "button", "pin"};
    // Walks the log once, matching each switch's expected states in order.
    std::array<size_t, kKinds> matched{};
    std::ifstream in(logPath);
    std::string line;
    while (std::getline(in, line)) {
        const auto j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_discarded() || !j.is_object()) continue;
        std::string text;
        bool panel = false;
        if (j.value("dir", "") == "rx") {
            text = j.value("text", "");
        } else if (j.value("event", "") == "panel") {
            text = j.value("detail", "");
            panel = true;
        } else {
            continue;
        }
        Kind kind;
        int state = 0;
        if (!switchSet(text, panel, kind, state)) continue;
        const auto& e = expected_[kind];
        if (matched[kind] < e.size() && e[matched[kind]] == state) ++matched[kind];
    }
    std::vector<std::string> missing;
    for (int k = 0; k < kKinds; ++k) {
        const auto& e = expected_[static_cast<size_t>(k)];
        if (matched[static_cast<size_t>(k)] < e.size())
            missing.push_back(std::string(kNames[k]) + ": acknowledged change " +
                              std::to_string(matched[static_cast<size_t>(k)] + 1) + " of " + std::to_string(e.size()) +
                              " (state " + std::to_string(e[matched[static_cast<size_t>(k)]]) +
                              ") never reached the unit");
    }
    return missing;
}

}  // namespace xeltest::soak
