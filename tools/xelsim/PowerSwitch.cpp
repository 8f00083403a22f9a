#include "tools/xelsim/PowerSwitch.h"

namespace xelsim {

PowerSwitch::PowerSwitch(UnitModel& unit, UnitHandler& unitHandler, BootHandler& boot, JsonLog& log, bool serialLine,
                         bool modeHeld)
    : unit_(unit),
      unitHandler_(unitHandler),
      boot_(boot),
      log_(log),
      serialLine_(serialLine),
      bootloader_(modeHeld && serialLine) {}

SessionHandler& PowerSwitch::active() {
    if (bootloader_) return boot_;
    return unitHandler_;
}

bool PowerSwitch::powerOn(bool modeHeld, Outbox& out) {
    if (modeHeld && !serialLine_) return false;
    log_.event("power", modeHeld ? "on with Mode held: bootloader" : "on");
    // The unit's program starts afresh; the bootloader's memory is the chip's and stays.
    if (!modeHeld) unit_.powerOn();
    if (!inSession_) {
        bootloader_ = modeHeld;
        pending_.reset();
        return true;
    }
    // The old program sees its session end; the new one starts the next.
    pending_ = modeHeld;
    out.end(LinkEnd::Reset);
    return true;
}

void PowerSwitch::sessionStarted(const std::string& peer) {
    inSession_ = true;
    active().sessionStarted(peer);
}

void PowerSwitch::sessionEnded(const std::string& why) {
    inSession_ = false;
    active().sessionEnded(why);
    if (pending_) {
        bootloader_ = *pending_;
        pending_.reset();
    }
}

void PowerSwitch::received(std::span<const std::uint8_t> bytes, Outbox& out) { active().received(bytes, out); }

}  // namespace xelsim
