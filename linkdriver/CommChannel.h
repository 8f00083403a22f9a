// The channel behind the opaque CommChannel handle. Only the link driver looks
// inside it.
//
// Ownership: the caller thread creates the channel in OpenComm and frees it in
// CloseComm after the I/O thread has ended. In between the I/O thread alone uses
// the transport; the two sides meet only through the pipes, the events, the last
// error and the counters (atomics, relaxed: each is one independent value).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "linkdriver/Transport.h"
#include "xelsys/Event.h"

struct CommChannel {
    std::unique_ptr<xel::link::Transport> transport;
    std::thread thread;

    // The thread has attached its device. Kept until the channel is freed: a thread
    // that starts later than OpenComm waits for must not signal a closed descriptor.
    xel::sys::Event ready;
    xel::sys::Event stop;          // leave the loop (stays set)
    xel::sys::Event writeRequest;  // bytes wait in the command pipe
    xel::sys::Event readRequest;   // the caller wants what the unit sent
    xel::sys::Event dataReady;     // bytes were put into the reply pipe

    std::atomic<uint32_t> lastError{0};
    int commandPipeRead = -1;
    int replyPipeWrite = -1;
    std::atomic<uint32_t> bytesReceived{0};
    std::atomic<uint32_t> bytesSent{0};
};

namespace xel::link {

// Size of one transfer from a device or from the command pipe.
constexpr size_t kTransferSize = 2058;

// Starts the channel's I/O thread and waits (bounded) until it has attached the
// device. False when the thread cannot be created.
bool startIoThread(CommChannel& channel);

}  // namespace xel::link
