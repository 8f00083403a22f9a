// The serial transport against a pseudo-terminal mapped as COM1.
#include <sys/ioctl.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <cstring>

#include "tests/linkdriver/LinkHarness.h"

using namespace linktest;

namespace {

class SerialLink : public ::testing::Test {
protected:
    void SetUp() override { mapPort("COM1", pty.path); }
    Pty pty;
    Link link;
};

std::string pattern(size_t n, char seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7);
    return s;
}

}  // namespace

TEST_F(SerialLink, MovesBytesBothWaysAndCountsThem) {
    ASSERT_EQ(link.open(serialSettings("COM1")), 0u);
    ASSERT_NE(link.channel, nullptr);

    const std::string fromUnit = pattern(20, 'a');
    pty.send(fromUnit);
    const Collected got = collect(link, 20, 50);
    EXPECT_EQ(got.bytes, fromUnit);
    EXPECT_TRUE(got.errors.empty());

    uint32_t error = 0xDEAD;
    EXPECT_EQ(link.write("picver\r\x17", &error), 8u);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(pty.receive(8), "picver\r\x17");

    const CommStats s = link.statsReaching(20, 8);
    EXPECT_EQ(s.bytesReceived, 20u);
    EXPECT_EQ(s.reserved1, 0u);
    EXPECT_EQ(s.bytesSent, 8u);
    EXPECT_EQ(s.reserved2, 0u);
}

// The line as the unit needs it, seen from the other end of the pseudo-terminal.
// (A pseudo-terminal may drop the character size and the parity-enable bit; the
// full character format is checked against the format table in the bridge tests.)
struct LineRow {
    uint8_t parity, stopBits;
    bool checked, odd, stick, twoStops;
};
class SerialLine : public SerialLink, public ::testing::WithParamInterface<LineRow> {};

TEST_P(SerialLine, OpensWithTheUnitsLineSettings) {
    const LineRow row = GetParam();
    ASSERT_EQ(link.open(serialSettings("COM1", row.parity, row.stopBits)), 0u);
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.master, &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B38400));
    EXPECT_TRUE(t.c_cflag & CRTSCTS) << "output must wait for CTS";
    EXPECT_FALSE(t.c_cflag & HUPCL) << "closing must not hang up the line";
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG)) << "bytes must pass raw";
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL)) << "no software flow control or translation";
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_EQ(bool(t.c_iflag & INPCK), row.checked) << "parity is checked exactly when it is used";
    EXPECT_EQ(bool(t.c_cflag & PARODD), row.odd);
    EXPECT_EQ(bool(t.c_cflag & CMSPAR), row.stick);
    EXPECT_EQ(bool(t.c_cflag & CSTOPB), row.twoStops);
}

INSTANTIATE_TEST_SUITE_P(ParityAndStopBits, SerialLine,
                         ::testing::Values(LineRow{0, 0, false, false, false, false},
                                           LineRow{1, 0, true, true, false, false},
                                           LineRow{2, 2, true, false, false, true},
                                           LineRow{3, 1, true, true, true, true},
                                           LineRow{4, 0, true, false, true, false}));

TEST_F(SerialLink, NamesThatDoNotOpenGiveError2) {
    const char* names[] = {"NOPORT9", "./nothere", ""};
    for (const char* name : names) {
        Link other;
        EXPECT_EQ(other.open(serialSettings(name)), 2u) << name;
        EXPECT_EQ(other.channel, nullptr) << name;
    }
    // A mapping whose device is gone fails too, rather than opening some other port.
    mapPort("COM7", stateDir() + "/no-such-device");
    Link mapped;
    EXPECT_EQ(mapped.open(serialSettings("COM7")), 2u);
}

TEST_F(SerialLink, AFullPortFieldWithoutNulIsReadSafely) {
    mapPort("COMXYZ1234", pty.path);
    CommSettings s;
    std::memset(&s, 'A', sizeof s);  // no NUL anywhere behind the field either
    std::memcpy(s.port, "COMXYZ1234", sizeof s.port);
    s.baudRate = 38400;
    s.dataBits = 8;
    s.parity = 0;
    s.stopBits = 0;
    EXPECT_EQ(link.open(s), 0u) << "the name is the ten bytes of the field, nothing after them";
}

TEST_F(SerialLink, APortIsOpenedExclusively) {
    ASSERT_EQ(link.open(serialSettings("COM1")), 0u);
    {
        Link second;
        EXPECT_EQ(second.open(serialSettings("COM1")), 2u);
    }
    link.close();
    Link again;
    EXPECT_EQ(again.open(serialSettings("COM1")), 0u) << "the port is free again after CloseComm";
}

TEST_F(SerialLink, BytesSentBetweenReadRequestsAreKept) {
    ASSERT_EQ(link.open(serialSettings("COM1")), 0u);
    std::string sent, received;
    for (int round = 0; round < 20; ++round) {
        const std::string piece = pattern(3 + round, static_cast<char>('A' + round));
        pty.send(piece);
        sent += piece;
        // Read little and seldom, so most pieces arrive while no read is pending.
        if (round % 3 == 2) received += link.read(7);
    }
    received += collect(link, sent.size() - received.size(), 200).bytes;
    EXPECT_EQ(received, sent);
    EXPECT_EQ(link.stats().bytesReceived, sent.size());
}

TEST_F(SerialLink, AReplyLargerThanTheCallersBufferComesOutWhole) {
    ASSERT_EQ(link.open(serialSettings("COM1")), 0u);
    const std::string reply = pattern(5000, '0');
    pty.send(reply);
    // Small reads leave bytes in the reply pipe; they must come out even when the
    // unit sends nothing more.
    const Collected got = collect(link, reply.size(), 5000 / 100 + 20, 100);
    EXPECT_EQ(got.bytes.size(), reply.size());
    EXPECT_EQ(got.bytes, reply);
}

TEST_F(SerialLink, AWriteLargerThanOneTransferIsSentWhole) {
    ASSERT_EQ(link.open(serialSettings("COM1")), 0u);
    const std::string block = pattern(10000, 'q');
    uint32_t error = 0xDEAD;
    EXPECT_EQ(link.write(block, &error), block.size());
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(pty.receive(block.size()), block);
    EXPECT_EQ(link.statsReaching(0, 10000).bytesSent, block.size());
}

TEST_F(SerialLink, AWriteRequestOverAnEmptyBlockingPipeNeverStallsTheThread) {
    // A request can find the pipe already drained (its bytes went with an earlier
    // one); with a blocking pipe a blind read would hang the thread for good.
    Link blocking(/*blockingCommandPipe=*/true);
    ASSERT_EQ(blocking.open(serialSettings("COM1")), 0u);
    std::string sent;
    for (int i = 0; i < 200; ++i) {
        const std::string one(1, static_cast<char>('a' + i % 26));
        ASSERT_EQ(blocking.write(one), 1u);
        sent += one;
    }
    EXPECT_EQ(pty.receive(sent.size()), sent) << "many small writes keep their order";
    EXPECT_EQ(blocking.write(""), 0u);  // a request with nothing in the pipe
    pty.send("ok\r\n>");
    EXPECT_EQ(collect(blocking, 5, 50).bytes, "ok\r\n>") << "the thread must still serve reads";
    blocking.write("next");
    EXPECT_EQ(pty.receive(4), "next");
}
