#include "linkdriver/PortName.h"

#include "platform/machine/MachinePaths.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>

namespace xel::link {

namespace {

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

    if (std::string mapped = machine::mappedPort(userStateDir(), text); !mapped.empty()) return mapped;
    if (const unsigned n = comNumber(text)) return "/dev/ttyS" + std::to_string(n - 1);
    if (isPath) return text;
    return "/dev/" + text;
}

}  // namespace xel::link
