// Settling: when a waiter's changes count as answered, and how waiters end
// (answered, failed, timed out) while the monitor reports from another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "core/control/SettleLedger.h"

namespace {

using namespace xel::core;
using namespace xel;
using namespace std::chrono_literals;

constexpr LONG kQueued = static_cast<LONG>(0x80000083u);  // byte 0x83, pending

SettleTargets targets(Switches s, std::vector<std::pair<uint16_t, LONG>> core = {}) {
    SettleTargets t;
    t.switches = s;
    t.pending[0] = std::move(core);
    return t;
}

SettleView view(Switches sent, Switches stored, std::map<uint16_t, LONG> core = {}) {
    SettleView v;
    v.sent = sent;
    v.stored = stored;
    v.tables[0] = std::move(core);
    return v;
}

TEST(SettleAnswered, SwitchesSentOrSuperseded) {
    const Switches wanted{1, 1, 3, 5};
    EXPECT_TRUE(targetsAnswered(targets(wanted), view(wanted, wanted)));
    EXPECT_FALSE(targetsAnswered(targets(wanted), view({1, 1, 2, 5}, wanted))) << "format 3 not sent yet";
    EXPECT_FALSE(targetsAnswered(targets(wanted), view({0, 1, 3, 5}, wanted))) << "mute not sent yet";
    EXPECT_FALSE(targetsAnswered(targets(wanted), view({1, 0, 3, 5}, wanted))) << "film not sent yet";
    EXPECT_FALSE(targetsAnswered(targets(wanted), view({1, 1, 3, 4}, wanted))) << "pin not sent yet";
    // A later change (format 6) replaced the one waited for: it is no longer owed.
    EXPECT_TRUE(targetsAnswered(targets(wanted), view({1, 1, 2, 5}, {1, 1, 6, 5})));
}

TEST(SettleAnswered, PendingEntriesWrittenOrRequeued) {
    const Switches s{};
    const auto t = targets(s, {{1, kQueued}});
    EXPECT_FALSE(targetsAnswered(t, view(s, s, {{1, kQueued}}))) << "still queued";
    EXPECT_TRUE(targetsAnswered(t, view(s, s, {{1, 0}}))) << "written";
    EXPECT_TRUE(targetsAnswered(t, view(s, s, {{1, static_cast<LONG>(0x80000003u)}}))) << "queued anew";
    EXPECT_TRUE(targetsAnswered(t, view(s, s, {})));

    SettleTargets other;  // the same address in the format table is another entry
    other.pending[2] = {{1, kQueued}};
    SettleView v = view(s, s, {{1, 0}});
    v.tables[2] = {{1, kQueued}};
    EXPECT_FALSE(targetsAnswered(other, v));
}

TEST(SettleLedger, WaiterEndsAnsweredFailedOrTimedOut) {
    SettleLedger ledger;
    const Switches s{0, 0, 2, 1};
    const auto t = targets(s, {{1, kQueued}});
    std::atomic<int> wakes{0};
    auto wake = [&] { ++wakes; };

    // Answered: the monitor reports the entry written.
    auto answered = std::async(std::launch::async, [&] { return ledger.wait(t, false, 10s, wake); });
    while (ledger.empty()) std::this_thread::yield();
    ledger.settle([&] { return view(s, s, {{1, kQueued}}); });  // not yet
    EXPECT_EQ(answered.wait_for(50ms), std::future_status::timeout);
    ledger.settle([&] { return view(s, s, {{1, 0}}); });
    EXPECT_EQ(answered.get(), SettleAllAnswered);
    EXPECT_EQ(wakes.load(), 1) << "the monitor is asked to look once per call";
    EXPECT_TRUE(ledger.empty());

    // Marked failed (a resync discarded something), then the rest answered.
    auto discarded = std::async(std::launch::async, [&] { return ledger.wait(t, false, 10s, wake); });
    while (ledger.empty()) std::this_thread::yield();
    ledger.markFailed();
    ledger.settle([&] { return view(s, s, {{1, 0}}); });
    EXPECT_EQ(discarded.get(), SettleSomeFailed);

    // Failed from the start (a dropped put), answered at once.
    auto dropped = std::async(std::launch::async, [&] { return ledger.wait(t, true, 10s, wake); });
    while (ledger.empty()) std::this_thread::yield();
    ledger.settle([&] { return view(s, s, {}); });
    EXPECT_EQ(dropped.get(), SettleSomeFailed);

    // A failed exchange ends every waiter.
    auto a = std::async(std::launch::async, [&] { return ledger.wait(t, false, 10s, wake); });
    auto b = std::async(std::launch::async, [&] { return ledger.wait(t, false, -1ms, wake); });
    while (wakes.load() < 5) std::this_thread::yield();
    ledger.failAll();
    EXPECT_EQ(a.get(), SettleSomeFailed);
    EXPECT_EQ(b.get(), SettleSomeFailed) << "no limit: ends only when told";

    // Nobody answers: a time-out, and the waiter leaves the ledger.
    EXPECT_EQ(ledger.wait(t, false, 30ms, wake), SettleTimedOut);
    EXPECT_TRUE(ledger.empty());
    ledger.settle([&] { return view(s, s, {}); });  // nothing left to complete
}

TEST(SettleLedger, DiscardWithNobodyWaitingFailsTheNextWaiterOnly) {
    SettleLedger ledger;
    const Switches s{};
    ledger.markFailed();  // a resync threw away writes queued before any wait
    // One waiter, answered by one monitor pass once it is in the ledger.
    auto waitOnePass = [&](bool putDropped) {
        std::thread monitor([&] {
            while (ledger.empty()) std::this_thread::yield();
            ledger.settle([&] { return view(s, s); });
        });
        const auto result = ledger.wait(targets(s), putDropped, 10s, [] {});
        monitor.join();
        return result;
    };
    EXPECT_EQ(waitOnePass(false), SettleSomeFailed);
    EXPECT_EQ(waitOnePass(false), SettleAllAnswered) << "reported once";

    // The next waiter already failed for a dropped put of its own: the discard
    // is reported with it, not once more to the waiter after it.
    ledger.markFailed();
    EXPECT_EQ(waitOnePass(true), SettleSomeFailed);
    EXPECT_EQ(waitOnePass(false), SettleAllAnswered) << "reported once";
}

TEST(SettleLedger, ViewIsTakenAfterTheWaitersItJudges) {
    // A change stored just before a waiter registers must be in the view that
    // judges the waiter: otherwise an old view would call it "superseded".
    SettleLedger ledger;
    const Switches before{0, 0, 2, 1};
    const Switches after{0, 0, 3, 1};
    std::atomic<bool> registered{false};
    auto waiter = std::async(std::launch::async,
                             [&] { return ledger.wait(targets(after), false, 10s, [&] { registered = true; }); });
    while (!registered) std::this_thread::yield();
    bool viewBuilt = false;
    ledger.settle([&] {
        viewBuilt = true;
        return view(before, after);  // format 3 stored, not yet sent
    });
    EXPECT_TRUE(viewBuilt);
    EXPECT_EQ(waiter.wait_for(50ms), std::future_status::timeout);
    ledger.settle([&] { return view(after, after); });
    EXPECT_EQ(waiter.get(), SettleAllAnswered);

    bool called = false;
    ledger.settle([&] {
        called = true;
        return SettleView{};
    });
    EXPECT_FALSE(called) << "no waiter, no view";
}

}  // namespace
