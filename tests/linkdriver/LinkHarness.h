// Real facilities for link driver tests: pipes, pseudo-terminals standing in for
// the unit's serial line, a TCP peer on a leased loopback address, a fake USB
// device tree whose bridge tty is a pseudo-terminal, and counters of what a
// process holds (descriptors, threads).
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "linkdriver/xelcomm.h"
#include "tests/support/Loopback.h"

namespace linktest {

using namespace std::chrono_literals;

// The caller's two pipes, O_CLOEXEC and (unless asked otherwise) O_NONBLOCK.
struct Pipes {
    explicit Pipes(bool blockingCommandPipe = false);
    ~Pipes();
    Pipes(const Pipes&) = delete;
    Pipes& operator=(const Pipes&) = delete;
    int commandRead = -1, commandWrite = -1, replyRead = -1, replyWrite = -1;
};

// A pseudo-terminal: the driver opens the slave by path, the test plays the unit
// on the master. The slave is held open (raw) so the master never sees a hang-up.
struct Pty {
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    void send(const std::string& bytes) const;
    // What the driver wrote, up to `count` bytes or until `limit` passes.
    std::string receive(size_t count, std::chrono::milliseconds limit = 5000ms) const;
    int master = -1;
    int slave = -1;
    std::string path;
};

// $XDG_CONFIG_HOME/xelor; every test process gets a fresh XDG_CONFIG_HOME.
std::string stateDir();
// Points <state>/ports/<name> at `target` (replacing an earlier mapping).
void mapPort(const std::string& name, const std::string& target);

CommSettings serialSettings(const char* port, uint8_t parity = 0, uint8_t stopBits = 0);
CommSettings tcpSettings(const std::string& host, const char* port = "TCP/IP");
CommSettings usbSettings(const char* port = "USB");

// One open channel with its own pipes.
struct Link {
    explicit Link(bool blockingCommandPipe = false) : pipes(blockingCommandPipe) {}
    ~Link() { close(); }
    uint32_t open(const CommSettings& settings);  // the open's error
    void close();
    uint32_t write(const std::string& bytes, uint32_t* error = nullptr);
    std::string read(uint32_t capacity = 4096, uint32_t* error = nullptr);
    CommStats stats();
    // The counters once they reach the given values (the thread counts a send just
    // after the peer can see it), or as they stand after a bounded wait.
    CommStats statsReaching(uint32_t received, uint32_t sent);

    Pipes pipes;
    CommChannel* channel = nullptr;
};

struct Collected {
    std::string bytes;
    int calls = 0;
    int emptyCalls = 0;
    std::vector<uint32_t> errors;  // non-zero errors seen, in order
};
// Reads until `want` bytes came or `maxCalls` ReadCommBuf calls were made.
Collected collect(Link& link, size_t want, int maxCalls, uint32_t capacity = 4096);

// A peer on the unit's port at a leased loopback address.
class TcpPeer {
public:
    TcpPeer();
    ~TcpPeer();
    const std::string& address() const { return lease_.address(); }
    bool accept(std::chrono::milliseconds limit = 5000ms);
    void send(const std::string& bytes) const;
    std::string receive(size_t count, std::chrono::milliseconds limit = 5000ms) const;
    void closeOrderly();
    void closeWithReset();

private:
    xeltest::LoopbackLease lease_;
    int listener_ = -1;
    int connection_ = -1;
};

// The fake USB device tree, under a private temporary folder. XELOR_SYSFS_ROOT and
// XELOR_DEV_ROOT must point at it before the bridge library is first used: call
// installFakeUsbTree() from main or a global environment.
class FakeUsbTree {
public:
    static FakeUsbTree& instance();
    // A USB device at bus position `position` (e.g. "1-2") with `product`, and a
    // tty interface whose node leads to `ttyTarget` (empty: a node leading nowhere).
    void addDevice(const std::string& position, const std::string& product, const std::string& ttyTarget);
    void removeAll();
    const std::string& root() const { return root_; }

private:
    FakeUsbTree();
    ~FakeUsbTree();
    std::string root_;
    int next_ = 0;
};
void installFakeUsbTree();

inline constexpr char kBridgeProduct[] = "Xelor Marquee Audio Bridge USB Device";

int openDescriptorCount();  // entries of /proc/self/fd
int threadCount();          // entries of /proc/self/task

}  // namespace linktest
