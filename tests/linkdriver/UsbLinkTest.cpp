// The USB transport against a fake device tree whose bridge tty is a pseudo-terminal.
#include <termios.h>

#include <gtest/gtest.h>

#include <thread>

#include "platform/usbbridge/usbbridge.h"
#include "tests/linkdriver/LinkHarness.h"

using namespace linktest;

namespace {

// The bridge library reads its roots once: point them at the fake tree first.
class FakeUsbEnvironment : public ::testing::Environment {
public:
    void SetUp() override { installFakeUsbTree(); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new FakeUsbEnvironment);

class UsbLink : public ::testing::Test {
protected:
    void SetUp() override { FakeUsbTree::instance().removeAll(); }
    void TearDown() override { FakeUsbTree::instance().removeAll(); }
    Link link;
};

}  // namespace

TEST_F(UsbLink, WithoutABridgeTheChannelOpensButWritesFailWith3) {
    Pty other;
    FakeUsbTree::instance().addDevice("1-1", "Some Other Serial Adapter", other.path);
    ASSERT_EQ(link.open(usbSettings()), 0u);
    ASSERT_NE(link.channel, nullptr);

    bool sawSendError = false;
    for (int i = 0; i < 50 && !sawSendError; ++i) {
        uint32_t error = 0xDEAD;
        EXPECT_EQ(link.write("mute\r\x01", &error), 6u) << "the bytes still reach the pipe";
        uint32_t readError = 0;
        EXPECT_EQ(link.read(64, &readError), "");
        sawSendError = error == 3 || readError == 3;
    }
    EXPECT_TRUE(sawSendError);
    EXPECT_EQ(other.receive(1, 50ms), "") << "a device with another product is never used";
    EXPECT_EQ(link.stats().bytesSent, 0u);
}

TEST_F(UsbLink, TheFirstMatchingBridgeCarriesTheLink) {
    Pty first, second;
    FakeUsbTree::instance().addDevice("1-1", "Some Other Serial Adapter", "");
    FakeUsbTree::instance().addDevice("1-2", "XELOR MARQUEE AUDIO BRIDGE USB DEVICE", first.path);
    FakeUsbTree::instance().addDevice("1-3", kBridgeProduct, second.path);
    ASSERT_EQ(link.open(usbSettings("usb")), 0u);  // the selector ignores case

    uint32_t error = 0xDEAD;
    EXPECT_EQ(link.write("checksum 1\r", &error), 11u);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(first.receive(11), "checksum 1\r");
    EXPECT_EQ(second.receive(1, 50ms), "");

    const std::string reply = "1\r\n>1234567890123456";  // 20 bytes
    first.send(reply);
    EXPECT_EQ(collect(link, reply.size(), 50).bytes, reply);
    const CommStats s = link.statsReaching(20, 11);
    EXPECT_EQ(s.bytesReceived, 20u);
    EXPECT_EQ(s.bytesSent, 11u);

    // Baud rate and line control reached the bridge's line.
    termios t{};
    ASSERT_EQ(::tcgetattr(first.master, &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B38400));
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_iflag & INPCK);
}

namespace {

// A line that nobody reads takes bytes until its buffer is full; the transfer
// that fills it goes through part-way, times out and reports 3. Serial counts
// whole writes and USB successful ones, so what failed transfers moved is not
// in the bytes sent: every counted transfer is a whole one.
class StalledLine : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { FakeUsbTree::instance().removeAll(); }
    void TearDown() override {
        link.close();
        FakeUsbTree::instance().removeAll();
    }
    bool usb() const { return GetParam(); }
    Pty pty;
    Link link;
};

}  // namespace

TEST_P(StalledLine, FailedWriteReportsError3AndAddsNothingToBytesSent) {
    if (usb()) {
        FakeUsbTree::instance().addDevice("1-1", kBridgeProduct, pty.path);
        ASSERT_EQ(link.open(usbSettings()), 0u);
    } else {
        mapPort("COM1", pty.path);
        ASSERT_EQ(link.open(serialSettings("COM1")), 0u);
    }
    // One pipe write the thread takes as whole transfers of 2058 bytes, more than
    // a pseudo-terminal holds (about 14 KB).
    constexpr uint32_t kTransfer = 2058;
    const std::string block(kTransfer * 10, 'x');
    ASSERT_EQ(link.write(block), block.size());

    bool sawSendError = false;
    for (int call = 0; call < 400 && !sawSendError; ++call) {
        uint32_t error = 0;
        link.read(64, &error);
        sawSendError = error == 3;
    }
    ASSERT_TRUE(sawSendError) << "a write the line does not take within its limit must report 3";
    const uint32_t sent = link.stats().bytesSent;
    EXPECT_GT(sent, 0u) << "the transfers before the buffer filled went through";
    EXPECT_LT(sent, block.size());
    EXPECT_EQ(sent % kTransfer, 0u) << "bytes sent count failed writes: " << sent << " counted, " << sent % kTransfer
                                    << " of them from a transfer that timed out part-way";
}

INSTANTIATE_TEST_SUITE_P(SerialAndUsb, StalledLine, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Usb" : "Serial"; });
