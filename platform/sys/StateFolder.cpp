#include "xelsys/StateFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace xel::sys {

namespace {

std::string homeDir() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    // A service or a stripped environment may lack HOME; the user still has a home.
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

}  // namespace

std::string stateFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/xelor";
    const std::string home = homeDir();
    return home.empty() ? std::string() : home + "/.config/xelor";
}

std::string systemPath(std::string_view absolute) {
    const char* root = std::getenv("XELOR_SYSTEM_ROOT");
    std::string path = (root != nullptr) ? root : "";
    while (!path.empty() && path.back() == '/') path.pop_back();
    path += absolute;
    return path;
}

std::string machineRegistryDir() { return systemPath("/var/lib/xelor"); }

std::string machinePortsDir() { return systemPath("/etc/xelor/ports"); }

}  // namespace xel::sys
