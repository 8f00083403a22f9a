// The I/O thread of a channel: the only code that touches the device.
//
// It sleeps in poll() on its request events and, while a read request is
// pending, on the device too. A read request that finds nothing keeps watching
// the device for the rest of the reader's window and hands bytes on the moment
// they arrive, so a reply split over several pieces costs no stall. It never
// blocks: the command pipe is read only when it polls readable, the reply pipe
// is written only when it has room, and every wait includes the stop event.
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <cstring>

#include "linkdriver/CommChannel.h"
#include "linkdriver/Timing.h"

namespace xel::link {

namespace {

// Idle wake-up of the loop; nothing depends on it but it bounds any missed wake.
constexpr int kIdleWaitMs = 100;
// Re-check cadence of a device without a pollable descriptor (the USB bridge).
constexpr int kRecheckMs = 1;

class IoLoop {
public:
    explicit IoLoop(CommChannel& channel) : ch_(channel), transport_(*channel.transport) {}

    void run() {
        for (;;) {
            Wait wait = buildWait();
            const int r = sys::retryOnSignal([&] { return ::poll(wait.fds, wait.count, wait.timeoutMs); });
            if (r < 0) {
                // The wait itself failed: report the system's code and end the thread.
                ch_.lastError.store(static_cast<uint32_t>(errno), std::memory_order_relaxed);
                return;
            }
            const bool stopping = wait.fds[kStop].revents != 0;
            // A read request pending at the same time as a write request is served first.
            if (wait.fds[kRead].revents && ch_.readRequest.consume()) beginRead();
            if (readPending_) serveRead(wait);
            if (outLength_ > 0) deliver();
            if (wait.fds[kWrite].revents && ch_.writeRequest.consume()) serveWrite();
            if (readPending_ && sys::Clock::now() >= readDeadline_) readPending_ = false;
            if (stopping) return;
        }
    }

private:
    enum { kStop, kRead, kWrite, kExtra };

    struct Wait {
        pollfd fds[4];
        nfds_t count = 3;
        int timeoutMs = kIdleWaitMs;
        bool watchesDevice = false;  // fds[kExtra] is the device
        bool recheck = false;        // time to ask a device without a descriptor again
    };

    Wait buildWait() const {
        Wait w;
        w.fds[kStop] = {ch_.stop.fd(), POLLIN, 0};
        w.fds[kRead] = {ch_.readRequest.fd(), POLLIN, 0};
        w.fds[kWrite] = {ch_.writeRequest.fd(), POLLIN, 0};
        if (outLength_ > 0) {
            // Bytes wait for room in the reply pipe; the device is left alone meanwhile.
            w.fds[kExtra] = {ch_.replyPipeWrite, POLLOUT, 0};
            w.count = 4;
        } else if (readPending_ && watchDevice_) {
            const int fd = transport_.readableFd();
            if (fd >= 0) {
                w.fds[kExtra] = {fd, POLLIN, 0};
                w.count = 4;
                w.watchesDevice = true;
            }
        }
        if (readPending_) {
            const int left = sys::msUntil(readDeadline_);
            if (left < w.timeoutMs) w.timeoutMs = left;
            if (watchDevice_ && outLength_ == 0 && transport_.recheckWhileReading() && kRecheckMs < w.timeoutMs)
                w.timeoutMs = kRecheckMs;
        }
        return w;
    }

    void beginRead() {
        readPending_ = true;
        watchDevice_ = true;
        freshRequest_ = true;
        readDeadline_ = sys::Clock::now() + timing().readPause + timing().readWait;
    }

    void serveRead(const Wait& wait) {
        if (outLength_ > 0) return;
        const bool deviceSignalled = wait.watchesDevice && wait.fds[kExtra].revents != 0;
        const bool recheck = watchDevice_ && transport_.recheckWhileReading();
        if (!freshRequest_ && !deviceSignalled && !recheck) return;
        freshRequest_ = false;

        const IoResult got = transport_.receive(rx_, sizeof rx_);
        if (got.error != XELCOMM_ERROR_NONE) ch_.lastError.store(got.error, std::memory_order_relaxed);
        if (got.count > 0) {
            ch_.bytesReceived.fetch_add(static_cast<uint32_t>(got.count), std::memory_order_relaxed);
            outOffset_ = 0;
            outLength_ = got.count;
            readPending_ = false;
        } else if (deviceSignalled || got.error != XELCOMM_ERROR_NONE) {
            // Signalled but nothing to take (peer closed, line hung up) or failing:
            // asking again would only spin. Wait out the window on the events alone.
            watchDevice_ = false;
        }
    }

    // Puts received bytes into the reply pipe as far as it has room, then signals.
    void deliver() {
        // Checked first: a caller's pipe end opened blocking must not hold the thread.
        pollfd pfd{ch_.replyPipeWrite, POLLOUT, 0};
        if (sys::retryOnSignal([&] { return ::poll(&pfd, 1, 0); }) <= 0) return;
        if (pfd.revents & (POLLERR | POLLNVAL)) {
            // The reader's end is gone; there is nobody left to hand these bytes to.
            outLength_ = 0;
            return;
        }
        const ssize_t n = sys::retryOnSignal([&] { return ::write(ch_.replyPipeWrite, rx_ + outOffset_, outLength_); });
        if (n > 0) {
            outOffset_ += static_cast<size_t>(n);
            outLength_ -= static_cast<size_t>(n);
            ch_.dataReady.signal();
        } else if (n < 0 && !sys::wouldBlock(errno)) {
            // The reader's end is gone; there is nobody left to hand these bytes to.
            outLength_ = 0;
        }
    }

    // Sends one transfer from the command pipe. When more waits behind it, the
    // request is raised again, so a large write cannot starve reads or a stop.
    void serveWrite() {
        if (!pipeReadable()) return;
        const ssize_t n = sys::retryOnSignal([&] { return ::read(ch_.commandPipeRead, tx_, sizeof tx_); });
        if (n <= 0) return;
        const IoResult sent = transport_.send(tx_, static_cast<size_t>(n), ch_.stop.fd());
        ch_.bytesSent.fetch_add(static_cast<uint32_t>(transport_.countedAsSent(sent)), std::memory_order_relaxed);
        if (sent.error != XELCOMM_ERROR_NONE) ch_.lastError.store(sent.error, std::memory_order_relaxed);
        if (pipeReadable()) ch_.writeRequest.signal();
    }

    // The pipe may already have been drained by an earlier request whose bytes were
    // written after it was raised; reading it blindly could then block for good.
    bool pipeReadable() const {
        pollfd pfd{ch_.commandPipeRead, POLLIN, 0};
        return sys::retryOnSignal([&] { return ::poll(&pfd, 1, 0); }) > 0 && (pfd.revents & POLLIN);
    }

    CommChannel& ch_;
    Transport& transport_;
    uint8_t rx_[kTransferSize];
    uint8_t tx_[kTransferSize];
    size_t outOffset_ = 0;
    size_t outLength_ = 0;
    bool readPending_ = false;
    bool watchDevice_ = false;
    bool freshRequest_ = false;
    sys::Clock::time_point readDeadline_{};
};

void ioThreadMain(CommChannel* channel) {
    channel->transport->attach();
    channel->ready.signal();
    IoLoop(*channel).run();
    channel->transport->detach();
}

}  // namespace

bool startIoThread(CommChannel& channel) {
    // The thread starts with every signal blocked: signals are the process's
    // business, and a write into a reply pipe whose reader has gone must come
    // back as EPIPE instead of raising SIGPIPE.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    bool started = true;
    try {
        channel.thread = std::thread(ioThreadMain, &channel);
    } catch (...) {
        started = false;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (!started) return false;

    pollfd pfd{channel.ready.fd(), POLLIN, 0};
    (void)sys::retryOnSignal([&] { return ::poll(&pfd, 1, static_cast<int>(kThreadReadyLimit.count())); });
    channel.ready.consume();
    return true;
}

}  // namespace xel::link
