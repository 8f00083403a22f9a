// Where the unit's lasting memory lives between runs (--eeprom FILE): the EEPROM image
// in FILE and, beside it in FILE.state.json, what the unit keeps outside its EEPROM
// (the IP settings a host sent with "setip"). Both are replaced atomically on change.
#pragma once

#include "tools/xelsim/UnitModel.h"

#include <string>

namespace xelsim {

class Storage {
public:
    Storage() = default;  // nothing is kept: changes live as long as the process
    explicit Storage(std::string eepromPath);

    bool enabled() const { return !eepromPath_.empty(); }
    const std::string& eepromPath() const { return eepromPath_; }
    std::string statePath() const { return eepromPath_ + ".state.json"; }

    // Loads what exists: true with `found` false when there is no image yet.
    bool load(EepromImage& image, IpSettings& ip, bool& found, std::string& error) const;
    bool saveEeprom(const EepromImage& image, std::string& error) const;
    bool saveIp(const IpSettings& ip, std::string& error) const;

private:
    std::string eepromPath_;
};

std::string dottedQuad(const std::array<std::uint8_t, 4>& a);

}  // namespace xelsim
