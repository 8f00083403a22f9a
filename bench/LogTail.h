// Follows xelsim's frame log (one JSON object per line) as it grows, so a
// measurement can see the moment a frame reaches the unit: the log line is
// written when xelsim takes the frame off the line, and inotify wakes the
// reader at once.
//
// Thread contract: one thread uses a LogTail.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace xelbench {

struct LogEntry {
    double timeMs = 0;  // xelsim's clock, since it started
    double monoMs = 0;  // the machine's monotonic clock (steady_clock), frames only
    std::string dir;    // "rx" from the host, "tx" to it, "" for an event
    std::string event;  // events only
    std::string text;   // rx: the command without "\r"; tx: the reply
    std::string bytes;  // the raw bytes of the frame or reply
};

// One line of the log; none when it is not a JSON object.
std::optional<LogEntry> parseLogLine(const std::string& line);

class LogTail {
public:
    using Clock = std::chrono::steady_clock;

    // Starts at the beginning of the file (which must exist).
    explicit LogTail(const std::string& path);
    ~LogTail();
    LogTail(const LogTail&) = delete;
    LogTail& operator=(const LogTail&) = delete;

    // The complete lines added since the last call (a line still being written
    // waits for its newline).
    std::vector<LogEntry> poll();

    struct Seen {
        LogEntry entry;
        Clock::time_point at;  // when this process saw it
    };
    // Reads on until an entry not yet handed out satisfies `match`; the entries
    // up to it are consumed, those after it are kept for the next call. None
    // after `limit`.
    std::optional<Seen> waitFor(const std::function<bool(const LogEntry&)>& match, std::chrono::milliseconds limit);

private:
    void readNew();

    std::string path_;
    int file_ = -1;
    int notify_ = -1;
    long long offset_ = 0;
    std::string partial_;
    std::deque<LogEntry> ready_;
};

}  // namespace xelbench
