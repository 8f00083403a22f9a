#include "tools/xelsim/Framer.h"

namespace xelsim {

std::uint8_t Frame::expectedChecksum() const {
    unsigned sum = 0;
    for (unsigned char c : text) sum += c;
    return static_cast<std::uint8_t>(sum & 0xFF);
}

std::vector<std::uint8_t> Frame::bytes() const {
    std::vector<std::uint8_t> out(text.begin(), text.end());
    out.push_back('\r');
    out.push_back(checksum);
    return out;
}

std::vector<Frame> Framer::push(std::span<const std::uint8_t> bytes) {
    std::vector<Frame> done;
    for (std::uint8_t b : bytes) {
        switch (state_) {
            case State::Text:
                if (b == '\r') {
                    state_ = State::Checksum;
                } else if (current_.text.size() < kMaxText) {
                    current_.text.push_back(static_cast<char>(b));
                } else {
                    // Keep reading up to the "\r" so the next frame starts in step.
                    current_.overflow = true;
                }
                break;
            case State::Checksum:
                current_.checksum = b;
                done.push_back(std::move(current_));
                current_ = Frame{};
                state_ = State::Text;
                break;
        }
    }
    return done;
}

void Framer::reset() {
    state_ = State::Text;
    current_ = Frame{};
}

}  // namespace xelsim
