// Cuts the byte stream from a host into command frames: text up to "\r", then one
// checksum byte. Pure: no I/O, no clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace xelsim {

struct Frame {
    std::string text;           // the command text, without its "\r"
    std::uint8_t checksum = 0;  // the byte that followed "\r"
    bool overflow = false;      // the text was longer than a frame allows; `text` holds its start

    // The sum of the text's bytes modulo 256, which a host sends as the checksum.
    std::uint8_t expectedChecksum() const;
    bool checksumMatches() const { return checksum == expectedChecksum(); }
    // The frame's bytes as far as they were kept: text, "\r", checksum.
    std::vector<std::uint8_t> bytes() const;
};

class Framer {
public:
    // A frame is at most 250 bytes: 248 of text, "\r" and the checksum.
    static constexpr std::size_t kMaxText = 248;

    // Appends bytes from the host; returns the frames they completed, in order.
    std::vector<Frame> push(std::span<const std::uint8_t> bytes);
    // Forgets a partly received frame (the unit reset, or the host went away).
    void reset();
    bool midFrame() const { return state_ != State::Text || !current_.text.empty() || current_.overflow; }

private:
    enum class State { Text, Checksum };
    State state_ = State::Text;
    Frame current_;
};

}  // namespace xelsim
