#include "platform/usbbridge/SysfsBridges.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

namespace fs = std::filesystem;

namespace xel::usbbridge {

namespace {

struct Roots {
    std::string sysfs;
    std::string dev;
};

std::once_flag g_rootsOnce;
Roots g_roots;

void loadRoots() {
    const char* sys = std::getenv("XELOR_SYSFS_ROOT");
    const char* dev = std::getenv("XELOR_DEV_ROOT");
    g_roots.sysfs = (sys && *sys) ? sys : "/sys";
    g_roots.dev = (dev && *dev) ? dev : "/dev";
}

const Roots& roots() {
    std::call_once(g_rootsOnce, loadRoots);
    return g_roots;
}

std::vector<std::string> sortedEntries(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool isDir(const fs::path& p) {
    std::error_code ec;
    return fs::is_directory(p, ec);
}

// A usb-serial interface holds "ttyUSB0" directly; a CDC-ACM one holds "tty/ttyACM0".
std::string ttyOfInterface(const fs::path& interfaceDir) {
    for (const std::string& name : sortedEntries(interfaceDir)) {
        if (name == "tty") {
            for (const std::string& inner : sortedEntries(interfaceDir / name))
                if (inner.rfind("tty", 0) == 0) return inner;
        } else if (name.rfind("tty", 0) == 0 && isDir(interfaceDir / name)) {
            return name;
        }
    }
    return {};
}

}  // namespace

const std::string& sysfsRoot() { return roots().sysfs; }
const std::string& devRoot() { return roots().dev; }

std::vector<BridgeEntry> enumerateBridges() {
    std::vector<BridgeEntry> bridges;
    const fs::path devices = fs::path(sysfsRoot()) / "bus" / "usb" / "devices";
    for (const std::string& device : sortedEntries(devices)) {
        // Interfaces ("1-2:1.0") are listed beside their devices; skip them here.
        if (device.find(':') != std::string::npos) continue;
        const fs::path deviceDir = devices / device;
        const std::string interfacePrefix = device + ":";
        for (const std::string& child : sortedEntries(deviceDir)) {
            if (child.rfind(interfacePrefix, 0) != 0) continue;
            std::string tty = ttyOfInterface(deviceDir / child);
            if (!tty.empty()) {
                bridges.push_back({deviceDir.string(), std::move(tty)});
                break;
            }
        }
    }
    return bridges;
}

std::string readAttribute(const std::string& deviceDir, const char* name) {
    std::ifstream in(fs::path(deviceDir) / name);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    return line;
}

}  // namespace xel::usbbridge
