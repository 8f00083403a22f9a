#include "tests/platform/picboot/PtyBootDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include "xelsys/Retry.h"

namespace xeltest {

namespace fs = std::filesystem;

std::string privateConfigHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    std::string tmpl = (fs::temp_directory_path() / "xelor-picboot-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    ::setenv("XDG_CONFIG_HOME", tmpl.c_str(), 1);
    return tmpl;
}

PtyBootDevice::PtyBootDevice(int baud) : baud_(baud) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    slave_ = ::ptsname(master_);
    slaveKeep_ = ::open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveKeep_ < 0) throw std::runtime_error("cannot open " + slave_);
    // Raw from the start, so nothing is echoed back before the host sets the line up.
    termios tio{};
    ::tcgetattr(slaveKeep_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slaveKeep_, TCSANOW, &tio);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

termios PtyBootDevice::line() const {
    termios tio{};
    ::tcgetattr(slaveKeep_, &tio);
    return tio;
}

void PtyBootDevice::dirtyLine() const {
    termios tio = line();
    tio.c_cflag |= CRTSCTS | HUPCL;
    ::tcsetattr(slaveKeep_, TCSANOW, &tio);
}

PtyBootDevice::~PtyBootDevice() {
    stop();
    if (slaveKeep_ >= 0) ::close(slaveKeep_);
    if (master_ >= 0) ::close(master_);
}

void PtyBootDevice::start() {
    if (thread_.joinable()) return;
    thread_ = std::jthread([this](std::stop_token st) { run(st); });
}

void PtyBootDevice::stop() {
    if (!thread_.joinable()) return;
    thread_.request_stop();
    thread_.join();
}

void PtyBootDevice::with(const std::function<void(xelsim::BootDevice&)>& f) {
    std::lock_guard lock(mutex_);
    f(device_);
}

void PtyBootDevice::inject(const std::string& bytes) { writeAll(bytes); }

void PtyBootDevice::mapAs(const std::string& name, bool machineWide) const {
    const char* system = std::getenv("XELOR_SYSTEM_ROOT");
    if (machineWide && (!system || system[0] != '/'))
        throw std::runtime_error("XELOR_SYSTEM_ROOT must name a test folder");
    const fs::path ports =
        machineWide ? fs::path(system) / "etc/xelor/ports" : fs::path(privateConfigHome()) / "xelor" / "ports";
    fs::create_directories(ports);
    fs::remove(ports / name);
    fs::create_symlink(slave_, ports / name);
}

void PtyBootDevice::writeAll(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            xel::sys::retryOnSignal([&] { return ::write(master_, bytes.data() + done, bytes.size() - done); });
        if (n > 0) {
            done += static_cast<size_t>(n);
            toHost_ += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN) return;
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 10);
    }
}

void PtyBootDevice::run(std::stop_token st) {
    uint8_t buf[512];
    while (!st.stop_requested()) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) continue;
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) {
            // EIO while no host holds the line open beside our own descriptor.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        fromHost_ += n;
        std::string out;
        {
            std::lock_guard lock(mutex_);
            out = device_.received({buf, static_cast<size_t>(n)});
        }
        if (out.empty()) continue;
        if (baud_ > 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(out.size() * 10'000'000LL / baud_));
        }
        writeAll(out);
    }
}

}  // namespace xeltest
