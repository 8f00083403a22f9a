// The bridge calls over a fake device tree whose bridge ttys are pseudo-terminals.
#include <termios.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/usbbridge/usbbridge.h"
#include "tests/linkdriver/LinkHarness.h"

namespace fs = std::filesystem;
using linktest::FakeUsbTree;
using linktest::Pty;
using namespace std::chrono_literals;

namespace {

class FakeUsbEnvironment : public ::testing::Environment {
    void SetUp() override { linktest::installFakeUsbTree(); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new FakeUsbEnvironment);

class UsbBridge : public ::testing::Test {
protected:
    void SetUp() override { FakeUsbTree::instance().removeAll(); }
    void TearDown() override {
        if (device) UsbBridgeClose(device);
        FakeUsbTree::instance().removeAll();
    }
    void openOne() {
        FakeUsbTree::instance().addDevice("1-1", linktest::kBridgeProduct, pty.path);
        ASSERT_EQ(UsbBridgeOpen(0, &device), USBBRIDGE_OK);
        ASSERT_NE(device, nullptr);
    }
    termios line() const {
        termios t{};
        EXPECT_EQ(::tcgetattr(pty.master, &t), 0);
        return t;
    }
    Pty pty;
    UsbBridgeDevice* device = nullptr;
};

}  // namespace

TEST_F(UsbBridge, CountsAndDescribesOnlyDevicesWithATty) {
    uint32_t count = 99;
    ASSERT_EQ(UsbBridgeGetDeviceCount(&count), USBBRIDGE_OK);
    EXPECT_EQ(count, 0u) << "a root hub is no bridge";

    // A CDC-style bridge keeps its tty one level down, in the interface's "tty" folder.
    Pty acm;
    const fs::path root = FakeUsbTree::instance().root();
    const fs::path acmDevice = root / "sys/bus/usb/devices/2-1";
    fs::create_directories(acmDevice / "2-1:1.0");  // an interface without a tty
    fs::create_directories(acmDevice / "2-1:1.1/tty/ttyACM0");
    std::ofstream(acmDevice / "product") << "Second Bridge\n";
    std::ofstream(acmDevice / "serial") << "SN-2\n";
    fs::create_symlink(acm.path, root / "dev/ttyACM0");
    FakeUsbTree::instance().addDevice("1-4", "First Bridge", pty.path);
    fs::create_directories(root / "sys/bus/usb/devices/1-5/1-5:1.0");  // no tty at all
    ASSERT_EQ(UsbBridgeGetDeviceCount(&count), USBBRIDGE_OK);
    ASSERT_EQ(count, 2u);

    struct Row {
        uint32_t index, selector;
        std::string expected;
    };
    const Row rows[] = {
        {0, USBBRIDGE_INFO_DESCRIPTION, "First Bridge"},  // in bus-position order
        {1, USBBRIDGE_INFO_DESCRIPTION, "Second Bridge"},
        {1, USBBRIDGE_INFO_SERIAL_NUMBER, "SN-2"},
        {0, USBBRIDGE_INFO_SERIAL_NUMBER, ""},  // a missing attribute reads as empty
        {1, USBBRIDGE_INFO_TTY_PATH, root.string() + "/dev/ttyACM0"},
    };
    for (const Row& row : rows) {
        char text[USBBRIDGE_STRING_SIZE];
        ASSERT_EQ(UsbBridgeGetProductString(row.index, text, row.selector), USBBRIDGE_OK);
        EXPECT_EQ(text, row.expected) << row.index << "/" << row.selector;
    }
    char text[USBBRIDGE_STRING_SIZE];
    EXPECT_EQ(UsbBridgeGetProductString(2, text, USBBRIDGE_INFO_DESCRIPTION), USBBRIDGE_NO_DEVICE);
    EXPECT_EQ(UsbBridgeGetProductString(0, text, 77), USBBRIDGE_BAD_PARAMETER);

    ASSERT_EQ(UsbBridgeOpen(1, &device), USBBRIDGE_OK) << "the nested tty opens";
    uint32_t written = 0;
    EXPECT_EQ(UsbBridgeWrite(device, "acm", 3, &written), USBBRIDGE_OK);
    EXPECT_EQ(acm.receive(3), "acm");
}

TEST_F(UsbBridge, ReadsWritesFlushesAndReportsItsReceiveQueue) {
    openOne();
    uint32_t waiting = 99, status = 99, got = 99;
    char buffer[2058];
    ASSERT_EQ(UsbBridgeCheckRxQueue(device, &waiting, &status), USBBRIDGE_OK);
    EXPECT_EQ(waiting, 0u);
    EXPECT_EQ(status & USBBRIDGE_RX_READY, 0u);
    EXPECT_EQ(UsbBridgeRead(device, buffer, sizeof buffer, &got), USBBRIDGE_OK);
    EXPECT_EQ(got, 0u) << "an empty bridge reads nothing and does not wait";

    const auto awaitQueue = [&](uint32_t expected) {
        for (int i = 0; i < 500 && waiting != expected; ++i) {
            std::this_thread::sleep_for(1ms);
            ASSERT_EQ(UsbBridgeCheckRxQueue(device, &waiting, &status), USBBRIDGE_OK);
        }
        ASSERT_EQ(waiting, expected);
    };
    pty.send("hello unit");
    awaitQueue(10);
    EXPECT_NE(status & USBBRIDGE_RX_READY, 0u);
    ASSERT_EQ(UsbBridgeRead(device, buffer, sizeof buffer, &got), USBBRIDGE_OK);
    EXPECT_EQ(std::string(buffer, got), "hello unit");

    uint32_t written = 0;
    ASSERT_EQ(UsbBridgeWrite(device, "rdeep 0 10\r", 11, &written), USBBRIDGE_OK);
    EXPECT_EQ(written, 11u);
    EXPECT_EQ(pty.receive(11), "rdeep 0 10\r");

    pty.send("stale");
    awaitQueue(5);
    ASSERT_EQ(UsbBridgeFlushBuffers(device, 1, 1), USBBRIDGE_OK);
    ASSERT_EQ(UsbBridgeCheckRxQueue(device, &waiting, &status), USBBRIDGE_OK);
    EXPECT_EQ(waiting, 0u) << "a flush drops what waits";
}

// Words in the documented layout, as the line then stands. (A pseudo-terminal may
// drop the character size and parity-enable bits; the format table test has those.)
TEST_F(UsbBridge, BaudRateAndLineControlReachTheLine) {
    // Left over from an earlier user of the line; the bridge's line has no flow control.
    termios old = line();
    old.c_cflag |= CRTSCTS | HUPCL;
    ASSERT_EQ(::tcsetattr(pty.master, TCSANOW, &old), 0);
    openOne();
    EXPECT_FALSE(line().c_cflag & (CRTSCTS | HUPCL)) << "open must clear flow control and hang-up";
    for (uint32_t baud : {38400u, 115200u}) {
        ASSERT_EQ(UsbBridgeSetBaudRate(device, baud), USBBRIDGE_OK);
        const termios t = line();
        EXPECT_EQ(::cfgetospeed(&t), baud == 38400u ? speed_t{B38400} : speed_t{B115200});
    }
    struct Row {
        uint16_t word;
        bool checked, odd, stick, twoStops;
    };
    const Row rows[] = {
        {0x0800, false, false, false, false},  // 8 bits, none, one stop
        {0x0812, true, true, false, true},     // odd, 1.5 stops
        {0x0722, true, false, false, true},    // 7 bits, even, two stops
        {0x0830, true, true, true, false},     // mark
        {0x0840, true, false, true, false},    // space
    };
    for (const Row& row : rows) {
        ASSERT_EQ(UsbBridgeSetLineControl(device, row.word), USBBRIDGE_OK) << std::hex << row.word;
        const termios t = line();
        EXPECT_EQ(bool(t.c_iflag & INPCK), row.checked) << std::hex << row.word;
        EXPECT_EQ(bool(t.c_cflag & PARODD), row.odd) << std::hex << row.word;
        EXPECT_EQ(bool(t.c_cflag & CMSPAR), row.stick) << std::hex << row.word;
        EXPECT_EQ(bool(t.c_cflag & CSTOPB), row.twoStops) << std::hex << row.word;
    }
    EXPECT_EQ(UsbBridgeLineControl(7, 2, 2), 0x0722) << "the driver builds the same words";

    // Words and speeds the line cannot take are refused and change nothing.
    const termios before = line();
    for (uint16_t bad : {uint16_t{0x0900}, uint16_t{0x0400}, uint16_t{0x0850}, uint16_t{0x0803}})
        EXPECT_EQ(UsbBridgeSetLineControl(device, bad), USBBRIDGE_BAD_PARAMETER) << std::hex << bad;
    EXPECT_EQ(UsbBridgeSetBaudRate(device, 12345), USBBRIDGE_BAD_PARAMETER);
    const termios after = line();
    EXPECT_EQ(before.c_cflag, after.c_cflag);
    EXPECT_EQ(before.c_iflag, after.c_iflag);
}

TEST_F(UsbBridge, HandlesAreCheckedAndOpenIsExclusive) {
    openOne();
    UsbBridgeDevice* second = nullptr;
    EXPECT_EQ(UsbBridgeOpen(0, &second), USBBRIDGE_BUSY);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(UsbBridgeOpen(1, &second), USBBRIDGE_NO_DEVICE);

    UsbBridgeDevice* closed = device;
    device = nullptr;
    ASSERT_EQ(UsbBridgeClose(closed), USBBRIDGE_OK);
    uint32_t n = 0;
    char byte;
    EXPECT_EQ(UsbBridgeClose(closed), USBBRIDGE_BAD_HANDLE) << "a closed handle is refused";
    EXPECT_EQ(UsbBridgeRead(closed, &byte, 1, &n), USBBRIDGE_BAD_HANDLE);
    EXPECT_EQ(UsbBridgeWrite(nullptr, "x", 1, &n), USBBRIDGE_BAD_HANDLE);
    ASSERT_EQ(UsbBridgeOpen(0, &device), USBBRIDGE_OK) << "closing released the bridge";
}
