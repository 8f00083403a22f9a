#include "tools/xelsim/Transport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace xelsim {

namespace {

std::string peerName(const sockaddr_in& sa) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(sa.sin_port));
}

class TcpTransport final : public Transport {
public:
    TcpTransport(const std::string& address, int port) : address_(address) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<std::uint16_t>(port));
        if (port < 0 || port > 65535 || ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1)
            throw std::runtime_error("not an IPv4 address and port: " + address + ":" + std::to_string(port));
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (listen_ < 0) throw std::runtime_error(std::string("cannot create a socket: ") + std::strerror(errno));
        int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(listen_, 4) != 0) {
            const std::string why = std::strerror(errno);
            ::close(listen_);
            throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port) + ": " + why);
        }
        socklen_t len = sizeof sa;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&sa), &len);
        port_ = ntohs(sa.sin_port);
    }

    ~TcpTransport() override {
        if (client_ >= 0) ::close(client_);
        ::close(listen_);
    }

    std::string readyLine() const override { return "xelsim: listening on " + address_ + ":" + std::to_string(port_); }
    int listenFd() const override { return listen_; }
    int linkFd() const override { return client_; }

    std::optional<std::string> accept() override {
        if (client_ >= 0) {
            // The host we serve may have closed just before reconnecting: leave the new
            // connection waiting until the loop has read that close.
            std::uint8_t b;
            if (::recv(client_, &b, 1, MSG_PEEK | MSG_DONTWAIT) == 0) return std::nullopt;
        }
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        int fd = ::accept4(listen_, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return std::nullopt;
        if (client_ >= 0) {
            // One host at a time, like the unit's network port.
            std::fprintf(stderr, "xelsim: turned away %s: another host is connected\n", peerName(sa).c_str());
            ::close(fd);
            return std::nullopt;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        client_ = fd;
        return peerName(sa);
    }

    ssize_t read(std::uint8_t* buf, std::size_t size) override { return ::recv(client_, buf, size, 0); }
    ssize_t write(const std::uint8_t* buf, std::size_t size) override {
        return ::send(client_, buf, size, MSG_NOSIGNAL);
    }

    std::optional<std::string> end(LinkEnd how) override {
        if (how == LinkEnd::Abort && client_ >= 0) {
            // A zero linger time makes the close send RST: the host's next receive
            // fails with ECONNRESET instead of seeing an orderly end.
            const linger abortive{1, 0};
            ::setsockopt(client_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        }
        closeClient();
        return std::nullopt;
    }
    std::optional<std::string> hungUp() override {
        closeClient();
        return std::nullopt;
    }

private:
    void closeClient() {
        if (client_ >= 0) ::close(client_);
        client_ = -1;
    }

    std::string address_;
    int port_ = 0;
    int listen_ = -1;
    int client_ = -1;
};

}  // namespace

std::unique_ptr<Transport> makeTcpTransport(const std::string& address, int port) {
    return std::make_unique<TcpTransport>(address, port);
}

}  // namespace xelsim
