// The TCP transport against a real listener on a leased loopback address.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "tests/linkdriver/LinkHarness.h"

using namespace linktest;

namespace {

class TcpLink : public ::testing::Test {
protected:
    // Opens to the peer and accepts there.
    void connect(const char* selector = "TCP/IP") {
        ASSERT_EQ(link.open(tcpSettings(peer.address(), selector)), 0u);
        ASSERT_NE(link.channel, nullptr);
        ASSERT_TRUE(peer.accept());
    }
    TcpPeer peer;
    Link link;
};

}  // namespace

TEST_F(TcpLink, MovesBytesBothWaysAndCountsSendsToo) {
    connect("tcp/ip");  // the selector ignores case
    const std::string fromUnit = "0\t1\t2\t3\t4\t5\t6\t7\r\n>__";
    peer.send(fromUnit);
    EXPECT_EQ(collect(link, fromUnit.size(), 50).bytes, fromUnit);

    uint32_t error = 0xDEAD;
    EXPECT_EQ(link.write("button\r\x42", &error), 8u);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(peer.receive(8), "button\r\x42");

    const CommStats s = link.statsReaching(20, 8);
    EXPECT_EQ(s.bytesReceived, 20u);
    EXPECT_EQ(s.bytesSent, 8u);
    EXPECT_EQ(s.reserved1 + s.reserved2, 0u);
}

TEST_F(TcpLink, HostsThatCannotBeReachedGiveError4) {
    const xeltest::LoopbackLease unused;  // a free address nobody listens on
    const std::string hosts[] = {unused.address(), "no-such-unit.invalid", ""};
    for (const std::string& host : hosts) {
        Link other;
        EXPECT_EQ(other.open(tcpSettings(host)), 4u) << "host '" << host << "'";
        EXPECT_EQ(other.channel, nullptr);
    }
}

TEST_F(TcpLink, APeerThatClosesIsNoError) {
    connect();
    peer.send("bye");
    peer.closeOrderly();
    const Collected got = collect(link, 3, 20);
    EXPECT_EQ(got.bytes, "bye");
    for (int i = 0; i < 5; ++i) {
        uint32_t error = 0xDEAD;
        EXPECT_EQ(link.read(64, &error), "");
        EXPECT_EQ(error, 0u) << "an orderly close only means nothing more arrives";
    }
}

TEST_F(TcpLink, APeerThatResetsShowsAsError5OnSend) {
    connect();
    peer.closeWithReset();
    bool sawReset = false;
    for (int i = 0; i < 50 && !sawReset; ++i) {
        uint32_t error = 0;
        link.write("pin\r\x10");
        link.read(64, &error);
        sawReset = error == 5;
    }
    EXPECT_TRUE(sawReset);
}
