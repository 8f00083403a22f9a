// The unit's bootloader on the serial line: what a host's bootloader library
// sends goes to a BootDevice, and the device's answers go back through the
// Outbox (paced like every reply when xelsim runs with --baud). The device, and
// with it the flashed program memory and data EEPROM, lives as long as xelsim:
// powering the unit on normally and back into the bootloader keeps what was
// flashed, as the chip would.
//
// Thread contract: none; xelsim's event loop drives it.
#pragma once

#include "tools/xelsim/BootDevice.h"
#include "tools/xelsim/JsonLog.h"
#include "tools/xelsim/SessionHandler.h"

#include <string>

namespace xelsim {

class BootHandler : public SessionHandler {
public:
    explicit BootHandler(JsonLog& log);

    void sessionStarted(const std::string& peer) override;
    void sessionEnded(const std::string& why) override;
    void received(std::span<const std::uint8_t> bytes, Outbox& out) override;

    BootDevice& device() { return device_; }
    const BootDevice& device() const { return device_; }

    // Program memory, data EEPROM, boot flag and counters as one JSON object.
    std::string dump() const;

private:
    JsonLog& log_;
    BootDevice device_;
    bool silenceLogged_ = false;
};

}  // namespace xelsim
