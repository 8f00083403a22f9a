#include "tools/xelctl/HttpClient.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <http_parser.h>

#include "xelsys/Retry.h"

namespace xelctl {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kIdleSliceMs = 1000;

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

// Waits for `events` on `fd` for at most `ms`; false on a time-out.
bool waitFor(int fd, short events, int ms) {
    pollfd p{fd, events, 0};
    const int n = xel::sys::retryOnSignal([&] { return ::poll(&p, 1, ms); });
    return n != 0;  // on an error, the next call reports it
}

// Connects `fd` to `addr` within `ms`; "" or the reason.
std::string connectWithin(int fd, const sockaddr* addr, socklen_t len, int ms) {
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    if (::connect(fd, addr, len) != 0) {
        if (errno != EINPROGRESS) return std::strerror(errno);
        if (!waitFor(fd, POLLOUT, ms)) return "no answer within " + std::to_string(ms / 1000) + " s";
        int err = 0;
        socklen_t errLen = sizeof err;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &errLen);
        if (err != 0) return std::strerror(err);
    }
    ::fcntl(fd, F_SETFL, flags);
    return {};
}

bool sendAll(int fd, const std::string& data) {
    for (size_t sent = 0; sent < data.size();) {
        const ssize_t n =
            xel::sys::retryOnSignal([&] { return ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL); });
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

struct Reading {
    HttpResponse response;
    std::function<bool(const char*, size_t)> onBody;
    bool complete = false;
    bool stopped = false;
};

int onBody(http_parser* p, const char* at, size_t length) {
    auto* r = static_cast<Reading*>(p->data);
    // Only a stream's own data goes to the sink; an error's text is kept for the message.
    if (!r->onBody || p->status_code != 200) {
        r->response.body.append(at, length);
        return 0;
    }
    if (r->onBody(at, length)) return 0;
    r->stopped = true;
    return 1;
}

int onComplete(http_parser* p) {
    auto* r = static_cast<Reading*>(p->data);
    r->response.status = static_cast<int>(p->status_code);
    r->complete = true;
    http_parser_pause(p, 1);  // nothing after the one response is read
    return 0;
}

}  // namespace

HttpClient::HttpClient(std::string host, int port, std::string unixPath)
    : host_(std::move(host)), port_(port), unixPath_(std::move(unixPath)) {}

int HttpClient::connectSocket(std::string& error) const {
    if (!unixPath_.empty()) {
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        if (unixPath_.size() >= sizeof a.sun_path) {
            error = "the socket path is too long";
            return -1;
        }
        std::memcpy(a.sun_path, unixPath_.c_str(), unixPath_.size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = std::strerror(errno);
            return -1;
        }
        error = connectWithin(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a, connectMs_);
        if (error.empty()) return fd;
        ::close(fd);
        return -1;
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(port_);
    if (const int rc = ::getaddrinfo(host_.c_str(), port.c_str(), &hints, &found); rc != 0) {
        error = ::gai_strerror(rc);
        return -1;
    }
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            error = std::strerror(errno);
            continue;
        }
        error = connectWithin(fd, a->ai_addr, a->ai_addrlen, connectMs_);
        if (!error.empty()) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd >= 0) {
        // The request goes out in one write; nothing waits to be coalesced.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return fd;
}

HttpResult HttpClient::request(const std::string& method, const std::string& target, const Headers& headers,
                               const std::string& body, const std::string& contentType,
                               std::function<bool(const char*, size_t)> bodySink, std::function<bool()> idle) {
    HttpResult result;
    Fd socket;
    socket.fd = connectSocket(result.error);
    if (socket.fd < 0) return result;

    std::string head = method + " " + target + " HTTP/1.1\r\n";
    for (const auto& [name, value] : headers) head += name + ": " + value + "\r\n";
    head += "Connection: close\r\n";
    if (!contentType.empty()) head += "Content-Type: " + contentType + "\r\n";
    if (method == "PUT" || method == "POST" || !body.empty())
        head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    head += "\r\n";
    if (!sendAll(socket.fd, head + body)) {
        result.error = std::string("cannot send the request: ") + std::strerror(errno);
        return result;
    }

    http_parser_settings settings;
    http_parser_settings_init(&settings);
    settings.on_body = onBody;
    settings.on_message_complete = onComplete;
    http_parser parser;
    http_parser_init(&parser, HTTP_RESPONSE);
    Reading reading;
    reading.onBody = std::move(bodySink);
    parser.data = &reading;

    auto quietSince = Clock::now();
    char buffer[16384];
    while (!reading.complete) {
        const int slice = idle ? std::min(kIdleSliceMs, readMs_) : readMs_;
        if (!waitFor(socket.fd, POLLIN, slice)) {
            if (idle && !idle()) {
                result.stopped = true;
                return result;
            }
            if (Clock::now() - quietSince >= std::chrono::milliseconds(readMs_)) {
                result.timedOut = true;
                result.error = "no answer within " + std::to_string(readMs_ / 1000) + " s";
                return result;
            }
            continue;
        }
        const ssize_t n = xel::sys::retryOnSignal([&] { return ::recv(socket.fd, buffer, sizeof buffer, 0); });
        if (n < 0) {
            result.error = std::string("cannot read the answer: ") + std::strerror(errno);
            return result;
        }
        quietSince = Clock::now();
        // Zero bytes: the server closed; the parser ends a body read to the close.
        http_parser_execute(&parser, &settings, n > 0 ? buffer : nullptr, static_cast<size_t>(n));
        if (reading.stopped) {
            result.stopped = true;
            return result;
        }
        if (n == 0 && !reading.complete) {
            result.error = "the server closed the connection before it had answered";
            return result;
        }
        const auto err = static_cast<http_errno>(parser.http_errno);
        if (err != HPE_OK && err != HPE_PAUSED) {
            result.error = std::string("not an HTTP answer (") + http_errno_description(err) + ")";
            return result;
        }
    }
    result.response = std::move(reading.response);
    return result;
}

}  // namespace xelctl
