// Library start-up and the five entry points of the link driver.
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "linkdriver/CommChannel.h"
#include "linkdriver/Timing.h"
#include "linkdriver/xelcomm.h"
#include "xelsys/TestTiming.h"

namespace xel::link {

namespace {

constinit Timing g_timing;

// Read once when the library loads, before any channel exists.
__attribute__((constructor)) void loadTiming() {
    g_timing.tcpSettle = sys::testScaled(g_timing.tcpSettle);
    g_timing.close = sys::testScaled(g_timing.close);
    g_timing.readPause = sys::testScaled(g_timing.readPause);
    g_timing.readWait = sys::testScaled(g_timing.readWait);
}

// Every entry point may be handed a null error pointer; it then reports nowhere.
uint32_t* errorSlot(uint32_t* error, uint32_t& spare) {
    uint32_t* slot = error ? error : &spare;
    *slot = XELCOMM_ERROR_NONE;
    return slot;
}

bool createEvents(CommChannel& ch) {
    return ch.ready.create() && ch.stop.create() && ch.writeRequest.create() && ch.readRequest.create() &&
           ch.dataReady.create();
}

bool readable(int fd) {
    pollfd pfd{fd, POLLIN, 0};
    return sys::retryOnSignal([&] { return ::poll(&pfd, 1, 0); }) > 0 && (pfd.revents & POLLIN);
}

}  // namespace

const Timing& timing() { return g_timing; }

}  // namespace xel::link

using namespace xel::link;

extern "C" {

XEL_EXPORT CommChannel* OpenComm(CommSettings settings, int commandPipeRead, int replyPipeWrite, uint32_t* error) {
    uint32_t spare;
    uint32_t* err = errorSlot(error, spare);
    try {
        auto channel = std::make_unique<CommChannel>();
        channel->commandPipeRead = commandPipeRead;
        channel->replyPipeWrite = replyPipeWrite;
        if (!createEvents(*channel)) {
            *err = XELCOMM_ERROR_OPEN;
            return nullptr;
        }
        uint32_t openError = XELCOMM_ERROR_NONE;
        channel->transport = transportFor(settings.port, sizeof settings.port)(settings, openError);
        if (!channel->transport) {
            *err = openError != XELCOMM_ERROR_NONE ? openError : XELCOMM_ERROR_OPEN;
            return nullptr;
        }
        if (!startIoThread(*channel)) {
            *err = XELCOMM_ERROR_OPEN;
            return nullptr;
        }
        return channel.release();
    } catch (...) {
        *err = XELCOMM_ERROR_OPEN;
        return nullptr;
    }
}

XEL_EXPORT void CloseComm(CommChannel* channel, uint32_t* error) {
    uint32_t spare;
    errorSlot(error, spare);
    if (!channel) return;
    channel->stop.signal();
    // The unit's close delay; the device stays open meanwhile, so what was sent
    // last can still leave the line before the close discards it.
    std::this_thread::sleep_for(timing().close);
    if (channel->thread.joinable()) channel->thread.join();
    delete channel;  // closes the device, then the events
}

XEL_EXPORT uint32_t WriteCommBuf(CommChannel* channel, int commandPipeWrite, const void* bytes, uint32_t count,
                                 uint32_t* error) {
    uint32_t spare;
    uint32_t* err = errorSlot(error, spare);
    if (!channel) {
        *err = XELCOMM_ERROR_NULL_CHANNEL;
        return 0;
    }
    channel->lastError.store(XELCOMM_ERROR_NONE, std::memory_order_relaxed);
    const auto* p = static_cast<const uint8_t*>(bytes);
    uint32_t written = 0;
    // The request is raised even for no bytes: the thread copes with a request
    // that finds the pipe empty, as it must when an earlier one took its bytes.
    channel->writeRequest.signal();
    while (p && written < count) {
        const ssize_t n =
            xel::sys::retryOnSignal([&] { return ::write(commandPipeWrite, p + written, count - written); });
        if (n > 0) {
            written += static_cast<uint32_t>(n);
            channel->writeRequest.signal();
            continue;
        }
        // A full pipe empties as the thread sends; wait for room, but not forever.
        if (n < 0 && !xel::sys::wouldBlock(errno)) break;
        if (!xel::sys::waitFor(commandPipeWrite, POLLOUT, xel::sys::Clock::now() + kPipeSpaceLimit, -1)) break;
    }
    *err = channel->lastError.load(std::memory_order_relaxed);
    return written;
}

XEL_EXPORT uint32_t ReadCommBuf(CommChannel* channel, int replyPipeRead, void* buffer, uint32_t capacity,
                                uint32_t* error) {
    uint32_t spare;
    uint32_t* err = errorSlot(error, spare);
    if (!channel) {
        *err = XELCOMM_ERROR_NULL_CHANNEL;
        return 0;
    }
    channel->lastError.store(XELCOMM_ERROR_NONE, std::memory_order_relaxed);
    if (!buffer || capacity == 0) return 0;

    channel->readRequest.signal();
    std::this_thread::sleep_for(timing().readPause);
    // Wake on the thread's signal, or on bytes an earlier read left in the pipe
    // (more than its capacity, or delivered after its wait ended): those must not
    // wait for the unit to send again. A signal can outlive the bytes it announced
    // (they were taken with an earlier wake-up); then the wait goes on.
    pollfd fds[2] = {{channel->dataReady.fd(), POLLIN, 0}, {replyPipeRead, POLLIN, 0}};
    const auto deadline =
        xel::sys::Clock::now() + std::chrono::duration_cast<xel::sys::Clock::duration>(timing().readWait);
    uint32_t got = 0;
    for (;;) {
        const int r = xel::sys::retryOnSignal([&] { return ::poll(fds, 2, xel::sys::msUntil(deadline)); });
        if (r <= 0) break;
        if (fds[0].revents) channel->dataReady.consume();
        if (readable(replyPipeRead)) {
            const ssize_t n = xel::sys::retryOnSignal([&] { return ::read(replyPipeRead, buffer, capacity); });
            if (n > 0) got = static_cast<uint32_t>(n);
            break;
        }
        if (fds[1].revents) break;  // the pipe is closed or invalid: nothing will come
    }
    *err = channel->lastError.load(std::memory_order_relaxed);
    return got;
}

XEL_EXPORT void GetCommStats(CommChannel* channel, CommStats* stats, uint32_t* error) {
    uint32_t spare;
    uint32_t* err = errorSlot(error, spare);
    if (!channel) {
        *err = XELCOMM_ERROR_NULL_CHANNEL;
        return;
    }
    if (!stats) return;
    stats->bytesReceived = channel->bytesReceived.load(std::memory_order_relaxed);
    stats->reserved1 = 0;
    stats->bytesSent = channel->bytesSent.load(std::memory_order_relaxed);
    stats->reserved2 = 0;
}

}  // extern "C"
