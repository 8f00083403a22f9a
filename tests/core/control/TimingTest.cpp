// The monitor's cadence and its stop, with the protocol's own pauses: level
// readings more than 200 ms apart, status readings more than 1000 ms apart, and
// Cleanup back within its 5000 ms bound while an exchange is held up.
#include <gtest/gtest.h>

#include "tests/core/control/CoreFixture.h"
#include "tests/core/control/ScriptedUnit.h"

namespace {

using namespace xeltest;
using namespace std::chrono_literals;

// Reception times of `command` in xelsim's log after its last "rdeep" (the Query).
std::vector<double> timesOf(const std::vector<XelsimLogEntry>& log, const std::string& command) {
    size_t start = 0;
    for (size_t i = 0; i < log.size(); ++i)
        if (log[i].dir == "rx" && log[i].text.rfind("rdeep", 0) == 0) start = i + 1;
    std::vector<double> out;
    for (size_t i = start; i < log.size(); ++i)
        if (log[i].dir == "rx" && log[i].text == command) out.push_back(log[i].timeMs);
    return out;
}

TEST_F(CoreTest, ReadingsKeepTheirIntervals) {
    startSim();
    connectAndQuery();
    std::this_thread::sleep_for(3200ms);
    const auto log = sim->log();
    const auto levels = timesOf(log, "vu");
    const auto status = timesOf(log, "button");
    ASSERT_GE(levels.size(), 8u) << sim->diagnostics();
    ASSERT_GE(status.size(), 2u) << sim->diagnostics();
    for (size_t i = 1; i < levels.size(); ++i) EXPECT_GT(levels[i] - levels[i - 1], 200.0) << "reading " << i;
    for (size_t i = 1; i < status.size(); ++i) EXPECT_GT(status[i] - status[i - 1], 1000.0) << "reading " << i;
}

TEST_F(CoreTest, CleanupReturnsWithinItsBoundWhileAnExchangeIsHeld) {
    for (const int delayMs : {2000, -1}) {  // a slow reply; no reply at all
        ScriptedUnit unit;
        connectAndQuery(unit.address());
        if (delayMs < 0)
            unit.setReply("vu", "");
        else
            unit.setReply("vu", "0\t0\t0\t0\r\n>", delayMs);
        const int before = unit.commandCount("vu");
        ASSERT_TRUE(unit.waitForCommandCount("vu", before + 1));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(xel->Cleanup(), S_OK);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, 5500ms) << "held " << delayMs << " ms";
        TearDown();  // the final release waits for the exchange to end
        SetUp();
    }
}

}  // namespace
