#include "tools/xelsim/FrontPanel.h"

#include "tools/xelsim/Storage.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <sstream>

namespace xelsim {

namespace {

using Words = std::vector<std::string>;

Words split(const std::string& line) {
    std::istringstream in(line);
    Words w;
    for (std::string s; in >> s;) w.push_back(s);
    return w;
}

bool number(const std::string& s, long& v, int base = 10) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    return ec == std::errc() && p == s.data() + s.size();
}

std::optional<bool> onOff(const std::string& s) {
    if (s == "on") return true;
    if (s == "off") return false;
    return std::nullopt;
}

struct Context {
    UnitModel& unit;
    UnitHandler& handler;
    PowerSwitch* power;
    Outbox& out;
    bool& quit;
};

using Run = std::string (*)(Context&, const Words&);

struct PanelCommand {
    const char* keyword;
    const char* usage;
    const char* what;
    Run run;
};

std::string usageError(const char* usage) { return std::string("error: usage: ") + usage; }

const PanelCommand kPanel[] = {
    {"button", "button N (1-8)", "select input N, as the unit's input buttons do",
     [](Context& c, const Words& w) -> std::string {
         long n;
         if (w.size() != 2 || !number(w[1], n) || !c.unit.pressButton(static_cast<int>(n)))
             return usageError("button N (1-8)");
         return "ok";
     }},
    {"pin", "pin N (1-16)", "set the automation pin",
     [](Context& c, const Words& w) -> std::string {
         long n;
         if (w.size() != 2 || !number(w[1], n) || !c.unit.setPin(static_cast<int>(n)))
             return usageError("pin N (1-16)");
         return "ok";
     }},
    {"film", "film on|off", "film (bypass) mode; \"digitalenable\" answers 0 when on",
     [](Context& c, const Words& w) -> std::string {
         auto v = w.size() == 2 ? onOff(w[1]) : std::nullopt;
         if (!v) return usageError("film on|off");
         c.unit.setFilm(*v);
         return "ok";
     }},
    {"mute", "mute on|off", "mute the audio; \"mute\" answers 0 when on",
     [](Context& c, const Words& w) -> std::string {
         auto v = w.size() == 2 ? onOff(w[1]) : std::nullopt;
         if (!v) return usageError("mute on|off");
         c.unit.setMuted(*v);
         return "ok";
     }},
    {"vu", "vu auto | vu L R C S LS RS LE RE (0-4095)", "hold the meters at these levels; auto lets them move",
     [](Context& c, const Words& w) -> std::string {
         if (w.size() == 2 && w[1] == "auto") {
             c.unit.meter().release();
             return "ok";
         }
         if (w.size() != 1 + kChannels) return usageError("vu auto | vu L R C S LS RS LE RE (0-4095)");
         Levels l{};
         for (int i = 0; i < kChannels; ++i) {
             long v;
             if (!number(w[1 + static_cast<std::size_t>(i)], v) || v < 0 || v > kMaxLevel)
                 return usageError("vu auto | vu L R C S LS RS LE RE (0-4095)");
             l[static_cast<std::size_t>(i)] = static_cast<int>(v);
         }
         c.unit.meter().hold(l);
         return "ok";
     }},
    {"poke", "poke ADDR BYTE... (hex)", "store bytes in the EEPROM from address ADDR",
     [](Context& c, const Words& w) -> std::string {
         long address;
         if (w.size() < 3 || !number(w[1], address, 16) || address < 0) return usageError("poke ADDR BYTE... (hex)");
         std::vector<std::uint8_t> bytes;
         for (std::size_t i = 2; i < w.size(); ++i) {
             long b;
             if (!number(w[i], b, 16) || b < 0 || b > 0xFF) return usageError("poke ADDR BYTE... (hex)");
             bytes.push_back(static_cast<std::uint8_t>(b));
         }
         if (!c.unit.poke(static_cast<std::size_t>(address), bytes)) return "error: beyond the EEPROM's end";
         c.handler.eepromChanged();
         return "ok";
     }},
    {"reset", "reset", "restart the unit (a TCP host is disconnected)",
     [](Context& c, const Words&) -> std::string {
         c.handler.restart(c.out, "front panel");
         return "ok";
     }},
    {"drop", "drop", "cut the link to the host",
     [](Context& c, const Words&) -> std::string {
         c.handler.drop(c.out, "front panel");
         return "ok";
     }},
    {"power", "power on|mode", "power the unit off and on; mode holds its Mode button: the bootloader answers",
     [](Context& c, const Words& w) -> std::string {
         if (w.size() != 2 || (w[1] != "on" && w[1] != "mode")) return usageError("power on|mode");
         if (!c.power) return "error: this unit cannot be powered off";
         if (!c.power->powerOn(w[1] == "mode", c.out))
             return "error: the bootloader answers on the serial line only (start xelsim with --pty)";
         return "ok";
     }},
    {"quit", "quit", "stop xelsim",
     [](Context& c, const Words&) -> std::string {
         c.quit = true;
         return "ok";
     }},
};

}  // namespace

FrontPanel::FrontPanel(UnitModel& unit, UnitHandler& handler, JsonLog& log)
    : unit_(unit), handler_(handler), log_(log) {}

bool FrontPanel::knows(const std::string& line) {
    const Words w = split(line);
    if (w.empty()) return false;
    if (w[0] == "dump" || w[0] == "help") return true;
    return std::any_of(std::begin(kPanel), std::end(kPanel), [&](const PanelCommand& p) { return w[0] == p.keyword; });
}

std::string FrontPanel::helpText() {
    std::string text = "Front panel commands:\n";
    for (const PanelCommand& p : kPanel) text += "  " + std::string(p.usage) + "\n      " + p.what + "\n";
    text +=
        "  dump\n      print the EEPROM and the state as one JSON line (in the bootloader:\n"
        "      program memory, data EEPROM, boot flag and counters)\n";
    return text;
}

std::string FrontPanel::execute(const std::string& line, Outbox& out, bool& quit) {
    const Words w = split(line);
    if (w.empty()) return "error: empty command";
    if (w[0] == "dump") return dump();
    if (w[0] == "help") {
        std::fputs(helpText().c_str(), stderr);
        return "ok";
    }
    for (const PanelCommand& p : kPanel) {
        if (w[0] != p.keyword) continue;
        log_.event("panel", line);
        Context c{unit_, handler_, power_, out, quit};
        return p.run(c, w);
    }
    return "error: unknown command \"" + w[0] + "\" (try help)";
}

std::string FrontPanel::dump() const {
    if (power_ && power_->bootloader()) return power_->bootDump();
    const UnitState& s = unit_.state();
    std::string hex;
    static const char* digits = "0123456789ABCDEF";
    for (std::uint8_t b : unit_.eeprom()) {
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 0xF]);
    }
    nlohmann::json j;
    j["mode"] = "unit";
    j["eeprom"] = hex;
    j["checksum"] = s.checksumOn;
    j["muted"] = !s.audioOn;
    j["button"] = s.button;
    j["pin"] = s.pin;
    j["film"] = !s.digital;
    j["levels"] = unit_.levels();
    j["levels_held"] = unit_.meter().held();
    const IpSettings& ip = unit_.ip();
    if (ip.known) {
        j["ip"] = {{"address", dottedQuad(ip.address)},
                   {"hostBits", ip.hostBits},
                   {"gateway", dottedQuad(ip.gateway)},
                   {"port", ip.port}};
    } else {
        j["ip"] = nullptr;
    }
    j["sessions"] = handler_.sessions();
    j["resets"] = handler_.resets();
    j["commands"] = handler_.commands();
    return j.dump();
}

bool loadScript(const std::string& path, std::vector<ScriptLine>& lines, std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!readFile(path, bytes, error)) return false;
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    for (int number_ = 1; std::getline(in, line); ++number_) {
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string at;
        if (!(words >> at)) continue;
        std::string rest;
        std::getline(words, rest);
        long ms;
        if (!number(at, ms) || ms < 0 || !FrontPanel::knows(rest)) {
            error = path + ":" + std::to_string(number_) + ": expected \"MILLISECONDS COMMAND\", got \"" + line + "\"";
            return false;
        }
        lines.push_back({ms, rest});
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const ScriptLine& a, const ScriptLine& b) { return a.atMs < b.atMs; });
    return true;
}

}  // namespace xelsim
