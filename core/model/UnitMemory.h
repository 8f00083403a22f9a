// Unit memory access: EEPROM reads and writes through the library's connection
// slot, and the pending-write tables that puts fill and the monitor flushes.
//
// Thread contract: ReadEeprom and WriteEeprom may be called from any thread
// (the connection serialises whole exchanges). Each PendingEepromWrites guards
// itself: a whole queue() call, and one takeRun() collect-and-clear, are atomic
// with respect to each other.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "core/model/CoreContext.h"
#include "core/xelor.h"

namespace xel::core {

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

    // `notify` (the owner's context; null: nobody is told) is woken by each
    // queued write and hears of each drop queueOrReportDrop reports.
    explicit PendingEepromWrites(CoreContext* notify = nullptr) noexcept : notify_(notify) {}
    PendingEepromWrites(const PendingEepromWrites&) = delete;
    PendingEepromWrites& operator=(const PendingEepromWrites&) = delete;

    // The queueing rule: dropped when the shared connection is not connected;
    // otherwise entry (address + i) = values[i] | 0x80000000. Returns whether the
    // bytes were queued.
    bool queue(uint16_t address, int count, const LONG* values) noexcept;
    // queue() for the model objects' puts: bytes that could not be queued are
    // reported to the context (noteDroppedWrite), so the next WaitSettled says 1
    // instead of the operator's change vanishing unnoticed.
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
    CoreContext* const notify_;
    mutable std::mutex mutex_;
    std::map<uint16_t, LONG> table_;
};

}  // namespace xel::core
