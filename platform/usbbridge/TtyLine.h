// Character format and speed of a tty line, shared by the bridge backend and the
// link driver's serial transport. Header only: nothing here crosses a library
// boundary.
#pragma once

#include <termios.h>

#include <cstdint>

namespace xel::tty {

// The termios speed constant for a line speed in bits per second; B0 when the
// platform has no constant for it.
inline speed_t speedFor(uint32_t baud) {
    struct Row { uint32_t baud; speed_t speed; };
    static constexpr Row kRows[] = {
        {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200},
        {300, B300}, {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400},
        {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
        {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800},
        {500000, B500000}, {576000, B576000}, {921600, B921600}, {1000000, B1000000},
        {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
        {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000},
        {4000000, B4000000},
    };
    for (const Row& row : kRows)
        if (row.baud == baud) return row.speed;
    return B0;
}

// Raw bytes both ways: no line editing, echo, signals, translation or software
// flow control; the receiver is on and modem status lines are ignored.
inline void makeRaw(termios& t) {
    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

// Character size, parity (0 none, 1 odd, 2 even, 3 mark, 4 space) and stop bits
// (0 one, 1 one and a half, 2 two). Parity is checked on input exactly when it is
// used. Linux has no separate 1.5 stop bits: CSTOPB gives 1.5 on a 5-bit line and
// 2 otherwise, as the UART does. Returns false, leaving `t` as it was, when a code
// is out of range.
inline bool applyFormat(termios& t, unsigned dataBits, unsigned parity, unsigned stopBits) {
    tcflag_t size;
    switch (dataBits) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return false;
    }
    tcflag_t parityFlags;
    switch (parity) {
    case 0: parityFlags = 0; break;
    case 1: parityFlags = PARENB | PARODD; break;
    case 2: parityFlags = PARENB; break;
    case 3: parityFlags = PARENB | CMSPAR | PARODD; break;
    case 4: parityFlags = PARENB | CMSPAR; break;
    default: return false;
    }
    if (stopBits > 2) return false;

    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    t.c_cflag |= size | parityFlags | (stopBits == 0 ? 0 : CSTOPB);
    if (parity != 0)
        t.c_iflag |= INPCK;
    else
        t.c_iflag &= ~static_cast<tcflag_t>(INPCK);
    return true;
}

}  // namespace xel::tty
