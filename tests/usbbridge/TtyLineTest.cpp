// The character format and speed table shared by the bridge and the serial line.
#include <gtest/gtest.h>

#include "platform/usbbridge/TtyLine.h"

using namespace xel::tty;

namespace {

constexpr tcflag_t kFormatBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

}  // namespace

TEST(TtyLine, FormatCodesMapToTheirFlags) {
    struct Row {
        unsigned dataBits, parity, stopBits;
        tcflag_t cflag;
        bool checked;
    };
    const Row rows[] = {
        {8, 0, 0, CS8, false},
        {7, 1, 0, CS7 | PARENB | PARODD, true},
        {6, 2, 2, CS6 | PARENB | CSTOPB, true},
        {5, 3, 1, CS5 | PARENB | PARODD | CMSPAR | CSTOPB, true},
        {8, 4, 0, CS8 | PARENB | CMSPAR, true},
    };
    for (const Row& row : rows) {
        termios t{};
        // Start from the opposite of every flag, so stale bits show up.
        t.c_cflag = kFormatBits & ~row.cflag;
        t.c_iflag = row.checked ? 0 : INPCK;
        ASSERT_TRUE(applyFormat(t, row.dataBits, row.parity, row.stopBits)) << row.dataBits << row.parity;
        EXPECT_EQ(t.c_cflag & kFormatBits, row.cflag) << row.dataBits << "/" << row.parity << "/" << row.stopBits;
        EXPECT_EQ(bool(t.c_iflag & INPCK), row.checked) << "parity " << row.parity;
    }
}

