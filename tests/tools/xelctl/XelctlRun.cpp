#include "tests/tools/xelctl/XelctlRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "tests/support/Loopback.h"
#include "xelsys/Retry.h"

extern char** environ;

namespace xeltest {

std::string xelctlPath() { return binDir() + "/xelctl"; }

std::string XelctlResult::describe() const {
    return "$ " + command + "\nexit " + std::to_string(exitCode) + "\n--- stdout ---\n" + out + "--- stderr ---\n" +
           err;
}

XelctlProcess::XelctlProcess(std::vector<std::string> args, std::string stdinText, std::vector<std::string> env,
                             std::vector<std::string> launcher) {
    std::string xelctl = xelctlPath();
    const std::string path = launcher.empty() ? xelctl : launcher[0];
    command_ = launcher.empty() ? "xelctl" : launcher[0] + " ... xelctl";
    std::vector<char*> argv;
    for (std::string& l : launcher) argv.push_back(l.data());
    argv.push_back(xelctl.data());
    for (std::string& a : args) {
        command_ += " '" + a + "'";
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    // An extra variable replaces the test's own of the same name.
    for (char** e = environ; *e; ++e) {
        const std::string_view entry(*e);
        bool replaced = false;
        for (const std::string& x : env)
            replaced |= entry.substr(0, entry.find('=') + 1) == x.substr(0, x.find('=') + 1);
        if (!replaced) envp.push_back(*e);
    }
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make pipes for xelctl");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    const int rc = ::posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (rc != 0) {
        ::close(in[1]);
        throw std::runtime_error("cannot start " + path + ": " + std::strerror(rc));
    }
    // Small scripts fit the pipe; the program reads them as it goes.
    const char* p = stdinText.data();
    size_t left = stdinText.size();
    ::signal(SIGPIPE, SIG_IGN);
    while (left > 0) {
        const ssize_t n = xel::sys::retryOnSignal([&] { return ::write(in[1], p, left); });
        if (n <= 0) break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    ::close(in[1]);
}

XelctlProcess::~XelctlProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
}

void XelctlProcess::signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
}

XelctlResult XelctlProcess::wait(int timeoutMs) {
    XelctlResult r;
    r.command = command_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool killed = false;
    while (out_ >= 0 || err_ >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0 && !killed) {
            ::kill(pid_, SIGKILL);
            killed = true;
        }
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (xel::sys::retryOnSignal([&] { return ::poll(fds, 2, left > 0 ? static_cast<int>(left) : 100); }) < 0) break;
        for (int i = 0; i < 2; ++i) {
            int& fd = i == 0 ? out_ : err_;
            if (fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t n = xel::sys::retryOnSignal([&] { return ::read(fd, buf, sizeof buf); });
            if (n > 0) {
                (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            } else {
                ::close(fd);
                fd = -1;
            }
        }
    }
    int status = 0;
    (void)xel::sys::retryOnSignal([&] { return ::waitpid(pid_, &status, 0); });
    pid_ = -1;
    if (killed)
        r.exitCode = -1;
    else if (WIFEXITED(status))
        r.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        r.exitCode = 128 + WTERMSIG(status);
    return r;
}

XelctlResult runXelctl(std::vector<std::string> args, std::string stdinText, std::vector<std::string> env,
                       std::vector<std::string> launcher) {
    XelctlProcess p(std::move(args), std::move(stdinText), std::move(env), std::move(launcher));
    return p.wait();
}

}  // namespace xeltest
