// Speed, character format and flow control of a tty line, for every part of
// the suite that drives one. Each caller passes the settings its line needs.
//
// Thread safety: the functions keep no state; a line's settings are changed by
// one thread at a time.
#pragma once

#include <termios.h>

#include <cstdint>

namespace xel::sys {

// The termios speed constant for a line speed in bits per second; B0 when the
// platform has no constant for it.
speed_t speedFor(uint32_t baud);

// Raw bytes both ways: no line editing, echo, signals, translation or software
// flow control; the receiver is on and modem status lines are ignored; reads
// return what is there (VMIN 0, VTIME 0).
void makeRaw(termios& t);

// Character size, parity (0 none, 1 odd, 2 even, 3 mark, 4 space) and stop bits
// (0 one, 1 one and a half, 2 two). Parity is checked on input exactly when it is
// used. Linux has no separate 1.5 stop bits: CSTOPB gives 1.5 on a 5-bit line and
// 2 otherwise, as the UART does. Returns false, leaving `t` as it was, when a code
// is out of range.
bool applyFormat(termios& t, unsigned dataBits, unsigned parity, unsigned stopBits);

struct LineSettings {
    uint32_t baud = 0;  // bits per second; 0 keeps the line's speed
    unsigned dataBits = 8;
    unsigned parity = 0;
    unsigned stopBits = 0;
    bool ctsFlow = false;   // output held back while CTS is low (also drives RTS)
    bool lowerDtr = false;  // drop DTR once the line is set
};

enum class LineResult { Ok, BadSetting, SystemError };

// Makes the line at `fd` raw with `settings`; the line stays up when the port
// closes (HUPCL off). Every valid setting is applied even when another one is
// out of range (BadSetting) so a caller that tolerates odd devices can use the
// line as it is. A line without modem signals may refuse the DTR change; that
// is not a failure.
LineResult configureLine(int fd, const LineSettings& settings);

// Changes only the speed, or only the character format, of an open line.
LineResult setLineSpeed(int fd, uint32_t baud);
LineResult setLineFormat(int fd, unsigned dataBits, unsigned parity, unsigned stopBits);

}  // namespace xel::sys
