#include "tests/linkdriver/LinkHarness.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include "xelsys/Retry.h"

namespace fs = std::filesystem;

namespace linktest {

namespace {

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// Bytes from `fd` until `count` arrived or `limit` passed.
std::string receiveFrom(int fd, size_t count, std::chrono::milliseconds limit) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (got.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[4096];
        const ssize_t n =
            xel::sys::retryOnSignal([&] { return ::read(fd, buffer, std::min(sizeof buffer, count - got.size())); });
        if (n > 0)
            got.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || errno != EAGAIN)
            break;
    }
    return got;
}

void sendAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            xel::sys::retryOnSignal([&] { return ::write(fd, bytes.data() + done, bytes.size() - done); });
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd pfd{fd, POLLOUT, 0};
            ::poll(&pfd, 1, 1000);
        } else if (n < 0) {
            throw std::runtime_error(std::string("test peer write: ") + std::strerror(errno));
        }
    }
}

int countEntries(const char* dir) {
    int n = 0;
    DIR* d = ::opendir(dir);
    if (!d) return -1;
    while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') ++n;
    ::closedir(d);
    return n;
}

void copyText(char* field, size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

}  // namespace

Pipes::Pipes(bool blockingCommandPipe) {
    int command[2], reply[2];
    check(::pipe2(command, O_CLOEXEC | (blockingCommandPipe ? 0 : O_NONBLOCK)) == 0, "pipe2");
    check(::pipe2(reply, O_CLOEXEC | O_NONBLOCK) == 0, "pipe2");
    commandRead = command[0];
    commandWrite = command[1];
    replyRead = reply[0];
    replyWrite = reply[1];
}

Pipes::~Pipes() {
    for (int fd : {commandRead, commandWrite, replyRead, replyWrite}) ::close(fd);
}

Pty::Pty() {
    char name[256] = {};
    check(::openpty(&master, &slave, name, nullptr, nullptr) == 0, "openpty");
    path = name;
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty() {
    ::close(master);
    ::close(slave);
}

void Pty::send(const std::string& bytes) const { sendAll(master, bytes); }

std::string Pty::receive(size_t count, std::chrono::milliseconds limit) const {
    return receiveFrom(master, count, limit);
}

std::string stateDir() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (!xdg || xdg[0] != '/') throw std::runtime_error("XDG_CONFIG_HOME must be set to a test folder");
    return std::string(xdg) + "/xelor";
}

void mapPort(const std::string& name, const std::string& target) {
    const fs::path ports = fs::path(stateDir()) / "ports";
    fs::create_directories(ports);
    std::error_code ec;
    fs::remove(ports / name, ec);
    fs::create_symlink(target, ports / name);
}

CommSettings serialSettings(const char* port, uint8_t parity, uint8_t stopBits) {
    CommSettings s{};
    copyText(s.port, sizeof s.port, port);
    s.baudRate = 38400;
    s.dataBits = 8;
    s.parity = parity;
    s.stopBits = stopBits;
    return s;
}

CommSettings tcpSettings(const std::string& host, const char* port) {
    CommSettings s = serialSettings(port);
    copyText(s.host, sizeof s.host, host);
    return s;
}

CommSettings usbSettings(const char* port) { return serialSettings(port); }

uint32_t Link::open(const CommSettings& settings) {
    uint32_t error = 0xDEAD;
    channel = OpenComm(settings, pipes.commandRead, pipes.replyWrite, &error);
    return error;
}

void Link::close() {
    if (!channel) return;
    uint32_t error = 0xDEAD;
    CloseComm(channel, &error);
    channel = nullptr;
    EXPECT_EQ(error, 0u) << "CloseComm always reports 0";
}

uint32_t Link::write(const std::string& bytes, uint32_t* error) {
    uint32_t spare = 0;
    return WriteCommBuf(channel, pipes.commandWrite, bytes.data(), static_cast<uint32_t>(bytes.size()),
                        error ? error : &spare);
}

std::string Link::read(uint32_t capacity, uint32_t* error) {
    std::string buffer(capacity, '\0');
    uint32_t spare = 0;
    const uint32_t n = ReadCommBuf(channel, pipes.replyRead, buffer.data(), capacity, error ? error : &spare);
    buffer.resize(n);
    return buffer;
}

CommStats Link::stats() {
    CommStats s{};
    uint32_t error = 0xDEAD;
    GetCommStats(channel, &s, &error);
    EXPECT_EQ(error, 0u);
    return s;
}

CommStats Link::statsReaching(uint32_t received, uint32_t sent) {
    CommStats s = stats();
    for (int i = 0; i < 2000 && (s.bytesReceived < received || s.bytesSent < sent); ++i) {
        std::this_thread::sleep_for(1ms);
        s = stats();
    }
    return s;
}

Collected collect(Link& link, size_t want, int maxCalls, uint32_t capacity) {
    Collected c;
    while (c.bytes.size() < want && c.calls < maxCalls) {
        uint32_t error = 0;
        const std::string got = link.read(capacity, &error);
        ++c.calls;
        if (got.empty()) ++c.emptyCalls;
        if (error != 0) c.errors.push_back(error);
        c.bytes += got;
    }
    return c;
}

TcpPeer::TcpPeer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    check(listener_ >= 0, "socket");
    const int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(lease_.port()));
    ::inet_pton(AF_INET, lease_.address().c_str(), &sa.sin_addr);
    check(::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0, "bind");
    check(::listen(listener_, 4) == 0, "listen");
}

TcpPeer::~TcpPeer() {
    if (connection_ >= 0) ::close(connection_);
    ::close(listener_);
}

bool TcpPeer::accept(std::chrono::milliseconds limit) {
    pollfd pfd{listener_, POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(limit.count())) <= 0) return false;
    connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    return connection_ >= 0;
}

void TcpPeer::send(const std::string& bytes) const { sendAll(connection_, bytes); }

std::string TcpPeer::receive(size_t count, std::chrono::milliseconds limit) const {
    return receiveFrom(connection_, count, limit);
}

void TcpPeer::closeOrderly() {
    ::close(connection_);
    connection_ = -1;
}

void TcpPeer::closeWithReset() {
    linger hard{1, 0};
    ::setsockopt(connection_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(connection_);
    connection_ = -1;
}

FakeUsbTree::FakeUsbTree() {
    char templ[] = "/tmp/xelor-usbtree-XXXXXX";
    check(::mkdtemp(templ) != nullptr, "mkdtemp");
    root_ = templ;
    fs::create_directories(root_ + "/sys/bus/usb/devices/usb1");  // a root hub: no tty
    fs::create_directories(root_ + "/dev");
}

FakeUsbTree::~FakeUsbTree() {
    std::error_code ec;
    fs::remove_all(root_, ec);
}

FakeUsbTree& FakeUsbTree::instance() {
    static FakeUsbTree tree;
    return tree;
}

void FakeUsbTree::addDevice(const std::string& position, const std::string& product, const std::string& ttyTarget) {
    const std::string tty = "ttyUSB" + std::to_string(next_++);
    const fs::path device = fs::path(root_) / "sys/bus/usb/devices" / position;
    fs::create_directories(device / (position + ":1.0") / tty);
    std::ofstream(device / "product") << product << "\n";
    fs::create_symlink(ttyTarget.empty() ? root_ + "/dev/missing" : ttyTarget, fs::path(root_) / "dev" / tty);
}

void FakeUsbTree::removeAll() {
    for (const auto& entry : fs::directory_iterator(root_ + "/sys/bus/usb/devices"))
        if (entry.path().filename() != "usb1") fs::remove_all(entry.path());
    for (const auto& entry : fs::directory_iterator(root_ + "/dev")) fs::remove(entry.path());
}

void installFakeUsbTree() {
    const FakeUsbTree& tree = FakeUsbTree::instance();
    ::setenv("XELOR_SYSFS_ROOT", (tree.root() + "/sys").c_str(), 1);
    ::setenv("XELOR_DEV_ROOT", (tree.root() + "/dev").c_str(), 1);
}

int openDescriptorCount() { return countEntries("/proc/self/fd"); }
int threadCount() { return countEntries("/proc/self/task"); }

}  // namespace linktest
