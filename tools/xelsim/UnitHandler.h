// The unit's command protocol on a link: frames from the host go to the UnitModel,
// replies go back through the fault plan, everything is logged, and the EEPROM and IP
// settings are saved when a host changes them.
#pragma once

#include "tools/xelsim/Faults.h"
#include "tools/xelsim/Framer.h"
#include "tools/xelsim/JsonLog.h"
#include "tools/xelsim/SessionHandler.h"
#include "tools/xelsim/Storage.h"
#include "tools/xelsim/UnitModel.h"

#include <random>

namespace xelsim {

class UnitHandler : public SessionHandler {
public:
    UnitHandler(UnitModel& unit, const FaultPlan& faults, JsonLog& log, const Storage& storage, std::uint32_t seed);

    void sessionStarted(const std::string& peer) override;
    void sessionEnded(const std::string& why) override;
    void received(std::span<const std::uint8_t> bytes, Outbox& out) override;

    // The unit restarts as after "setip" (front panel "reset").
    void restart(Outbox& out, const std::string& why);
    // The link is cut (front panel "drop"), or reset (LinkEnd::Abort).
    void drop(Outbox& out, const std::string& why, LinkEnd how = LinkEnd::Drop);
    // Saves the EEPROM after a change made outside the protocol (front panel "poke").
    void eepromChanged();

    long sessions() const { return sessions_; }
    long resets() const { return resets_; }
    long commands() const { return commands_; }

private:
    void answer(const Reply& reply, Outbox& out);
    std::string garbage();
    void persist(const Reply& reply);

    UnitModel& unit_;
    FaultPlan faults_;
    JsonLog& log_;
    Storage storage_;
    Framer framer_;
    std::mt19937 rng_;
    long sessionCommands_ = 0;
    long sessions_ = 0;
    long resets_ = 0;
    long commands_ = 0;
    bool ending_ = false;  // the session is being ended; ignore what the host still sends
};

}  // namespace xelsim
