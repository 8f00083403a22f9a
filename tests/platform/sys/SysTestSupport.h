// Scaffolding the sys tests share: a saved environment variable and a
// pseudo-terminal whose line the tests set and read back.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace systest {

// Restores an environment variable when the scope ends.
class SavedEnv {
public:
    explicit SavedEnv(const char* name) : name_(name) {
        const char* value = std::getenv(name);
        had_ = value != nullptr;
        if (had_) value_ = value;
    }
    ~SavedEnv() {
        if (had_)
            ::setenv(name_, value_.c_str(), 1);
        else
            ::unsetenv(name_);
    }
    SavedEnv(const SavedEnv&) = delete;
    SavedEnv& operator=(const SavedEnv&) = delete;

private:
    const char* name_;
    bool had_ = false;
    std::string value_;
};

// A pseudo-terminal: `line` is the end a driver opens, `master` the far end.
struct Pty {
    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) throw std::runtime_error("no pty");
        line = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (line < 0) throw std::runtime_error("cannot open the pty's line");
    }
    ~Pty() {
        ::close(line);
        ::close(master);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    int master = -1;
    int line = -1;
};

}  // namespace systest
