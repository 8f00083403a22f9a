// xelsim's command line. One table drives parsing and --help.
#pragma once

#include "tools/xelsim/Faults.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace xelsim {

struct Options {
    bool help = false;
    bool version = false;
    // Link: TCP unless --pty is given.
    std::string tcpAddress = "127.0.0.1";
    int tcpPort = 10001;
    bool tcpGiven = false;
    std::string ptyLink;
    int baud = 0;  // 0: no pacing
    // Unit memory
    std::string eepromPath;
    std::string configPath;
    std::optional<std::uint32_t> seed;
    // Front panel, log
    std::string scriptPath;
    std::string logPath;
    FaultPlan faults;
    // Bootloader (serial line only)
    bool bootloader = false;                    // powered on with Mode held
    std::optional<long> bootSilentAfter;        // answer this many requests, then nothing
    std::optional<std::uint32_t> bootDeadCell;  // a program-memory byte that ignores writes
};

// Returns false with a message in `error` for a command line that cannot be used.
bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& error);
std::string usageText();

}  // namespace xelsim
