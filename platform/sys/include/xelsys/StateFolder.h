// Where the suite keeps its state: the per-user folder and the machine-wide
// folders an administrator (or the package) fills for every user.
//
// XELOR_SYSTEM_ROOT, when set and not empty, is put in front of the machine
// paths so tests can build a machine layer in a folder of their own.
//
// Thread safety: every function may be called from any thread; they only read
// the environment, the user database and the file system.
#pragma once

#include <string>
#include <string_view>

namespace xel::sys {

// The per-user state folder R: $XDG_CONFIG_HOME/xelor when that is set and
// absolute, else <home>/.config/xelor where home is $HOME when absolute, else
// the user's home from the user database; "" when there is none. Only the
// path: nothing is created here.
std::string stateFolder();

// An absolute machine-wide path with XELOR_SYSTEM_ROOT in front when set.
std::string systemPath(std::string_view absolute);

// The folder of the machine registry: <root>/var/lib/xelor.
std::string machineRegistryDir();
// The folder of the machine-wide serial names: <root>/etc/xelor/ports.
std::string machinePortsDir();

}  // namespace xel::sys
