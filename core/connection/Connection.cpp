#include "core/connection/Connection.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/connection/Frame.h"
#include "core/connection/Reply.h"
#include "core/connection/Trace.h"
#include "platform/codepage/CodePage.h"
#include "xelsys/Retry.h"
#include "xelsys/TestTiming.h"

namespace xel::core {

namespace {

ConnectionTiming loadTiming() noexcept {
    ConnectionTiming t;
    t.beforeRead = sys::testScaled(t.beforeRead);
    t.emptyPoll = sys::testScaled(t.emptyPoll);
    return t;
}

// Read once when the library loads, before any connection exists.
const ConnectionTiming g_timing = loadTiming();

// The library's reply buffer: the latest reply of any connection.
std::mutex g_replyMutex;
std::u16string g_reply;

void publishReply(const std::u16string& reply) {
    std::lock_guard lock(g_replyMutex);
    g_reply = reply;
}

void closeFd(int& fd) noexcept {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Reads whatever a non-blocking pipe holds and throws it away.
void drain(int fd) noexcept {
    if (fd < 0) return;
    char scrap[512];
    for (;;) {
        const ssize_t n = sys::retryOnSignal([&] { return ::read(fd, scrap, sizeof scrap); });
        if (n > 0) continue;
        return;  // empty (EAGAIN), closed, or failed
    }
}

bool makePipe(int& readEnd, int& writeEnd) noexcept {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return false;
    readEnd = fds[0];
    writeEnd = fds[1];
    return true;
}

}  // namespace

const ConnectionTiming& connectionTiming() noexcept { return g_timing; }

std::u16string lastReply() {
    std::lock_guard lock(g_replyMutex);
    return g_reply;
}

Connection::Connection() noexcept {
    // A failure leaves the ends invalid; connect() reports it.
    if (makePipe(replyRead_, replyWrite_)) makePipe(commandRead_, commandWrite_);
}

Connection::~Connection() {
    // The owner disconnects first. Should it not have, the link's I/O thread must
    // stop before the pipes it uses are closed (their numbers could be reused).
    {
        std::lock_guard lock(exchange_);
        connected_ = false;
        if (slot_ == Slot::Link) closeLinkLocked();
        if (slot_ == Slot::Boot && bootHandle_ != PICBOOT_INVALID_HANDLE && bootHandle_ != 0) PicBootClose(bootHandle_);
        slot_ = Slot::None;
    }
    closeFd(replyRead_);
    closeFd(replyWrite_);
    closeFd(commandRead_);
    closeFd(commandWrite_);
}

std::u16string Connection::address() const {
    std::lock_guard lock(addressMutex_);
    return address_;
}

void Connection::setAddress(std::u16string_view address) {
    std::lock_guard lock(addressMutex_);
    address_.assign(address);
}

Connection::Result Connection::connect() noexcept {
    try {
        // Taken before anything else: a disconnect() from here on overlaps this connect.
        const uint64_t disconnectsBefore = disconnects_.load();
        const std::u16string address = this->address();
        std::lock_guard lock(exchange_);
        if (slot_ != Slot::None) return {1, CommErrAlreadyConnected};
        if (replyRead_ < 0 || commandRead_ < 0) return {1, CommErrFailedConnect};
        const std::optional<CommSettings> settings = linkSettingsFor(address);
        if (!settings) return {1, CommErrFailedConnect};

        // The pipes outlive links: nothing of an earlier link may reach this one.
        drainPipesLocked();
        uint32_t error = 0;
        CommChannel* channel = OpenComm(*settings, commandRead_, replyWrite_, &error);
        if (!channel || error != 0) {
            if (channel) CloseComm(channel, &error);
            return {1, CommErrFailedConnect};
        }
        channel_ = channel;
        slot_ = Slot::Link;
        stale_ = false;
        connected_ = true;
        // The flag is set before the count is checked: a disconnect() counted after
        // this check clears the flag after it was set, and the handshake ends early.
        const auto overlapped = [&] { return disconnects_.load() != disconnectsBefore; };

        CommErr result = CommErrNone;
        if (overlapped() || writeLocked(u"checksum 1\r").status != 0) {
            result = CommErrFailedConnect;
        } else {
            std::u16string reply;
            (void)readLocked(reply);  // the unit may answer either way; picver decides
            if (queryLocked(u"picver\r", 0, nullptr) != 0) result = CommErrUnitNotFound;
        }
        // The operator asked for the link to go while it was coming up: that wins
        // over whatever the handshake made of it.
        if (overlapped()) result = CommErrFailedConnect;
        if (result != CommErrNone) {
            connected_ = false;
            closeLinkLocked();
            return {1, result};
        }
        return {0, CommErrNone};
    } catch (...) {
        return {1, CommErrFailedConnect};
    }
}

void Connection::disconnect() noexcept {
    // Counted before the flag is cleared, so a connect() under way sees one or the other.
    ++disconnects_;
    // Cleared first: an exchange in progress sees it and lets go of the lock.
    connected_ = false;
    std::lock_guard lock(exchange_);
    if (slot_ == Slot::Link) closeLinkLocked();
    // A bootloader channel belongs to the download running on it and stays.
}

void Connection::closeLinkLocked() noexcept {
    uint32_t ignored = 0;
    CloseComm(channel_, &ignored);
    channel_ = nullptr;
    slot_ = Slot::None;
    stale_ = false;
}

void Connection::drainPipesLocked() noexcept {
    drain(replyRead_);
    drain(commandRead_);
}

void Connection::discardWaitingLocked() noexcept {
    stale_ = false;
    drain(replyRead_);
    // Ask the link for what reached it; stop at the first poll that finds nothing.
    char scrap[kReplyMax];
    for (int i = 0; i < 16 && connected_; ++i) {
        uint32_t error = 0;
        if (ReadCommBuf(channel_, replyRead_, scrap, sizeof scrap, &error) == 0 || error != 0) break;
    }
}

Connection::Result Connection::write(std::u16string_view command) noexcept {
    std::lock_guard lock(exchange_);
    return writeLocked(command);
}

Connection::Result Connection::writeLocked(std::u16string_view command) noexcept {
    try {
        if (!connected_ || slot_ != Slot::Link) return {2250, CommErrNotConnected};
        const std::optional<std::string> frame = frameCommand(command);
        if (!frame) return {1, CommErrWriteFailed};
        if (stale_) discardWaitingLocked();
        uint32_t error = 0;
        const uint32_t size = static_cast<uint32_t>(frame->size());
        const uint32_t written = WriteCommBuf(channel_, commandWrite_, frame->data(), size, &error);
        traceBytes('>', *frame, error != 0 || written != size ? "write failed" : "");
        if (error != 0 || written != size) {
            // Part of a frame may be on its way; its answer must not pass for the next one's.
            if (written != 0) stale_ = true;
            return {1, CommErrWriteFailed};
        }
        return {0, CommErrNone};
    } catch (...) {
        return {1, CommErrWriteFailed};
    }
}

Connection::Result Connection::read(std::u16string& reply) noexcept {
    std::lock_guard lock(exchange_);
    return readLocked(reply);
}

Connection::Result Connection::readLocked(std::u16string& reply) noexcept {
    try {
        if (!connected_ || slot_ != Slot::Link) return {0, CommErrNotConnected};
        ReplyCollector collector;
        int allowance = kEmptyPollAllowance;
        while (connected_) {
            if (collector.full()) {
                // No room for a prompt: this reply can never complete.
                stale_ = true;
                traceBytes('<', collector.bytes(), "reply too long");
                return {0, CommErrReadFailed};
            }
            uint32_t error = 0;
            const uint32_t n = ReadCommBuf(channel_, replyRead_, collector.freeSpace(),
                                           static_cast<uint32_t>(collector.freeSize()), &error);
            if (error != 0) {
                stale_ = true;
                traceBytes('<', collector.bytes(), "read failed");
                return {0, CommErrReadFailed};
            }
            if (n == 0) {
                if (allowance == 0) {
                    stale_ = true;
                    traceBytes('<', collector.bytes(), "no complete reply");
                    return {0, CommErrReadFailed};
                }
                --allowance;
                std::this_thread::sleep_for(g_timing.emptyPoll);
                continue;
            }
            collector.added(n);
            if (collector.complete()) {
                traceBytes('<', collector.bytes());
                reply = cp::toUtf16(collector.bytes());
                publishReply(reply);
                return {1, CommErrNone};
            }
        }
        return {0, CommErrNotConnected};
    } catch (...) {
        return {0, CommErrReadFailed};
    }
}

HRESULT Connection::writeAndReturnHex(std::u16string_view command, int length, LONG* values) noexcept {
    std::lock_guard lock(exchange_);
    return queryLocked(command, length, values);
}

HRESULT Connection::queryLocked(std::u16string_view command, int length, LONG* values) noexcept {
    try {
        const bool setip = command.find(u"setip") != std::u16string_view::npos;
        std::u16string reply;
        bool answered = false;
        for (int attempt = 0; attempt < kQueryAttempts && !answered; ++attempt) {
            if (writeLocked(command).status != 0) return 1;
            std::this_thread::sleep_for(g_timing.beforeRead);
            if (readLocked(reply).status == 1) {
                // A bare "?" is the unit refusing the command: a failed attempt.
                answered = !isRefusal(reply);
            } else if (setip) {
                // The unit resets on "setip" without answering: written is done.
                reply = lastReply();
                answered = true;
            }
        }
        if (!answered) return 1;
        parseHexValues(reply, length < 0 ? 0 : length, values);
        return 0;
    } catch (...) {
        return 1;
    }
}

bool Connection::openBootloader() noexcept {
    try {
        const std::string port = cp::fromUtf16(address());
        std::lock_guard lock(exchange_);
        if (slot_ == Slot::Link) {
            connected_ = false;
            closeLinkLocked();
        } else if (slot_ == Slot::Boot) {
            if (bootHandle_ != PICBOOT_INVALID_HANDLE && bootHandle_ != 0) PicBootClose(bootHandle_);
            slot_ = Slot::None;
            bootHandle_ = PICBOOT_INVALID_HANDLE;
        }
        const int32_t handle = PicBootOpen(port.c_str(), 38400, 1000);
        if (handle <= 0) return false;  // handles are positive
        bootHandle_ = handle;
        slot_ = Slot::Boot;
        return true;
    } catch (...) {
        return false;
    }
}

int32_t Connection::bootSendPacket(const uint8_t* packet, uint16_t length, uint16_t replyWaitMs,
                                   uint16_t attempts) noexcept {
    std::lock_guard lock(exchange_);
    if (slot_ != Slot::Boot) return PICBOOT_ERR_ARGUMENT;
    return PicBootSendPacket(bootHandle_, packet, length, replyWaitMs, attempts);
}

int32_t Connection::bootWriteBlock(const BootBlockRequest& request, const uint8_t* data) noexcept {
    std::lock_guard lock(exchange_);
    if (slot_ != Slot::Boot) return 0;
    return PicBootWriteBlock(bootHandle_, &request, data);
}

void Connection::closeBootloader() noexcept {
    std::lock_guard lock(exchange_);
    if (slot_ != Slot::Boot) return;
    if (bootHandle_ != PICBOOT_INVALID_HANDLE && bootHandle_ != 0) PicBootClose(bootHandle_);
    bootHandle_ = PICBOOT_INVALID_HANDLE;
    slot_ = Slot::None;
}

bool Connection::hasBootloader() const noexcept {
    std::lock_guard lock(exchange_);
    return slot_ == Slot::Boot;
}

}  // namespace xel::core
