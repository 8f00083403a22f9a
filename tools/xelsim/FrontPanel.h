// The unit's own controls, driven from xelsim's standard input or a --script file, so
// a person or a test can change the unit underneath the host. One line per command:
//
//   button N        select input N (1-8), as the unit's input buttons do
//   pin N           set the automation pin (1-16)
//   film on|off     film (bypass) mode; on makes "digitalenable" answer 0
//   mute on|off     on makes "mute" answer 0
//   vu auto         meters follow the programme (the default)
//   vu L R C S LS RS LE RE   hold the meters at these levels (0-4095, decimal)
//   poke ADDR B...  store bytes (hex) in the EEPROM from address ADDR (hex)
//   dump            print the EEPROM and the state as one JSON line (in the
//                   bootloader: program memory, data EEPROM, boot flag, counters)
//   reset           restart the unit (a TCP host is disconnected)
//   drop            cut the link to the host
//   power on|mode   power the unit off and on; "mode" holds its Mode button, so the
//                   bootloader answers on the serial line (xelsim --pty only)
//   quit            stop xelsim
//
// On standard input every command answers exactly one line on standard output: "ok",
// "error: ..." or, for dump, the JSON object. (help writes its text to stderr.)
#pragma once

#include "tools/xelsim/PowerSwitch.h"
#include "tools/xelsim/SessionHandler.h"
#include "tools/xelsim/UnitHandler.h"
#include "tools/xelsim/UnitModel.h"

#include <string>
#include <vector>

namespace xelsim {

struct ScriptLine {
    long atMs = 0;  // milliseconds after xelsim started
    std::string command;
};

class FrontPanel {
public:
    FrontPanel(UnitModel& unit, UnitHandler& handler, JsonLog& log);
    // The switch between the unit's program and its bootloader; without it "power"
    // is refused and dump shows the unit.
    void attach(PowerSwitch& power) { power_ = &power; }

    // Runs one command; sets `quit` for "quit". Returns the answer line (no newline).
    std::string execute(const std::string& line, Outbox& out, bool& quit);
    std::string dump() const;

    static bool knows(const std::string& line);
    static std::string helpText();

private:
    UnitModel& unit_;
    UnitHandler& handler_;
    JsonLog& log_;
    PowerSwitch* power_ = nullptr;
};

// Reads "MS COMMAND" lines ("#" starts a comment). Returns false with `error` naming
// the line that is not understood.
bool loadScript(const std::string& path, std::vector<ScriptLine>& lines, std::string& error);

}  // namespace xelsim
