#include "tests/support/XelsimProcess.h"

#include "tests/support/Loopback.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include "xelsys/Retry.h"

extern char** environ;

namespace xeltest {

namespace {

using Clock = std::chrono::steady_clock;

int decodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

constexpr int kReadyTimeoutMs = 10000;
constexpr int kPanelTimeoutMs = 5000;

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::uint8_t> parseHexBytes(const std::string& text) {
    std::vector<std::uint8_t> out;
    std::istringstream in(text);
    for (std::string b; in >> b;) out.push_back(static_cast<std::uint8_t>(std::stoul(b, nullptr, 16)));
    return out;
}

// The log holds bytes as Latin-1 text; turn it back into the bytes.
std::string fromLatin1(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0xC0 && i + 1 < utf8.size()) {
            out.push_back(static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F)));
            ++i;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

}  // namespace

std::string xelsimPath() { return binDir() + "/xelsim"; }

ScratchDir::ScratchDir() {
    char pattern[] = "/tmp/xelsim-test-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

XelsimProcess::XelsimProcess(std::vector<std::string> args, Link link) {
    std::vector<std::string> argv{xelsimPath()};
    if (link == Link::Tcp) {
        lease_ = std::make_unique<LoopbackLease>();
        argv.insert(argv.end(), {"--tcp", lease_->address() + ":" + std::to_string(lease_->port())});
    } else {
        linkPath_ = dir_.file("ttyXEL");
        argv.insert(argv.end(), {"--pty", linkPath_});
    }
    logPath_ = dir_.file("xelsim.log");
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--log") logPath_ = args[i + 1];
    if (std::find(args.begin(), args.end(), "--log") == args.end()) argv.insert(argv.end(), {"--log", logPath_});
    argv.insert(argv.end(), args.begin(), args.end());
    stderrPath_ = dir_.file("xelsim.stderr");

    // A socket for stdin, so writing to an xelsim that died fails instead of raising SIGPIPE.
    int in[2], out[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("cannot create xelsim's pipes: ") + std::strerror(errno));

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, cargv[0], &actions, &attr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(in[1]);
    ::close(out[1]);
    stdinFd_ = in[0];
    stdoutFd_ = out[0];
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }

    const auto deadline = Clock::now() + std::chrono::milliseconds(kReadyTimeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const std::string line = left > 0 ? readLine(static_cast<int>(left)) : std::string();
        if (line.rfind("xelsim: listening on ", 0) == 0) {
            const std::string where = line.substr(21);
            address_ = where.substr(0, where.rfind(':'));
            port_ = std::stoi(where.substr(where.rfind(':') + 1));
            return;
        }
        if (line.rfind("xelsim: pty ", 0) == 0) {
            ptyPath_ = line.substr(12);
            return;
        }
        if (line.empty()) {
            const std::string why = diagnostics();
            stop(500);
            throw std::runtime_error("xelsim did not become ready within " + std::to_string(kReadyTimeoutMs) + " ms\n" +
                                     why);
        }
    }
}

XelsimProcess::~XelsimProcess() {
    // A unit that cannot end cleanly (a hang, a sanitizer report at exit) fails the test
    // that used it.
    if (pid_ > 0) {
        const int status = stop();
        if (status != 0) ADD_FAILURE() << "xelsim ended with status " << status << "\n" << diagnostics();
    }
    if (stdinFd_ >= 0) ::close(stdinFd_);
    if (stdoutFd_ >= 0) ::close(stdoutFd_);
}

std::string XelsimProcess::readLine(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (auto nl = stdoutBuf_.find('\n'); nl != std::string::npos) {
            std::string line = stdoutBuf_.substr(0, nl);
            stdoutBuf_.erase(0, nl + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || stdoutFd_ < 0) return {};
        pollfd p{stdoutFd_, POLLIN, 0};
        const int r = xel::sys::retryOnSignal([&] { return ::poll(&p, 1, static_cast<int>(left)); });
        if (r <= 0) return {};
        char buf[4096];
        const ssize_t n = xel::sys::retryOnSignal([&] { return ::read(stdoutFd_, buf, sizeof buf); });
        if (n <= 0) return {};  // xelsim closed its stdout: it has ended
        stdoutBuf_.append(buf, static_cast<std::size_t>(n));
    }
}

std::string XelsimProcess::panel(const std::string& line) {
    const std::string data = line + "\n";
    if (stdinFd_ < 0 || ::send(stdinFd_, data.data(), data.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(data.size()))
        throw std::runtime_error("cannot write to xelsim's front panel\n" + diagnostics());
    std::string answer = readLine(kPanelTimeoutMs);
    if (answer.empty()) throw std::runtime_error("xelsim did not answer \"" + line + "\"\n" + diagnostics());
    return answer;
}

void XelsimProcess::closeStdin() {
    if (stdinFd_ >= 0) ::close(stdinFd_);
    stdinFd_ = -1;
}

XelsimDump XelsimProcess::dump() {
    XelsimDump d;
    d.json = panel("dump");
    const auto j = nlohmann::json::parse(d.json, nullptr, false);
    if (j.is_discarded() || !j.is_object()) throw std::runtime_error("xelsim's dump is not JSON: " + d.json);
    const std::string hex = j.at("eeprom").get<std::string>();
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        d.eeprom.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    d.checksum = j.at("checksum").get<bool>();
    d.muted = j.at("muted").get<bool>();
    d.film = j.at("film").get<bool>();
    d.button = j.at("button").get<int>();
    d.pin = j.at("pin").get<int>();
    d.levels = j.at("levels").get<std::array<int, 8>>();
    if (j.at("ip").is_object()) {
        d.ipAddress = j["ip"].at("address").get<std::string>();
        d.hostBits = j["ip"].at("hostBits").get<int>();
        d.gateway = j["ip"].at("gateway").get<std::string>();
        d.ipPort = j["ip"].at("port").get<int>();
    }
    d.sessions = j.at("sessions").get<long>();
    d.resets = j.at("resets").get<long>();
    d.commands = j.at("commands").get<long>();
    return d;
}

std::vector<XelsimLogEntry> XelsimProcess::log() const {
    std::vector<XelsimLogEntry> entries;
    const std::string text = readWhole(logPath_);
    std::size_t at = 0, nl;
    // A line still being written has no newline yet; it is left for the next call.
    while ((nl = text.find('\n', at)) != std::string::npos) {
        XelsimLogEntry e;
        e.line = text.substr(at, nl - at);
        at = nl + 1;
        const auto j = nlohmann::json::parse(e.line, nullptr, false);
        if (j.is_discarded() || !j.is_object()) continue;
        e.timeMs = j.value("t", 0.0);
        e.dir = j.value("dir", "");
        e.event = j.value("event", "");
        e.bytes = parseHexBytes(j.value("bytes", ""));
        e.text = fromLatin1(e.event.empty() ? j.value("text", "") : j.value("detail", ""));
        e.checked = j.value("checked", false);
        e.checksumOk = j.value("checksum_ok", false);
        if (j.contains("faults")) e.faults = j["faults"].get<std::vector<std::string>>();
        entries.push_back(std::move(e));
    }
    return entries;
}

std::vector<std::string> XelsimProcess::receivedTexts() const {
    std::vector<std::string> out;
    for (const auto& e : log())
        if (e.dir == "rx") out.push_back(e.text);
    return out;
}

std::vector<std::vector<std::uint8_t>> XelsimProcess::receivedFrames() const {
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& e : log())
        if (e.dir == "rx") out.push_back(e.bytes);
    return out;
}

bool XelsimProcess::waitForLog(const std::function<bool(const std::vector<XelsimLogEntry>&)>& done,
                               int timeoutMs) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done(log())) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string XelsimProcess::stderrText() const { return readWhole(stderrPath_); }

std::string XelsimProcess::diagnostics() const {
    std::string out = "--- xelsim stderr ---\n" + stderrText();
    const std::string logText = readWhole(logPath_);
    const std::size_t keep = 4000;
    out += "--- xelsim log" + std::string(logText.size() > keep ? " (tail)" : "") + " ---\n";
    out += logText.size() > keep ? logText.substr(logText.size() - keep) : logText;
    return out;
}

bool XelsimProcess::running() {
    if (pid_ <= 0) return false;
    int status;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = decodeStatus(status);
        pid_ = -1;
        return false;
    }
    return true;
}

int XelsimProcess::stop(int graceMs) {
    if (pid_ <= 0) return status_;
    ::kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(graceMs);
    pid_t done = 0;
    while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (done == 0) {
        ::kill(pid_, SIGKILL);
        (void)xel::sys::retryOnSignal([&] { return ::waitpid(pid_, &status, 0); });
    }
    pid_ = -1;
    status_ = decodeStatus(status);
    return status_;
}

}  // namespace xeltest
