// System calls interrupted by a signal are retried here and nowhere else.
#pragma once

#include <cerrno>

namespace xel::sys {

// Repeats `f` (a system call returning -1 and setting errno on failure) while
// it fails with EINTR; returns its last result with errno as it left it.
template <class F>
auto retryOnSignal(F f) {
    decltype(f()) r;
    do {
        r = f();
    } while (r == -1 && errno == EINTR);
    return r;
}

// True for the errno of a non-blocking call that would have had to wait.
inline bool wouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK; }

}  // namespace xel::sys
