#include "bench/EchoPeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>
#include "xelsys/Deadline.h"
#include "xelsys/Retry.h"

namespace xelbench {

namespace {

using Clock = std::chrono::steady_clock;

// Nothing of a bare round trip takes this long; reaching it means the line broke.
constexpr auto kStallLimit = std::chrono::seconds(5);

std::runtime_error systemFailure(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

bool writeAll(int fd, const std::string& bytes, Clock::time_point deadline) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            xel::sys::retryOnSignal([&] { return ::write(fd, bytes.data() + done, bytes.size() - done); });
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN) return false;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, xel::sys::msUntil(deadline)) <= 0) return false;
    }
    return true;
}

// Reads exactly `count` bytes into `into` (replacing its contents).
bool readExactly(int fd, size_t count, Clock::time_point deadline, std::string& into) {
    into.resize(count);
    size_t got = 0;
    while (got < count) {
        const ssize_t n = xel::sys::retryOnSignal([&] { return ::read(fd, into.data() + got, count - got); });
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) return false;
        if (errno != EAGAIN) return false;
        pollfd p{fd, POLLIN, 0};
        const int r = xel::sys::retryOnSignal([&] { return ::poll(&p, 1, xel::sys::msUntil(deadline)); });
        if (r <= 0) return false;
    }
    return true;
}

void setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

void noDelay(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

std::vector<std::string> splitReply(const std::string& reply, size_t count) {
    if (count < 2 || reply.size() < 2) return {reply};
    const size_t pieces = std::min(count, reply.size());
    std::vector<std::string> out;
    size_t at = 0;
    for (size_t i = 0; i < pieces; ++i) {
        const size_t end = reply.size() * (i + 1) / pieces;
        out.push_back(reply.substr(at, end - at));
        at = end;
    }
    return out;
}

EchoLink::~EchoLink() {
    ::close(client_);
    ::close(peer_);
}

std::unique_ptr<EchoLink> EchoLink::tcp() {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) throw systemFailure("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const auto failure = systemFailure("cannot listen on the loopback interface");
        ::close(listener);
        throw failure;
    }
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (client < 0 || ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const auto failure = systemFailure("cannot connect on the loopback interface");
        if (client >= 0) ::close(client);
        ::close(listener);
        throw failure;
    }
    const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listener);
    if (peer < 0) {
        const auto failure = systemFailure("accept");
        ::close(client);
        throw failure;
    }
    for (int fd : {client, peer}) {
        noDelay(fd);
        setNonBlocking(fd);
    }
    return std::unique_ptr<EchoLink>(new EchoLink(client, peer));
}

std::unique_ptr<EchoLink> EchoLink::pty() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) throw systemFailure("posix_openpt");
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
        const auto failure = systemFailure("cannot prepare a pseudo-terminal");
        ::close(master);
        throw failure;
    }
    const int terminal = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0) {
        const auto failure = systemFailure(std::string("cannot open ") + name);
        ::close(master);
        throw failure;
    }
    termios t{};
    ::tcgetattr(terminal, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(terminal, TCSANOW, &t);
    setNonBlocking(terminal);
    setNonBlocking(master);
    return std::unique_ptr<EchoLink>(new EchoLink(terminal, master));
}

std::vector<double> EchoLink::roundTrips(const EchoScript& script, int rounds) {
    std::atomic<bool> peerFailed{false};
    std::thread peer([&] {
        std::string frame;
        for (int i = 0; i < rounds; ++i) {
            if (!readExactly(peer_, script.frame.size(), Clock::now() + kStallLimit, frame) || frame != script.frame) {
                peerFailed = true;
                return;
            }
            const auto arrived = Clock::now();
            for (size_t k = 0; k < script.pieces.size(); ++k) {
                if (k > 0) std::this_thread::sleep_until(arrived + script.gap * static_cast<int>(k));
                if (!writeAll(peer_, script.pieces[k], Clock::now() + kStallLimit)) {
                    peerFailed = true;
                    return;
                }
            }
        }
    });

    std::string reply;
    for (const std::string& piece : script.pieces) reply += piece;
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(rounds));
    std::string got;
    bool ok = true;
    for (int i = 0; i < rounds && ok; ++i) {
        const auto start = Clock::now();
        ok = writeAll(client_, script.frame, start + kStallLimit) &&
             readExactly(client_, reply.size(), start + kStallLimit, got);
        if (ok) samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        // A line that changes the bytes (a terminal not in raw mode) measures nothing.
        ok = ok && got == reply;
    }
    // A client that gave up leaves the peer waiting for a frame: unblock it.
    if (!ok) ::shutdown(peer_, SHUT_RDWR);
    peer.join();
    if (!ok || peerFailed) throw std::runtime_error("the bare echo stalled, broke or changed the bytes");
    return samples;
}

}  // namespace xelbench
