// A unit that answers like xelsim's defaults (EEPROM all zero, audio on, button
// 1, pin 1, digital mode, meters at 0) but whose replies a test can replace per
// keyword at any time: out-of-range values, refusals ("?"), silence, slowness.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/core/connection/ScriptedPeer.h"

namespace xeltest {

class ScriptedUnit {
public:
    ScriptedUnit();
    ScriptedUnit(const ScriptedUnit&) = delete;
    ScriptedUnit& operator=(const ScriptedUnit&) = delete;

    const std::string& address() const { return peer_.address(); }

    // From now on, commands whose first word is `keyword` get `reply` (empty:
    // no answer at all) after `delayMs`. A whole command ("rdeep 0 2") as the
    // keyword takes precedence over its first word.
    void setReply(const std::string& keyword, std::string reply, int delayMs = 0);

    std::vector<std::string> commands() const { return peer_.commands(); }
    int commandCount(const std::string& command) const;
    bool sawCommand(const std::string& command) const { return commandCount(command) > 0; }
    bool waitForCommandCount(const std::string& command, int count,
                             std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

private:
    struct Reply {
        std::string bytes;
        int delayMs = 0;
    };
    struct Replies {
        std::mutex mutex;
        std::map<std::string, Reply> byKeyword;
    };
    static std::vector<Piece> answer(Replies& replies, const std::string& command);

    std::shared_ptr<Replies> replies_;
    ScriptedPeer peer_;
};

}  // namespace xeltest
