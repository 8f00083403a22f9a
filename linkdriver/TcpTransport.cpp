// TCP transport: IPv4 to the unit's port 10001.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "linkdriver/Timing.h"
#include "linkdriver/Transport.h"
#include "xelsys/Event.h"

namespace xel::link {

namespace {

constexpr uint16_t kUnitPort = 10001;
constexpr size_t kReceiveSize = 1024;  // one receive takes at most this much

// A dotted address is taken as it is, without a look-up; anything else is looked
// up and the first IPv4 address of the answer is used.
bool resolve(const std::string& host, in_addr& address) {
    if (::inet_aton(host.c_str(), &address) != 0) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* answer = nullptr;
    if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &answer) != 0 || !answer) return false;
    address = reinterpret_cast<const sockaddr_in*>(answer->ai_addr)->sin_addr;
    ::freeaddrinfo(answer);
    return true;
}

// Connects the non-blocking socket, waiting at most the connect limit.
bool connectWithin(int fd, const in_addr& address) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(kUnitPort);
    peer.sin_addr = address;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return true;
    if (errno != EINPROGRESS && errno != EINTR) return false;
    if (!sys::waitFor(fd, POLLOUT, sys::Clock::now() + kConnectLimit, -1)) return false;
    int soError = 0;
    socklen_t length = sizeof soError;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) == 0 && soError == 0;
}

long sendSome(int fd, const uint8_t* bytes, size_t count) { return ::send(fd, bytes, count, MSG_NOSIGNAL); }

// A peer that reset the connection shows as a reset, or as a broken pipe once the
// reset has been taken by an earlier call.
uint32_t sendError(int err) { return (err == ECONNRESET || err == EPIPE) ? XELCOMM_ERROR_RESET : XELCOMM_ERROR_SEND; }

class TcpTransport final : public Transport {
public:
    explicit TcpTransport(int fd) : fd_(fd) {}
    ~TcpTransport() override { ::close(fd_); }

    int readableFd() const override { return fd_; }

    IoResult receive(uint8_t* buffer, size_t capacity) override {
        const size_t want = capacity < kReceiveSize ? capacity : kReceiveSize;
        const ssize_t n = sys::retryOnSignal([&] { return ::recv(fd_, buffer, want, MSG_DONTWAIT); });
        // 0 is an orderly close by the peer: nothing to deliver, and no error.
        if (n >= 0) return {static_cast<size_t>(n), XELCOMM_ERROR_NONE};
        return {0, sys::wouldBlock(errno) ? XELCOMM_ERROR_NONE : XELCOMM_ERROR_RECEIVE};
    }

    IoResult send(const uint8_t* bytes, size_t count, int stopFd) override {
        return sendWithin(fd_, bytes, count, stopFd, sendSome, sendError);
    }

    // What the socket took, also of a send that failed part-way.
    size_t countedAsSent(const IoResult& sent) const override { return sent.count; }

private:
    int fd_;
};

}  // namespace

std::unique_ptr<Transport> openTcp(const CommSettings& settings, uint32_t& error) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        error = XELCOMM_ERROR_OPEN;
        return nullptr;
    }
    auto transport = std::make_unique<TcpTransport>(fd);
    const std::string host(settings.host, ::strnlen(settings.host, sizeof settings.host));
    in_addr address{};
    if (!resolve(host, address) || !connectWithin(fd, address)) {
        error = XELCOMM_ERROR_CONNECT;
        return nullptr;
    }
    // Commands are short and each waits for its reply: send them at once.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // The unit needs this long after a connect before it takes commands.
    std::this_thread::sleep_for(timing().tcpSettle);
    return transport;
}

}  // namespace xel::link
