// Loopback addresses for peers that must listen on the unit's fixed TCP port.
//
// The unit always listens on port 10001, so tests that run side by side give each
// peer its own address in 127.0.0.0/8 instead of another port. A lease holds an
// advisory lock on the address for its lifetime, so two test processes never pick
// the same one, and the address is probed free before it is handed out.
#pragma once

#include <string>

namespace xeltest {

constexpr int kUnitPort = 10001;

class LoopbackLease {
public:
    // Picks a free address 127.0.0.N (N from 2 up) whose port `port` can be bound.
    explicit LoopbackLease(int port = kUnitPort);
    ~LoopbackLease();
    LoopbackLease(const LoopbackLease&) = delete;
    LoopbackLease& operator=(const LoopbackLease&) = delete;

    const std::string& address() const { return address_; }  // "127.0.0.N"
    int port() const { return port_; }

private:
    std::string address_;
    int port_;
    int lockFd_ = -1;
};

// A TCP port on 127.0.0.1 that was free a moment ago, for a server of the
// test's own (xeld, a scraper) that takes its port on its command line.
int freeLoopbackPort();

// The folder of the build's programs (xelsim, regsvr, xelctl, ...) and libraries.
std::string binDir();
std::string libDir();

}  // namespace xeltest
