#include "linkdriver/Transport.h"

#include <strings.h>

#include <cstring>

#include "linkdriver/Timing.h"
#include "xelsys/Event.h"

namespace xel::link {

namespace {

struct TransportKind {
    const char* selector;
    OpenTransport open;
};

constexpr TransportKind kKinds[] = {
    {"TCP/IP", openTcp},
    {"USB", openUsb},
};

}  // namespace

OpenTransport transportFor(const char* port, size_t portSize) {
    const size_t length = ::strnlen(port, portSize);
    for (const TransportKind& kind : kKinds)
        if (std::strlen(kind.selector) == length && ::strncasecmp(port, kind.selector, length) == 0) return kind.open;
    return openSerial;
}

IoResult sendWithin(int fd, const uint8_t* bytes, size_t count, int stopFd,
                    long (*sendSome)(int, const uint8_t*, size_t), uint32_t (*mapError)(int)) {
    const auto deadline = sys::Clock::now() + kDeviceWriteLimit;
    size_t done = 0;
    while (done < count) {
        const long n = sys::retryOnSignal([&] { return sendSome(fd, bytes + done, count - done); });
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && !sys::wouldBlock(errno)) return {done, mapError(errno)};
        if (!sys::waitFor(fd, POLLOUT, deadline, stopFd)) return {done, XELCOMM_ERROR_SEND};
    }
    return {done, XELCOMM_ERROR_NONE};
}

}  // namespace xel::link
