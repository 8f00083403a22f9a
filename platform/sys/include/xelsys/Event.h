// An auto-reset event that can sit in a poll set, and bounded waits that give
// way to it.
//
// Thread safety: signal() and consume() may run on any threads at the same
// time; create() and reset() only while no other thread uses the event.
#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "xelsys/Deadline.h"
#include "xelsys/Retry.h"

namespace xel::sys {

// Signalled any number of times, it wakes one wait and is cleared by consume().
class Event {
public:
    Event() = default;
    ~Event() { reset(); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    bool create() {
        reset();
        fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        return fd_ >= 0;
    }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd() const { return fd_; }
    void signal() const {
        const uint64_t one = 1;
        // Only fails when the counter would overflow, which means it is already set.
        (void)retryOnSignal([&] { return ::write(fd_, &one, sizeof one); });
    }
    // Clears the event; true when it was set.
    bool consume() const {
        uint64_t value = 0;
        return retryOnSignal([&] { return ::read(fd_, &value, sizeof value); }) == sizeof value;
    }

private:
    int fd_ = -1;
};

// Waits until `fd` shows `events` or the deadline passes; false on time-out, on
// error, or when `stop` (an event's fd, or -1) is signalled first.
inline bool waitFor(int fd, short events, Clock::time_point deadline, int stop) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {stop, POLLIN, 0}};
        const int r = retryOnSignal([&] { return ::poll(fds, stop >= 0 ? 2 : 1, msUntil(deadline)); });
        if (r <= 0) return false;
        if (stop >= 0 && (fds[1].revents & POLLIN)) return false;
        if (fds[0].revents) return true;
    }
}

}  // namespace xel::sys
