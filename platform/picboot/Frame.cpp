#include "platform/picboot/Frame.h"

namespace xel::picboot {

uint16_t crc16(const uint8_t* data, size_t n, uint16_t crc) {
    for (size_t i = 0; i < n; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}

namespace {

void putEscaped(uint8_t b, std::vector<uint8_t>& out) {
    if (b == kStart || b == kEscape) {
        out.push_back(kEscape);
        out.push_back(static_cast<uint8_t>(b ^ kEscapeXor));
    } else {
        out.push_back(b);
    }
}

}  // namespace

void encodeFrame(uint8_t seq, const uint8_t* payload, size_t n, std::vector<uint8_t>& out) {
    const uint8_t head[2] = {seq, static_cast<uint8_t>(n)};
    uint16_t crc = crc16(head, 2);
    crc = crc16(payload, n, crc);
    out.push_back(kStart);
    putEscaped(head[0], out);
    putEscaped(head[1], out);
    for (size_t i = 0; i < n; ++i) putEscaped(payload[i], out);
    putEscaped(static_cast<uint8_t>(crc >> 8), out);
    putEscaped(static_cast<uint8_t>(crc & 0xFF), out);
}

FrameDecoder::Event FrameDecoder::push(uint8_t byte) {
    if (byte == kStart) {
        state_ = State::Seq;
        escaped_ = false;
        payload_.clear();
        return Event::None;
    }
    if (state_ == State::Idle) return Event::None;
    if (escaped_) {
        escaped_ = false;
        const uint8_t plain = static_cast<uint8_t>(byte ^ kEscapeXor);
        if (plain != kStart && plain != kEscape) {
            // Only the two marker bytes are ever escaped: the frame is damaged.
            state_ = State::Idle;
            return Event::BadFrame;
        }
        return accept(plain);
    }
    if (byte == kEscape) {
        escaped_ = true;
        return Event::None;
    }
    return accept(byte);
}

FrameDecoder::Event FrameDecoder::accept(uint8_t byte) {
    switch (state_) {
        case State::Idle: return Event::None;
        case State::Seq:
            seq_ = byte;
            state_ = State::Length;
            return Event::None;
        case State::Length:
            length_ = byte;
            state_ = length_ == 0 ? State::CrcHigh : State::Payload;
            return Event::None;
        case State::Payload:
            payload_.push_back(byte);
            if (payload_.size() == length_) state_ = State::CrcHigh;
            return Event::None;
        case State::CrcHigh:
            crc_ = static_cast<uint16_t>(byte << 8);
            state_ = State::CrcLow;
            return Event::None;
        case State::CrcLow: {
            crc_ = static_cast<uint16_t>(crc_ | byte);
            state_ = State::Idle;
            const uint8_t head[2] = {seq_, static_cast<uint8_t>(length_)};
            const uint16_t expect = crc16(payload_.data(), payload_.size(), crc16(head, 2));
            return expect == crc_ ? Event::Frame : Event::BadFrame;
        }
    }
    return Event::None;
}

}  // namespace xel::picboot
