#include "tests/support/Loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace xeltest {

namespace {

bool canBind(const std::string& address, int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

LoopbackLease::LoopbackLease(int port) : port_(port) {
    // Start from a per-process offset so parallel tests rarely contend for a lock.
    const int span = 250;
    const int start = static_cast<int>(::getpid()) % span;
    for (int i = 0; i < span; ++i) {
        const int n = 2 + (start + i) % span;
        const std::string lockPath = "/tmp/xelor-loopback-" + std::to_string(n) + ".lock";
        int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        const std::string address = "127.0.0." + std::to_string(n);
        if (canBind(address, port)) {
            address_ = address;
            lockFd_ = fd;
            return;
        }
        ::close(fd);
    }
    throw std::runtime_error("no free loopback address for port " + std::to_string(port));
}

LoopbackLease::~LoopbackLease() {
    if (lockFd_ >= 0) ::close(lockFd_);
}

std::string binDir() { return XELOR_BIN_DIR; }
std::string libDir() { return XELOR_LIB_DIR; }

int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("no free loopback port");
    }
    ::close(fd);
    return ntohs(a.sin_port);
}

}  // namespace xeltest
