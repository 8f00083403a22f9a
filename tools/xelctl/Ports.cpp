// ports: where serial names lead, and the USB bridges attached.
//
// Serial names reach the link through the connection object only when they
// contain "COM" or "USB" and fit in 9 characters; the way to reach a
// particular adapter is a mapping R/ports/NAME -> DEVICE, which the link
// driver looks up before its own rule (COMn -> /dev/ttyS(n-1)); with --machine
// the mapping is made for every user in /etc/xelor/ports, and a user's own
// name overrides the machine's. Devices are
// found under the sysfs and device roots the USB bridge access uses
// (XELOR_SYSFS_ROOT, XELOR_DEV_ROOT; /sys and /dev by default).
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "platform/registry/Registry.h"
#include "platform/usbbridge/usbbridge.h"
#include "tools/xelctl/Commands.h"
#include "tools/xelctl/Failure.h"
#include "xelsys/StateFolder.h"

namespace fs = std::filesystem;

namespace xelctl {

namespace {

std::string rootOf(const char* variable, const char* fallback) {
    const char* v = std::getenv(variable);
    return v && *v ? v : fallback;
}

fs::path portsFolder(bool machine) {
    return machine ? fs::path(xel::sys::machinePortsDir()) : xel::registry::userStateDir() / "ports";
}

std::vector<std::string> sortedNames(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> resolved(const fs::path& p) {
    std::error_code ec;
    const fs::path r = fs::canonical(p, ec);
    if (ec) return std::nullopt;
    return r.string();
}

struct Mapping {
    std::string name;
    std::string target;                 // as the link shows it
    std::optional<std::string> device;  // where it leads now
    bool machine = false;               // in the machine's folder
    bool overridden = false;            // a machine name the user has one of their own for
};

bool sameName(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

// The names of one folder; the machine's are marked where the user's own win.
std::vector<Mapping> mappings(bool machine, const std::vector<Mapping>& users = {}) {
    std::vector<Mapping> out;
    const fs::path folder = portsFolder(machine);
    for (const std::string& name : sortedNames(folder)) {
        if (name.rfind(".xelctl-", 0) == 0) continue;  // a mapping being written
        Mapping m;
        m.name = name;
        m.machine = machine;
        m.overridden = machine && std::any_of(users.begin(), users.end(),
                                              [&](const Mapping& u) { return sameName(u.name, name); });
        std::error_code ec;
        const fs::path entry = folder / name;
        m.target =
            fs::is_symlink(fs::symlink_status(entry, ec)) ? fs::read_symlink(entry, ec).string() : entry.string();
        m.device = resolved(entry);
        out.push_back(std::move(m));
    }
    return out;
}

struct SerialPort {
    std::string device;
    std::vector<std::string> names;
    std::vector<std::string> byId;
};

// Real serial devices: ttys with a device behind them, 8250-style ports only
// when a UART was found (their "type" is not 0).
std::vector<SerialPort> serialPorts(const std::vector<Mapping>& maps) {
    const fs::path classTty = fs::path(rootOf("XELOR_SYSFS_ROOT", "/sys")) / "class" / "tty";
    const fs::path dev = rootOf("XELOR_DEV_ROOT", "/dev");
    std::map<std::string, std::vector<std::string>> byId;  // resolved device -> aliases
    for (const std::string& alias : sortedNames(dev / "serial" / "by-id"))
        if (auto r = resolved(dev / "serial" / "by-id" / alias)) byId[*r].push_back(alias);

    std::vector<SerialPort> out;
    for (const std::string& name : sortedNames(classTty)) {
        std::error_code ec;
        if (!fs::exists(classTty / name / "device", ec)) continue;
        if (std::ifstream type(classTty / name / "type"); type) {
            int t = -1;
            if (type >> t && t == 0) continue;
        }
        SerialPort p;
        p.device = (dev / name).string();
        const std::string real = resolved(dev / name).value_or(p.device);
        if (name.rfind("ttyS", 0) == 0 && name.size() > 4 &&
            name.find_first_not_of("0123456789", 4) == std::string::npos) {
            const std::string com = "COM" + std::to_string(std::stoul(name.substr(4)) + 1);
            bool shadowed = false;
            for (const Mapping& m : maps) shadowed |= sameName(m.name, com);
            if (!shadowed) p.names.push_back(com);
        }
        for (const Mapping& m : maps)
            if (!m.overridden && m.device && *m.device == real) p.names.push_back(m.name);
        if (auto it = byId.find(real); it != byId.end()) p.byId = it->second;
        out.push_back(std::move(p));
    }
    return out;
}

struct Bridge {
    uint32_t index;
    std::string product, serial, tty;
};

std::vector<Bridge> bridges() {
    std::vector<Bridge> out;
    uint32_t count = 0;
    if (UsbBridgeGetDeviceCount(&count) != USBBRIDGE_OK) return out;
    for (uint32_t i = 0; i < count; ++i) {
        char text[USBBRIDGE_STRING_SIZE];
        Bridge b{i, {}, {}, {}};
        if (UsbBridgeGetProductString(i, text, USBBRIDGE_INFO_DESCRIPTION) == USBBRIDGE_OK) b.product = text;
        if (UsbBridgeGetProductString(i, text, USBBRIDGE_INFO_SERIAL_NUMBER) == USBBRIDGE_OK) b.serial = text;
        if (UsbBridgeGetProductString(i, text, USBBRIDGE_INFO_TTY_PATH) == USBBRIDGE_OK) b.tty = text;
        out.push_back(std::move(b));
    }
    return out;
}

std::string describe(const Mapping& m) {
    return "  " + m.name + " -> " + m.target +
           (m.device ? (*m.device != m.target ? " (" + *m.device + ")" : "") : " (missing)") +
           (m.overridden ? "  [overridden by your own " + m.name + "]" : "");
}

// Without --machine: the user's names, then the machine's; with it, the machine's alone.
void list(Context& ctx, bool machineOnly) {
    const std::vector<Mapping> users = machineOnly ? std::vector<Mapping>{} : mappings(false);
    std::vector<Mapping> maps = users;
    const std::vector<Mapping> machine = mappings(true, users);
    maps.insert(maps.end(), machine.begin(), machine.end());
    const std::vector<SerialPort> ports = serialPorts(maps);
    const std::vector<Bridge> usb = bridges();
    if (ctx.options.json) {
        nlohmann::ordered_json j;
        j["mappings"] = nlohmann::ordered_json::array();
        for (const Mapping& m : maps)
            j["mappings"].push_back({{"name", m.name},
                                     {"target", m.target},
                                     {"device", m.device ? nlohmann::ordered_json(*m.device) : nullptr},
                                     {"machine", m.machine},
                                     {"overridden", m.overridden}});
        j["serial"] = nlohmann::ordered_json::array();
        for (const SerialPort& p : ports)
            j["serial"].push_back({{"device", p.device}, {"names", p.names}, {"byId", p.byId}});
        j["bridges"] = nlohmann::ordered_json::array();
        for (const Bridge& b : usb)
            j["bridges"].push_back({{"index", b.index}, {"product", b.product}, {"serial", b.serial}, {"tty", b.tty}});
        ctx.print(j);
        return;
    }
    if (!machineOnly) {
        ctx.line("Port names (" + portsFolder(false).string() + "):");
        if (users.empty()) ctx.line("  (none; xelctl ports map COM3 /dev/serial/by-id/... makes one)");
        for (const Mapping& m : users) ctx.line(describe(m));
    }
    ctx.line("Port names of every user (" + portsFolder(true).string() + "):");
    if (machine.empty()) ctx.line("  (none; xelctl ports map --machine COM3 DEVICE makes one, as root)");
    for (const Mapping& m : machine) ctx.line(describe(m));
    ctx.line("Serial ports:");
    if (ports.empty()) ctx.line("  (none)");
    for (const SerialPort& p : ports) {
        std::string text = "  " + p.device;
        for (const std::string& n : p.names) text += "  " + n;
        for (const std::string& id : p.byId) text += "  by-id/" + id;
        ctx.line(text);
    }
    ctx.line("USB bridges (address USB takes the first):");
    if (usb.empty()) ctx.line("  (none)");
    for (const Bridge& b : usb)
        ctx.line("  " + std::to_string(b.index) + "  \"" + b.product + "\"" +
                 (b.serial.empty() ? "" : "  serial " + b.serial) + (b.tty.empty() ? "" : "  " + b.tty));
}

// A name the connection object hands to the serial transport as it is.
void checkPortName(const std::string& name) {
    if (name.find("COM") == std::string::npos && name.find("USB") == std::string::npos)
        usageError("\"" + name +
                   "\" cannot be used as an address: a serial name must contain COM or USB (in capitals)");
    if (name.size() > 9) usageError("\"" + name + "\" is too long: a serial name has at most 9 characters");
    if (strcasecmp(name.c_str(), "USB") == 0)
        usageError("\"USB\" always means the unit's USB bridge; choose another name");
    for (const char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'))
            usageError("\"" + name + "\" may hold only letters, digits, '_' and '-'");
}

std::optional<std::string> existingEntry(const fs::path& folder, const std::string& name) {
    for (const std::string& entry : sortedNames(folder))
        if (strcasecmp(entry.c_str(), name.c_str()) == 0) return entry;
    return std::nullopt;
}

// What to add to a failed change of the machine's folder.
std::string machineHint(bool machine, const std::error_code& ec) {
    if (!machine || (ec != std::errc::permission_denied && ec != std::errc::operation_not_permitted &&
                     ec != std::errc::read_only_file_system))
        return {};
    return " (the names of every user are changed as root, e.g. with sudo)";
}

// mkdir -p; the machine's folders are readable by every user whatever the umask.
void makeFolder(const fs::path& folder, bool machine, std::error_code& ec) {
    if (!machine) {
        fs::create_directories(folder, ec);
        return;
    }
    if (fs::is_directory(folder, ec)) return;
    ec.clear();
    if (folder.has_parent_path() && folder.parent_path() != folder) {
        makeFolder(folder.parent_path(), machine, ec);
        if (ec) return;
    }
    if (::mkdir(folder.c_str(), 0755) == 0) {
        (void)::chmod(folder.c_str(), 0755);
    } else if (errno != EEXIST) {
        ec = std::error_code(errno, std::generic_category());
    }
}

void map(Context& ctx, const std::string& name, const std::string& device, bool machine) {
    checkPortName(name);
    const std::string target = device.empty() || device[0] == '/' ? device : absolutePath(device);
    if (target.empty()) usageError("no DEVICE given");
    const fs::path folder = portsFolder(machine);
    std::error_code ec;
    makeFolder(folder, machine, ec);
    if (ec) fail(kExitFile, "cannot create " + folder.string() + ": " + ec.message() + machineHint(machine, ec));
    if (!resolved(target))
        std::fprintf(stderr, "xelctl: note: %s does not exist now; the name is kept for it\n", target.c_str());
    // Made under a temporary name and renamed over the old one: the name is never missing.
    const fs::path temp = folder / (".xelctl-" + std::to_string(::getpid()));
    fs::remove(temp, ec);
    fs::create_symlink(target, temp, ec);
    if (ec)
        fail(kExitFile, "cannot write " + (folder / name).string() + ": " + ec.message() + machineHint(machine, ec));
    if (auto old = existingEntry(folder, name); old && *old != name) fs::remove(folder / *old, ec);
    fs::rename(temp, folder / name, ec);
    if (ec) {
        fs::remove(temp);
        fail(kExitFile, "cannot write " + (folder / name).string() + ": " + ec.message());
    }
    if (ctx.options.json)
        ctx.print({{"name", name}, {"target", target}, {"machine", machine}});
    else
        ctx.line(name + " -> " + target);
}

void unmap(const std::string& name, bool machine) {
    const fs::path folder = portsFolder(machine);
    const auto entry = existingEntry(folder, name);
    if (!entry) {
        std::string why = "there is no port name " + name + " in " + folder.string();
        if (!machine && existingEntry(portsFolder(true), name))
            why += "; " + name + " is a name of every user (xelctl ports unmap --machine " + name + ", as root)";
        fail(kExitFile, why);
    }
    std::error_code ec;
    fs::remove(folder / *entry, ec);
    if (ec)
        fail(kExitFile, "cannot remove " + (folder / *entry).string() + ": " + ec.message() + machineHint(machine, ec));
}

}  // namespace

void runPorts(Context& ctx, const Args& given) {
    // --machine may stand anywhere among the words: "ports map --machine COM3 DEVICE".
    Args args;
    bool machine = false;
    for (const std::string& a : given) {
        if (a == "--machine")
            machine = true;
        else
            args.push_back(a);
    }
    if (args.empty()) return list(ctx, machine);
    if (args[0] == "map" && args.size() == 3) return map(ctx, args[1], args[2], machine);
    if (args[0] == "unmap" && args.size() == 2) return unmap(args[1], machine);
    usageError("usage: ports [--machine] [map NAME DEVICE | unmap NAME]");
}

}  // namespace xelctl
