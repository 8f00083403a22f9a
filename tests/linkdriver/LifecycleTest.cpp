// Entry points without a channel, and channels that come and go without leaving
// threads or descriptors behind (ASan checks the memory).
#include <gtest/gtest.h>

#include "tests/linkdriver/LinkHarness.h"

using namespace linktest;

TEST(LinkEntryPoints, ANullChannelIsRefusedWithError1) {
    Pipes pipes;
    char buffer[16] = {};
    uint32_t error = 0xDEAD;
    EXPECT_EQ(ReadCommBuf(nullptr, pipes.replyRead, buffer, sizeof buffer, &error), 0u);
    EXPECT_EQ(error, 1u);
    error = 0xDEAD;
    EXPECT_EQ(WriteCommBuf(nullptr, pipes.commandWrite, "x", 1, &error), 0u);
    EXPECT_EQ(error, 1u);

    CommStats stats{7, 7, 7, 7};
    error = 0xDEAD;
    GetCommStats(nullptr, &stats, &error);
    EXPECT_EQ(error, 1u);
    EXPECT_EQ(stats.bytesReceived + stats.reserved1 + stats.bytesSent + stats.reserved2, 28u)
        << "the statistics are left untouched";

    error = 0xDEAD;
    CloseComm(nullptr, &error);
    EXPECT_EQ(error, 0u);
    // A caller that does not want the error may pass null for it.
    CloseComm(nullptr, nullptr);
    EXPECT_EQ(ReadCommBuf(nullptr, pipes.replyRead, buffer, sizeof buffer, nullptr), 0u);
}

TEST(LinkEntryPoints, AReadWithNothingSentReturnsEmptyWithoutError) {
    Pty pty;
    mapPort("COM2", pty.path);
    Link link;
    ASSERT_EQ(link.open(serialSettings("COM2")), 0u);
    uint32_t error = 0xDEAD;
    EXPECT_EQ(link.read(64, &error), "");
    EXPECT_EQ(error, 0u);
}

TEST(LinkLifecycle, ManyChannelsLeaveNoThreadOrDescriptorBehind) {
    Pty pty;
    mapPort("COM3", pty.path);
    Pty bridge;
    FakeUsbTree::instance().removeAll();
    FakeUsbTree::instance().addDevice("3-1", kBridgeProduct, bridge.path);
    TcpPeer peer;

    const int descriptors = openDescriptorCount();
    const int threads = threadCount();
    ASSERT_GT(descriptors, 0);
    ASSERT_GT(threads, 0);

    struct Kind {
        CommSettings settings;
        int cycles;
        const Pty* unit;  // null: the TCP peer
    };
    const Kind kinds[] = {
        {serialSettings("COM3"), 20, &pty},
        {usbSettings(), 10, &bridge},
        {tcpSettings(peer.address()), 6, nullptr},
    };
    for (const Kind& kind : kinds) {
        for (int cycle = 0; cycle < kind.cycles; ++cycle) {
            Link link;
            ASSERT_EQ(link.open(kind.settings), 0u) << "cycle " << cycle;
            if (!kind.unit) {
                ASSERT_TRUE(peer.accept());
            }
            link.write("vu\r\x55");
            const std::string sent = kind.unit ? kind.unit->receive(4) : peer.receive(4);
            EXPECT_EQ(sent, "vu\r\x55");
            if (kind.unit) {
                kind.unit->send("1\t2\r\n>");
            } else {
                peer.send("1\t2\r\n>");
            }
            EXPECT_EQ(collect(link, 6, 20).bytes, "1\t2\r\n>");
            link.close();
            if (!kind.unit) peer.closeOrderly();
        }
    }
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_EQ(threadCount(), threads);
}
