// The link's protocol pauses. The defaults are the unit's timing; the one test
// seam, XELOR_TEST_TIMING=fast read once when the library loads, divides them all
// by 10 for tests that are not about timing, and changes nothing else.
#pragma once

#include <chrono>

namespace xel::link {

struct Timing {
    std::chrono::microseconds tcpSettle{3'000'000};  // after a TCP connect, before first use
    std::chrono::microseconds close{1'000'000};      // at least this long to close a link
    std::chrono::microseconds readPause{1'000};      // between a read request and the wait
    std::chrono::microseconds readWait{200'000};     // how long a read waits for data
};

// The pauses in force, fixed when the library loaded.
const Timing& timing();

// Bounds that are not protocol pauses and never scale.
constexpr std::chrono::milliseconds kConnectLimit{10'000};     // an unreachable host
constexpr std::chrono::milliseconds kDeviceWriteLimit{1'000};  // a write the line won't take
constexpr std::chrono::milliseconds kThreadReadyLimit{1'000};  // OpenComm waiting for its thread
constexpr std::chrono::milliseconds kPipeSpaceLimit{1'000};    // WriteCommBuf waiting for pipe room

}  // namespace xel::link
