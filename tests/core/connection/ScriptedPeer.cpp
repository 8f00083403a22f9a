#include "tests/core/connection/ScriptedPeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace xeltest {

std::vector<Piece> emptyReply(const std::string&) { return {{"\r\n>", 0}}; }

ScriptedPeer::ScriptedPeer(Script script) : script_(std::move(script)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(lease_.port()));
    ::inet_pton(AF_INET, lease_.address().c_str(), &sa.sin_addr);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(listenFd_, 4) != 0)
        throw std::runtime_error("scripted peer cannot listen on " + lease_.address());
    if (::pipe2(stopPipe_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    thread_ = std::thread([this] { run(); });
}

ScriptedPeer::~ScriptedPeer() {
    (void)!::write(stopPipe_[1], "x", 1);
    thread_.join();
    ::close(listenFd_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
}

void ScriptedPeer::setScript(Script script) {
    std::lock_guard lock(mutex_);
    script_ = std::move(script);
}

std::string ScriptedPeer::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<std::string> ScriptedPeer::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

int ScriptedPeer::badChecksums() const {
    std::lock_guard lock(mutex_);
    return badChecksums_;
}

void ScriptedPeer::clear() {
    std::lock_guard lock(mutex_);
    received_.clear();
    commands_.clear();
    badChecksums_ = 0;
}

bool ScriptedPeer::waitForCommands(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return commands_.size() >= count; });
}

void ScriptedPeer::sendNow(const std::string& bytes) {
    std::lock_guard lock(mutex_);
    if (clientFd_ >= 0) (void)!::send(clientFd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

void ScriptedPeer::run() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        // Pieces go out when the script says, not when the host acknowledges the last one.
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        {
            std::lock_guard lock(mutex_);
            clientFd_ = fd;
        }
        serve(fd);
        {
            std::lock_guard lock(mutex_);
            clientFd_ = -1;
        }
        ::close(fd);
    }
}

// Serves one connection until the host closes it or the peer stops.
void ScriptedPeer::serve(int fd) {
    std::string pending;  // bytes of a frame not complete yet
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        char buf[512];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return;
        pending.append(buf, static_cast<size_t>(n));
        {
            std::lock_guard lock(mutex_);
            received_.append(buf, static_cast<size_t>(n));
        }
        // A frame is complete with the byte after its "\r".
        size_t cr;
        while ((cr = pending.find('\r')) != std::string::npos && cr + 1 < pending.size()) {
            const std::string text = pending.substr(0, cr);
            uint8_t sum = 0;
            for (char c : text) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
            const bool good = static_cast<uint8_t>(pending[cr + 1]) == sum;
            pending.erase(0, cr + 2);
            Script script;
            {
                std::lock_guard lock(mutex_);
                commands_.push_back(text);
                if (!good) ++badChecksums_;
                script = script_;
            }
            changed_.notify_all();
            for (const Piece& piece : script(text)) {
                if (piece.delayMs > 0) {
                    pollfd stop{stopPipe_[0], POLLIN, 0};
                    if (::poll(&stop, 1, piece.delayMs) > 0) return;
                }
                (void)!::send(fd, piece.bytes.data(), piece.bytes.size(), MSG_NOSIGNAL);
            }
        }
    }
}

}  // namespace xeltest
