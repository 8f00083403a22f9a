// The commands the library sends the unit, each text built here and nowhere
// else, and the exchanges that carry them over a connection. Numbers travel as
// upper-case hexadecimal without leading zeros; every command ends in "\r".
//
// The texts are pure functions. The exchanges may be called from any thread:
// the connection keeps whole exchanges from overlapping.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/xelor.h"

namespace xel::core::unit {

// "rdeep N A\r": N = count - 1 (0 for a count of 0 or 1), A the first address.
std::u16string readEepromCommand(uint16_t address, int count);
// "wreep A V1 V2 ...\r": the first address, then one value per address.
std::u16string writeEepromCommand(uint16_t address, int count, const LONG* values);

// The unit's switches, each set by "<name> V\r" and read by "<name>\r".
enum class Switch { Mute, DigitalEnable, Button, Pin };
std::u16string setCommand(Switch which, LONG value);
std::u16string_view readCommand(Switch which) noexcept;
// The level meters: four values, one channel pair each.
inline constexpr std::u16string_view kReadLevels = u"vu\r";

// "setip" with the address's and the gateway's bytes (most significant first)
// around the host bits, and the unit's port.
std::u16string setIpCommand(LONG address, LONG hostBits, LONG gateway);

// A command whose reply carries `count` hexadecimal values. Values missing from
// the reply keep what `values` held. Returns the connection's status (0 = ok).
HRESULT ask(IComm* comm, std::u16string_view command, int count, LONG* values) noexcept;
// A command whose reply carries nothing the library reads.
HRESULT tell(IComm* comm, std::u16string_view command) noexcept;

// What the switches' replies mean. "mute" and "digitalenable" answer 1 while
// audio is on and while the digital inputs are enabled: the library's Mute and
// Film are the opposites.
constexpr LONG muteOfAudio(LONG audio) noexcept { return audio == 0 ? 1 : 0; }
constexpr LONG audioOfMute(LONG mute) noexcept { return mute == 0 ? 1 : 0; }
constexpr LONG filmOfDigitalEnable(LONG enable) noexcept { return enable == 0 ? 1 : 0; }
constexpr LONG digitalEnableOfFilm(LONG film) noexcept { return film == 0 ? 1 : 0; }

// The status triple, read in the unit's order: "button", "pin", "digitalenable".
// Just before each exchange `preset(which)` gives the value a reply without one
// leaves; after it `step(which, status, value)` applies the caller's rules and
// answers whether to read on (the reading stops at the first false).
inline constexpr Switch kStatusTriple[] = {Switch::Button, Switch::Pin, Switch::DigitalEnable};
template <class Preset, class Step>
void readStatusTriple(IComm* comm, Preset&& preset, Step&& step) {
    for (const Switch which : kStatusTriple) {
        LONG value = preset(which);
        const HRESULT status = ask(comm, readCommand(which), 1, &value);
        if (!step(which, status, value)) return;
    }
}

}  // namespace xel::core::unit
