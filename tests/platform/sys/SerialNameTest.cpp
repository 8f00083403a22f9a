// Where the suite keeps its state, and which device a serial port name opens.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "SysTestSupport.h"
#include "xelsys/SerialName.h"
#include "xelsys/StateFolder.h"

namespace fs = std::filesystem;
using systest::SavedEnv;
using namespace xel::sys;

namespace {

// The machine's folders under the test's own root.
std::string testSystemRoot() {
    const char* root = std::getenv("XELOR_SYSTEM_ROOT");
    if (root == nullptr || root[0] != '/') throw std::runtime_error("the test needs its own XELOR_SYSTEM_ROOT");
    return root;
}

// Points <folder>/<name> at `target`, replacing an earlier entry.
void link(const std::string& folder, const std::string& name, const std::string& target) {
    fs::create_directories(folder);
    fs::remove(folder + "/" + name);
    fs::create_symlink(target, folder + "/" + name);
}

std::string passwdHome() {
    const passwd* pw = ::getpwuid(::getuid());
    return pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] == '/' ? pw->pw_dir : "";
}

}  // namespace

TEST(StateFolder, FollowsXdgThenHomeThenTheUserDatabase) {
    SavedEnv xdg("XDG_CONFIG_HOME"), home("HOME");
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    ::setenv("HOME", "/home/op", 1);
    EXPECT_EQ(stateFolder(), "/cfg/xelor");
    ::setenv("XDG_CONFIG_HOME", "relative/cfg", 1);
    EXPECT_EQ(stateFolder(), "/home/op/.config/xelor") << "a relative XDG_CONFIG_HOME is ignored";
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(stateFolder(), "/home/op/.config/xelor");

    // Without a usable HOME the user's home still is known; a relative one would
    // make the folder depend on the working directory.
    const std::string own = passwdHome();
    const std::string expected = own.empty() ? "" : own + "/.config/xelor";
    ::setenv("HOME", "relative/home", 1);
    EXPECT_EQ(stateFolder(), expected);
    ::unsetenv("HOME");
    EXPECT_EQ(stateFolder(), expected);
}

TEST(StateFolder, MachinePathsGoUnderTheSystemRoot) {
    SavedEnv root("XELOR_SYSTEM_ROOT");
    ::setenv("XELOR_SYSTEM_ROOT", "/tmp/machine//", 1);
    EXPECT_EQ(machineRegistryDir(), "/tmp/machine/var/lib/xelor");
    EXPECT_EQ(machinePortsDir(), "/tmp/machine/etc/xelor/ports");
    ::setenv("XELOR_SYSTEM_ROOT", "", 1);
    EXPECT_EQ(machinePortsDir(), "/etc/xelor/ports");
    ::unsetenv("XELOR_SYSTEM_ROOT");
    EXPECT_EQ(machineRegistryDir(), "/var/lib/xelor");
}

TEST(SerialName, NamesResolveInTheDocumentedOrder) {
    const std::string ports = stateFolder() + "/ports";
    link(ports, "COM4", "/dev/ttyUSB3");
    link(ports, "Bench", "/dev/gone-now");  // a mapping whose target is missing
    fs::create_directories(ports + "/sub");
    // The machine's names; the user's own win over them.
    const std::string machine = testSystemRoot() + "/etc/xelor/ports";
    for (const char* name : {"COM4", "BENCH", "Com2", "Booth"}) link(machine, name, "/dev/ttyACM7");

    struct Row {
        const char* name;
        std::string expected;
    };
    const Row rows[] = {
        {"COM4", ports + "/COM4"},    // the mapping wins over the COMn rule and the machine's
        {"com2", machine + "/Com2"},  // the machine's name where the user has none, in any case
        {"booth", machine + "/Booth"},
        {"com4", ports + "/COM4"},    // and is found in any case
        {"BENCH", ports + "/Bench"},  // the user's even when its target is gone and the
                                      // machine's name matches exactly
        {"COM1", "/dev/ttyS0"},
        {"com12", "/dev/ttyS11"},
        {"COM999999", "/dev/ttyS999998"},
        {"COM9999999", "/dev/COM9999999"},  // too long for a port number
        {"COM0", "/dev/COM0"},              // there is no COM0
        {"COM", "/dev/COM"},
        {"COM1x", "/dev/COM1x"},
        {"ttyACM0", "/dev/ttyACM0"},
        {"/dev/pts/9", "/dev/pts/9"},  // a path is taken as it is
        {"sub/x", "sub/x"},            // and never looked up under ports/
        {"..", "/dev/.."},             // never the ports folder's parent
        {".", "/dev/."},
        {"", ""},
    };
    for (const Row& row : rows) EXPECT_EQ(resolveSerialName(row.name), row.expected) << row.name;
    EXPECT_EQ(serialDevice("", "COM4"), machine + "/COM4") << "without a state folder the machine's names still count";
    // The COMn rule alone, for lists that show what an unmapped COM item opens.
    EXPECT_EQ(comPortDevice("Com3"), "/dev/ttyS2");
    EXPECT_EQ(comPortDevice("COM4"), "/dev/ttyS3") << "mappings play no part here";
    EXPECT_EQ(comPortDevice("ttyACM0"), "");
}

TEST(SerialName, ADeviceThisUserMayNotOpenIsNamedThroughItsMapping) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may open everything";
    const std::string device = stateFolder() + "/locked-device";
    std::ofstream(device) << "x";
    ASSERT_EQ(::chmod(device.c_str(), 0), 0);
    link(stateFolder() + "/ports", "COM8", device);
    const std::string real = fs::canonical(device).string();
    EXPECT_EQ(deniedDevice(stateFolder(), "COM8"), real) << "the device itself, not the mapping";
    EXPECT_NE(permissionAdvice(real).find(real), std::string::npos);
    ASSERT_EQ(::chmod(device.c_str(), 0600), 0);
    EXPECT_EQ(deniedDevice(stateFolder(), "COM8"), "") << "an open that would work is not denied";
    EXPECT_EQ(deniedDevice(stateFolder(), "/no/such/device"), "") << "a missing device is another failure";
}
