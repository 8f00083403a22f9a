// The real xelsim program as a test's peer: started on its own loopback address (TCP)
// or on a fresh pseudo-terminal, waited for with a bound, driven through its front
// panel (stdin), observed through its frame log, and stopped in the destructor
// (SIGTERM, a bounded wait, then SIGKILL; a non-zero exit there fails the test).
//
//   xeltest::XelsimProcess sim({"--seed", "7"});           // TCP on 127.0.0.N:10001
//   connectTo(sim.address());
//   sim.panel("button 3");                                   // the unit's own button
//   EXPECT_EQ(sim.receivedTexts().front(), "checksum 1");   // what the host sent
//
// Construction throws std::runtime_error (with xelsim's stderr) when it does not
// become ready. Not thread-safe: use one object from one thread.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace xeltest {

class LoopbackLease;

// A private folder under /tmp, removed with its contents when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// One line of xelsim's frame log.
struct XelsimLogEntry {
    double timeMs = 0;                // since xelsim started
    std::string dir;                  // "rx" (from the host), "tx" (to it), "" for an event
    std::string event;                // events: "connect", "disconnect", "reset", "drop", "panel", ...
    std::vector<std::uint8_t> bytes;  // rx: text, "\r", checksum byte; tx: the reply
    std::string text;                 // rx: command without "\r"; tx: reply; event: its detail
    bool checked = false;             // rx: the unit was checking checksums
    bool checksumOk = false;          // rx: the checksum byte was right
    std::vector<std::string> faults;  // tx: faults applied ("delay", "split", "garbage", ...)
    std::string line;                 // the JSON line itself, for failure messages
};

// The unit as "dump" shows it.
struct XelsimDump {
    std::vector<std::uint8_t> eeprom;  // 1024 bytes
    bool checksum = false;             // checking enabled by a host
    bool muted = false;                // "mute" answers 0
    bool film = false;                 // "digitalenable" answers 0
    int button = 0;                    // 1-8
    int pin = 0;                       // 1-16
    std::array<int, 8> levels{};       // last meter reading
    std::string ipAddress;             // empty until a host sent "setip"
    int hostBits = 0;
    std::string gateway;
    int ipPort = 0;
    long sessions = 0, resets = 0, commands = 0;
    std::string json;
};

class XelsimProcess {
public:
    enum class Link { Tcp, Pty };

    // `args` are added to xelsim's command line (faults, --eeprom, --seed, ...). The link
    // and, unless `args` name one, the log (in folder()) are chosen here.
    explicit XelsimProcess(std::vector<std::string> args = {}, Link link = Link::Tcp);
    ~XelsimProcess();
    XelsimProcess(const XelsimProcess&) = delete;
    XelsimProcess& operator=(const XelsimProcess&) = delete;

    const std::string& address() const { return address_; }    // TCP: "127.0.0.N"
    int port() const { return port_; }                         // TCP: 10001
    const std::string& ptyPath() const { return ptyPath_; }    // pty: the terminal at start
    const std::string& linkPath() const { return linkPath_; }  // pty: symlink, follows a re-made line
    const std::string& folder() const { return dir_.path(); }
    pid_t pid() const { return pid_; }

    // Sends one front-panel line and returns xelsim's answer ("ok", "error: ...", JSON).
    // Commands take effect in order with what the link delivers after the answer.
    std::string panel(const std::string& line);
    XelsimDump dump();
    // Closes xelsim's standard input (it must keep running).
    void closeStdin();

    std::vector<XelsimLogEntry> log() const;
    std::vector<std::string> receivedTexts() const;                 // rx texts in order
    std::vector<std::vector<std::uint8_t>> receivedFrames() const;  // rx bytes in order
    // Polls the log until `done` holds; false after `timeoutMs`.
    bool waitForLog(const std::function<bool(const std::vector<XelsimLogEntry>&)>& done, int timeoutMs = 5000) const;

    std::string stderrText() const;
    // xelsim's stderr and the tail of its log, for failure messages.
    std::string diagnostics() const;

    bool running();
    // SIGTERM, up to `graceMs` for it to end, then SIGKILL. Returns the exit status, or
    // 128 + the signal that ended it. Once it has ended, returns that status again.
    int stop(int graceMs = 3000);

private:
    std::string readLine(int timeoutMs);

    ScratchDir dir_;
    std::unique_ptr<LoopbackLease> lease_;
    std::string address_;
    int port_ = 0;
    std::string ptyPath_;
    std::string linkPath_;
    std::string logPath_;
    std::string stderrPath_;
    pid_t pid_ = -1;
    int status_ = -1;
    int stdinFd_ = -1;
    int stdoutFd_ = -1;
    std::string stdoutBuf_;
};

std::string xelsimPath();

}  // namespace xeltest
