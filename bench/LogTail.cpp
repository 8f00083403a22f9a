#include "bench/LogTail.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>
#include "xelsys/Retry.h"

namespace xelbench {

namespace {

// The log keeps bytes above 0x7F as Latin-1 in UTF-8; the bench needs only the
// hex field for raw bytes, so the texts are kept as they are.
std::string bytesOfHex(const std::string& hex) {
    std::string out;
    std::istringstream in(hex);
    for (std::string b; in >> b;) out.push_back(static_cast<char>(std::stoul(b, nullptr, 16)));
    return out;
}

}  // namespace

std::optional<LogEntry> parseLogLine(const std::string& line) {
    const auto j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return std::nullopt;
    LogEntry e;
    try {
        e.timeMs = j.value("t", 0.0);
        e.monoMs = j.value("mono", 0.0);
        e.dir = j.value("dir", "");
        e.event = j.value("event", "");
        e.text = e.event.empty() ? j.value("text", "") : j.value("detail", "");
        e.bytes = bytesOfHex(j.value("bytes", ""));
    } catch (const std::exception&) {
        return std::nullopt;  // a field of the wrong type: not a line of ours
    }
    return e;
}

LogTail::LogTail(const std::string& path) : path_(path) {
    file_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file_ < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    notify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notify_ < 0 || ::inotify_add_watch(notify_, path.c_str(), IN_MODIFY) < 0) {
        const std::string why = std::strerror(errno);
        ::close(file_);
        if (notify_ >= 0) ::close(notify_);
        throw std::runtime_error("cannot watch " + path + ": " + why);
    }
}

LogTail::~LogTail() {
    ::close(notify_);
    ::close(file_);
}

void LogTail::readNew() {
    char buffer[8192];
    for (;;) {
        const ssize_t n = xel::sys::retryOnSignal([&] { return ::pread(file_, buffer, sizeof buffer, offset_); });
        if (n <= 0) break;
        offset_ += n;
        partial_.append(buffer, static_cast<size_t>(n));
    }
    size_t at = 0, newline;
    while ((newline = partial_.find('\n', at)) != std::string::npos) {
        if (auto e = parseLogLine(partial_.substr(at, newline - at))) ready_.push_back(std::move(*e));
        at = newline + 1;
    }
    partial_.erase(0, at);
}

std::vector<LogEntry> LogTail::poll() {
    readNew();
    std::vector<LogEntry> entries(std::make_move_iterator(ready_.begin()), std::make_move_iterator(ready_.end()));
    ready_.clear();
    return entries;
}

std::optional<LogTail::Seen> LogTail::waitFor(const std::function<bool(const LogEntry&)>& match,
                                              std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        // Events are drained before the file is read, so a write that lands in
        // between wakes the next wait instead of being missed.
        char events[4096];
        while (::read(notify_, events, sizeof events) > 0) {}
        readNew();
        while (!ready_.empty()) {
            LogEntry e = std::move(ready_.front());
            ready_.pop_front();
            if (match(e)) return Seen{std::move(e), Clock::now()};
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return std::nullopt;
        pollfd p{notify_, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left));
    }
}

}  // namespace xelbench
