// Ctrl-C and SIGTERM. Commands that wait for the unit (watch, firmware) end
// cleanly on them: while an InterruptWatch lives, a first signal only makes its
// file descriptor readable (a second ends the program). At any other time a
// signal ends the program as usual.
//
// Thread contract: install once from main before any thread starts; one
// InterruptWatch at a time, on the main thread. The handler itself only
// writes one byte to a pipe (async-signal-safe).
#pragma once

namespace xelctl {

void installInterruptHandlers();

class InterruptWatch {
public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    int fd() const { return read_; }
    // True once a signal came (and stays true).
    bool fired();

private:
    int read_ = -1;
    int write_ = -1;
    bool fired_ = false;
};

}  // namespace xelctl
