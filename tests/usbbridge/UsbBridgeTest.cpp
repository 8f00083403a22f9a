// The bridge calls over a fake device tree whose bridge ttys are pseudo-terminals.
#include <termios.h>

#include <gtest/gtest.h>

#include <cstring>
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
public:
    void SetUp() override { linktest::installFakeUsbTree(); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new FakeUsbEnvironment);

// A CDC-style bridge: its tty sits one level down, in the interface's "tty" folder.
void addAcmDevice(const std::string& position, const std::string& product, const std::string& serial,
                  const std::string& ttyTarget) {
    const fs::path root = FakeUsbTree::instance().root();
    const fs::path device = root / "sys/bus/usb/devices" / position;
    fs::create_directories(device / (position + ":1.1") / "tty" / "ttyACM0");
    fs::create_directories(device / (position + ":1.0"));  // an interface without a tty
    std::ofstream(device / "product") << product << "\n";
    std::ofstream(device / "serial") << serial << "\n";
    fs::create_symlink(ttyTarget, root / "dev" / "ttyACM0");
}

class UsbBridge : public ::testing::Test {
protected:
    void SetUp() override { FakeUsbTree::instance().removeAll(); }
    void TearDown() override {
        if (device) UsbBridgeClose(device);
        FakeUsbTree::instance().removeAll();
    }
    // One bridge on `pty`, opened.
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
    speed_t speed() const {
        const termios t = line();
        return ::cfgetospeed(&t);
    }
    Pty pty;
    UsbBridgeDevice* device = nullptr;
};

}  // namespace

TEST_F(UsbBridge, CountsAndDescribesOnlyDevicesWithATty) {
    uint32_t count = 99;
    ASSERT_EQ(UsbBridgeGetDeviceCount(&count), USBBRIDGE_OK);
    EXPECT_EQ(count, 0u) << "a root hub is no bridge";

    Pty other;
    addAcmDevice("2-1", "Second Bridge", "SN-2", other.path);
    FakeUsbTree::instance().addDevice("1-4", "First Bridge", pty.path);
    fs::create_directories(FakeUsbTree::instance().root() + "/sys/bus/usb/devices/1-5/1-5:1.0");
    ASSERT_EQ(UsbBridgeGetDeviceCount(&count), USBBRIDGE_OK);
    ASSERT_EQ(count, 2u);

    char text[USBBRIDGE_STRING_SIZE];
    ASSERT_EQ(UsbBridgeGetProductString(0, text, USBBRIDGE_INFO_DESCRIPTION), USBBRIDGE_OK);
    EXPECT_STREQ(text, "First Bridge") << "enumeration follows the bus position";
    ASSERT_EQ(UsbBridgeGetProductString(1, text, USBBRIDGE_INFO_DESCRIPTION), USBBRIDGE_OK);
    EXPECT_STREQ(text, "Second Bridge");
    ASSERT_EQ(UsbBridgeGetProductString(1, text, USBBRIDGE_INFO_SERIAL_NUMBER), USBBRIDGE_OK);
    EXPECT_STREQ(text, "SN-2");
    ASSERT_EQ(UsbBridgeGetProductString(1, text, USBBRIDGE_INFO_TTY_PATH), USBBRIDGE_OK);
    EXPECT_STREQ(text, (FakeUsbTree::instance().root() + "/dev/ttyACM0").c_str());
    ASSERT_EQ(UsbBridgeGetProductString(0, text, USBBRIDGE_INFO_SERIAL_NUMBER), USBBRIDGE_OK);
    EXPECT_STREQ(text, "") << "a missing attribute reads as empty";

    EXPECT_EQ(UsbBridgeGetProductString(2, text, USBBRIDGE_INFO_DESCRIPTION), USBBRIDGE_NO_DEVICE);
    EXPECT_EQ(UsbBridgeGetProductString(0, text, 77), USBBRIDGE_BAD_PARAMETER);
    EXPECT_EQ(UsbBridgeGetProductString(0, nullptr, USBBRIDGE_INFO_DESCRIPTION), USBBRIDGE_BAD_PARAMETER);

    // The ACM bridge opens through its nested tty.
    UsbBridgeDevice* acm = nullptr;
    ASSERT_EQ(UsbBridgeOpen(1, &acm), USBBRIDGE_OK);
    uint32_t written = 0;
    EXPECT_EQ(UsbBridgeWrite(acm, "acm", 3, &written), USBBRIDGE_OK);
    EXPECT_EQ(other.receive(3), "acm");
    EXPECT_EQ(UsbBridgeClose(acm), USBBRIDGE_OK);
}

TEST_F(UsbBridge, AVeryLongDescriptionIsCutToTheBuffer) {
    FakeUsbTree::instance().addDevice("1-1", std::string(400, 'D'), pty.path);
    char text[USBBRIDGE_STRING_SIZE + 8];
    std::memset(text, '#', sizeof text);
    ASSERT_EQ(UsbBridgeGetProductString(0, text, USBBRIDGE_INFO_DESCRIPTION), USBBRIDGE_OK);
    EXPECT_EQ(std::strlen(text), USBBRIDGE_STRING_SIZE - 1u);
    EXPECT_EQ(text[USBBRIDGE_STRING_SIZE], '#') << "nothing is written past the buffer";
}

TEST_F(UsbBridge, ReadsWritesAndReportsItsReceiveQueue) {
    openOne();
    uint32_t waiting = 99, status = 99;
    ASSERT_EQ(UsbBridgeCheckRxQueue(device, &waiting, &status), USBBRIDGE_OK);
    EXPECT_EQ(waiting, 0u);
    EXPECT_EQ(status & USBBRIDGE_RX_READY, 0u);

    char buffer[2058];
    uint32_t got = 99;
    EXPECT_EQ(UsbBridgeRead(device, buffer, sizeof buffer, &got), USBBRIDGE_OK);
    EXPECT_EQ(got, 0u) << "an empty bridge reads nothing and does not wait";

    pty.send("hello unit");
    for (int i = 0; i < 200 && waiting == 0; ++i) {
        std::this_thread::sleep_for(1ms);
        ASSERT_EQ(UsbBridgeCheckRxQueue(device, &waiting, &status), USBBRIDGE_OK);
    }
    EXPECT_EQ(waiting, 10u);
    EXPECT_NE(status & USBBRIDGE_RX_READY, 0u);
    ASSERT_EQ(UsbBridgeRead(device, buffer, sizeof buffer, &got), USBBRIDGE_OK);
    EXPECT_EQ(std::string(buffer, got), "hello unit");

    uint32_t written = 0;
    ASSERT_EQ(UsbBridgeWrite(device, "rdeep 0 10\r", 11, &written), USBBRIDGE_OK);
    EXPECT_EQ(written, 11u);
    EXPECT_EQ(pty.receive(11), "rdeep 0 10\r");
}

TEST_F(UsbBridge, FlushingTheReceiveSideDropsWhatWaits) {
    openOne();
    pty.send("stale");
    uint32_t waiting = 0, status = 0;
    for (int i = 0; i < 200 && waiting == 0; ++i) {
        std::this_thread::sleep_for(1ms);
        UsbBridgeCheckRxQueue(device, &waiting, &status);
    }
    ASSERT_EQ(waiting, 5u);
    ASSERT_EQ(UsbBridgeFlushBuffers(device, 1, 1), USBBRIDGE_OK);
    ASSERT_EQ(UsbBridgeCheckRxQueue(device, &waiting, &status), USBBRIDGE_OK);
    EXPECT_EQ(waiting, 0u);
}

// Line-control words in the documented layout, as the line then stands. (A
// pseudo-terminal may drop the character size and parity-enable bits, so those
// are checked in the format table test.)
TEST_F(UsbBridge, BaudRateAndLineControlReachTheLine) {
    openOne();
    ASSERT_EQ(UsbBridgeSetBaudRate(device, 38400), USBBRIDGE_OK);
    EXPECT_EQ(speed(), static_cast<speed_t>(B38400));
    ASSERT_EQ(UsbBridgeSetBaudRate(device, 115200), USBBRIDGE_OK);
    EXPECT_EQ(speed(), static_cast<speed_t>(B115200));

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
    EXPECT_EQ(UsbBridgeLineControl(8, 0, 0), 0x0800);

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

    uint32_t n = 0, status = 0;
    EXPECT_EQ(UsbBridgeWrite(nullptr, "x", 1, &n), USBBRIDGE_BAD_HANDLE);
    EXPECT_EQ(UsbBridgeCheckRxQueue(nullptr, &n, &status), USBBRIDGE_BAD_HANDLE);

    UsbBridgeDevice* closed = device;
    device = nullptr;
    ASSERT_EQ(UsbBridgeClose(closed), USBBRIDGE_OK);
    EXPECT_EQ(UsbBridgeClose(closed), USBBRIDGE_BAD_HANDLE) << "a closed handle is refused";
    char byte;
    EXPECT_EQ(UsbBridgeRead(closed, &byte, 1, &n), USBBRIDGE_BAD_HANDLE);

    ASSERT_EQ(UsbBridgeOpen(0, &device), USBBRIDGE_OK) << "closing released the bridge";
}

TEST_F(UsbBridge, ABridgeWhoseTtyIsGoneDoesNotOpen) {
    FakeUsbTree::instance().addDevice("1-1", linktest::kBridgeProduct, "");
    EXPECT_EQ(UsbBridgeOpen(0, &device), USBBRIDGE_NO_DEVICE);
    EXPECT_EQ(device, nullptr);
}
