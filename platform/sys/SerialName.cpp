#include "xelsys/SerialName.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "xelsys/StateFolder.h"

namespace xel::sys {

std::string findPortEntry(const std::string& folder, std::string_view name) {
    // A name that could leave the folder is never a mapping.
    if (folder.empty() || name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) {
        return {};
    }
    const std::string text(name);
    struct stat st {};
    if (::lstat((folder + "/" + text).c_str(), &st) == 0) return folder + "/" + text;
    std::string found;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            if (::strcasecmp(e->d_name, text.c_str()) == 0) {
                found = folder + "/" + e->d_name;
                break;
            }
        }
        ::closedir(dir);
    }
    return found;
}

std::string mappedPort(const std::string& userStateDir, std::string_view name) {
    if (!userStateDir.empty()) {
        if (std::string mine = findPortEntry(userStateDir + "/ports", name); !mine.empty()) return mine;
    }
    return findPortEntry(machinePortsDir(), name);
}

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

std::string comPortDevice(std::string_view name) {
    const unsigned n = comNumber(name);
    return n == 0 ? std::string() : "/dev/ttyS" + std::to_string(n - 1);
}

std::string serialDevice(const std::string& userStateDir, std::string_view name) {
    if (name.empty()) return {};
    if (std::string mapped = mappedPort(userStateDir, name); !mapped.empty()) return mapped;
    if (std::string com = comPortDevice(name); !com.empty()) return com;
    if (name.find('/') != std::string_view::npos) return std::string(name);
    return "/dev/" + std::string(name);
}

std::string deniedDevice(const std::string& userStateDir, std::string_view name) {
    const std::string device = serialDevice(userStateDir, name);
    if (device.empty()) return {};
    // access() follows a mapping's symlink to the device itself and asks with
    // the real user's rights, as the open in the link driver will.
    if (::access(device.c_str(), R_OK | W_OK) == 0 || (errno != EACCES && errno != EPERM)) return {};
    // Name the device itself, not the mapping that leads to it.
    char* real = ::realpath(device.c_str(), nullptr);
    if (real == nullptr) return device;
    std::string target = real;
    std::free(real);
    return target;
}

std::string permissionAdvice(const std::string& device) {
    return "you have no permission to open " + device +
           ". Serial ports belong to the dialout group: add yourself to it (sudo adduser $USER dialout), "
           "then log out and in again.";
}

std::string resolveSerialName(std::string_view name) { return serialDevice(stateFolder(), name); }

}  // namespace xel::sys
