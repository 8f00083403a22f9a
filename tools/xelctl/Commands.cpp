#include "tools/xelctl/Commands.h"

#include <filesystem>
#include <iostream>

#include "tools/xelctl/Failure.h"

namespace xelctl {

void Context::print(const nlohmann::ordered_json& j) const {
    out << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n' << std::flush;
}

void Context::line(const std::string& text) const { out << text << '\n' << std::flush; }

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"query", "", 0, 0, runQuery,
         "Read the unit's settings, profile and format table and print them\n"
         "(trims in dB and delays in ms as the console shows them)."},
        {"get", "NAME [INDEX]", 1, 2, runGet, "Print one property, e.g. get Format.InputTrim 2."},
        {"set", "NAME [INDEX] VALUE", 2, 3, runSet,
         "Change one property and wait until the unit has taken it,\n"
         "e.g. set Format.CurrentFormat 3, set Xel.Mute on."},
        {"call", "NAME [ARGS...]", 1, -1, runCall,
         "Call a method; print its result and out-values, e.g.\n"
         "call Format.GetTrimsAndDelays 0."},
        {"save", "FILE", 1, 1, runSave, "Save the unit's setup as a configuration file (.xel)."},
        {"load", "FILE", 1, 1, runLoad,
         "Load a configuration file into the unit and wait until it has\n"
         "taken every value."},
        {"setip", "ADDRESS MASK GATEWAY", 3, 3, runSetIP,
         "Give the unit's network card its IP address, subnet mask and\n"
         "gateway; the unit resets afterwards."},
        {"hex", "FILE", 1, 1, runHex,
         "Check a firmware image (Intel HEX) and convert it into the memory\n"
         "images beside it; no unit needed."},
        {"firmware", "FILE", 1, 1, runFirmware,
         "Check and convert a firmware image, then download it into the unit\n"
         "over its serial bootloader (power the unit on holding \"Mode\")."},
        {"watch", "[--seconds N]", 0, 2, runWatch,
         "Print the unit's events as they happen and its output levels once\n"
         "a second, until Ctrl-C or for N seconds."},
        {"send", "TEXT", 1, -1, runSend,
         "Send one raw command (the carriage return and checksum are added)\n"
         "and print the unit's raw reply."},
        {"ports", "[--machine] [map NAME DEVICE | unmap NAME]", 0, 4, runPorts,
         "List serial ports, their names and mappings, and attached USB\n"
         "bridges; map or unmap a port name (ports/NAME -> DEVICE). With\n"
         "--machine, the names of every user (/etc/xelor/ports; as root)."},
        {"shell", "", 0, 0, runShell,
         "Read commands from standard input, one per line, over one\n"
         "connection (# begins a comment; quit ends)."},
    };
    return table;
}

const Command* findCommand(std::string_view name) {
    for (const Command& c : commands())
        if (name == c.name) return &c;
    return nullptr;
}

std::string usageLine() { return "usage: xelctl [-a ADDRESS] [--json] [-v] COMMAND [ARGUMENTS...]"; }

std::string helpText() {
    std::string text = usageLine() + "\n\n";
    text +=
        "Reads and changes a Xelor unit through the Xelor core: for technicians,\n"
        "scripts and field diagnosis.\n\n"
        "Options (before the command):\n"
        "  -a, --address ADDRESS  the unit: COM1 ... (a serial port or a ports/ name),\n"
        "                         USB (the unit's USB bridge), or a host name or\n"
        "                         dotted address (TCP port 10001). Default: the\n"
        "                         console's \"Address\" setting, else COM1.\n"
        "      --server URL       run query, get, set, call, save, load, setip and\n"
        "                         watch through a running xeld (http://HOST:PORT or\n"
        "                         unix:PATH) instead of a link of our own; not with -a\n"
        "      --token-file FILE  the xeld token for changes (with --server)\n"
        "      --json             print JSON (one object per line) instead of text\n"
        "  -v, --verbose          trace every frame sent and reply received, with\n"
        "                         millisecond times, on stderr\n"
        "  -h, --help             show this text\n"
        "      --version          show the suite's version\n\n"
        "Commands:\n";
    for (const Command& c : commands()) {
        std::string head = std::string("  ") + c.name + (c.synopsis[0] ? " " : "") + c.synopsis;
        text += head + "\n";
        std::string summary = c.summary;
        size_t start = 0;
        while (start < summary.size()) {
            size_t end = summary.find('\n', start);
            if (end == std::string::npos) end = summary.size();
            text += "      " + summary.substr(start, end - start) + "\n";
            start = end + 1;
        }
    }
    text +=
        "\nNAME is Object.Member: Object is Xel, Comm, Format, Profile or VU (any\n"
        "case), Member any property or method of that object (xelctl get Format.x\n"
        "lists them). Values: whole numbers (decimal or 0x hex), on/off, or text.\n"
        "Trims are raw steps of 0.5 dB, delays milliseconds, format indexes 0-7.\n\n"
        "Exit codes: 0 success, 1 link or unit failure, 2 usage, 3 file error,\n"
        "4 invalid firmware image. See xelctl(1).\n";
    return text;
}

int runCommand(Context& context, const Args& words, const std::string& where) {
    const std::string prefix = "xelctl: " + (where.empty() ? std::string() : where + ": ");
    try {
        if (words.empty()) usageError("no command given");
        const Command* command = findCommand(words[0]);
        if (!command) usageError("unknown command \"" + words[0] + "\" (xelctl --help lists the commands)");
        const int given = static_cast<int>(words.size()) - 1;
        if (given < command->minArgs || (command->maxArgs >= 0 && given > command->maxArgs)) {
            std::string message =
                std::string("usage: ") + command->name + (command->synopsis[0] ? " " : "") + command->synopsis;
            for (size_t i = 1; i < words.size(); ++i)
                if (words[i] == "--json" || words[i] == "-v" || words[i] == "-a" || words[i] == "--verbose" ||
                    words[i] == "--address") {
                    message += " (options such as " + words[i] + " go before the command)";
                    break;
                }
            usageError(message);
        }
        command->run(context, Args(words.begin() + 1, words.end()));
        return kExitOk;
    } catch (const Failure& f) {
        std::cout.flush();
        if (*f.what()) std::cerr << prefix << f.what() << '\n';
        return f.code();
    } catch (const std::exception& e) {
        std::cout.flush();
        std::cerr << prefix << "internal error: " << e.what() << '\n';
        return kExitUnit;
    }
}

void checkStatus(HRESULT status, const std::string& what) {
    if (status == S_OK) return;
    switch (status) {
        case 1: fail(kExitUnit, what + " failed: the exchange with the unit failed");
        case 110: fail(kExitFile, what + " failed: the file cannot be opened, read or written");
        case 2250: fail(kExitUnit, what + " failed: not connected");
        default: break;
    }
    if (status == DISP_E_TYPEMISMATCH || status == DISP_E_BADPARAMCOUNT || status == DISP_E_PARAMNOTFOUND ||
        status == DISP_E_OVERFLOW || status == DISP_E_MEMBERNOTFOUND || status == DISP_E_PARAMNOTOPTIONAL)
        usageError(what + ": " + statusText(status));
    fail(kExitUnit, what + " failed: " + statusText(status));
}

std::string absolutePath(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

}  // namespace xelctl
