// The connection to one unit: its address, the one link (or, during a firmware
// download, the bootloader channel) in its slot, the two pipes to the link's
// I/O thread, and whole exchanges of a command and its reply. CComm is the
// automation face of this class.
//
// Thread contract: every member may be called from any thread at any time.
// - One exchange lock serialises everything that touches the link: a Write, a
//   Read, a whole writeAndReturnHex with its retries, Connect with its
//   handshake, the close of Disconnect, and each bootloader operation. Two
//   threads therefore never interleave a command and its reply.
// - The connected flag is atomic. disconnect() clears it before it waits for
//   the exchange lock, so an exchange in progress ends early with "not
//   connected" instead of holding the close back for its full time-out.
// - A disconnect() that overlaps a connect() wins: it counts itself before it
//   clears the flag, and connect() fails (FailedConnect, no channel left) when
//   that count moved while it was opening the link or shaking hands.
// - The address has its own small lock and is never held across an exchange.
// - The reply buffer of the library is shared by all connections and guarded
//   by its own lock (lastReply()).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "core/xelor.h"
#include "linkdriver/xelcomm.h"
#include "platform/picboot/picboot.h"

namespace xel::core {

// The connection's protocol pauses; XELOR_TEST_TIMING=fast (read once when the
// library loads) divides them by 10.
struct ConnectionTiming {
    std::chrono::microseconds beforeRead{10'000};  // between a command and its first read
    std::chrono::microseconds emptyPoll{50'000};   // between two polls that brought nothing
};
const ConnectionTiming& connectionTiming() noexcept;

// Empty polls a Read allows before it gives up (the eleventh gives up).
inline constexpr int kEmptyPollAllowance = 10;
// Attempts of one query.
inline constexpr int kQueryAttempts = 3;

// The most recent reply any connection of the process read, as the unit sent
// it (prompt included).
std::u16string lastReply();

class Connection {
public:
    Connection() noexcept;  // creates the two pipes (a failure shows at connect)
    ~Connection();          // closes the pipes; the owner disconnects first
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    std::u16string address() const;
    void setAddress(std::u16string_view address);

    struct Result {
        HRESULT status;
        CommErr error;
    };
    // Status 0 when connected, else 1 with the reason.
    Result connect() noexcept;
    void disconnect() noexcept;
    bool isConnected() const noexcept { return connected_.load(); }

    // One command framed onto the link: 0, 1 (refused or driver error) or 2250
    // (not connected).
    Result write(std::u16string_view command) noexcept;
    // One reply up to its prompt: status 1 and the reply in `reply` when it
    // arrived, else 0 and `reply` untouched.
    Result read(std::u16string& reply) noexcept;
    // A command and its reply, up to three attempts; the reply's first `length`
    // values land in values[]. 0 on success, 1 on failure.
    HRESULT writeAndReturnHex(std::u16string_view command, int length, LONG* values) noexcept;

    // The bootloader channel, in the link's slot while a download runs. Opening
    // closes an open link first (the download takes over the line).
    bool openBootloader() noexcept;
    int32_t bootSendPacket(const uint8_t* packet, uint16_t length, uint16_t replyWaitMs, uint16_t attempts) noexcept;
    int32_t bootWriteBlock(const BootBlockRequest& request, const uint8_t* data) noexcept;
    // Closes the bootloader channel and leaves the slot empty, ready for Connect.
    void closeBootloader() noexcept;
    bool hasBootloader() const noexcept;

private:
    enum class Slot { None, Link, Boot };

    // All of these run with the exchange lock held.
    Result writeLocked(std::u16string_view command) noexcept;
    Result readLocked(std::u16string& reply) noexcept;
    HRESULT queryLocked(std::u16string_view command, int length, LONG* values) noexcept;
    void closeLinkLocked() noexcept;
    void discardWaitingLocked() noexcept;
    void drainPipesLocked() noexcept;

    mutable std::mutex addressMutex_;
    std::u16string address_ = u"COM1";

    std::atomic<bool> connected_{false};
    // Counts disconnect() calls, so that a connect() can tell one overlapped it.
    std::atomic<uint64_t> disconnects_{0};

    mutable std::mutex exchange_;
    Slot slot_ = Slot::None;
    CommChannel* channel_ = nullptr;
    int32_t bootHandle_ = PICBOOT_INVALID_HANDLE;
    // Set when a reply did not arrive in time: its late bytes (and anything else
    // the link holds) are discarded before the next command.
    bool stale_ = false;

    int replyRead_ = -1, replyWrite_ = -1;
    int commandRead_ = -1, commandWrite_ = -1;
};

}  // namespace xel::core
