// Which file a serial port name opens.
#pragma once

#include <string>
#include <string_view>

namespace xel::link {

// The per-user state folder: $XDG_CONFIG_HOME/xelor when that is set and absolute,
// else $HOME/.config/xelor; empty when neither is usable.
std::string userStateDir();

// The device path for a port name, tried in this order:
//   1. <state folder>/ports/<NAME> if it exists (normally a symlink to a device),
//      else the machine-wide /etc/xelor/ports/<NAME>; in each folder a name that
//      only differs in case is also taken, exact case first;
//   2. COMn (any case, n >= 1) -> /dev/ttyS(n-1);
//   3. a name containing '/' as given;
//   4. /dev/<NAME>.
// Empty for an empty name.
std::string resolvePortName(std::string_view name);

}  // namespace xel::link
