// ports: where serial names lead, and the USB bridges attached.
//
// Serial names reach the link through the connection object only when they
// contain "COM" or "USB" and fit in 9 characters; the way to reach a
// particular adapter is a mapping R/ports/NAME -> DEVICE, which the link
// driver looks up before its own rule (COMn -> /dev/ttyS(n-1)). Devices are
// found under the sysfs and device roots the USB bridge access uses
// (XELOR_SYSFS_ROOT, XELOR_DEV_ROOT; /sys and /dev by default).
#include <strings.h>
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

namespace fs = std::filesystem;

namespace xelctl {

namespace {

std::string rootOf(const char* variable, const char* fallback) {
    const char* v = std::getenv(variable);
    return v && *v ? v : fallback;
}

fs::path portsFolder() { return xel::registry::userStateDir() / "ports"; }

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
    std::string target;              // as the link shows it
    std::optional<std::string> device;  // where it leads now
};

std::vector<Mapping> mappings() {
    std::vector<Mapping> out;
    const fs::path folder = portsFolder();
    for (const std::string& name : sortedNames(folder)) {
        Mapping m;
        m.name = name;
        std::error_code ec;
        const fs::path entry = folder / name;
        m.target = fs::is_symlink(fs::symlink_status(entry, ec)) ? fs::read_symlink(entry, ec).string() : entry.string();
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
        if (name.rfind("ttyS", 0) == 0 && name.size() > 4 && name.find_first_not_of("0123456789", 4) == std::string::npos) {
            const std::string com = "COM" + std::to_string(std::stoul(name.substr(4)) + 1);
            bool shadowed = false;
            for (const Mapping& m : maps) shadowed |= strcasecmp(m.name.c_str(), com.c_str()) == 0;
            if (!shadowed) p.names.push_back(com);
        }
        for (const Mapping& m : maps)
            if (m.device && *m.device == real) p.names.push_back(m.name);
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

void list(Context& ctx) {
    const std::vector<Mapping> maps = mappings();
    const std::vector<SerialPort> ports = serialPorts(maps);
    const std::vector<Bridge> usb = bridges();
    if (ctx.options.json) {
        nlohmann::ordered_json j;
        j["mappings"] = nlohmann::ordered_json::array();
        for (const Mapping& m : maps)
            j["mappings"].push_back({{"name", m.name},
                                     {"target", m.target},
                                     {"device", m.device ? nlohmann::ordered_json(*m.device) : nullptr}});
        j["serial"] = nlohmann::ordered_json::array();
        for (const SerialPort& p : ports) j["serial"].push_back({{"device", p.device}, {"names", p.names}, {"byId", p.byId}});
        j["bridges"] = nlohmann::ordered_json::array();
        for (const Bridge& b : usb)
            j["bridges"].push_back({{"index", b.index}, {"product", b.product}, {"serial", b.serial}, {"tty", b.tty}});
        ctx.print(j);
        return;
    }
    ctx.line("Port names (" + portsFolder().string() + "):");
    if (maps.empty()) ctx.line("  (none; xelctl ports map COM3 /dev/serial/by-id/... makes one)");
    for (const Mapping& m : maps)
        ctx.line("  " + m.name + " -> " + m.target + (m.device ? (*m.device != m.target ? " (" + *m.device + ")" : "") : " (missing)"));
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
        ctx.line("  " + std::to_string(b.index) + "  \"" + b.product + "\"" + (b.serial.empty() ? "" : "  serial " + b.serial) +
                 (b.tty.empty() ? "" : "  " + b.tty));
}

// A name the connection object hands to the serial transport as it is.
void checkPortName(const std::string& name) {
    if (name.find("COM") == std::string::npos && name.find("USB") == std::string::npos)
        usageError("\"" + name + "\" cannot be used as an address: a serial name must contain COM or USB (in capitals)");
    if (name.size() > 9) usageError("\"" + name + "\" is too long: a serial name has at most 9 characters");
    if (strcasecmp(name.c_str(), "USB") == 0) usageError("\"USB\" always means the unit's USB bridge; choose another name");
    for (const char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'))
            usageError("\"" + name + "\" may hold only letters, digits, '_' and '-'");
}

std::optional<std::string> existingEntry(const fs::path& folder, const std::string& name) {
    for (const std::string& entry : sortedNames(folder))
        if (strcasecmp(entry.c_str(), name.c_str()) == 0) return entry;
    return std::nullopt;
}

void map(Context& ctx, const std::string& name, const std::string& device) {
    checkPortName(name);
    const std::string target = device.empty() || device[0] == '/' ? device : absolutePath(device);
    if (target.empty()) usageError("no DEVICE given");
    const fs::path folder = portsFolder();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) fail(kExitFile, "cannot create " + folder.string() + ": " + ec.message());
    if (!resolved(target)) std::fprintf(stderr, "xelctl: note: %s does not exist now; the name is kept for it\n", target.c_str());
    // Made under a temporary name and renamed over the old one: the name is never missing.
    const fs::path temp = folder / (".xelctl-" + std::to_string(::getpid()));
    fs::remove(temp, ec);
    fs::create_symlink(target, temp, ec);
    if (ec) fail(kExitFile, "cannot write " + (folder / name).string() + ": " + ec.message());
    if (auto old = existingEntry(folder, name); old && *old != name) fs::remove(folder / *old, ec);
    fs::rename(temp, folder / name, ec);
    if (ec) {
        fs::remove(temp);
        fail(kExitFile, "cannot write " + (folder / name).string() + ": " + ec.message());
    }
    if (ctx.options.json)
        ctx.print({{"name", name}, {"target", target}});
    else
        ctx.line(name + " -> " + target);
}

void unmap(const std::string& name) {
    const fs::path folder = portsFolder();
    const auto entry = existingEntry(folder, name);
    if (!entry) fail(kExitFile, "there is no port name " + name + " in " + folder.string());
    std::error_code ec;
    fs::remove(folder / *entry, ec);
    if (ec) fail(kExitFile, "cannot remove " + (folder / *entry).string() + ": " + ec.message());
}

}  // namespace

void runPorts(Context& ctx, const Args& args) {
    if (args.empty()) return list(ctx);
    if (args[0] == "map" && args.size() == 3) return map(ctx, args[1], args[2]);
    if (args[0] == "unmap" && args.size() == 2) return unmap(args[1]);
    usageError("usage: ports [map NAME DEVICE | unmap NAME]");
}

}  // namespace xelctl
