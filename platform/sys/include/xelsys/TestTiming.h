// The one test seam of the protocol pauses: XELOR_TEST_TIMING=fast makes every
// library divide its pauses by 10 for tests that are not about timing.
#pragma once

namespace xel::sys {

// True when XELOR_TEST_TIMING is exactly "fast". Read on the first call and
// fixed for the life of the process; any thread.
bool fastTestTiming() noexcept;

// `normal` as it stands, or a tenth of it under the fast test timing.
template <class T>
T testScaled(T normal) noexcept {
    return fastTestTiming() ? normal / 10 : normal;
}

}  // namespace xel::sys
