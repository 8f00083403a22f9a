// Which program answers on the link: the unit's own (UnitHandler) or, when the
// unit was powered on with its Mode button held, its bootloader (BootHandler).
// A power cycle ends the current session like a reset (a serial line stays up,
// a TCP host is disconnected); the other program takes the next session.
//
// The bootloader answers on the serial line only, so it is offered only when
// xelsim runs on a pseudo-terminal.
//
// Thread contract: none; xelsim's event loop drives it.
#pragma once

#include "tools/xelsim/BootHandler.h"
#include "tools/xelsim/JsonLog.h"
#include "tools/xelsim/SessionHandler.h"
#include "tools/xelsim/UnitHandler.h"
#include "tools/xelsim/UnitModel.h"

#include <optional>
#include <string>

namespace xelsim {

class PowerSwitch : public SessionHandler {
public:
    PowerSwitch(UnitModel& unit, UnitHandler& unitHandler, BootHandler& boot, JsonLog& log, bool serialLine,
                bool modeHeld);

    bool serialLine() const { return serialLine_; }
    // The program that answers now (a power cycle takes effect when the session ends).
    bool bootloader() const { return (pending_ ? *pending_ : bootloader_); }

    // Powers the unit off and on again; with `modeHeld` the bootloader takes the
    // line. Returns false (and changes nothing) when the bootloader is asked for
    // on a link that is not a serial line.
    bool powerOn(bool modeHeld, Outbox& out);
    std::string bootDump() const { return boot_.dump(); }

    void sessionStarted(const std::string& peer) override;
    void sessionEnded(const std::string& why) override;
    void received(std::span<const std::uint8_t> bytes, Outbox& out) override;

private:
    SessionHandler& active();

    UnitModel& unit_;
    UnitHandler& unitHandler_;
    BootHandler& boot_;
    JsonLog& log_;
    bool serialLine_;
    bool bootloader_;
    std::optional<bool> pending_;  // the mode of the next session, while the current one ends
    bool inSession_ = false;
};

}  // namespace xelsim
