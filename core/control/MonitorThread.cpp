#include "core/control/MonitorThread.h"

#include "core/xelor.h"
#include "platform/objrt/Object.h"

namespace xel::core {

namespace {

// Which monitor runs on this thread, and whether its core object was released
// here (from inside an event handler). The library is loaded with dlopen and
// unloaded at CoUninitialize: initial-exec keeps these bytes in the static
// thread-storage reserve, so no thread holds a dynamic block of a library that
// is gone (the leak checker at exit walks such blocks).
[[gnu::tls_model("initial-exec")]] thread_local const MonitorThread* t_monitorOf = nullptr;
[[gnu::tls_model("initial-exec")]] thread_local bool t_releasedHere = false;

}  // namespace

void MonitorThread::start(std::function<void()> body) {
    std::lock_guard lock(threadMutex_);
    thread_ = std::thread([this, body = std::move(body)] {
        t_monitorOf = this;
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        body();
        // Released here, this object is gone with its owner: touch nothing.
        const bool gone = t_releasedHere;
        if (!gone) {
            std::lock_guard done(doneMutex_);
            done_ = true;
            doneChanged_.notify_all();
        }
        CoUninitialize();
        // The final release on this thread kept the library loaded for us.
        if (gone) objrt::unlockModule(objrt::thisModule());
    });
}

void MonitorThread::stop(bool bounded) noexcept {
    signal_.stop();
    std::lock_guard lock(threadMutex_);
    if (!thread_.joinable()) return;
    if (bounded) {
        std::unique_lock done(doneMutex_);
        if (!doneChanged_.wait_for(done, kStopWait, [&] { return done_; })) return;
    }
    thread_.join();
}

bool MonitorThread::onThisThread() const noexcept { return t_monitorOf == this; }

void MonitorThread::finalReleaseHere() noexcept {
    // The thread cannot wait for itself, so it finishes on its own.
    signal_.stop();
    t_releasedHere = true;
    objrt::lockModule(objrt::thisModule());
    std::lock_guard lock(threadMutex_);
    if (thread_.joinable()) thread_.detach();
}

bool MonitorThread::releasedOnThisThread() noexcept { return t_releasedHere; }

}  // namespace xel::core
