#include "tools/xelsim/EventLoop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace xelsim {

using namespace std::chrono;

namespace {

// More than this much unsent output means nobody reads the line; later replies are dropped.
constexpr std::size_t kMaxQueued = 1 << 20;

void printLine(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

EventLoop::EventLoop(Transport& transport, SessionHandler& handler, FrontPanel& panel, JsonLog& log, int baud,
                     std::vector<ScriptLine> script)
    : transport_(transport),
      handler_(handler),
      panel_(panel),
      log_(log),
      script_(std::move(script)),
      start_(Clock::now()) {
    // A byte on a serial line is ten bits: start, eight data, stop.
    if (baud > 0) byteTime_ = nanoseconds(10'000'000'000LL / baud);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    signalFd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd_ < 0) throw std::runtime_error(std::string("cannot watch signals: ") + std::strerror(errno));
    ::fcntl(STDIN_FILENO, F_SETFL, ::fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    lastDue_ = nextByteAt_ = start_;
}

EventLoop::~EventLoop() {
    if (signalFd_ >= 0) ::close(signalFd_);
}

void EventLoop::send(std::string bytes, milliseconds after) {
    if (bytes.empty()) return;
    if (queuedBytes_ + bytes.size() > kMaxQueued) {
        log_.event("overflow", "reply discarded: the host reads nothing");
        return;
    }
    Pending p;
    p.notBefore = std::max(Clock::now() + after, lastDue_);
    lastDue_ = p.notBefore;
    queuedBytes_ += bytes.size();
    p.bytes = std::move(bytes);
    queue_.push_back(std::move(p));
}

void EventLoop::end(LinkEnd how) {
    Pending p;
    p.isEnd = true;
    p.how = how;
    p.notBefore = std::max(Clock::now(), lastDue_);
    queue_.push_back(std::move(p));
    ending_ = true;
}

void EventLoop::startSession(const std::string& peer) {
    ending_ = false;
    handler_.sessionStarted(peer);
}

void EventLoop::finishEnd(LinkEnd how) {
    queue_.clear();
    queuedBytes_ = 0;
    blocked_ = false;
    if (transport_.linkFd() >= 0) {
        handler_.sessionEnded(how == LinkEnd::Reset   ? "unit reset"
                              : how == LinkEnd::Abort ? "link reset"
                                                      : "link dropped");
        if (auto next = transport_.end(how)) {
            startSession(*next);
            return;
        }
    }
    ending_ = false;
}

EventLoop::Clock::time_point EventLoop::pump() {
    while (!queue_.empty()) {
        Pending& p = queue_.front();
        const auto now = Clock::now();
        if (now < p.notBefore) return p.notBefore;
        if (p.isEnd) {
            const LinkEnd how = p.how;
            finishEnd(how);
            continue;
        }
        if (transport_.linkFd() < 0) {  // nobody to send to
            queuedBytes_ -= p.bytes.size() - p.offset;
            queue_.pop_front();
            continue;
        }
        std::size_t allowed = p.bytes.size() - p.offset;
        Clock::time_point first = now;
        if (byteTime_.count() > 0) {
            // Byte k of a burst leaves no earlier than k byte times after the first.
            first = std::max(nextByteAt_, p.notBefore);
            if (now < first) return first;
            allowed = std::min<std::size_t>(allowed, static_cast<std::size_t>((now - first) / byteTime_) + 1);
        }
        const ssize_t n = transport_.write(reinterpret_cast<const std::uint8_t*>(p.bytes.data()) + p.offset, allowed);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                blocked_ = true;
                return Clock::time_point::max();
            }
            // The host is gone; the read side reports it.
            queue_.clear();
            queuedBytes_ = 0;
            return Clock::time_point::max();
        }
        blocked_ = false;
        if (byteTime_.count() > 0) nextByteAt_ = first + byteTime_ * n;
        p.offset += static_cast<std::size_t>(n);
        queuedBytes_ -= static_cast<std::size_t>(n);
        if (p.offset == p.bytes.size()) queue_.pop_front();
    }
    return Clock::time_point::max();
}

void EventLoop::readLink() {
    std::uint8_t buf[4096];
    for (;;) {
        const ssize_t n = transport_.read(buf, sizeof buf);
        if (n > 0) {
            if (!ending_) handler_.received(std::span<const std::uint8_t>(buf, static_cast<std::size_t>(n)), *this);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n < 0 && errno == EINTR) continue;
        // The host hung up (or the link failed under it).
        queue_.clear();
        queuedBytes_ = 0;
        blocked_ = false;
        handler_.sessionEnded(n == 0 ? "host closed" : std::string("link error: ") + std::strerror(errno));
        ending_ = false;
        if (auto next = transport_.hungUp()) startSession(*next);
        return;
    }
}

void EventLoop::runPanel(const std::string& line, bool fromScript) {
    const std::string answer = panel_.execute(line, *this, quit_);
    if (fromScript)
        std::fprintf(stderr, "xelsim: script: %s: %s\n", line.c_str(), answer.c_str());
    else
        printLine(answer);
}

void EventLoop::readStdin() {
    char buf[1024];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n > 0) {
            stdinBuf_.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) stdinOpen_ = false;  // keep running without it
        break;
    }
    std::size_t nl;
    while (!quit_ && (nl = stdinBuf_.find('\n')) != std::string::npos) {
        std::string line = stdinBuf_.substr(0, nl);
        stdinBuf_.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        runPanel(line, false);
    }
}

int EventLoop::run() {
    printLine(transport_.readyLine());
    if (auto session = transport_.initialSession()) startSession(*session);
    while (!quit_) {
        Clock::time_point wake = pump();
        if (nextScript_ < script_.size()) wake = std::min(wake, start_ + milliseconds(script_[nextScript_].atMs));

        std::vector<pollfd> fds;
        fds.push_back({signalFd_, POLLIN, 0});
        const int stdinIndex = stdinOpen_ ? static_cast<int>(fds.size()) : -1;
        if (stdinOpen_) fds.push_back({STDIN_FILENO, POLLIN, 0});
        int linkIndex = -1;
        if (transport_.linkFd() >= 0) {
            linkIndex = static_cast<int>(fds.size());
            // Keep reading while a session ends, to see a hang-up; the bytes are discarded.
            fds.push_back({transport_.linkFd(), static_cast<short>(POLLIN | (blocked_ ? POLLOUT : 0)), 0});
        }
        int listenIndex = -1;
        if (transport_.listenFd() >= 0) {
            listenIndex = static_cast<int>(fds.size());
            fds.push_back({transport_.listenFd(), POLLIN, 0});
        }

        timespec ts{};
        timespec* timeout = nullptr;
        if (wake != Clock::time_point::max()) {
            const auto left = std::max(nanoseconds(0), duration_cast<nanoseconds>(wake - Clock::now()));
            ts.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
            ts.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
            timeout = &ts;
        }
        if (::ppoll(fds.data(), fds.size(), timeout, nullptr) < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "xelsim: poll failed: %s\n", std::strerror(errno));
            return 1;
        }

        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            if (::read(signalFd_, &info, sizeof info) > 0) {
                log_.event("stop", info.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM");
                break;
            }
        }
        // The link before the listener: a host that closed and reconnects must be seen
        // leaving before its new connection is taken.
        if (linkIndex >= 0 && (fds[linkIndex].revents & (POLLIN | POLLHUP | POLLERR))) readLink();
        if (linkIndex >= 0 && (fds[linkIndex].revents & POLLOUT)) blocked_ = false;
        if (listenIndex >= 0 && (fds[listenIndex].revents & POLLIN)) {
            if (auto peer = transport_.accept()) startSession(*peer);
        }
        if (stdinIndex >= 0 && (fds[stdinIndex].revents & (POLLIN | POLLHUP | POLLERR))) readStdin();
        while (!quit_ && nextScript_ < script_.size() &&
               Clock::now() >= start_ + milliseconds(script_[nextScript_].atMs)) {
            runPanel(script_[nextScript_++].command, true);
        }
    }
    if (quit_) log_.event("stop", "quit");
    return 0;
}

}  // namespace xelsim
