#include "tools/xelsim/Options.h"

#include "tools/xelsim/FrontPanel.h"

#include <charconv>
#include <functional>

namespace xelsim {

namespace {

bool toLong(const std::string& s, long& v, long min, long max) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && p == s.data() + s.size() && v >= min && v <= max;
}

bool parseTcp(const std::string& text, Options& o) {
    // [ADDR:]PORT
    std::string portText = text;
    if (auto colon = text.rfind(':'); colon != std::string::npos) {
        o.tcpAddress = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (o.tcpAddress.empty()) return false;
    }
    long port;
    if (!toLong(portText, port, 0, 65535)) return false;
    o.tcpPort = static_cast<int>(port);
    o.tcpGiven = true;
    return true;
}

using Setter = std::function<bool(Options&, const std::string&)>;

struct OptionDef {
    const char* name;
    const char* value;  // nullptr: a switch without a value
    const char* help;
    Setter set;
    const char* section = nullptr;  // printed before this option in --help
};

Setter count(std::optional<long> FaultPlan::*field) {
    return [field](Options& o, const std::string& v) {
        long n;
        if (!toLong(v, n, 0, 1L << 30)) return false;
        o.faults.*field = n;
        return true;
    };
}

Setter millis(int FaultPlan::*field) {
    return [field](Options& o, const std::string& v) {
        long n;
        if (!toLong(v, n, 0, 600000)) return false;
        o.faults.*field = static_cast<int>(n);
        return true;
    };
}

Setter path(std::string Options::*field) {
    return [field](Options& o, const std::string& v) {
        o.*field = v;
        return !v.empty();
    };
}

const std::vector<OptionDef>& table() {
    static const std::vector<OptionDef> t = {
        {"--tcp", "[ADDR:]PORT",
         "listen for a host on TCP (default 127.0.0.1:10001;\n"
         "the unit's port is 10001). One host at a time: a\n"
         "second host is disconnected at once.",
         [](Options& o, const std::string& v) { return parseTcp(v, o); }, "Link (TCP unless --pty is given):"},
        {"--pty", "LINK",
         "be a serial unit on a new pseudo-terminal and make\n"
         "LINK a symlink to it (for example\n"
         "~/.config/xelor/ports/COM3).",
         path(&Options::ptyLink)},
        {"--baud", "N",
         "send no faster than a serial line at N baud (N/10\n"
         "bytes a second); the real unit runs at 38400.",
         [](Options& o, const std::string& v) {
             long n;
             if (!toLong(v, n, 50, 4000000)) return false;
             o.baud = static_cast<int>(n);
             return true;
         }},
        {"--eeprom", "FILE",
         "keep the unit's EEPROM in FILE (made with the factory\n"
         "contents when missing, replaced whole after every\n"
         "write by a host) and its IP settings in\n"
         "FILE.state.json.",
         path(&Options::eepromPath), "Unit memory:"},
        {"--config", "SETUP.xel",
         "load a saved configuration (.xel) into the EEPROM\n"
         "at start, to clone a unit from the field.",
         path(&Options::configPath)},
        {"--seed", "N",
         "make the level meters repeat the same series on\n"
         "every run.",
         [](Options& o, const std::string& v) {
             long n;
             if (!toLong(v, n, 0, 0xFFFFFFFFL)) return false;
             o.seed = static_cast<std::uint32_t>(n);
             return true;
         }},
        {"--script", "FILE",
         "press the unit's controls at set times: lines\n"
         "\"MS COMMAND\", MS counted from start, COMMAND as on\n"
         "standard input.",
         path(&Options::scriptPath), "Front panel and records:"},
        {"--log", "FILE",
         "write one JSON line per frame received, per reply\n"
         "sent and per event on the link.",
         path(&Options::logPath)},
        {"--silent", nullptr, "carry out commands but never answer.",
         [](Options& o, const std::string&) { return o.faults.silent = true; },
         "Faults (\"after N\": the first N commands of a connection are answered\n"
         "normally, later ones are not):"},
        {"--silent-after", "N", "then carry commands out but never answer.", count(&FaultPlan::silentAfter)},
        {"--delay-ms", "N", "wait N ms before every reply.", millis(&FaultPlan::delayMs)},
        {"--split", nullptr, "send every reply in three pieces.",
         [](Options& o, const std::string&) { return o.faults.split = true; }},
        {"--split-ms", "N", "pause between the pieces of --split (default 50).", millis(&FaultPlan::splitMs)},
        {"--drop-after", "N", "then cut the link instead of answering.", count(&FaultPlan::dropAfter)},
        {"--no-prompt-after", "N", "then answer without the final \">\".", count(&FaultPlan::noPromptAfter)},
        {"--garbage-after", "N", "then answer with random bytes ending in \">\".", count(&FaultPlan::garbageAfter)},
        {"--reset-after", "N", "then restart instead of answering, as after \"setip\".", count(&FaultPlan::resetAfter)},
        {"--rst-after", "N",
         "then reset the connection (TCP RST) instead of\n"
         "answering. On a pseudo-terminal there is no reset:\n"
         "the line is hung up, as by --drop-after.",
         count(&FaultPlan::rstAfter)},
        {"--bootloader", nullptr,
         "start as the unit does when powered on with its Mode\n"
         "button held: its bootloader answers on the line\n"
         "(--pty only). The front panel's \"power on\" starts\n"
         "the unit's own program, \"power mode\" the bootloader.",
         [](Options& o, const std::string&) { return o.bootloader = true; }, "Bootloader:"},
        {"--boot-silent-after", "N", "the bootloader answers N requests, then nothing.",
         [](Options& o, const std::string& v) {
             long n;
             if (!toLong(v, n, 0, 1L << 30)) return false;
             o.bootSilentAfter = n;
             return true;
         }},
        {"--boot-dead-cell", "ADDR",
         "the program-memory byte at ADDR (hex) ignores\n"
         "writes, so the bootloader's read-back differs.",
         [](Options& o, const std::string& v) {
             long n;
             auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), n, 16);
             if (ec != std::errc() || p != v.data() + v.size() || n < 0 || n > 0xFFFFFF) return false;
             o.bootDeadCell = static_cast<std::uint32_t>(n);
             return true;
         }},
        {"--help", nullptr, "show this text.", [](Options& o, const std::string&) { return o.help = true; }, ""},
        {"--version", nullptr, "show the suite's version.",
         [](Options& o, const std::string&) { return o.version = true; }},
    };
    return t;
}

}  // namespace

bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.erase(eq);
        }
        if (name == "-h") name = "--help";
        const OptionDef* def = nullptr;
        for (const OptionDef& d : table())
            if (name == d.name) def = &d;
        if (!def) {
            error = "unknown option " + args[i] + " (see --help)";
            return false;
        }
        if (def->value && !value) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value: " + name + " " + def->value;
                return false;
            }
            value = args[++i];
        }
        if (!def->value && value) {
            error = name + " takes no value";
            return false;
        }
        if (!def->set(options, value.value_or(""))) {
            error = "bad value for " + name + ": \"" + value.value_or("") + "\" (expected " + def->value + ")";
            return false;
        }
    }
    if ((options.bootloader || options.bootSilentAfter || options.bootDeadCell) && options.ptyLink.empty()) {
        error = "the bootloader answers on the serial line only: use it with --pty";
        return false;
    }
    if (options.tcpGiven && !options.ptyLink.empty()) {
        error = "--tcp and --pty exclude each other: the unit has one link at a time";
        return false;
    }
    return true;
}

std::string usageText() {
    std::string text =
        "Usage: xelsim [OPTIONS]\n"
        "\n"
        "A cinema sound processor unit in software. It answers the unit's command\n"
        "protocol like the real unit, so the console, xelctl and the tests can be\n"
        "used without hardware. When ready it prints one line on standard output:\n"
        "  xelsim: listening on ADDR:PORT      or      xelsim: pty /dev/pts/N\n"
        "and runs until Ctrl-C, SIGTERM or the command quit.\n";
    for (const OptionDef& d : table()) {
        if (d.section) text += std::string("\n") + (*d.section ? std::string(d.section) + "\n" : "");
        std::string head = std::string("  ") + d.name + (d.value ? std::string(" ") + d.value : "");
        std::string help = d.help;
        std::string indent(24, ' ');
        if (head.size() < indent.size())
            head += std::string(indent.size() - head.size(), ' ');
        else
            head += "\n" + indent;
        std::size_t at = 0;
        while ((at = help.find('\n', at)) != std::string::npos) {
            help.insert(at + 1, indent);
            at += indent.size() + 1;
        }
        text += head + help + "\n";
    }
    text +=
        "\nStandard input is the unit's front panel. Each command answers one line\n"
        "(ok, error: ..., or the JSON of dump); end of input is harmless.\n";
    text += FrontPanel::helpText().substr(FrontPanel::helpText().find('\n') + 1);
    text +=
        "\nThe unit starts as it powers on: the input and mode stored in its EEPROM,\n"
        "audio on, automation pin 1, checksums unchecked until a host sends\n"
        "\"checksum 1\". Examples:\n"
        "  xelsim                                   a unit at 127.0.0.1:10001\n"
        "  xelsim --eeprom unit.eep --config site.xel\n"
        "                                           a clone of a saved unit\n"
        "  xelsim --pty /tmp/ttyXEL --baud 38400    a unit on a serial line\n"
        "  xelsim --delay-ms 300 --split            a slow, choppy unit\n"
        "  xelsim --pty ~/.config/xelor/ports/COM1 --baud 38400 --bootloader\n"
        "                                           a unit waiting for new firmware\n";
    return text;
}

}  // namespace xelsim
