#include "platform/picboot/SerialPort.h"

#include "platform/machine/MachinePaths.h"

#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace xel::picboot {

namespace {

// Retries a system call that was interrupted by a signal.
template <typename F>
auto retryOnEintr(F f) {
    for (;;) {
        auto r = f();
        if (!(r < 0 && errno == EINTR)) return r;
    }
}

std::string configRoot() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/xelor";
    const char* home = std::getenv("HOME");
    if (home && home[0] != '\0') return std::string(home) + "/.config/xelor";
    return {};
}

// COMn with n >= 1, any letter case: n - 1, else -1.
long comNumber(std::string_view name) {
    if (name.size() < 4 || ::strncasecmp(name.data(), "COM", 3) != 0) return -1;
    long n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || n > 100000) return -1;
        n = n * 10 + (name[i] - '0');
    }
    return n >= 1 ? n - 1 : -1;
}

speed_t speedFor(int baud) {
    switch (baud) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        case 460800: return B460800;
        case 921600: return B921600;
        default: return 0;
    }
}

int msUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

}  // namespace

std::string resolvePortName(std::string_view name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string_view::npos) return std::string(name);
    if (name == "." || name == "..") return {};
    if (std::string mapped = machine::mappedPort(configRoot(), name); !mapped.empty()) return mapped;
    if (const long n = comNumber(name); n >= 0) return "/dev/ttyS" + std::to_string(n);
    return "/dev/" + std::string(name);
}

SerialPort::~SerialPort() { close(); }

bool SerialPort::open(const std::string& path, int baud) {
    close();
    const speed_t speed = speedFor(baud);
    if (speed == 0 || path.empty()) return false;
    const int fd = retryOnEintr([&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) return false;
    auto fail = [fd] {
        ::close(fd);
        return false;
    };
    if (!::isatty(fd)) return fail();
    // Exclusive: neither another process's link nor a second channel may share the line.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail();

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return fail();
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CRTSCTS | HUPCL | CSTOPB | PARENB);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0) return fail();
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) return fail();
    // Lines without modem signals (adapters, pseudo-terminals) refuse this; harmless.
    int dtr = TIOCM_DTR;
    (void)::ioctl(fd, TIOCMBIC, &dtr);
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
        const ssize_t w = retryOnEintr([&] { return ::write(fd_, data + done, n - done); });
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN) return false;
        const int wait = msUntil(deadline);
        if (wait == 0) return false;
        pollfd p{fd_, POLLOUT, 0};
        const int r = retryOnEintr([&] { return ::poll(&p, 1, wait); });
        if (r < 0 || (p.revents & (POLLERR | POLLNVAL))) return false;
    }
    return true;
}

long SerialPort::readSome(uint8_t* buf, size_t cap, Clock::time_point deadline) {
    if (fd_ < 0) return -1;
    for (;;) {
        const ssize_t r = retryOnEintr([&] { return ::read(fd_, buf, cap); });
        if (r > 0) return static_cast<long>(r);
        if (r < 0 && errno != EAGAIN) return -1;
        // r == 0: nothing there on a raw line with VMIN 0; wait for more.
        const int wait = msUntil(deadline);
        if (wait == 0) return 0;
        pollfd p{fd_, POLLIN, 0};
        const int pr = retryOnEintr([&] { return ::poll(&p, 1, wait); });
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
