#include "tools/xelsim/Transport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace xelsim {

namespace {

speed_t speedFor(int baud) {
    switch (baud) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 57600: return B57600;
        case 115200: return B115200;
        default: return B38400;  // the unit's own rate
    }
}

std::runtime_error osFailure(const std::string& what) { return std::runtime_error(what + ": " + std::strerror(errno)); }

class PtyTransport final : public Transport {
public:
    PtyTransport(const std::string& link, int baud) : link_(link), baud_(baud) {
        struct stat st;
        if (::lstat(link_.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
            throw std::runtime_error(link_ + " exists and is not a symlink; not replacing it");
        openPair();
    }

    ~PtyTransport() override {
        // Remove the link only while it still leads to our terminal.
        char target[PATH_MAX];
        ssize_t n = ::readlink(link_.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == slavePath_) ::unlink(link_.c_str());
        closePair();
    }

    std::string readyLine() const override { return "xelsim: pty " + slavePath_; }
    int linkFd() const override { return master_; }
    std::optional<std::string> initialSession() override { return session(); }

    ssize_t read(std::uint8_t* buf, std::size_t size) override { return ::read(master_, buf, size); }
    ssize_t write(const std::uint8_t* buf, std::size_t size) override { return ::write(master_, buf, size); }

    std::optional<std::string> end(LinkEnd how) override {
        if (how == LinkEnd::Reset) {
            // The line stays; what the host sent to the restarting unit is lost.
            std::uint8_t buf[512];
            while (::read(master_, buf, sizeof buf) > 0) {}
            return session();
        }
        // Drop and Abort alike: a serial line has no reset, only the hang-up.
        return reopen();
    }

    std::optional<std::string> hungUp() override { return reopen(); }

private:
    std::string session() const { return "pty " + slavePath_; }

    std::optional<std::string> reopen() {
        // Closing the master hangs up whoever holds the old terminal; the link then
        // leads to a fresh one, like a cable pulled and plugged back in.
        closePair();
        openPair();
        std::fprintf(stderr, "xelsim: line dropped; %s now leads to %s\n", link_.c_str(), slavePath_.c_str());
        return session();
    }

    void openPair() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0) throw osFailure("cannot create a pseudo-terminal");
        char name[128];
        if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0)
            throw osFailure("cannot prepare the pseudo-terminal");
        slavePath_ = name;
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        // Holding the slave open keeps the master from reporting a hang-up each time a
        // host closes the port.
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (slave_ < 0) throw osFailure("cannot open " + slavePath_);
        termios t{};
        if (::tcgetattr(slave_, &t) == 0) {
            ::cfmakeraw(&t);
            ::cfsetispeed(&t, speedFor(baud_));
            ::cfsetospeed(&t, speedFor(baud_));
            ::tcsetattr(slave_, TCSANOW, &t);
        }
        const std::string temp = link_ + ".new";
        ::unlink(temp.c_str());
        if (::symlink(slavePath_.c_str(), temp.c_str()) != 0) throw osFailure("cannot create " + temp);
        if (::rename(temp.c_str(), link_.c_str()) != 0) throw osFailure("cannot create " + link_);
    }

    void closePair() {
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
        slave_ = master_ = -1;
    }

    std::string link_;
    int baud_;
    std::string slavePath_;
    int master_ = -1;
    int slave_ = -1;
};

}  // namespace

std::unique_ptr<Transport> makePtyTransport(const std::string& link, int baud) {
    return std::make_unique<PtyTransport>(link, baud);
}

}  // namespace xelsim
