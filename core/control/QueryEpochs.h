// The queried state the monitor works under, and the epochs that keep Query
// and the monitor from undoing each other's news.
//
// The epoch moves at the start of every Query and again at its success. The
// monitor remembers the epoch it worked under, so it can tell a new Query
// from the one it resynced to, and a failure of its own (cleared only if the
// epoch is still the one it saw) from a Query that succeeded meanwhile (kept).
//
// Thread contract: every member may be called from any thread; one mutex
// guards the whole state, never held across an exchange with the unit.
#pragma once

#include <cstdint>
#include <mutex>

#include "core/control/SettleLedger.h"

namespace xel::core {

struct QueryState {
    bool queried = false;
    uint64_t epoch = 0;
    int running = 0;    // Query calls under way
    Switches switches;  // the format object's switches as the last successful Query left them
};

class QueryEpochs {
public:
    QueryState state() const;
    // A Query starts: nothing is polled until one succeeds.
    void begin();
    // A Query ended. Success makes the state queried under a new epoch, with
    // the switches as it read them; a failure leaves the state as it is.
    void succeeded(const Switches& read);
    void failed();
    // A failure seen under `epoch` clears the queried state, unless a Query
    // has moved the epoch since.
    void clear(uint64_t epoch);

private:
    mutable std::mutex mutex_;
    QueryState state_;
};

}  // namespace xel::core
