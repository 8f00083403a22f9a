#include "core/control/SettleLedger.h"

namespace xel::core {

namespace {

bool switchAnswered(int32_t target, int32_t sent, int32_t stored) { return sent == target || stored != target; }

}  // namespace

bool targetsAnswered(const SettleTargets& t, const SettleView& v) {
    if (!switchAnswered(t.switches.mute, v.sent.mute, v.stored.mute)) return false;
    if (!switchAnswered(t.switches.film, v.sent.film, v.stored.film)) return false;
    if (!switchAnswered(t.switches.format, v.sent.format, v.stored.format)) return false;
    if (!switchAnswered(t.switches.pin, v.sent.pin, v.stored.pin)) return false;
    for (int i = 0; i < kPendingTableCount; ++i) {
        const auto& table = v.tables[static_cast<size_t>(i)];
        for (const auto& [address, queued] : t.pending[static_cast<size_t>(i)]) {
            const auto now = table.find(address);
            if (now != table.end() && now->second == queued) return false;
        }
    }
    return true;
}

LONG SettleLedger::wait(SettleTargets targets, bool failed, std::chrono::milliseconds timeout,
                        const std::function<void()>& wake) {
    auto waiter = std::make_shared<Waiter>();
    waiter->targets = std::move(targets);
    waiter->failed = failed;
    std::unique_lock lock(mutex_);
    // Taken whether or not the waiter already failed: a discard is reported once.
    const bool unreported = std::exchange(unreported_, false);
    waiter->failed = waiter->failed || unreported;
    const auto at = waiters_.insert(waiters_.end(), waiter);
    lock.unlock();
    if (wake) wake();
    lock.lock();
    const auto isDone = [&] { return waiter->done; };
    if (timeout.count() < 0)
        done_.wait(lock, isDone);
    else
        done_.wait_for(lock, timeout, isDone);
    if (!waiter->done) {
        waiters_.erase(at);
        return SettleTimedOut;
    }
    return waiter->result;
}

bool SettleLedger::empty() const {
    std::lock_guard lock(mutex_);
    return waiters_.empty();
}

void SettleLedger::complete(Waiter& w, LONG result) {
    w.done = true;
    w.result = result;
}

void SettleLedger::settle(const std::function<SettleView()>& view) {
    std::vector<std::shared_ptr<Waiter>> snapshot;
    {
        std::lock_guard lock(mutex_);
        snapshot.assign(waiters_.begin(), waiters_.end());
    }
    if (snapshot.empty()) return;
    const SettleView now = view();
    std::vector<std::shared_ptr<Waiter>> finished;
    for (const auto& w : snapshot)
        if (targetsAnswered(w->targets, now)) finished.push_back(w);
    if (finished.empty()) return;
    {
        std::lock_guard lock(mutex_);
        for (const auto& w : finished) {
            // A waiter that timed out meanwhile has left the list: leave it be.
            for (auto it = waiters_.begin(); it != waiters_.end(); ++it) {
                if (*it != w) continue;
                complete(*w, w->failed ? SettleSomeFailed : SettleAllAnswered);
                waiters_.erase(it);
                break;
            }
        }
    }
    done_.notify_all();
}

void SettleLedger::markFailed() {
    std::lock_guard lock(mutex_);
    if (waiters_.empty()) unreported_ = true;
    for (const auto& w : waiters_) w->failed = true;
}

void SettleLedger::failAll() {
    {
        std::lock_guard lock(mutex_);
        if (waiters_.empty()) return;
        for (const auto& w : waiters_) complete(*w, SettleSomeFailed);
        waiters_.clear();
    }
    done_.notify_all();
}

}  // namespace xel::core
