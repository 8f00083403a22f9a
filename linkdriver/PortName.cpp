#include "linkdriver/PortName.h"

#include "platform/machine/MachinePaths.h"

#include <cstdlib>

namespace xel::link {

std::string userStateDir() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/xelor";
    const char* home = std::getenv("HOME");
    if (home && home[0] != '\0') return std::string(home) + "/.config/xelor";
    return {};
}

std::string resolvePortName(std::string_view name) { return machine::serialDevice(userStateDir(), name); }

}  // namespace xel::link
