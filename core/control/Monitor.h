// The core object's worker thread: the unit monitor (and, while a firmware
// download runs, its steps).
//
// Each pass does at most one exchange with the unit, in this order of
// preference: a client change of mute, film, current format or pin; one run of
// pending EEPROM writes ("wreep", tables core, profile, format; consecutive
// ascending addresses, at most 64 values); the levels ("vu") when more than
// 200 ms have passed since the last reading; the status triple ("button",
// "pin", "digitalenable") when more than 1000 ms have passed or a client change
// asked for it. Nothing is polled until a Query has succeeded on a live link;
// the first active pass after it resyncs (takes the format object's switches
// as sent, discards every pending write). A failed exchange clears the queried
// state and raises CommFail once; the monitor then idles until the next Query.
//
// The rhythm is event-driven: the thread wakes at once when a client stores a
// change (MonitorSignal::wake, through the core's CoreContext: the core's and
// the format object's switch puts, and every queued EEPROM write) and
// otherwise sleeps until the next reading is due, looking again at least every
// kChangePoll while active, so a connected idle core costs next to nothing.
//
// Thread contract: Monitor runs on its own thread only. MonitorSignal may be
// used from any thread.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "core/control/DownloadState.h"
#include "core/control/QueryEpochs.h"
#include "core/control/SettleLedger.h"
#include "core/model/UnitMemory.h"
#include "core/xelor.h"

namespace xel::core {

class CComm;
class CFormat;
class CVU;

using MonitorClock = std::chrono::steady_clock;

// The stop event and the "look now" signal of one monitor thread.
class MonitorSignal {
public:
    enum class Wake { Stop, Woken, Timeout };
    // Waits until the deadline, a wake() or stop(). A wake() made while nobody
    // waited is kept for the next wait. Stop, once given, is kept.
    Wake waitUntil(MonitorClock::time_point deadline);
    void wake();
    void stop();
    bool stopping() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool woken_ = false;
    bool stop_ = false;
};

// What the monitor needs of the core object it works for (the core object
// implements it). Every part it hands out lives as long as the host.
class MonitorHost {
public:
    // The connection the unit is talked to over, and its concrete object for
    // the bootloader's channel.
    virtual IComm* comm() noexcept = 0;
    virtual CComm& connection() noexcept = 0;
    virtual CFormat& format() noexcept = 0;
    virtual CVU& levels() noexcept = 0;
    // The pending-write tables in the order they are flushed (PendingTable).
    virtual std::array<PendingEepromWrites*, kPendingTableCount> pendingTables() noexcept = 0;
    virtual LONG wantedMute() const noexcept = 0;
    virtual Switches storedSwitches() const noexcept = 0;
    virtual MonitorSignal& signal() noexcept = 0;
    virtual SettleLedger& ledger() noexcept = 0;
    virtual QueryEpochs& queries() noexcept = 0;
    virtual DownloadState& download() noexcept = 0;
    // The firmware download reached its end state.
    virtual void endDownload() noexcept = 0;
    // Raise an event of _IXelEvents, or of _IXelStatusEvents. False when the
    // host was released during it, on this thread: nothing of it may be
    // touched then.
    virtual bool fireEvent(DISPID id) noexcept = 0;
    virtual bool fireEvent(DISPID id, LONG arg) noexcept = 0;
    virtual bool fireStatusEvent(DISPID id, LONG arg) noexcept = 0;

protected:
    ~MonitorHost() = default;
};

class Monitor {
public:
    // How long an active monitor with nothing due waits before it looks again.
    // Every change wakes it, so this only bounds a wake-up that was missed; a
    // short poll here costs a connected idle core a wake-up per poll.
    static constexpr auto kChangePoll = std::chrono::milliseconds(100);
    static constexpr auto kLevelInterval = std::chrono::milliseconds(200);
    static constexpr auto kStatusInterval = std::chrono::milliseconds(1000);
    static constexpr auto kIdleLook = std::chrono::milliseconds(100);
    static constexpr auto kProgressInterval = std::chrono::milliseconds(100);

    explicit Monitor(MonitorHost& host) noexcept : host_(host) {}
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    // The thread's body. Returns 6 when told to stop, or 0 at once when the core
    // object was released on this thread from inside an event handler (nothing
    // of the object is touched after that).
    int run() noexcept;

private:
    enum class Outcome {
        Inactive,  // link down, not queried, or nothing to do for a download
        Quiet,     // active, nothing due
        Worked,    // an exchange was made (or a download ended)
        Stepped,   // a download step was made; the next follows at once
        Failed,    // the failure path was taken
        Stopped,   // told to stop part-way
        Gone,      // the core object was released during an event
    };

    Outcome pass();
    Outcome activePass();
    Outcome downloadStep();
    Outcome clientChange();
    Outcome flushPending();
    Outcome readLevels();
    Outcome readStatus();
    // `runLost`: the failed exchange carried a run of EEPROM writes.
    Outcome fail(bool runLost = false);
    bool switchesPending() const;
    void resync(uint64_t epoch, const Switches& queried);
    void settleWaiters();
    MonitorClock::time_point nextLook(Outcome last) const;

    std::array<PendingEepromWrites*, kPendingTableCount> tables() const;
    HRESULT send(std::u16string_view command);

    MonitorHost& host_;
    Switches sent_;
    bool resync_ = true;
    uint64_t resyncedEpoch_ = 0;
    uint64_t passEpoch_ = 0;  // the Query epoch the current pass works under
    MonitorClock::time_point levelTime_{};
    MonitorClock::time_point statusTime_{};
    bool statusForced_ = false;
    int32_t seenDownloadState_ = -1;  // none yet
    MonitorClock::time_point lastProgressEvent_{};
};

}  // namespace xel::core
