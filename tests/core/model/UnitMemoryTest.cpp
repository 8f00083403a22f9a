// EEPROM reads and writes through the shared connection, checked against
// xelsim's frame log and memory, and the pending-write tables.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/model/ConnectionSlot.h"
#include "core/model/UnitMemory.h"
#include "tests/core/connection/CommFixture.h"
#include "tests/support/XelsimProcess.h"

namespace {

using namespace xel::core;
using xeltest::CommHandle;
using xeltest::XelsimProcess;

// One simulated unit and a connection to it in the library's slot.
class UnitMemory : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sim = new XelsimProcess();
        comm = new CommHandle();
        comm->setAddress(sim->address());
        ASSERT_EQ(comm->connect(), xel::CommErrNone) << sim->diagnostics();
    }
    static void TearDownTestSuite() {
        setSharedComm(nullptr);
        delete comm;
        delete sim;
    }
    void SetUp() override {
        setSharedComm(comm->comm());
        sentBefore = sim->receivedTexts().size();
    }
    // Commands sent since the test began.
    std::vector<std::string> sent() const {
        auto all = sim->receivedTexts();
        return {all.begin() + static_cast<long>(sentBefore), all.end()};
    }

    static XelsimProcess* sim;
    static CommHandle* comm;
    size_t sentBefore = 0;
};
XelsimProcess* UnitMemory::sim = nullptr;
CommHandle* UnitMemory::comm = nullptr;

TEST_F(UnitMemory, ReadsNameCountMinusOneThenTheAddress) {
    LONG film = -1;
    ASSERT_EQ(ReadEeprom(0x20C, 1, &film), 0);
    std::vector<LONG> number(32, -1);
    ASSERT_EQ(ReadEeprom(0x24, 32, number.data()), 0);
    std::vector<LONG> record(24, -1);
    ASSERT_EQ(ReadEeprom(0x68, 24, record.data()), 0);
    EXPECT_EQ(sent(), (std::vector<std::string>{"rdeep 0 20C", "rdeep 1F 24", "rdeep 17 68"}));

    const auto eeprom = sim->dump().eeprom;
    EXPECT_EQ(film, eeprom[0x20C]);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(number[i], eeprom[0x24 + i]) << "byte " << i;
    for (int i = 0; i < 24; ++i) EXPECT_EQ(record[i], eeprom[0x68 + i]) << "byte " << i;
}

TEST_F(UnitMemory, WritesReachTheUnitsMemory) {
    const LONG powerOn[] = {0x83};
    ASSERT_EQ(WriteEeprom(0x001, 1, powerOn), 0);
    const LONG screen[] = {0x31, 0x32, 0, 0};
    ASSERT_EQ(WriteEeprom(0x064, 4, screen), 0);
    EXPECT_EQ(sent(), (std::vector<std::string>{"wreep 1 83", "wreep 64 31 32 0 0"}));
    const auto eeprom = sim->dump().eeprom;
    EXPECT_EQ(eeprom[0x001], 0x83);
    EXPECT_EQ(eeprom[0x064], 0x31);
    EXPECT_EQ(eeprom[0x065], 0x32);
    EXPECT_EQ(eeprom[0x066], 0);
    EXPECT_EQ(eeprom[0x067], 0);

    // The longest write the monitor makes still fits one command.
    std::vector<LONG> run(PendingEepromWrites::kMaxRun, 0xFF);
    EXPECT_EQ(WriteEeprom(0x1E8, PendingEepromWrites::kMaxRun, run.data()), 0);
    EXPECT_EQ(sim->dump().eeprom[0x1E8 + 63], 0xFF);
    run.push_back(0xFF);
    EXPECT_NE(WriteEeprom(0x1E8, PendingEepromWrites::kMaxRun + 1, run.data()), 0);
    EXPECT_EQ(sent().size(), 3u) << "a run too long is never sent";
}

TEST_F(UnitMemory, WithoutAConnectionNothingIsSent) {
    setSharedComm(nullptr);
    LONG v = 5;
    EXPECT_EQ(ReadEeprom(0x001, 1, &v), 1);
    EXPECT_EQ(v, 5);
    EXPECT_EQ(WriteEeprom(0x001, 1, &v), 1);
    PendingEepromWrites table;
    EXPECT_FALSE(table.queue(0x001, 1, &v));
    EXPECT_TRUE(sent().empty());
}

TEST_F(UnitMemory, QueueingFollowsTheConnection) {
    PendingEepromWrites table;
    const LONG name[] = {'A', 'B', 0};
    ASSERT_TRUE(table.queue(0x004, 3, name));
    EXPECT_TRUE(table.anyPending());
    const LONG again[] = {'Z'};
    ASSERT_TRUE(table.queue(0x005, 1, again));
    auto entries = table.entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0], (std::pair<uint16_t, LONG>{0x004, LONG(0x80000041)}));
    EXPECT_EQ(entries[1], (std::pair<uint16_t, LONG>{0x005, LONG(0x8000005A)})) << "only the latest value";
    EXPECT_EQ(entries[2], (std::pair<uint16_t, LONG>{0x006, LONG(0x80000000)})) << "a zero byte is pending too";

    comm->comm()->Disconnect();
    const LONG dropped[] = {'Q'};
    EXPECT_FALSE(table.queue(0x007, 1, dropped));
    EXPECT_EQ(table.entries().size(), 3u);
    ASSERT_EQ(comm->connect(), xel::CommErrNone);
}

TEST_F(UnitMemory, RunsAreConsecutiveAscendingAndCleared) {
    PendingEepromWrites table;
    const LONG a[] = {1, 2};
    const LONG b[] = {9};
    ASSERT_TRUE(table.queue(0x068, 2, a));
    ASSERT_TRUE(table.queue(0x001, 1, b));
    ASSERT_TRUE(table.queue(0x06B, 1, b));  // a gap after 0x069

    auto run = table.takeRun();
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->address, 0x001);
    EXPECT_EQ(run->values, std::vector<LONG>{9});
    run = table.takeRun();
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->address, 0x068);
    EXPECT_EQ(run->values, (std::vector<LONG>{1, 2}));
    run = table.takeRun();
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->address, 0x06B);
    EXPECT_FALSE(table.takeRun().has_value());
    EXPECT_FALSE(table.anyPending());
    for (const auto& [address, value] : table.entries()) EXPECT_EQ(value, 0) << "address " << address;

    // A long run is cut at the limit; the rest follows in the next run.
    std::vector<LONG> many(100, 0x55);
    ASSERT_TRUE(table.queue(0x100, 100, many.data()));
    run = table.takeRun();
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->values.size(), size_t(PendingEepromWrites::kMaxRun));
    run = table.takeRun();
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->address, 0x100 + PendingEepromWrites::kMaxRun);
    EXPECT_EQ(run->values.size(), 100u - PendingEepromWrites::kMaxRun);

    ASSERT_TRUE(table.queue(0x010, 2, a));
    table.discardAll();
    EXPECT_FALSE(table.anyPending());
    EXPECT_FALSE(table.takeRun().has_value());
}

TEST_F(UnitMemory, QueueingRefusesWritesPastTheLastAddress) {
    PendingEepromWrites table;
    const LONG two[] = {1, 2};
    EXPECT_FALSE(table.queue(0xFFFF, 2, two));
    EXPECT_TRUE(table.entries().empty());
    EXPECT_TRUE(table.queue(0xFFFF, 1, two));
}

// The client's thread queues while the monitor's collects: the last value of
// every address is the one that is written last.
TEST_F(UnitMemory, QueueingAndCollectingRaceSafely) {
    PendingEepromWrites table;
    constexpr int kAddresses = 40, kRounds = 300;
    std::atomic<bool> done{false};
    std::vector<LONG> lastTaken(kAddresses, -1);
    std::thread monitor([&] {
        auto collect = [&] {
            while (auto run = table.takeRun())
                for (size_t i = 0; i < run->values.size(); ++i) lastTaken[run->address + i] = run->values[i];
        };
        while (!done) collect();
        collect();
    });
    for (int round = 0; round < kRounds; ++round)
        for (int a = 0; a < kAddresses; a += 3) {
            const LONG v[] = {round % 256, (round + 1) % 256, (round + 2) % 256};
            ASSERT_TRUE(table.queue(static_cast<uint16_t>(a), a + 3 <= kAddresses ? 3 : kAddresses - a, v));
        }
    done = true;
    monitor.join();
    const LONG last = (kRounds - 1) % 256;
    for (int a = 0; a < kAddresses; ++a) EXPECT_EQ(lastTaken[a], (last + a % 3) % 256) << "address " << a;
}

}  // namespace
