#include "tools/xelctl/Interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace xelctl {

namespace {

std::atomic<int> g_wakeFd{-1};
std::atomic<bool> g_pending{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

extern "C" void onSignal(int sig) {
    const int fd = g_wakeFd.load();
    // The first signal asks the waiting command to end; a second one, while the
    // command is still busy (connecting, say), ends the program at once.
    if (fd >= 0 && !g_pending.exchange(true)) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
        return;
    }
    // Nobody waits for it: end the program as the signal would have.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

}  // namespace

void installInterruptHandlers() {
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

InterruptWatch::InterruptWatch() {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
        read_ = fds[0];
        write_ = fds[1];
        g_pending.store(false);
        g_wakeFd.store(write_);
    }
}

InterruptWatch::~InterruptWatch() {
    g_wakeFd.store(-1);
    if (read_ >= 0) ::close(read_);
    if (write_ >= 0) ::close(write_);
}

bool InterruptWatch::fired() {
    char scrap[16];
    while (read_ >= 0 && ::read(read_, scrap, sizeof scrap) > 0) fired_ = true;
    return fired_;
}

}  // namespace xelctl
