#include "platform/picboot/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "xelsys/Deadline.h"
#include "xelsys/Retry.h"
#include "xelsys/SerialLine.h"

namespace xel::picboot {

SerialPort::~SerialPort() { close(); }

bool SerialPort::open(const std::string& path, int baud) {
    close();
    if (baud <= 0 || sys::speedFor(static_cast<uint32_t>(baud)) == B0 || path.empty()) return false;
    const int fd = sys::retryOnSignal([&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) return false;
    auto fail = [fd] {
        ::close(fd);
        return false;
    };
    if (!::isatty(fd)) return fail();
    // Exclusive: neither another process's link nor a second channel may share the line.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail();

    // The bootloader's line: 8N1, no flow control, DTR dropped.
    sys::LineSettings line;
    line.baud = static_cast<uint32_t>(baud);
    line.lowerDtr = true;
    if (sys::configureLine(fd, line) != sys::LineResult::Ok) return fail();
    ::tcflush(fd, TCIOFLUSH);
    if (::ioctl(fd, TIOCEXCL) != 0) return fail();
    fd_ = fd;
    baud_ = baud;
    return true;
}

void SerialPort::close() {
    if (fd_ >= 0) {
        // The exclusive flag belongs to the line, not to this descriptor: clear
        // it so the next user (the link, a new channel) can open the line again.
        (void)::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
    }
}

bool SerialPort::writeAll(const uint8_t* data, size_t n, Clock::time_point deadline) {
    if (fd_ < 0) return false;
    size_t done = 0;
    while (done < n) {
        const ssize_t w = sys::retryOnSignal([&] { return ::write(fd_, data + done, n - done); });
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN) return false;
        const int wait = sys::msUntil(deadline);
        if (wait == 0) return false;
        pollfd p{fd_, POLLOUT, 0};
        const int r = sys::retryOnSignal([&] { return ::poll(&p, 1, wait); });
        if (r < 0 || (p.revents & (POLLERR | POLLNVAL))) return false;
    }
    return true;
}

long SerialPort::readSome(uint8_t* buf, size_t cap, Clock::time_point deadline) {
    if (fd_ < 0) return -1;
    for (;;) {
        const ssize_t r = sys::retryOnSignal([&] { return ::read(fd_, buf, cap); });
        if (r > 0) return static_cast<long>(r);
        if (r < 0 && errno != EAGAIN) return -1;
        // r == 0: nothing there on a raw line with VMIN 0; wait for more.
        const int wait = sys::msUntil(deadline);
        if (wait == 0) return 0;
        pollfd p{fd_, POLLIN, 0};
        const int pr = sys::retryOnSignal([&] { return ::poll(&p, 1, wait); });
        if (pr < 0 || (p.revents & (POLLERR | POLLNVAL))) return -1;
        if (pr == 0) return 0;
        if ((p.revents & POLLHUP) && !(p.revents & POLLIN)) return -1;
    }
}

std::chrono::milliseconds SerialPort::wireTime(size_t bytes) const {
    if (baud_ <= 0) return std::chrono::milliseconds(0);
    const long long bits = static_cast<long long>(bytes) * 10;
    return std::chrono::milliseconds((bits * 1000 + baud_ - 1) / baud_);
}

}  // namespace xel::picboot
