// Line settings of a tty: the format table, the speed table and the settings
// reaching a real pseudo-terminal.
#include <gtest/gtest.h>

#include <tuple>

#include <sys/ioctl.h>

#include "SysTestSupport.h"
#include "xelsys/SerialLine.h"

using namespace xel::sys;

namespace {

constexpr tcflag_t kFormatBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

}  // namespace

TEST(SerialLine, FormatCodesMapToTheirFlags) {
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

TEST(SerialLine, CodesOutOfRangeLeaveTheSettingsAsTheyWere) {
    for (const auto& [dataBits, parity, stopBits] :
         {std::tuple{9u, 0u, 0u}, {4u, 0u, 0u}, {8u, 5u, 0u}, {8u, 0u, 3u}}) {
        termios t{};
        t.c_cflag = CS7 | PARENB;
        t.c_iflag = INPCK;
        EXPECT_FALSE(applyFormat(t, dataBits, parity, stopBits)) << dataBits << "/" << parity << "/" << stopBits;
        EXPECT_EQ(t.c_cflag, tcflag_t{CS7 | PARENB});
        EXPECT_EQ(t.c_iflag, tcflag_t{INPCK});
    }
}

TEST(SerialLine, SpeedsMapToTheirConstantsAndOthersToNone) {
    EXPECT_EQ(speedFor(38400), speed_t{B38400});
    EXPECT_EQ(speedFor(115200), speed_t{B115200});
    EXPECT_EQ(speedFor(50), speed_t{B50});
    EXPECT_EQ(speedFor(4000000), speed_t{B4000000});
    for (uint32_t odd : {0u, 12345u, 38401u, 4000001u}) EXPECT_EQ(speedFor(odd), speed_t{B0}) << odd;
}

namespace {

termios lineOf(const systest::Pty& pty) {
    termios t{};
    EXPECT_EQ(::tcgetattr(pty.master, &t), 0);
    return t;
}

// Flow control and hang-up switched on, cooked: what a line may hold from its last user.
void dirty(const systest::Pty& pty) {
    termios t = lineOf(pty);
    t.c_cflag |= CRTSCTS | HUPCL;
    t.c_lflag |= ICANON | ECHO;
    ::cfsetospeed(&t, B9600);
    ::cfsetispeed(&t, B9600);
    ASSERT_EQ(::tcsetattr(pty.line, TCSANOW, &t), 0);
}

}  // namespace

// A pseudo-terminal keeps speed, flow control and hang-up (it may drop the
// character size and parity; the format table above has those).
TEST(SerialLine, ConfigureLineSetsRawAndWhatTheCallerAsks) {
    for (const bool cts : {true, false}) {
        systest::Pty pty;
        dirty(pty);
        LineSettings settings;
        settings.baud = 38400;
        settings.ctsFlow = cts;
        settings.lowerDtr = true;  // a pseudo-terminal refuses this; not a failure
        ASSERT_EQ(configureLine(pty.line, settings), LineResult::Ok);
        const termios t = lineOf(pty);
        EXPECT_EQ(::cfgetospeed(&t), speed_t{B38400});
        EXPECT_EQ(bool(t.c_cflag & CRTSCTS), cts);
        EXPECT_FALSE(t.c_cflag & HUPCL) << "closing must not hang up the line";
        EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG)) << "bytes must pass raw";
        EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL));
    }
}

TEST(SerialLine, ABadSettingIsReportedWhileTheValidOnesStillApply) {
    systest::Pty pty;
    dirty(pty);
    LineSettings settings;
    settings.baud = 12345;  // no such speed
    settings.ctsFlow = true;
    EXPECT_EQ(configureLine(pty.line, settings), LineResult::BadSetting);
    termios t = lineOf(pty);
    EXPECT_EQ(::cfgetospeed(&t), speed_t{B9600}) << "an unknown speed keeps the line's";
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_lflag & ICANON);

    settings.baud = 0;  // keep the speed
    settings.parity = 7;
    EXPECT_EQ(configureLine(pty.line, settings), LineResult::BadSetting);
    settings.parity = 0;
    EXPECT_EQ(configureLine(pty.line, settings), LineResult::Ok);
    EXPECT_EQ(::cfgetospeed(&(t = lineOf(pty))), speed_t{B9600});

    // The single changes refuse what they cannot set, and change nothing then.
    EXPECT_EQ(setLineSpeed(pty.line, 12345), LineResult::BadSetting);
    EXPECT_EQ(setLineFormat(pty.line, 8, 0, 3), LineResult::BadSetting);
    const termios after = lineOf(pty);
    EXPECT_EQ(after.c_cflag, t.c_cflag);
    EXPECT_EQ(after.c_iflag, t.c_iflag);
    EXPECT_EQ(setLineSpeed(pty.line, 115200), LineResult::Ok);
    EXPECT_EQ(::cfgetospeed(&(t = lineOf(pty))), speed_t{B115200});
    EXPECT_EQ(setLineFormat(pty.line, 8, 2, 2), LineResult::Ok);
    EXPECT_TRUE(lineOf(pty).c_iflag & INPCK);

    EXPECT_EQ(configureLine(-1, settings), LineResult::SystemError);
    EXPECT_EQ(setLineSpeed(-1, 38400), LineResult::SystemError);
}
