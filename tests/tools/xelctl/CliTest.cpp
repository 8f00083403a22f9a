// xelctl as a new user meets it, without any unit: help, usage errors, names
// that do not exist, firmware images, and the port names.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "tests/support/CoreRegistration.h"
#include "tests/support/Loopback.h"
#include "tests/support/XelsimProcess.h"
#include "tests/tools/xelctl/XelctlRun.h"
#include "tools/xelctl/Commands.h"

namespace fs = std::filesystem;
using namespace xeltest;

namespace {

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// One Intel HEX record.
std::string record(unsigned address, unsigned type, const std::vector<unsigned>& data) {
    std::vector<unsigned> bytes{static_cast<unsigned>(data.size()), (address >> 8) & 0xFF, address & 0xFF, type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (unsigned b : bytes) sum += b;
    bytes.push_back((0x100 - (sum & 0xFF)) & 0xFF);
    std::string line = ":";
    char hex[3];
    for (unsigned b : bytes) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    return line + "\n";
}

// A small valid image: 16 program bytes at 0x400 and 3 EEPROM bytes.
std::string validImage() {
    std::vector<unsigned> program;
    for (unsigned i = 0; i < 16; ++i) program.push_back(i);
    return record(0, 4, {0, 0}) + record(0x400, 0, program) + record(0, 4, {0, 0xF0}) + record(0, 0, {1, 2, 3}) +
           record(0, 1, {});
}

std::string stateRoot() { return std::string(std::getenv("XDG_CONFIG_HOME")) + "/xelor"; }

}  // namespace

TEST(XelctlHelp, ListsEveryCommandOfTheTableAndExitsZero) {
    const XelctlResult r = runXelctl({"--help"});
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    for (const xelctl::Command& c : xelctl::commands())
        EXPECT_NE(r.out.find(std::string("\n  ") + c.name), std::string::npos) << c.name << "\n" << r.out;
    EXPECT_NE(r.out.find("Exit codes"), std::string::npos);
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST(XelctlUsage, WrongCommandLinesExitTwoWithAReason) {
    struct Row {
        std::vector<std::string> args;
        const char* says;
    };
    const Row rows[] = {
        {{}, "usage:"},
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"query", "now"}, "usage: query"},
        {{"get"}, "usage: get NAME [INDEX]"},
        {{"-a"}, "needs an ADDRESS"},
        {{"--colour", "query"}, "unknown option --colour"},
        {{"get", "Format"}, "Object.Member"},
        {{"get", "Format.InputTrim.x"}, "Object.Member"},
        {{"setip", "192.168.1", "255.255.255.0", "192.168.1.1"}, "not an IP address"},
        {{"setip", "192.168.1.5", "255.255.255", "192.168.1.1"}, "not a subnet mask"},
        {{"watch", "--seconds", "0"}, "--seconds"},
        {{"watch", "--minutes", "3"}, "usage: watch"},
        {{"ports", "map", "COM3"}, "usage: ports"},
    };
    for (const Row& row : rows) {
        const XelctlResult r = runXelctl(row.args);
        EXPECT_EQ(r.exitCode, 2) << r.describe();
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.describe();
        EXPECT_TRUE(r.out.empty()) << r.describe();
    }
}

class XelctlNames : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(registerCore()); }
};

// Names are checked against the objects before any link is opened, so these
// answer at once even with no unit (the default address leads nowhere).
TEST_F(XelctlNames, AWrongMemberIsAnsweredWithTheObjectsMembers) {
    const XelctlResult r = runXelctl({"get", "Format.InputTrimm", "2"});
    EXPECT_EQ(r.exitCode, 2) << r.describe();
    for (const char* member : {"InputTrim", "OutputTrim", "CurrentFormat", "ProcessorGUID", "GetTrimsAndDelays"})
        EXPECT_NE(r.err.find(member), std::string::npos) << member << "\n" << r.describe();

    const XelctlResult profile = runXelctl({"set", "profile.theatername2", "x"});
    EXPECT_EQ(profile.exitCode, 2) << profile.describe();
    EXPECT_NE(profile.err.find("TheaterName, ScreenNumber"), std::string::npos) << profile.describe();
}

TEST_F(XelctlNames, WrongObjectsKindsIndexesAndValuesAreUsageErrors) {
    struct Row {
        std::vector<std::string> args;
        const char* says;
    };
    const Row rows[] = {
        {{"get", "Unit.Mute"}, "Xel, Comm, Format, Profile and VU"},
        {{"get", "Format.InputTrim"}, "takes an index"},
        {{"get", "Xel.Mute", "3"}, "takes no index"},
        {{"set", "Xel.Mute", "maybe"}, "on or off"},
        {{"set", "Format.InputTrim", "two", "5"}, "whole number"},
        {{"set", "Format.InputDelay", "0", "99999999999"}, "whole number"},
        {{"set", "Xel.Comm", "x"}, "cannot be changed"},
        {{"get", "Xel.Query"}, "is a method: use call"},
        {{"call", "Format.Pin"}, "is a property"},
        {{"call", "Format.GetTrimsAndDelays"}, "usage: call Format.GetTrimsAndDelays Format"},
    };
    for (const Row& row : rows) {
        const XelctlResult r = runXelctl(row.args);
        EXPECT_EQ(r.exitCode, 2) << r.describe();
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.describe();
    }
}

class XelctlFirmware : public XelctlNames {
protected:
    ScratchDir dir;
    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(dir.file(name), std::ios::binary) << text;
        return dir.file(name);
    }
};

TEST_F(XelctlFirmware, HexConvertsAValidImageBesideItWithoutAUnit) {
    const std::string image = write("update.hex", validImage());
    const XelctlResult r = runXelctl({"hex", image});
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    for (const char* f : {"PROGMEM.MCP", "EEDATA.MCP", "USERID.MCP", "CONFIG.MCP"})
        EXPECT_NE(r.out.find(dir.file(f)), std::string::npos) << f << "\n" << r.describe();
    EXPECT_EQ(readFile(dir.file("PROGMEM.MCP")), "000400 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n");
    EXPECT_EQ(readFile(dir.file("EEDATA.MCP")), "000000 01 02 03 00 00 00 00 00 00 00 00 00 00 00 00 00\r\n");
}

TEST_F(XelctlFirmware, AnInvalidImageExitsFourAndLeavesTheMemoryImagesAlone) {
    std::string text = validImage();
    // The first data record's checksum, off by one.
    const size_t second = text.find('\n') + 1;
    const size_t end = text.find('\n', second);
    char& last = text[end - 1];
    last = last == 'F' ? '0' : static_cast<char>(last == '9' ? 'A' : last + 1);
    const std::string image = write("bad.hex", text);
    write("PROGMEM.MCP", "kept\n");

    for (const char* command : {"hex", "firmware"}) {
        const XelctlResult r = runXelctl({command, image});
        EXPECT_EQ(r.exitCode, 4) << r.describe();
        EXPECT_NE(r.err.find("not a valid firmware image"), std::string::npos) << r.describe();
    }
    EXPECT_EQ(readFile(dir.file("PROGMEM.MCP")), "kept\n");
    EXPECT_EQ(runXelctl({"hex", write("empty.hex", "")}).exitCode, 4);
    EXPECT_EQ(runXelctl({"hex", write("nocolon.hex", "00000001FF\n")}).exitCode, 4);
}

TEST_F(XelctlFirmware, AnImageThatCannotBeReadIsAFileError) {
    const XelctlResult missing = runXelctl({"hex", dir.file("nothere.hex")});
    EXPECT_EQ(missing.exitCode, 3) << missing.describe();
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos) << missing.describe();
    EXPECT_EQ(runXelctl({"firmware", dir.path()}).exitCode, 3) << "a folder is not an image";
}

TEST_F(XelctlFirmware, ADownloadWithNoBootloaderFailsCleanlyWithTheConsolesLines) {
    // COM7 leads to a device that is not there: the bootloader cannot be reached.
    ASSERT_EQ(runXelctl({"ports", "map", "COM7", dir.file("no-such-tty")}).exitCode, 0);
    const XelctlResult r = runXelctl({"-a", "COM7", "firmware", write("update.hex", validImage())});
    EXPECT_EQ(r.exitCode, 1) << r.describe();
    EXPECT_EQ(r.out.find("Validating download image..."), 0u) << r.describe();
    EXPECT_NE(r.out.find("The firmware update has failed"), std::string::npos) << r.describe();
    EXPECT_EQ(r.out.find("completed successfully"), std::string::npos) << r.describe();
    EXPECT_NE(r.err.find("ready to receive firmware"), std::string::npos) << r.describe();
    fs::remove(stateRoot() + "/ports/COM7");
}

// A user who never registered the core, relying on the machine's registration,
// meets a serial device that is not theirs to open.
TEST(XelctlAccess, ASerialDeviceWithoutPermissionIsReportedWithTheFix) {
    std::vector<std::string> asOtherUser;
    if (::geteuid() == 0) {
        // Root may open anything: the program runs as nobody instead.
        if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "running as root without /usr/bin/setpriv";
        asOtherUser = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    }
    const std::string regsvr = binDir() + "/regsvr";
    ASSERT_EQ(std::system(("'" + regsvr + "' --machine '" + coreLibraryPath() + "' >/dev/null").c_str()), 0);

    ScratchDir home;
    fs::permissions(home.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
    const std::string device = home.file("ttyLocked");
    std::ofstream(device) << "";
    fs::permissions(device, asOtherUser.empty() ? fs::perms::none : fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directories(home.path() + "/xelor/ports");
    fs::create_symlink(device, home.path() + "/xelor/ports/COM9");
    const std::vector<std::string> env{"XDG_CONFIG_HOME=" + home.path()};

    XelctlResult r = runXelctl({"-a", "COM9", "query"}, {}, env, asOtherUser);
    EXPECT_EQ(r.exitCode, 1) << r.describe();
    EXPECT_NE(r.err.find("no permission to open " + device), std::string::npos) << r.describe();
    EXPECT_NE(r.err.find("dialout group"), std::string::npos) << r.describe();

    // Once it may be opened, the failure is another one, without that advice.
    fs::permissions(device, fs::perms::all);
    r = runXelctl({"-a", "COM9", "query"}, {}, env, asOtherUser);
    EXPECT_EQ(r.exitCode, 1) << r.describe();
    EXPECT_EQ(r.err.find("dialout"), std::string::npos) << r.describe();
    (void)std::system(("'" + regsvr + "' --machine -u '" + coreLibraryPath() + "' >/dev/null").c_str());
}

class XelctlPorts : public ::testing::Test {
protected:
    ScratchDir root;
    fs::path sys() const { return fs::path(root.path()) / "sys"; }
    fs::path dev() const { return fs::path(root.path()) / "dev"; }
    std::vector<std::string> env() const {
        return {"XELOR_SYSFS_ROOT=" + sys().string(), "XELOR_DEV_ROOT=" + dev().string()};
    }
    // The machine's names, in the test's own XELOR_SYSTEM_ROOT.
    static fs::path machinePorts() {
        const char* system = std::getenv("XELOR_SYSTEM_ROOT");
        if (!system || system[0] != '/') throw std::runtime_error("the test needs its own XELOR_SYSTEM_ROOT");
        return fs::path(system) / "etc/xelor/ports";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(stateRoot() + "/ports", ec);
        fs::remove_all(machinePorts(), ec);
    }
};

TEST_F(XelctlPorts, MachineNamesAreMadeListedAndRemovedApartFromTheUsersOwn) {
    XelctlResult r = runXelctl({"ports", "map", "--machine", "COM4", "/dev/null"});
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(fs::read_symlink(machinePorts() / "COM4"), "/dev/null");
    EXPECT_FALSE(fs::exists(stateRoot() + "/ports/COM4")) << "a machine name went to the user's folder";
    EXPECT_EQ(fs::status(machinePorts()).permissions() & fs::perms::all,
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                  fs::perms::others_exec);

    ASSERT_EQ(runXelctl({"ports", "map", "COM4", "/dev/zero"}).exitCode, 0);
    r = runXelctl({"--json", "ports"});
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["mappings"].size(), 2u) << r.out;
    EXPECT_EQ(j["mappings"][0]["target"], "/dev/zero");
    EXPECT_EQ(j["mappings"][0]["machine"], false);
    EXPECT_EQ(j["mappings"][1]["target"], "/dev/null");
    EXPECT_EQ(j["mappings"][1]["overridden"], true) << r.out;
    j = nlohmann::json::parse(runXelctl({"--json", "ports", "--machine"}).out);
    ASSERT_EQ(j["mappings"].size(), 1u);
    EXPECT_EQ(j["mappings"][0]["overridden"], false) << "the machine's own list knows of no user";

    ASSERT_EQ(runXelctl({"ports", "unmap", "COM4"}).exitCode, 0);
    r = runXelctl({"ports", "unmap", "COM4"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("ports unmap --machine COM4"), std::string::npos) << r.describe();
    ASSERT_EQ(runXelctl({"ports", "unmap", "--machine", "com4"}).exitCode, 0);
    EXPECT_FALSE(fs::is_symlink(machinePorts() / "COM4"));
}

TEST_F(XelctlPorts, MapsNamesThatTheConnectionPassesOnAndRefusesOthers) {
    XelctlResult r = runXelctl({"ports", "map", "COM3", "/dev/null"});
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(fs::read_symlink(stateRoot() + "/ports/COM3"), "/dev/null");
    // Mapping again replaces the link, also when the case differs.
    ASSERT_EQ(runXelctl({"ports", "map", "COM3", "/dev/zero"}).exitCode, 0);
    EXPECT_EQ(fs::read_symlink(stateRoot() + "/ports/COM3"), "/dev/zero");

    for (const char* bad : {"XYZ", "com3", "USB", "COM1234567", "CO/M3", "COM 3"}) {
        r = runXelctl({"ports", "map", bad, "/dev/null"});
        EXPECT_EQ(r.exitCode, 2) << r.describe();
    }
    EXPECT_FALSE(fs::exists(stateRoot() + "/ports/XYZ"));

    EXPECT_EQ(runXelctl({"ports", "unmap", "com3"}).exitCode, 0);
    EXPECT_FALSE(fs::is_symlink(stateRoot() + "/ports/COM3"));
    EXPECT_EQ(runXelctl({"ports", "unmap", "COM3"}).exitCode, 3);
}

TEST_F(XelctlPorts, ListsSerialPortsTheirNamesAndTheUsbBridges) {
    // A USB bridge presenting ttyUSB7, with a by-id alias, and a serial port
    // ttyS0 without a UART behind it (type 0), which is not a port.
    const fs::path device = sys() / "bus/usb/devices/1-2";
    fs::create_directories(device / "1-2:1.0/ttyUSB7");
    std::ofstream(device / "product") << "Xelor Bridge\n";
    std::ofstream(device / "serial") << "0042\n";
    fs::create_directories(sys() / "class/tty/ttyUSB7/device");
    fs::create_directories(sys() / "class/tty/ttyS0/device");
    std::ofstream(sys() / "class/tty/ttyS0/type") << "0\n";
    fs::create_directories(sys() / "class/tty/ttyS1/device");
    std::ofstream(sys() / "class/tty/ttyS1/type") << "4\n";
    fs::create_directories(sys() / "class/tty/tty0");  // a console, no device
    fs::create_directories(dev() / "serial/by-id");
    for (const char* tty : {"ttyUSB7", "ttyS0", "ttyS1"}) std::ofstream(dev() / tty) << "";
    fs::create_symlink("../../ttyUSB7", dev() / "serial/by-id/usb-Xelor_Bridge_0042-if00");

    ASSERT_EQ(
        runXelctl({"ports", "map", "COM5", (dev() / "serial/by-id/usb-Xelor_Bridge_0042-if00").string()}, {}, env())
            .exitCode,
        0);
    const XelctlResult r = runXelctl({"--json", "ports"}, {}, env());
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    const auto j = nlohmann::json::parse(r.out);

    ASSERT_EQ(j["mappings"].size(), 1u) << r.out;
    EXPECT_EQ(j["mappings"][0]["name"], "COM5");
    EXPECT_EQ(j["mappings"][0]["device"], fs::canonical(dev() / "ttyUSB7").string());

    ASSERT_EQ(j["serial"].size(), 2u) << r.out;  // ttyS1 and ttyUSB7
    EXPECT_EQ(j["serial"][0]["device"], (dev() / "ttyS1").string());
    EXPECT_EQ(j["serial"][0]["names"], nlohmann::json::array({"COM2"}));
    EXPECT_EQ(j["serial"][1]["device"], (dev() / "ttyUSB7").string());
    EXPECT_EQ(j["serial"][1]["names"], nlohmann::json::array({"COM5"}));
    EXPECT_EQ(j["serial"][1]["byId"], nlohmann::json::array({"usb-Xelor_Bridge_0042-if00"}));

    ASSERT_EQ(j["bridges"].size(), 1u) << r.out;
    EXPECT_EQ(j["bridges"][0]["product"], "Xelor Bridge");
    EXPECT_EQ(j["bridges"][0]["serial"], "0042");
    EXPECT_EQ(j["bridges"][0]["tty"], (dev() / "ttyUSB7").string());

    const XelctlResult text = runXelctl({"ports"}, {}, env());
    EXPECT_NE(text.out.find("COM5 -> "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("\"Xelor Bridge\""), std::string::npos) << text.out;
}
