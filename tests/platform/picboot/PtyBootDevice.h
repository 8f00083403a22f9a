// A bootloader at the far end of a real pseudo-terminal: xelsim's BootDevice
// engine served on the master side by a thread, the slave reachable as COM5
// through the test's own ports/ mapping.
#pragma once

#include <termios.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "tools/xelsim/BootDevice.h"

namespace xeltest {

class PtyBootDevice {
public:
    // `baud` > 0 paces the device's replies like a real line at that rate.
    explicit PtyBootDevice(int baud = 0);
    ~PtyBootDevice();
    PtyBootDevice(const PtyBootDevice&) = delete;
    PtyBootDevice& operator=(const PtyBootDevice&) = delete;

    // Starts (or resumes) answering; a stopped device leaves the line silent.
    void start();
    void stop();

    // Runs `f` on the device while its thread is held off.
    void with(const std::function<void(xelsim::BootDevice&)>& f);

    // Bytes put on the line towards the host, as from a noisy device.
    void inject(const std::string& bytes);

    const std::string& slavePath() const { return slave_; }
    // The line's settings as the host left them.
    termios line() const;
    // Sets flow control and hang-up, as an earlier user of the line may have.
    void dirtyLine() const;
    // Bytes moved each way so far.
    long bytesFromHost() const { return fromHost_.load(); }
    long bytesToHost() const { return toHost_.load(); }

    // Maps `name` (e.g. "COM5") to the slave in $XDG_CONFIG_HOME/xelor/ports,
    // or with machineWide in the machine's ports folder under XELOR_SYSTEM_ROOT.
    void mapAs(const std::string& name, bool machineWide = false) const;

private:
    void run(std::stop_token st);
    void writeAll(const std::string& bytes);

    int master_ = -1;
    int slaveKeep_ = -1;  // keeps the line up between host opens
    int baud_;
    std::string slave_;
    std::mutex mutex_;
    xelsim::BootDevice device_;
    std::atomic<long> fromHost_{0};
    std::atomic<long> toHost_{0};
    std::jthread thread_;
};

// Makes sure XDG_CONFIG_HOME names a private absolute folder (ctest sets one;
// a binary started by hand gets a temporary one) and returns it.
std::string privateConfigHome();

}  // namespace xeltest
