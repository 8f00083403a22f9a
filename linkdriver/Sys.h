// Small system helpers of the link driver: EINTR retry, errno mapping, the
// event flags the two sides of a channel signal each other with, and bounded
// waits that give way to a stop request.
#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

namespace xel::link {

using Clock = std::chrono::steady_clock;

// Repeats a system call interrupted by a signal; every call site goes through here.
template <class F>
auto retryOnSignal(F f) {
    decltype(f()) r;
    do {
        r = f();
    } while (r == -1 && errno == EINTR);
    return r;
}

inline bool wouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK; }

// Milliseconds left until `deadline`, rounded up so a wait never ends early; 0 once due.
inline int msUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 1000000 ? 1000000 : static_cast<int>(ms);
}

// An auto-reset event: signalled any number of times, it wakes one wait and is
// cleared by consume(). Backed by an eventfd so it can sit in a poll set.
class Event {
public:
    Event() = default;
    ~Event() { reset(); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    bool create() {
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
// error, or when `stop` (an event fd, or -1) is signalled first.
inline bool waitFor(int fd, short events, Clock::time_point deadline, int stop) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {stop, POLLIN, 0}};
        const int r = retryOnSignal([&] { return ::poll(fds, stop >= 0 ? 2 : 1, msUntil(deadline)); });
        if (r <= 0) return false;
        if (stop >= 0 && (fds[1].revents & POLLIN)) return false;
        if (fds[0].revents) return true;
    }
}

}  // namespace xel::link
