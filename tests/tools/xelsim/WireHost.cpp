#include "tests/tools/xelsim/WireHost.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include "xelsys/Retry.h"

namespace xelsimtest {

namespace {

int remaining(Clock::time_point deadline) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return ms > 0 ? static_cast<int>(ms) : 0;
}

}  // namespace

std::unique_ptr<WireHost> WireHost::tcp(const std::string& address, int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        const std::string why = std::strerror(errno);
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("cannot connect to " + address + ":" + std::to_string(port) + ": " + why);
    }
    return std::unique_ptr<WireHost>(new WireHost(fd, true));
}

std::unique_ptr<WireHost> WireHost::serial(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    return std::unique_ptr<WireHost>(new WireHost(fd, false));
}

WireHost::~WireHost() { ::close(fd_); }

std::string WireHost::frame(const std::string& text) {
    unsigned sum = 0;
    for (unsigned char c : text) sum += c;
    return text + "\r" + static_cast<char>(sum & 0xFF);
}

void WireHost::send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = xel::sys::retryOnSignal([&] {
            return socket_ ? ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                           : ::write(fd_, bytes.data() + done, bytes.size() - done);
        });
        if (n < 0) throw std::runtime_error(std::string("cannot send: ") + std::strerror(errno));
        done += static_cast<std::size_t>(n);
    }
}

std::string WireHost::command(const std::string& text, int timeoutMs) {
    send(frame(text));
    std::string reply = readReply(timeoutMs);
    return !reply.empty() && reply.back() == '>' ? reply : std::string();
}

std::string WireHost::readOnce(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    const int r = xel::sys::retryOnSignal([&] { return ::poll(&p, 1, timeoutMs); });
    if (r <= 0) return {};
    char buf[1024];
    ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n <= 0) {
        closed_ = true;  // EOF on a socket, EIO on a terminal whose other side went away
        return {};
    }
    return std::string(buf, static_cast<std::size_t>(n));
}

std::string WireHost::readReply(int timeoutMs) { return readUntil(">", timeoutMs); }

std::string WireHost::readUntil(const std::string& end, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string got = std::move(pending_);
    pending_.clear();
    for (;;) {
        if (auto at = got.find(end); at != std::string::npos) {
            pending_ = got.substr(at + end.size());
            got.erase(at + end.size());
            return got;
        }
        if (closed_ || remaining(deadline) == 0) return got;
        got += readOnce(remaining(deadline));
    }
}

std::string WireHost::readFor(int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    std::string got = std::move(pending_);
    pending_.clear();
    while (!closed_ && remaining(deadline) > 0) got += readOnce(remaining(deadline));
    return got;
}

std::vector<WireHost::Chunk> WireHost::readChunks(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<Chunk> chunks;
    while (!closed_ && remaining(deadline) > 0) {
        std::string bytes = readOnce(remaining(deadline));
        if (bytes.empty()) continue;
        chunks.push_back({Clock::now(), bytes});
        if (bytes.back() == '>') break;
    }
    return chunks;
}

bool WireHost::waitClosed(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pending_.clear();
    while (!closed_ && remaining(deadline) > 0) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, remaining(deadline)) > 0 && (p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLIN)) {
            closed_ = true;  // a terminal whose master closed reports only POLLHUP
            break;
        }
        readOnce(0);
    }
    return closed_;
}

}  // namespace xelsimtest
