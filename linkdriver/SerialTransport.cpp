// Serial transport: a tty opened by port name, exclusively, with the unit's line.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

#include "linkdriver/Timing.h"
#include "linkdriver/Transport.h"
#include "xelsys/Retry.h"
#include "xelsys/SerialLine.h"
#include "xelsys/SerialName.h"

namespace xel::link {

namespace {

// The unit's line: raw bytes; output held back while CTS is low (CRTSCTS also
// drives RTS, Linux has no RTS toggle mode); modem status ignored; the line
// stays up when the port closes; DTR dropped. Failures here are not fatal: a
// device that refuses a setting is used as it is.
void setLine(int fd, const CommSettings& settings) {
    sys::LineSettings line;
    line.baud = settings.baudRate;
    line.dataBits = settings.dataBits;
    line.parity = settings.parity;
    line.stopBits = settings.stopBits;
    line.ctsFlow = true;
    line.lowerDtr = true;
    (void)sys::configureLine(fd, line);
}

long writeSome(int fd, const uint8_t* bytes, size_t count) { return ::write(fd, bytes, count); }

uint32_t sendError(int) { return XELCOMM_ERROR_SEND; }

class SerialTransport final : public Transport {
public:
    explicit SerialTransport(int fd) : fd_(fd) {}
    ~SerialTransport() override {
        // Abort what is still queued either way, so the close cannot wait on a
        // line held back by CTS.
        tcflush(fd_, TCIOFLUSH);
        ::close(fd_);
    }

    int readableFd() const override { return fd_; }

    IoResult receive(uint8_t* buffer, size_t capacity) override {
        const ssize_t n = sys::retryOnSignal([&] { return ::read(fd_, buffer, capacity); });
        if (n >= 0) return {static_cast<size_t>(n), XELCOMM_ERROR_NONE};
        return {0, sys::wouldBlock(errno) ? XELCOMM_ERROR_NONE : XELCOMM_ERROR_RECEIVE};
    }

    IoResult send(const uint8_t* bytes, size_t count, int stopFd) override {
        return sendWithin(fd_, bytes, count, stopFd, writeSome, sendError);
    }

private:
    int fd_;
};

}  // namespace

std::unique_ptr<Transport> openSerial(const CommSettings& settings, uint32_t& error) {
    const std::string name(settings.port, ::strnlen(settings.port, sizeof settings.port));
    const std::string path = sys::resolveSerialName(name);
    int fd = path.empty()
                 ? -1
                 : sys::retryOnSignal([&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    // TIOCEXCL keeps other openers out, except root; the lock keeps out every other
    // channel of this driver, root included.
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) {
        error = XELCOMM_ERROR_OPEN;
        return nullptr;
    }
    ::ioctl(fd, TIOCEXCL);
    setLine(fd, settings);
    return std::make_unique<SerialTransport>(fd);
}

}  // namespace xel::link
