// The built xeld program as a test's server: started on a free loopback port
// against a unit address, waited for with a bound, its stderr kept for failure
// messages, stopped with SIGTERM in the destructor.
#pragma once

#include "tests/support/Loopback.h"

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include <httplib.h>

#include "tests/support/XelsimProcess.h"

namespace xeltest {

class XeldProcess {
public:
    // `args` after --address and --listen (which are chosen here).
    XeldProcess(const std::string& unitAddress, std::vector<std::string> args = {});
    ~XeldProcess();
    XeldProcess(const XeldProcess&) = delete;
    XeldProcess& operator=(const XeldProcess&) = delete;

    int port() const { return port_; }
    std::string listen() const { return "127.0.0.1:" + std::to_string(port_); }
    const ScratchDir& dir() const { return dir_; }
    std::unique_ptr<httplib::Client> client() const;

    // Polls /v1/unit until its state is `state`; false after `timeoutMs`.
    bool waitForState(const std::string& state, int timeoutMs = 15000) const;
    bool running();
    void signal(int sig);
    // SIGTERM, a bounded wait; the exit status (128 + signal when killed).
    int stop(int graceMs = 8000);
    std::string stderrText() const;

private:
    ScratchDir dir_;
    int port_ = 0;
    pid_t pid_ = -1;
    int status_ = -1;
};

// Runs xeld with `args` and returns its exit status (it must end by itself).
int runXeldExpectingExit(const std::vector<std::string>& args, std::string* err = nullptr);

std::string xeldPath();

}  // namespace xeltest
