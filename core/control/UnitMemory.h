// Unit memory access: the library-wide connection slot, EEPROM reads and writes
// through it, the pending-write tables that puts fill and the monitor flushes,
// and the notices the model objects' puts give the core object.
//
// Thread contract: the slot is set by the core object's construction and cleared
// by its final release; sharedComm() may be called from any thread. Each
// PendingEepromWrites guards itself: a whole queue() call, and one takeRun()
// collect-and-clear, are atomic with respect to each other.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "core/xelor.h"

namespace xel::core {

// The one connection every command of the library goes through. The slot holds a
// reference; sharedComm() returns it with a reference added (null when empty).
void setSharedComm(IComm* comm) noexcept;
IComm* sharedComm() noexcept;
// Whether the slot holds a connection that is connected.
bool sharedCommConnected() noexcept;

// What the model objects' puts tell the core object, which registers itself
// here while it holds the library's one slot (and clears it before it goes).
// The calls are made under the registration's lock, so a registrant that has
// cleared it is called no more.
class CoreNotice {
public:
    virtual void wakeMonitor() noexcept = 0;
    virtual void noteDroppedWrite() noexcept = 0;
    // A switch (mute; the format object's film, format and pin) was stored.
    virtual void switchStored() noexcept = 0;

protected:
    ~CoreNotice() = default;
};
void setCoreNotice(CoreNotice* core) noexcept;

// Hooks for the library's objects whose puts the monitor acts on (the format
// and profile objects): each may be called from any thread, also when no core
// object exists. A change wakes the monitor at once instead of at its next look;
// a dropped write (the link was down) makes the next WaitSettled report 1.
void notifyMonitorOfChange() noexcept;
void notifyMonitorOfDroppedWrite() noexcept;
// A switch of the format object (film, current format, pin) was stored: it is
// reported like a dropped write unless the monitor is active on a queried link.
void notifyMonitorOfSwitchStored() noexcept;

// Sends "rdeep %X %X\r" (count - 1, or 0 for count 0 or 1; then the address) and
// parses `count` values into `values`. Returns the connection's status (0 = ok).
HRESULT ReadEeprom(uint16_t address, int count, LONG* values) noexcept;

// Sends "wreep %X" with the address and " %X" per value, then "\r"; at most 64
// values. Returns the connection's status.
HRESULT WriteEeprom(uint16_t address, int count, const LONG* values) noexcept;

// EEPROM bytes awaiting the monitor. A queued byte is stored as value | 0x80000000
// (the pending flag is the sign bit); flushing or discarding sets an entry to 0.
class PendingEepromWrites {
public:
    static constexpr int kMaxRun = 64;

    // The queueing rule: dropped when the shared connection is not connected;
    // otherwise entry (address + i) = values[i] | 0x80000000. Returns whether the
    // bytes were queued.
    bool queue(uint16_t address, int count, const LONG* values) noexcept;
    // queue() for the model objects' puts: bytes that could not be queued are
    // reported to the core object (notifyMonitorOfDroppedWrite), so the next
    // WaitSettled says 1 instead of the operator's change vanishing unnoticed.
    void queueOrReportDrop(uint16_t address, int count, const LONG* values) noexcept;

    bool anyPending() const noexcept;

    // Collects the lowest pending address and the pending addresses that follow it
    // one by one (at most kMaxRun), clearing each; values are masked to 24 bits.
    struct Run {
        uint16_t address = 0;
        std::vector<LONG> values;
    };
    std::optional<Run> takeRun(int maxValues = kMaxRun) noexcept;

    // Sets every entry to 0 (the resync after a Query).
    void discardAll() noexcept;

    // A copy of the table, for inspection.
    std::vector<std::pair<uint16_t, LONG>> entries() const;

private:
    mutable std::mutex mutex_;
    std::map<uint16_t, LONG> table_;
};

}  // namespace xel::core
