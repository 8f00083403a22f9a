#include "core/connection/Trace.h"

#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "xelsys/Retry.h"

namespace xel::core {

namespace {

bool loadSwitch() noexcept {
    const char* value = std::getenv("XELOR_TRACE");
    return value && *value && std::strcmp(value, "0") != 0;
}

// Read once when the library loads, like the timing switch.
const bool g_trace = loadSwitch();

}  // namespace

bool traceEnabled() noexcept { return g_trace; }

std::string traceEscape(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + 8);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\\': out += "\\\\"; break;
            default:
                if (c >= 0x20 && c < 0x7F) {
                    out += ch;
                } else {
                    char hex[5];
                    std::snprintf(hex, sizeof hex, "\\x%02X", c);
                    out += hex;
                }
        }
    }
    return out;
}

void traceBytes(char direction, std::string_view bytes, std::string_view note) noexcept {
    if (!g_trace) return;
    try {
        timeval now{};
        ::gettimeofday(&now, nullptr);
        tm local{};
        ::localtime_r(&now.tv_sec, &local);
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03ld ", local.tm_hour, local.tm_min, local.tm_sec,
                      static_cast<long>(now.tv_usec / 1000));
        std::string line = stamp;
        line += direction;
        line += ' ';
        line += traceEscape(bytes);
        if (!note.empty()) {
            line += bytes.empty() ? "(" : " (";
            line += note;
            line += ')';
        }
        line += '\n';
        // One write per line; a short write to a full pipe is simply cut.
        (void)sys::retryOnSignal([&] { return ::write(STDERR_FILENO, line.data(), line.size()); });
    } catch (...) {
        // A trace line that cannot be built is dropped; the exchange goes on.
    }
}

}  // namespace xel::core
