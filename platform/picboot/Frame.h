// Host side of the bootloader framing (see README.md): building request frames
// and recognising reply frames in the byte stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace xel::picboot {

inline constexpr uint8_t kStart = 0xD5;
inline constexpr uint8_t kEscape = 0xD6;
inline constexpr uint8_t kEscapeXor = 0x20;
inline constexpr size_t kMaxPayload = 255;

// Device commands (first payload byte of a request).
inline constexpr uint8_t kCmdIdentify = 0x00;

// Reply status (first payload byte of a reply).
inline constexpr uint8_t kStatusOk = 0x00;
inline constexpr uint8_t kStatusFrameError = 0x01;  // the device saw a damaged frame: send again

// CRC-16, polynomial 0x1021, initial value 0xFFFF, no reflection.
uint16_t crc16(const uint8_t* data, size_t n, uint16_t crc = 0xFFFF);

// Appends start marker, then sequence, length, payload and CRC (high byte
// first), escaped. `n` must not exceed kMaxPayload.
void encodeFrame(uint8_t seq, const uint8_t* payload, size_t n, std::vector<uint8_t>& out);

// Bytes on the wire for a payload of `n` bytes without escapes.
constexpr size_t frameSize(size_t n) { return n + 5; }

// Byte-at-a-time recogniser. A start marker anywhere begins a new frame, so
// noise or a cut-off frame costs only that frame.
class FrameDecoder {
public:
    enum class Event { None, Frame, BadFrame };

    Event push(uint8_t byte);

    // Valid after Frame (and, for seq, after BadFrame).
    uint8_t seq() const { return seq_; }
    const std::vector<uint8_t>& payload() const { return payload_; }

private:
    enum class State { Idle, Seq, Length, Payload, CrcHigh, CrcLow };
    Event accept(uint8_t byte);

    State state_ = State::Idle;
    bool escaped_ = false;
    uint8_t seq_ = 0;
    size_t length_ = 0;
    uint16_t crc_ = 0;
    std::vector<uint8_t> payload_;
};

}  // namespace xel::picboot
