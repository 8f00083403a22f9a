// Exit codes of xelctl and the one way a command reports that it failed.
//
// Inside the program a command that cannot go on throws Failure with the exit
// code and a message in the operator's words; the dispatcher prints the message
// on stderr and ends with the code. Nothing here crosses a library boundary.
#pragma once

#include <stdexcept>
#include <string>

namespace xelctl {

enum Exit : int {
    kExitOk = 0,
    kExitUnit = 1,      // the link or the unit failed (or the core could not be had)
    kExitUsage = 2,     // the command line, a name or a value is wrong
    kExitFile = 3,      // a file cannot be read or written, or is not a configuration file
    kExitBadImage = 4,  // the firmware image is not valid
};

// An empty message: the failure was reported already.
class Failure : public std::runtime_error {
public:
    Failure(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    int code() const noexcept { return code_; }

private:
    int code_;
};

[[noreturn]] inline void fail(int code, const std::string& message) { throw Failure(code, message); }
[[noreturn]] inline void usageError(const std::string& message) { throw Failure(kExitUsage, message); }

}  // namespace xelctl
