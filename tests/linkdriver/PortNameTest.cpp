// Which file a serial port name opens.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "linkdriver/PortName.h"
#include "tests/linkdriver/LinkHarness.h"

namespace fs = std::filesystem;
using xel::link::resolvePortName;
using xel::link::userStateDir;

namespace {

// Restores an environment variable when the test ends.
class SavedEnv {
public:
    explicit SavedEnv(const char* name) : name_(name) {
        const char* value = std::getenv(name);
        had_ = value != nullptr;
        if (had_) value_ = value;
    }
    ~SavedEnv() {
        if (had_) ::setenv(name_, value_.c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    bool had_ = false;
    std::string value_;
};

}  // namespace

TEST(PortName, TheStateFolderFollowsXdgThenHome) {
    SavedEnv xdg("XDG_CONFIG_HOME"), home("HOME");
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    ::setenv("HOME", "/home/op", 1);
    EXPECT_EQ(userStateDir(), "/cfg/xelor");
    ::setenv("XDG_CONFIG_HOME", "relative/cfg", 1);
    EXPECT_EQ(userStateDir(), "/home/op/.config/xelor") << "a relative XDG_CONFIG_HOME is ignored";
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(userStateDir(), "/home/op/.config/xelor");
    ::unsetenv("HOME");
    EXPECT_EQ(userStateDir(), "");
}

TEST(PortName, NamesResolveInTheDocumentedOrder) {
    const std::string ports = linktest::stateDir() + "/ports";
    linktest::mapPort("COM4", "/dev/ttyUSB3");
    linktest::mapPort("Bench", "/dev/gone-now");  // a mapping whose target is missing
    fs::create_directories(ports + "/sub");

    struct Row {
        const char* name;
        std::string expected;
    };
    // The machine's names under a test root; the user's own win over them.
    const char* systemRoot = std::getenv("XELOR_SYSTEM_ROOT");
    ASSERT_TRUE(systemRoot && systemRoot[0] == '/') << "the test needs its own XELOR_SYSTEM_ROOT";
    const std::string machine = std::string(systemRoot) + "/etc/xelor/ports";
    fs::create_directories(machine);
    for (const char* name : {"COM4", "BENCH", "Com2", "Booth"}) {
        fs::remove(machine + "/" + name);
        fs::create_symlink("/dev/ttyACM7", machine + "/" + name);
    }

    const Row rows[] = {
        {"COM4", ports + "/COM4"},           // the mapping wins over the COMn rule and the machine's
        {"com2", machine + "/Com2"},         // the machine's name where the user has none, in any case
        {"booth", machine + "/Booth"},
        {"com4", ports + "/COM4"},           // and is found in any case
        {"BENCH", ports + "/Bench"},         // the user's even when its target is gone and the
                                             // machine's name matches exactly
        {"COM1", "/dev/ttyS0"},
        {"com12", "/dev/ttyS11"},
        {"COM0", "/dev/COM0"},               // there is no COM0
        {"COM", "/dev/COM"},
        {"COM1x", "/dev/COM1x"},
        {"ttyACM0", "/dev/ttyACM0"},
        {"/dev/pts/9", "/dev/pts/9"},        // a path is taken as it is
        {"sub/x", "sub/x"},                  // and never looked up under ports/
        {"..", "/dev/.."},
        {"", ""},
    };
    for (const Row& row : rows) EXPECT_EQ(resolvePortName(row.name), row.expected) << row.name;
}
