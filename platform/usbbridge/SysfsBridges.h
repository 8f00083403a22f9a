// Finding bridges in the kernel's device tree.
#pragma once

#include <string>
#include <vector>

namespace xel::usbbridge {

struct BridgeEntry {
    std::string deviceDir;  // the USB device's folder under bus/usb/devices
    std::string ttyName;    // the tty one of its interfaces carries, e.g. "ttyUSB0"
};

// Where the tree and the device nodes live; read from the environment once.
const std::string& sysfsRoot();
const std::string& devRoot();

// Every USB device with a tty interface, sorted by bus position (folder name).
std::vector<BridgeEntry> enumerateBridges();

// The first line of a device attribute file, trailing white space removed;
// empty when the file is missing.
std::string readAttribute(const std::string& deviceDir, const char* name);

}  // namespace xel::usbbridge
