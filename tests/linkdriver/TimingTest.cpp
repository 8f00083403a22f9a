// The link's protocol delays, with the default timing. Wall-clock figures are
// checked only as lower bounds; the split reply is judged by how the reads went.
#include <gtest/gtest.h>

#include <thread>

#include "tests/linkdriver/LinkHarness.h"

using namespace linktest;
using Clock = std::chrono::steady_clock;

namespace {

class FakeUsbEnvironment : public ::testing::Environment {
public:
    void SetUp() override { installFakeUsbTree(); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new FakeUsbEnvironment);

}  // namespace

TEST(LinkTiming, TheSeamIsOff) {
    ASSERT_EQ(std::getenv("XELOR_TEST_TIMING"), nullptr) << "these checks need the default delays";
}

TEST(LinkTiming, CloseTakesAtLeastOneSecond) {
    Pty pty;
    mapPort("COM1", pty.path);
    Link link;
    ASSERT_EQ(link.open(serialSettings("COM1")), 0u);
    const auto start = Clock::now();
    link.close();
    EXPECT_GE(Clock::now() - start, 1000ms);
}

TEST(LinkTiming, AnEmptyReadWaitsItsWholeWindow) {
    Pty pty;
    mapPort("COM1", pty.path);
    Link link;
    ASSERT_EQ(link.open(serialSettings("COM1")), 0u);
    uint32_t error = 0xDEAD;
    const auto start = Clock::now();
    EXPECT_EQ(link.read(64, &error), "");
    EXPECT_GE(Clock::now() - start, 200ms);
    EXPECT_EQ(error, 0u);
}

TEST(LinkTiming, ATcpOpenSettlesThreeSeconds) {
    TcpPeer peer;
    Link link;
    const auto start = Clock::now();
    ASSERT_EQ(link.open(tcpSettings(peer.address())), 0u);
    EXPECT_GE(Clock::now() - start, 3000ms);
}

// The unit writes its reply in three pieces 20 ms apart while the caller reads in
// a loop. Each read must come back with the next piece as soon as it arrives: a
// read that sat out its 200 ms window would come back empty while a piece was due.
class SplitReply : public ::testing::TestWithParam<const char*> {};

TEST_P(SplitReply, ReachesTheCallerWithoutAStall) {
    Pty unit;
    Link link;
    if (std::string(GetParam()) == "USB") {
        FakeUsbTree::instance().removeAll();
        FakeUsbTree::instance().addDevice("1-1", kBridgeProduct, unit.path);
    } else {
        mapPort("COM1", unit.path);
    }
    ASSERT_EQ(link.open(serialSettings(GetParam())), 0u);

    const std::string pieces[] = {"0\t1F\t", "3C\t7\t", "0\r\n>"};
    std::thread writer([&] {
        for (const std::string& piece : pieces) {
            std::this_thread::sleep_for(20ms);
            unit.send(piece);
        }
    });
    const Collected got = collect(link, pieces[0].size() + pieces[1].size() + pieces[2].size(), 10);
    writer.join();
    EXPECT_EQ(got.bytes, pieces[0] + pieces[1] + pieces[2]);
    EXPECT_EQ(got.emptyCalls, 0) << "a read ran out its window while a piece was on its way";
    EXPECT_LE(got.calls, 3);
}

INSTANTIATE_TEST_SUITE_P(SerialAndUsb, SplitReply, ::testing::Values("COM1", "USB"));
