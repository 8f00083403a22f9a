// Deadlines on the monotonic clock, turned into poll() time-outs.
#pragma once

#include <chrono>
#include <climits>

namespace xel::sys {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, rounded up so a wait never ends early;
// 0 once due, INT_MAX for a deadline further away than poll() can wait.
inline int msUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace xel::sys
