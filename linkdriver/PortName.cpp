#include "linkdriver/PortName.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>

namespace xel::link {

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    // lstat: a mapping whose target is gone still names the port the user chose,
    // and must fail to open rather than fall through to another device.
    return ::lstat(path.c_str(), &st) == 0;
}

// The entry of `dir` equal to `name` ignoring case, or empty.
std::string findIgnoringCase(const std::string& dir, const std::string& name) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return {};
    std::string found;
    while (dirent* e = ::readdir(d)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

// n of "COMn" with n >= 1, else 0.
unsigned comNumber(std::string_view name) {
    if (name.size() < 4 || name.size() > 9) return 0;
    if (::strncasecmp(name.data(), "COM", 3) != 0) return 0;
    unsigned n = 0;
    for (char c : name.substr(3)) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    return n;
}

}  // namespace

std::string userStateDir() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/xelor";
    const char* home = std::getenv("HOME");
    if (home && home[0] != '\0') return std::string(home) + "/.config/xelor";
    return {};
}

std::string resolvePortName(std::string_view name) {
    if (name.empty()) return {};
    const std::string text(name);
    const bool isPath = text.find('/') != std::string::npos;

    if (!isPath && text != "." && text != "..") {
        const std::string state = userStateDir();
        if (!state.empty()) {
            const std::string ports = state + "/ports";
            if (exists(ports + "/" + text)) return ports + "/" + text;
            const std::string other = findIgnoringCase(ports, text);
            if (!other.empty()) return ports + "/" + other;
        }
    }
    if (const unsigned n = comNumber(text)) return "/dev/ttyS" + std::to_string(n - 1);
    if (isPath) return text;
    return "/dev/" + text;
}

}  // namespace xel::link
