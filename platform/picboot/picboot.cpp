// The four exported calls, a table of open channels, and the request/reply
// exchange with its bounded retries.
#include "platform/picboot/picboot.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/picboot/Frame.h"
#include "platform/picboot/SerialPort.h"
#include "xelsys/SerialName.h"

namespace xel::picboot {
namespace {

using std::chrono::milliseconds;

// Request header of a block write: command, count, address (three bytes, low first).
constexpr size_t kBlockHeader = 5;
// Longest silence we wait for per attempt when the caller does not say.
constexpr int kMinAttemptWaitMs = 20;

// Each channel starts its sequence numbers elsewhere, so a late reply meant for
// an earlier channel on the same line is not taken for one of ours.
std::atomic<unsigned> g_sequenceStart{0};

struct Reply {
    uint8_t status = 0;
    std::vector<uint8_t> data;
};

enum class Outcome { Ok, IoError, NoReply, Refused };

class Channel {
public:
    explicit Channel(int timeoutMs) : timeout_(timeoutMs), seq_(static_cast<uint8_t>(g_sequenceStart.fetch_add(61))) {}

    bool open(const std::string& path, int baud) { return port_.open(path, baud); }

    std::mutex& mutex() { return mutex_; }
    milliseconds timeout() const { return timeout_; }

    // Sends `payload` and waits for the reply with the same sequence number.
    // Each attempt waits `attemptWait` plus the line time of the request and
    // of the longest reply; the whole exchange ends by the channel's timeout
    // plus that line time. A damaged reply, or the device's report of a
    // damaged request, leads to the next attempt at once.
    Outcome exchange(const uint8_t* payload, size_t n, milliseconds attemptWait, unsigned attempts, size_t replyData,
                     Reply& reply) {
        std::vector<uint8_t> frame;
        frame.reserve(2 * frameSize(n));
        const milliseconds line = port_.wireTime(frameSize(n) + frameSize(1 + replyData));
        const auto deadline = Clock::now() + timeout_ + line;
        for (unsigned attempt = 0; attempt < std::max(attempts, 1u); ++attempt) {
            const auto now = Clock::now();
            if (now >= deadline) break;
            frame.clear();
            const uint8_t seq = ++seq_;
            encodeFrame(seq, payload, n, frame);
            if (!port_.writeAll(frame.data(), frame.size(), deadline)) return Outcome::IoError;
            const auto attemptEnd = std::min(deadline, now + attemptWait + line);
            switch (awaitReply(seq, attemptEnd, reply)) {
                case Wait::Reply: return reply.status == kStatusOk ? Outcome::Ok : Outcome::Refused;
                case Wait::IoError: return Outcome::IoError;
                case Wait::Resend:
                case Wait::Silence: break;
            }
        }
        return Outcome::NoReply;
    }

private:
    enum class Wait { Reply, Resend, Silence, IoError };

    Wait awaitReply(uint8_t seq, Clock::time_point until, Reply& reply) {
        uint8_t buf[256];
        for (;;) {
            // Bytes already read past the last frame are handled first.
            while (pendingPos_ < pending_.size()) {
                const FrameDecoder::Event ev = decoder_.push(pending_[pendingPos_++]);
                if (ev == FrameDecoder::Event::BadFrame) return Wait::Resend;
                if (ev != FrameDecoder::Event::Frame) continue;
                const std::vector<uint8_t>& p = decoder_.payload();
                if (p.empty()) return Wait::Resend;
                // A damaged-frame report may carry a damaged sequence number.
                if (p[0] == kStatusFrameError) return Wait::Resend;
                // A late reply to an earlier attempt: not ours.
                if (decoder_.seq() != seq) continue;
                reply.status = p[0];
                reply.data.assign(p.begin() + 1, p.end());
                return Wait::Reply;
            }
            const long got = port_.readSome(buf, sizeof buf, until);
            if (got < 0) return Wait::IoError;
            if (got == 0) return Wait::Silence;
            pending_.assign(buf, buf + got);
            pendingPos_ = 0;
        }
    }

    std::mutex mutex_;
    SerialPort port_;
    FrameDecoder decoder_;
    std::vector<uint8_t> pending_;
    size_t pendingPos_ = 0;
    milliseconds timeout_;
    uint8_t seq_;
};

// Open channels by handle. Handles count up from 1 and are not reused while open.
class ChannelTable {
public:
    int32_t add(std::shared_ptr<Channel> ch) {
        std::lock_guard lock(mutex_);
        for (;;) {
            const int32_t h = next_;
            next_ = next_ == INT32_MAX ? 1 : next_ + 1;
            if (channels_.try_emplace(h, ch).second) return h;
        }
    }
    std::shared_ptr<Channel> find(int32_t h) {
        std::lock_guard lock(mutex_);
        auto it = channels_.find(h);
        return it == channels_.end() ? nullptr : it->second;
    }
    std::shared_ptr<Channel> remove(int32_t h) {
        std::lock_guard lock(mutex_);
        auto it = channels_.find(h);
        if (it == channels_.end()) return nullptr;
        auto ch = std::move(it->second);
        channels_.erase(it);
        return ch;
    }

private:
    std::mutex mutex_;
    std::map<int32_t, std::shared_ptr<Channel>> channels_;
    int32_t next_ = 1;
};

ChannelTable g_channels;

void putAddress(uint8_t* p, uint32_t address) {
    p[0] = static_cast<uint8_t>(address & 0xFF);
    p[1] = static_cast<uint8_t>((address >> 8) & 0xFF);
    p[2] = static_cast<uint8_t>((address >> 16) & 0xFF);
}

bool validBlockRequest(const BootBlockRequest& r) {
    return r.zero == 0 && r.revision == 1 && r.count >= 1 && r.count <= PICBOOT_MAX_BLOCK && r.unitSize >= 1 &&
           r.count % r.unitSize == 0 && r.address % r.unitSize == 0 && r.address <= 0xFFFFFF &&
           r.address + r.count - 1 <= 0xFFFFFF;
}

}  // namespace
}  // namespace xel::picboot

using namespace xel::picboot;

extern "C" int32_t PicBootOpen(const char* portName, int32_t baud, int32_t timeoutMs) {
    try {
        if (portName == nullptr || timeoutMs <= 0 || baud <= 0) return PICBOOT_INVALID_HANDLE;
        auto ch = std::make_shared<Channel>(timeoutMs);
        if (!ch->open(xel::sys::resolveSerialName(portName), baud)) return PICBOOT_INVALID_HANDLE;
        // A bootloader must answer before the channel counts as open.
        const uint8_t identify[1] = {kCmdIdentify};
        Reply reply;
        const auto wait = std::max(milliseconds(kMinAttemptWaitMs), ch->timeout() / 4);
        if (ch->exchange(identify, 1, wait, 0xFFFF, 8, reply) != Outcome::Ok) return PICBOOT_INVALID_HANDLE;
        return g_channels.add(std::move(ch));
    } catch (...) {
        return PICBOOT_INVALID_HANDLE;
    }
}

extern "C" int32_t PicBootSendPacket(int32_t handle, const uint8_t* packet, uint16_t length, uint16_t replyWaitMs,
                                     uint16_t attempts) {
    try {
        if (packet == nullptr || length == 0 || length > kMaxPayload) return PICBOOT_ERR_ARGUMENT;
        auto ch = g_channels.find(handle);
        if (!ch) return PICBOOT_ERR_ARGUMENT;
        std::lock_guard lock(ch->mutex());
        const auto wait =
            replyWaitMs > 0 ? milliseconds(replyWaitMs) : std::max(milliseconds(kMinAttemptWaitMs), ch->timeout() / 4);
        Reply reply;
        switch (ch->exchange(packet, length, wait, attempts, 0, reply)) {
            case Outcome::Ok: return 0;
            case Outcome::IoError: return PICBOOT_ERR_IO;
            case Outcome::NoReply: return PICBOOT_ERR_NO_REPLY;
            case Outcome::Refused: return PICBOOT_ERR_REFUSED;
        }
        return PICBOOT_ERR_IO;
    } catch (...) {
        return PICBOOT_ERR_IO;
    }
}

extern "C" int32_t PicBootWriteBlock(int32_t handle, const BootBlockRequest* request, const uint8_t* data) {
    try {
        if (request == nullptr || data == nullptr || !validBlockRequest(*request)) return 0;
        auto ch = g_channels.find(handle);
        if (!ch) return 0;
        std::lock_guard lock(ch->mutex());
        uint8_t payload[kBlockHeader + PICBOOT_MAX_BLOCK];
        payload[0] = request->command;
        payload[1] = request->count;
        putAddress(payload + 2, request->address);
        std::memcpy(payload + kBlockHeader, data, request->count);
        const auto wait = std::max(milliseconds(kMinAttemptWaitMs), ch->timeout() / 4);
        Reply reply;
        if (ch->exchange(payload, kBlockHeader + request->count, wait, request->attempts, request->count, reply) !=
            Outcome::Ok) {
            return 0;
        }
        // The device answers a write with what its memory holds there now.
        return reply.data.size() == request->count && std::equal(reply.data.begin(), reply.data.end(), data) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

extern "C" int32_t PicBootClose(int32_t handle) {
    try {
        auto ch = g_channels.remove(handle);
        if (!ch) return -1;
        // Waits for a call still running on this handle; the port closes with the last reference.
        std::lock_guard lock(ch->mutex());
        return 0;
    } catch (...) {
        return -1;
    }
}
