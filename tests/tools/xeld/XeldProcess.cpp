#include "tests/tools/xeld/XeldProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/Loopback.h"

extern char** environ;

namespace xeltest {

namespace {

pid_t spawn(const std::vector<std::string>& args, const std::string& errPath) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
    return pid;
}

int decode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

std::string xeldPath() { return binDir() + "/xeld"; }

XeldProcess::XeldProcess(const std::string& unitAddress, std::vector<std::string> args) : port_(freeLoopbackPort()) {
    std::vector<std::string> all = {xeldPath(), "--address", unitAddress, "--listen", listen()};
    all.insert(all.end(), args.begin(), args.end());
    pid_ = spawn(all, dir_.file("stderr"));
    // Serving starts right after the core is created; bounded wait for it.
    for (int i = 0; i < 200; ++i) {
        if (client()->Get("/healthz")) return;
        if (!running()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw std::runtime_error("xeld did not start serving:\n" + stderrText());
}

XeldProcess::~XeldProcess() {
    if (stop() != 0) ADD_FAILURE() << "xeld did not end cleanly on SIGTERM:\n" << stderrText();
}

std::unique_ptr<httplib::Client> XeldProcess::client() const {
    auto c = std::make_unique<httplib::Client>("127.0.0.1", port_);
    c->set_connection_timeout(5);
    c->set_read_timeout(20);
    c->set_write_timeout(5);
    return c;
}

bool XeldProcess::waitForState(const std::string& state, int timeoutMs) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (auto r = client()->Get("/v1/unit"); r && r->status == 200) {
            const auto j = nlohmann::json::parse(r->body, nullptr, false);
            if (j.is_object() && j.value("state", "") == state) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool XeldProcess::running() {
    if (status_ >= 0) return false;
    int st = 0;
    if (::waitpid(pid_, &st, WNOHANG) == pid_) {
        status_ = decode(st);
        return false;
    }
    return true;
}

void XeldProcess::signal(int sig) {
    if (running()) ::kill(pid_, sig);
}

int XeldProcess::stop(int graceMs) {
    if (!running()) return status_;
    ::kill(pid_, SIGTERM);
    for (int waited = 0; waited < graceMs; waited += 20) {
        if (!running()) return status_;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid_, SIGKILL);
    int st = 0;
    ::waitpid(pid_, &st, 0);
    status_ = decode(st);
    return status_;
}

std::string XeldProcess::stderrText() const { return slurp(dir_.file("stderr")); }

int runXeldExpectingExit(const std::vector<std::string>& args, std::string* err) {
    ScratchDir dir;
    std::vector<std::string> all = {xeldPath()};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t pid = spawn(all, dir.file("stderr"));
    int st = 0;
    for (int i = 0; i < 500; ++i) {
        if (::waitpid(pid, &st, WNOHANG) == pid) {
            if (err) *err = slurp(dir.file("stderr"));
            return decode(st);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &st, 0);
    return -1;
}

}  // namespace xeltest
