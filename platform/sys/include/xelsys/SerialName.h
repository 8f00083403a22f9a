// Which device a serial port name (COM1, a mapped name, a path) opens, by one
// set of rules for every part of the suite.
//
// Thread safety: every function may be called from any thread; they only read
// the environment and the file system.
#pragma once

#include <string>
#include <string_view>

namespace xel::sys {

// The entry of `folder` named `name`, or else one that differs only in letter
// case; "" when there is none. An entry counts even when it is a symlink whose
// target is gone: the name still belongs to the port that was chosen.
std::string findPortEntry(const std::string& folder, std::string_view name);

// The device of COMn (any case, n >= 1, at most 9 characters): /dev/ttyS(n-1);
// "" for any other name.
std::string comPortDevice(std::string_view name);

// Where a mapped port name leads: <userStateDir>/ports/<name> (skipped when
// userStateDir is empty), else <machinePortsDir()>/<name>; "" when neither has
// it. A user's own mapping always wins over the machine's.
std::string mappedPort(const std::string& userStateDir, std::string_view name);

// The device a serial name opens: a mapped name (above), else COMn (any case,
// n >= 1, at most 9 characters) -> /dev/ttyS(n-1), else a name containing '/'
// as given, else /dev/<name>. "" for an empty name.
std::string serialDevice(const std::string& userStateDir, std::string_view name);

// serialDevice() with the user's own state folder.
std::string resolveSerialName(std::string_view name);

// The device `name` leads to when it exists but this user may not open it for
// reading and writing, else "". Serial devices belong to the dialout group.
std::string deniedDevice(const std::string& userStateDir, std::string_view name);

// What to tell a person whom deniedDevice() stopped.
std::string permissionAdvice(const std::string& device);

}  // namespace xel::sys
