// Settling: the bookkeeping behind IXelStatus::WaitSettled.
//
// A client that changes the unit (a mute, film, format or pin put, or a put that
// queues EEPROM bytes) learns when the change has reached the unit by calling
// WaitSettled. The call takes a snapshot of what is outstanding at that moment
// (SettleTargets) and waits; the monitor thread, after each active pass, tells
// the ledger what the unit has been sent (SettleView) and completes every
// waiter whose targets are all answered. A failed exchange, a link found down,
// or a resync that discards changes ends or marks the waiters as failed.
//
// Thread contract: wait() runs on client threads (any number at once); the
// other members run on the monitor thread. The ledger's own lock is never held
// while a caller-supplied function runs, and never across an exchange.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "core/xelor.h"

namespace xel::core {

// The three pending-write tables in the order the monitor flushes them.
enum class PendingTable { Core = 0, Profile = 1, Format = 2 };
inline constexpr int kPendingTableCount = 3;

// The live switches: mute (1 muted), film (1 film mode), current format, pin.
struct Switches {
    int32_t mute = 0;
    int32_t film = 0;
    int32_t format = 0;
    int32_t pin = 0;
    bool operator==(const Switches&) const = default;
};

// What was outstanding when a WaitSettled call began: the switches as stored,
// and each table's pending entries (address, queued value with its pending bit).
struct SettleTargets {
    Switches switches;
    std::array<std::vector<std::pair<uint16_t, LONG>>, kPendingTableCount> pending;
};

// What the monitor knows after a pass: the switches last sent to the unit, the
// switches as stored now, and every table's entries now.
struct SettleView {
    Switches sent;
    Switches stored;
    std::array<std::map<uint16_t, LONG>, kPendingTableCount> tables;
};

// True when every target has been answered: a switch is answered once the value
// it held was sent, or once it holds another value (a later change supersedes
// it); a pending entry is answered once it no longer holds the queued value
// (written, or queued again with a newer value).
bool targetsAnswered(const SettleTargets& targets, const SettleView& view);

class SettleLedger {
public:
    // Registers a waiter for `targets` (already failed when `failed`), calls
    // wake() once so the monitor looks soon, and waits up to `timeout` (negative:
    // no limit). Returns SettleAllAnswered, SettleSomeFailed or SettleTimedOut.
    LONG wait(SettleTargets targets, bool failed, std::chrono::milliseconds timeout, const std::function<void()>& wake);

    bool empty() const;

    // Completes every waiter whose targets are answered (targetsAnswered) in
    // the view `view()` builds; each gets 1 when it was marked failed, else 0.
    // The view is built after the waiters are taken, so a change stored before
    // a waiter registered is always in it. `view` runs without the ledger's lock.
    void settle(const std::function<SettleView()>& view);
    // Some change was discarded: every waiter now will end with 1; with no
    // waiter, the next one to register will (its changes were made before).
    void markFailed();
    // Ends every waiter at once with 1 (a failed exchange, the link down, stop).
    void failAll();

private:
    struct Waiter {
        SettleTargets targets;
        bool failed = false;
        bool done = false;
        LONG result = SettleTimedOut;
    };
    void complete(Waiter& w, LONG result);  // with mutex_ held

    mutable std::mutex mutex_;
    std::condition_variable done_;
    std::list<std::shared_ptr<Waiter>> waiters_;
    bool unreported_ = false;  // a discard no waiter has heard of yet
};

}  // namespace xel::core
