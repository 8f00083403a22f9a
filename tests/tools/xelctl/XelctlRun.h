// The built xelctl program run as an operator or a script would run it: its
// arguments, its standard input, extra environment, and what it printed and
// how it ended. The test's own environment (XDG_CONFIG_HOME,
// XELOR_TEST_TIMING) is passed on.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace xeltest {

struct XelctlResult {
    int exitCode = -1;  // 128 + signal when a signal ended it; -1 when it had to be killed
    std::string out;
    std::string err;
    // The command line, the exit code and both outputs, for failure messages.
    std::string describe() const;
    std::string command;
};

class XelctlProcess {
public:
    // launcher: a command the program is started through (e.g. one that
    // changes the user), its arguments first.
    XelctlProcess(std::vector<std::string> args, std::string stdinText = {}, std::vector<std::string> env = {},
                  std::vector<std::string> launcher = {});
    ~XelctlProcess();  // kills it if it still runs
    XelctlProcess(const XelctlProcess&) = delete;
    XelctlProcess& operator=(const XelctlProcess&) = delete;

    // Sends a signal, as Ctrl-C (SIGINT) or a service manager (SIGTERM) would.
    void signal(int sig);
    // Collects the output until the program ends; kills it after `timeoutMs`.
    XelctlResult wait(int timeoutMs = 60000);

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string command_;
};

XelctlResult runXelctl(std::vector<std::string> args, std::string stdinText = {}, std::vector<std::string> env = {},
                       std::vector<std::string> launcher = {});

std::string xelctlPath();

}  // namespace xeltest
