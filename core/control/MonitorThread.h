// The life of the core object's monitor thread: its start, its stop (waiting
// for it without limit, or at most kStopWait), and the one way it may end
// without being waited for, when the core object's final release runs on the
// monitor thread itself, from inside an event handler.
//
// Thread contract: start, stop and finalReleaseHere are called by the owner
// (stop from any client thread, never from the monitor thread; several at
// once are serialised). onThisThread and releasedOnThisThread may be asked on
// any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "core/control/Monitor.h"

namespace xel::core {

class MonitorThread {
public:
    static constexpr auto kStopWait = std::chrono::milliseconds(5000);

    explicit MonitorThread(MonitorSignal& signal) noexcept : signal_(signal) {}
    MonitorThread(const MonitorThread&) = delete;
    MonitorThread& operator=(const MonitorThread&) = delete;

    // Runs `body` on a new thread with the automation runtime initialised on it.
    void start(std::function<void()> body);
    // Gives the stop signal and joins. Bounded, it waits at most kStopWait for
    // the body to end and leaves the thread alone when it has not.
    void stop(bool bounded) noexcept;
    // True on the thread this object started.
    bool onThisThread() const noexcept;
    // The final release is running on the monitor thread: gives the stop
    // signal, marks the thread so the body touches nothing of its owner again,
    // keeps the library loaded until the thread has ended, and lets it go.
    void finalReleaseHere() noexcept;
    // True once finalReleaseHere ran on this thread.
    static bool releasedOnThisThread() noexcept;

private:
    MonitorSignal& signal_;
    std::thread thread_;
    std::mutex threadMutex_;  // joining or letting go of the thread
    std::mutex doneMutex_;
    std::condition_variable doneChanged_;
    bool done_ = false;
};

}  // namespace xel::core
