// A raw serial port for the bootloader channel: exclusive open,
// 8N1 at a fixed rate, reads and writes bounded by a deadline.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "xelsys/Deadline.h"

namespace xel::picboot {

using Clock = sys::Clock;

class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `path` exclusively, raw 8N1 at `baud`, no flow control, DTR
    // dropped, pending input discarded. False when any step fails.
    bool open(const std::string& path, int baud);
    void close();

    // Writes everything before `deadline`; false on an error or when the
    // line does not take the bytes in time.
    bool writeAll(const uint8_t* data, size_t n, Clock::time_point deadline);

    // Waits until bytes arrive or `deadline` passes and reads what is there:
    // the count (0 at the deadline), or -1 when the port failed.
    long readSome(uint8_t* buf, size_t cap, Clock::time_point deadline);

    int baud() const { return baud_; }

    // Time the line needs to move `bytes` bytes (ten bits each), rounded up.
    std::chrono::milliseconds wireTime(size_t bytes) const;

private:
    int fd_ = -1;
    int baud_ = 0;
};

}  // namespace xel::picboot
