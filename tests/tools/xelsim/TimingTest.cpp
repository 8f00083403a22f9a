// Delays xelsim promises, checked as lower bounds only: a paced line, a delayed reply,
// pieces of a split reply.
#include "tests/support/XelsimProcess.h"
#include "tests/tools/xelsim/WireHost.h"

#include <gtest/gtest.h>

using std::chrono::milliseconds;
using xelsimtest::Clock;
using xelsimtest::WireHost;
using xeltest::XelsimProcess;

namespace {

TEST(Timing, PacedSerialLineSendsNoFasterThanItsBaudRate) {
    XelsimProcess sim({"--baud", "2400"}, XelsimProcess::Link::Pty);
    auto host = WireHost::serial(sim.linkPath());
    const auto start = Clock::now();
    host->send(WireHost::frame("rdeep 3F 0"));  // 64 values: about 150 bytes
    const std::string reply = host->readReply(5000);
    const auto took = Clock::now() - start;
    ASSERT_FALSE(reply.empty());
    ASSERT_EQ(reply.back(), '>') << reply;
    // 2400 baud is 240 bytes a second; the last byte cannot leave before (n - 1) byte times.
    const auto least = std::chrono::microseconds((reply.size() - 1) * 1'000'000 / 240);
    EXPECT_GE(took, least) << reply.size() << " bytes";
}

TEST(Timing, DelayAndSplitHoldRepliesBack) {
    XelsimProcess sim({"--delay-ms", "200", "--split", "--split-ms", "100"});
    auto host = WireHost::tcp(sim.address(), sim.port());
    const auto start = Clock::now();
    host->send(WireHost::frame("picver"));
    const auto chunks = host->readChunks(3000);
    ASSERT_FALSE(chunks.empty());
    EXPECT_GE(chunks.front().at - start, milliseconds(200));
    EXPECT_GE(chunks.back().at - start, milliseconds(400)) << "three pieces, 100 ms apart, after 200 ms";
}

}  // namespace
