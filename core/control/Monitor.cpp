#include "core/control/Monitor.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "core/model/CFormat.h"
#include "core/model/CVU.h"
#include "core/protocol/UnitCommands.h"
#include "core/protocol/UnitNumbering.h"

namespace xel::core {

// ---- MonitorSignal ------------------------------------------------------------

MonitorSignal::Wake MonitorSignal::waitUntil(MonitorClock::time_point deadline) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return stop_ || woken_; });
    if (stop_) return Wake::Stop;
    if (woken_) {
        woken_ = false;
        return Wake::Woken;
    }
    return Wake::Timeout;
}

void MonitorSignal::wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    changed_.notify_all();
}

void MonitorSignal::stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
}

bool MonitorSignal::stopping() const {
    std::lock_guard lock(mutex_);
    return stop_;
}

// ---- Monitor --------------------------------------------------------------------

std::array<PendingEepromWrites*, kPendingTableCount> Monitor::tables() const { return host_.pendingTables(); }

int Monitor::run() noexcept {
    const auto start = MonitorClock::now();
    levelTime_ = start;
    statusTime_ = start;
    sent_.mute = host_.wantedMute();
    Outcome last = Outcome::Worked;  // the first look comes after the usual short pause
    for (;;) {
        if (host_.signal().waitUntil(nextLook(last)) == MonitorSignal::Wake::Stop) break;
        Outcome o;
        try {
            o = pass();
        } catch (...) {
            o = Outcome::Inactive;  // out of memory somewhere: look again later
        }
        if (o == Outcome::Gone) return 0;
        if (o == Outcome::Stopped) break;
        last = o;
    }
    host_.ledger().failAll();
    return 6;
}

MonitorClock::time_point Monitor::nextLook(Outcome last) const {
    const auto now = MonitorClock::now();
    switch (last) {
        case Outcome::Worked: return now + std::chrono::milliseconds(1);
        case Outcome::Stepped:
            // The bootloader's exchanges follow one another as fast as the line
            // answers; a pause after each of some 4000 steps would add seconds to
            // a download. A stop request is still seen before the next step.
            return now;
        case Outcome::Quiet: {
            // A reading is due once its interval has fully passed.
            const auto margin = std::chrono::milliseconds(1);
            auto next = std::min(levelTime_ + kLevelInterval + margin, now + kChangePoll);
            if (statusForced_) return std::min(next, now + std::chrono::milliseconds(1));
            return std::min(next, statusTime_ + kStatusInterval + margin);
        }
        default: return now + kIdleLook;
    }
}

Monitor::Outcome Monitor::pass() {
    if (host_.download().active()) return downloadStep();

    VARIANT_BOOL connected = VARIANT_FALSE;
    host_.comm()->IsConnected(&connected);
    const QueryState q = host_.queries().state();
    if (connected != VARIANT_TRUE || !q.queried) {
        // Link down (silently: no CommFail) or not queried: nothing is polled
        // until a Query succeeds, and the next active pass resyncs.
        resync_ = true;
        if (connected != VARIANT_TRUE) {
            host_.queries().clear(q.epoch);
            host_.ledger().failAll();
        } else if (q.running == 0) {
            host_.ledger().failAll();
        }
        return Outcome::Inactive;
    }
    if (resync_ || q.epoch != resyncedEpoch_) resync(q.epoch, q.switches);
    passEpoch_ = q.epoch;
    const Outcome o = activePass();
    if (o == Outcome::Worked || o == Outcome::Quiet) settleWaiters();
    return o;
}

void Monitor::resync(uint64_t epoch, const Switches& queried) {
    CFormat& format = host_.format();
    sent_.format = format.currentFormat();
    sent_.film = format.film();
    sent_.pin = format.pin();
    // A switch changed since the Query read it is taken as sent and never goes
    // out: like a discarded write, it fails the waiters.
    bool discarded = sent_.format != queried.format || sent_.film != queried.film || sent_.pin != queried.pin;
    for (PendingEepromWrites* table : tables()) {
        if (table->anyPending()) discarded = true;
        table->discardAll();
    }
    resync_ = false;
    resyncedEpoch_ = epoch;
    if (discarded) host_.ledger().markFailed();
}

Monitor::Outcome Monitor::activePass() {
    Outcome o = clientChange();
    if (o != Outcome::Quiet) return o;
    o = flushPending();
    if (o != Outcome::Quiet) return o;
    const auto now = MonitorClock::now();
    if (now - levelTime_ > kLevelInterval) return readLevels();
    if (statusForced_ || now - statusTime_ > kStatusInterval) return readStatus();
    return Outcome::Quiet;
}

Monitor::Outcome Monitor::clientChange() {
    const LONG mute = host_.wantedMute();
    if (mute != sent_.mute) {
        // The unit's "mute" argument is 1 for audio on.
        if (send(unit::setCommand(unit::Switch::Mute, unit::audioOfMute(mute))) != S_OK) return fail();
        sent_.mute = mute;
        return Outcome::Worked;
    }
    CFormat& format = host_.format();
    const int32_t film = format.film();
    if (film != sent_.film) {
        if (send(unit::setCommand(unit::Switch::DigitalEnable, unit::digitalEnableOfFilm(film))) != S_OK) return fail();
        sent_.film = film;
        statusForced_ = true;
        return Outcome::Worked;
    }
    const int32_t current = format.currentFormat();
    if (current != sent_.format) {
        if (send(unit::setCommand(unit::Switch::Button, unitNumber(current))) != S_OK) return fail();
        sent_.format = current;
        statusForced_ = true;
        return Outcome::Worked;
    }
    const int32_t pin = format.pin();
    if (pin != sent_.pin) {
        if (send(unit::setCommand(unit::Switch::Pin, pin)) != S_OK) return fail();
        sent_.pin = pin;
        statusForced_ = true;
        if (!host_.fireEvent(DISPID_AutomationChange, LONG{pin})) return Outcome::Gone;
        return Outcome::Worked;
    }
    return Outcome::Quiet;
}

Monitor::Outcome Monitor::flushPending() {
    for (PendingEepromWrites* table : tables()) {
        auto run = table->takeRun();
        if (!run) continue;
        // The operator's change did not reach the unit: that is a failure like
        // any other, not something to drop in silence.
        if (WriteEeprom(run->address, static_cast<int>(run->values.size()), run->values.data()) != S_OK)
            return fail(true);
        return Outcome::Worked;
    }
    return Outcome::Quiet;
}

Monitor::Outcome Monitor::readLevels() {
    // Preset with the levels held now, so values missing from a reply change nothing.
    int32_t held[kLevelCount] = {};
    host_.levels().levels(held);
    LONG reply[kVuReplyValues];
    for (int k = 0; k < kVuReplyValues; ++k) reply[k] = ((held[2 * k] & 0xFFF) << 12) | (held[2 * k + 1] & 0xFFF);
    if (unit::ask(host_.comm(), unit::kReadLevels, kVuReplyValues, reply) != S_OK) return fail();
    host_.levels().storeReading(reply);
    levelTime_ = MonitorClock::now();
    return Outcome::Worked;
}

Monitor::Outcome Monitor::readStatus() {
    CFormat& format = host_.format();
    // Each value is preset to the sent value, so a reply without a value (or
    // out of range) changes nothing. A client change stored while the read runs
    // is never overwritten: the unit's answer only becomes the sent value, and
    // the change goes out on the next pass. That includes a change stored after
    // this pass looked for client changes but before its own value is taken
    // here (during the "button" exchange, say): it already differs from the
    // sent value, and is pending. One landing between the check and the store
    // is kept by the store being conditional. Each switch is taken just before
    // its own exchange. Any failed read takes the failure path; a stop between
    // two reads ends the pass.
    const int32_t current = format.currentFormat();
    const bool formatPending = current != sent_.format;
    int32_t pin = 0, film = 0;
    bool pinPending = false, filmPending = false;

    Outcome outcome = Outcome::Worked;
    const auto preset = [&](unit::Switch which) -> LONG {
        switch (which) {
            case unit::Switch::Button: return unitNumber(sent_.format);
            case unit::Switch::Pin: return sent_.pin;
            default: return unit::digitalEnableOfFilm(sent_.film);
        }
    };
    unit::readStatusTriple(host_.comm(), preset, [&](unit::Switch which, HRESULT status, LONG value) {
        if (status != S_OK) {
            outcome = fail();
            return false;
        }
        switch (which) {
            case unit::Switch::Button:
                if (const std::optional<int32_t> named = formatOfButton(value)) {
                    const int32_t found = *named;
                    sent_.format = found;
                    if (found != current && !formatPending && format.mirrorCurrentFormat(current, found) &&
                        !host_.fireEvent(DISPID_InputChange, LONG{found}))
                        outcome = Outcome::Gone;
                }
                break;
            case unit::Switch::Pin:
                if (value >= 1 && value <= 16) {
                    sent_.pin = value;
                    if (value != pin && !pinPending && format.mirrorPin(pin, value) &&
                        !host_.fireEvent(DISPID_AutomationChange, LONG{value}))
                        outcome = Outcome::Gone;
                }
                break;
            default: {
                const int32_t found = unit::filmOfDigitalEnable(value);
                sent_.film = found;
                if (found != film && !filmPending && format.mirrorFilm(film, found) &&
                    !host_.fireEvent(DISPID_ModeChange, LONG{found == 1 ? 0 : 1}))
                    outcome = Outcome::Gone;
                return false;
            }
        }
        if (outcome == Outcome::Gone) return false;
        if (host_.signal().stopping()) {
            outcome = Outcome::Stopped;
            return false;
        }
        if (which == unit::Switch::Button) {
            pin = format.pin();
            pinPending = pin != sent_.pin;
        } else {
            film = format.film();
            filmPending = film != sent_.film;
        }
        return true;
    });
    if (outcome != Outcome::Worked) return outcome;
    statusTime_ = MonitorClock::now();
    statusForced_ = false;
    return Outcome::Worked;
}

bool Monitor::switchesPending() const {
    const CFormat& format = host_.format();
    return host_.wantedMute() != sent_.mute || format.film() != sent_.film || format.currentFormat() != sent_.format ||
           format.pin() != sent_.pin;
}

Monitor::Outcome Monitor::fail(bool runLost) {
    // A client change this exchange carried, or one still waiting behind it, is
    // gone: a run left its table when it was taken, and the Query that must
    // follow reads the unit's switches over the client's. The failure is kept
    // for a WaitSettled still to come, also after that Query.
    if (runLost || switchesPending()) host_.ledger().markFailed();
    // Idle until the client's next successful Query (unless one succeeded
    // while this exchange ran); CommFail once for this failure.
    host_.queries().clear(passEpoch_);
    host_.ledger().failAll();
    resync_ = true;
    if (!host_.fireEvent(DISPID_CommFail)) return Outcome::Gone;
    return Outcome::Failed;
}

Monitor::Outcome Monitor::downloadStep() {
    const int32_t state = host_.download().state();
    if (state != seenDownloadState_) {
        seenDownloadState_ = state;
        if (state >= PICDownloadOpening && state <= PICDownloadData &&
            !host_.fireEvent(DISPID_PICDownloadStateChange, LONG{state}))
            return Outcome::Gone;
    }
    if (state < PICDownloadOpening || state > PICDownloadData) {
        const LONG end = state == PICDownloadComplete ? PICDownloadComplete : PICDownloadFailed;
        host_.endDownload();
        if (!host_.fireEvent(DISPID_PICDownloadStateChange, end)) return Outcome::Gone;
        // The bootloader took the line of a queried unit: the client learns that
        // its link is gone as from a failed exchange, once.
        VARIANT_BOOL connected = VARIANT_FALSE;
        host_.comm()->IsConnected(&connected);
        const QueryState q = host_.queries().state();
        if (q.queried && connected != VARIANT_TRUE) {
            passEpoch_ = q.epoch;
            return fail();
        }
        return Outcome::Worked;
    }
    const int32_t next = host_.download().step(state, host_.connection());
    // A DownloadToPIC made during the step starts the download over.
    host_.download().advance(state, next);
    const auto now = MonitorClock::now();
    if (now - lastProgressEvent_ >= kProgressInterval) {
        lastProgressEvent_ = now;
        if (!host_.fireStatusEvent(DISPID_DownloadProgress, host_.download().progress())) return Outcome::Gone;
    }
    return Outcome::Stepped;
}

void Monitor::settleWaiters() {
    host_.ledger().settle([this] {
        SettleView view;
        view.sent = sent_;
        view.stored = host_.storedSwitches();
        const auto all = tables();
        for (size_t i = 0; i < all.size(); ++i)
            for (const auto& [address, value] : all[i]->entries()) view.tables[i][address] = value;
        return view;
    });
}

HRESULT Monitor::send(std::u16string_view command) { return unit::tell(host_.comm(), command); }

}  // namespace xel::core
