// Misbehaviour on purpose, so hosts can be tested against a unit that fails.
//
// The "...After N" faults count the commands of one session (a TCP connection, or the
// time since the line came up or the unit last reset): the first N are answered
// normally, and from command N + 1 on the fault applies. A drop or reset starts a new
// session, so a host that reconnects gets N good answers again.
#pragma once

#include <optional>

namespace xelsim {

struct FaultPlan {
    bool silent = false;                // carry commands out, never answer
    std::optional<long> silentAfter;    // ... from command N + 1 on
    int delayMs = 0;                    // pause before every reply
    bool split = false;                 // send every reply in three pieces ...
    int splitMs = 50;                   // ... this far apart
    std::optional<long> dropAfter;      // cut the link instead of answering
    std::optional<long> noPromptAfter;  // answer without the final ">"
    std::optional<long> garbageAfter;   // answer with random bytes ending in ">"
    std::optional<long> resetAfter;     // restart instead of answering (as after "setip")
    std::optional<long> rstAfter;       // reset the connection instead of answering

    bool any() const {
        return silent || silentAfter || delayMs > 0 || split || dropAfter || noPromptAfter || garbageAfter ||
               resetAfter || rstAfter;
    }
};

}  // namespace xelsim
