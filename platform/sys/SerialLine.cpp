#include "xelsys/SerialLine.h"

#include <sys/ioctl.h>

namespace xel::sys {

speed_t speedFor(uint32_t baud) {
    struct Row {
        uint32_t baud;
        speed_t speed;
    };
    static constexpr Row kRows[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
        {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
        {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
        {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
        {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
    };
    for (const Row& row : kRows)
        if (row.baud == baud) return row.speed;
    return B0;
}

void makeRaw(termios& t) {
    ::cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

bool applyFormat(termios& t, unsigned dataBits, unsigned parity, unsigned stopBits) {
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

namespace {

bool applySpeed(termios& t, uint32_t baud) {
    const speed_t speed = speedFor(baud);
    return speed != B0 && ::cfsetispeed(&t, speed) == 0 && ::cfsetospeed(&t, speed) == 0;
}

// Reads the line's settings, lets `change` edit them and writes them back; the
// change says whether its settings were all valid.
template <class F>
LineResult update(int fd, F change) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return LineResult::SystemError;
    const bool valid = change(t);
    if (::tcsetattr(fd, TCSANOW, &t) != 0) return LineResult::SystemError;
    return valid ? LineResult::Ok : LineResult::BadSetting;
}

}  // namespace

LineResult configureLine(int fd, const LineSettings& settings) {
    const LineResult result = update(fd, [&](termios& t) {
        makeRaw(t);
        bool valid = applyFormat(t, settings.dataBits, settings.parity, settings.stopBits);
        if (settings.baud != 0) valid = applySpeed(t, settings.baud) && valid;
        if (settings.ctsFlow)
            t.c_cflag |= CRTSCTS;
        else
            t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
        t.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
        return valid;
    });
    if (settings.lowerDtr) {
        // Lines without modem signals (adapters, pseudo-terminals) refuse this; harmless.
        int dtr = TIOCM_DTR;
        (void)::ioctl(fd, TIOCMBIC, &dtr);
    }
    return result;
}

LineResult setLineSpeed(int fd, uint32_t baud) {
    if (speedFor(baud) == B0) return LineResult::BadSetting;
    return update(fd, [&](termios& t) { return applySpeed(t, baud); });
}

LineResult setLineFormat(int fd, unsigned dataBits, unsigned parity, unsigned stopBits) {
    termios probe{};
    if (!applyFormat(probe, dataBits, parity, stopBits)) return LineResult::BadSetting;
    return update(fd, [&](termios& t) { return applyFormat(t, dataBits, parity, stopBits); });
}

}  // namespace xel::sys
