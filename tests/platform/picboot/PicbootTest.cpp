// The bootloader library against xelsim's bootloader engine over a real
// pseudo-terminal, reached as COM5 through the test's ports/ mapping.
#include "platform/picboot/picboot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/platform/picboot/PtyBootDevice.h"

namespace {

using xelsim::BootDevice;
using xeltest::PtyBootDevice;

constexpr int32_t kBaud = 38400;
constexpr int32_t kTimeoutMs = 1000;

std::vector<uint8_t> erasePacket(uint32_t address) {
    return {0x03, 0x01, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address >> 16)};
}

BootBlockRequest block(uint8_t command, uint8_t count, uint32_t address, uint8_t unitSize) {
    BootBlockRequest r{};
    r.command = command;
    r.count = count;
    r.address = address;
    r.unitSize = unitSize;
    r.revision = 1;
    r.attempts = 3;
    return r;
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + 7 * i);
    return v;
}

class BootChannel : public ::testing::Test {
protected:
    void SetUp() override {
        dev_.mapAs("COM5");
        dev_.start();
    }
    void TearDown() override {
        if (handle_ > 0) PicBootClose(handle_);
    }
    int32_t open() {
        handle_ = PicBootOpen("COM5", kBaud, kTimeoutMs);
        return handle_;
    }
    long requests() {
        long n = 0;
        dev_.with([&](BootDevice& d) { n = d.counters().requests; });
        return n;
    }
    int32_t send(const std::vector<uint8_t>& packet) {
        return PicBootSendPacket(handle_, packet.data(), static_cast<uint16_t>(packet.size()), 255, 25);
    }

    PtyBootDevice dev_;
    int32_t handle_ = PICBOOT_INVALID_HANDLE;
};

// --- Opening and closing ------------------------------------------------------------

TEST_F(BootChannel, OpensThroughThePortsMappingOnlyWhenABootloaderAnswers) {
    dev_.dirtyLine();
    ASSERT_GT(open(), 0);
    // The bootloader's line: the chosen speed, no flow control, no hang-up.
    const termios t = dev_.line();
    EXPECT_EQ(::cfgetospeed(&t), speed_t{B38400});
    EXPECT_FALSE(t.c_cflag & (CRTSCTS | HUPCL));
    EXPECT_GE(requests(), 1) << "open did not ask the device who it is";
    // The line is ours alone while the channel is open.
    EXPECT_EQ(PicBootOpen("COM5", kBaud, 200), PICBOOT_INVALID_HANDLE);
    EXPECT_EQ(PicBootClose(handle_), 0);
    EXPECT_EQ(PicBootClose(handle_), -1);
    // Closed, the line opens again, by a name in another letter case and by its path.
    handle_ = PicBootOpen("com5", kBaud, kTimeoutMs);
    EXPECT_GT(handle_, 0);
    EXPECT_EQ(PicBootClose(handle_), 0);
    handle_ = PicBootOpen(dev_.slavePath().c_str(), kBaud, kTimeoutMs);
    EXPECT_GT(handle_, 0);
}

TEST_F(BootChannel, OpenFailsWhenNothingAnswersOrThePortIsUnusable) {
    dev_.stop();
    EXPECT_EQ(PicBootOpen("COM5", kBaud, 200), PICBOOT_INVALID_HANDLE);
    dev_.start();

    const std::string file = xeltest::privateConfigHome() + "/not-a-tty";
    std::ofstream(file) << "x";
    EXPECT_EQ(PicBootOpen(file.c_str(), kBaud, 200), PICBOOT_INVALID_HANDLE);
    EXPECT_EQ(PicBootOpen("COM77", kBaud, 200), PICBOOT_INVALID_HANDLE);  // no mapping, no /dev/ttyS76
    EXPECT_EQ(PicBootOpen("COM5", 12345, 200), PICBOOT_INVALID_HANDLE);   // no such rate
    EXPECT_EQ(PicBootOpen(nullptr, kBaud, 200), PICBOOT_INVALID_HANDLE);
    EXPECT_EQ(PicBootOpen("COM5", kBaud, 0), PICBOOT_INVALID_HANDLE);
    // None of that left the line busy.
    EXPECT_GT(open(), 0);
}

TEST_F(BootChannel, AMachineWideNameOpensUnlessTheUsersOwnMappingOverridesIt) {
    dev_.mapAs("COM6", /*machineWide=*/true);
    handle_ = PicBootOpen("com6", kBaud, kTimeoutMs);
    ASSERT_GT(handle_, 0) << "the machine's ports/COM6 was not used";
    ASSERT_EQ(PicBootClose(handle_), 0);
    handle_ = PICBOOT_INVALID_HANDLE;

    const std::string mine = xeltest::privateConfigHome() + "/xelor/ports/Com6";
    std::filesystem::create_symlink("/dev/null/gone", mine);
    EXPECT_EQ(PicBootOpen("COM6", kBaud, 200), PICBOOT_INVALID_HANDLE) << "the user's mapping must win";
    std::filesystem::remove(mine);
    EXPECT_GT(open(), 0);
}

TEST_F(BootChannel, CallsOnAnUnknownHandleFail) {
    const auto packet = erasePacket(0x400);
    const BootBlockRequest r = block(2, 8, 0x400, 8);
    const uint8_t data[8] = {};
    for (int32_t h : {PICBOOT_INVALID_HANDLE, 0, 4242}) {
        EXPECT_EQ(PicBootSendPacket(h, packet.data(), 5, 255, 25), PICBOOT_ERR_ARGUMENT);
        EXPECT_EQ(PicBootWriteBlock(h, &r, data), 0);
        EXPECT_EQ(PicBootClose(h), -1);
    }
}

// --- Erasing --------------------------------------------------------------------------

TEST_F(BootChannel, ErasePacketsClearTheApplicationAreaOnly) {
    dev_.with([](BootDevice& d) { std::fill(d.programMemory().begin(), d.programMemory().end(), 0x00); });
    ASSERT_GT(open(), 0);
    int erased = 0;
    for (uint32_t a = 0x000400; a <= 0x01FFFF; a += 64, ++erased) {
        ASSERT_EQ(send(erasePacket(a)), 0) << "erase at " << std::hex << a;
    }
    EXPECT_EQ(erased, 2032);
    dev_.with([](BootDevice& d) {
        const auto& mem = d.programMemory();
        EXPECT_TRUE(std::all_of(mem.begin(), mem.begin() + 0x400, [](uint8_t b) { return b == 0x00; }))
            << "the boot block was touched";
        EXPECT_TRUE(std::all_of(mem.begin() + 0x400, mem.end(), [](uint8_t b) { return b == 0xFF; }));
        EXPECT_EQ(d.counters().erasedRows, 2032);
    });
}

TEST_F(BootChannel, RefusedAndMalformedPacketsReportFailure) {
    ASSERT_GT(open(), 0);
    EXPECT_EQ(send(erasePacket(0x000000)), PICBOOT_ERR_REFUSED);  // the bootloader's own block
    EXPECT_EQ(send(erasePacket(0x020000)), PICBOOT_ERR_REFUSED);  // past the end of program memory
    EXPECT_EQ(send({0x7E}), PICBOOT_ERR_REFUSED);                 // no such command
    const uint8_t one = 0x03;
    EXPECT_EQ(PicBootSendPacket(handle_, nullptr, 5, 255, 25), PICBOOT_ERR_ARGUMENT);
    EXPECT_EQ(PicBootSendPacket(handle_, &one, 0, 255, 25), PICBOOT_ERR_ARGUMENT);
}

// --- Writing ----------------------------------------------------------------------------

TEST_F(BootChannel, ProgramAndEepromRowsLandAndReadBack) {
    ASSERT_GT(open(), 0);
    const auto row1 = pattern(16, 0x10);
    const auto row2 = pattern(16, 0x90);
    BootBlockRequest r = block(2, 16, 0x000400, 8);
    EXPECT_EQ(PicBootWriteBlock(handle_, &r, row1.data()), 1);
    r.address = 0x01FFF0;
    EXPECT_EQ(PicBootWriteBlock(handle_, &r, row2.data()), 1);

    // Marker bytes in the data must survive the framing.
    std::vector<uint8_t> ee = {0xD5, 0xD6, 0x00, 0xFF, 0xD5, 0xD5, 0xD6, 0x20, 1, 2, 3, 4, 5, 6, 7, 8};
    BootBlockRequest e = block(5, 16, 0x0000F0, 1);
    EXPECT_EQ(PicBootWriteBlock(handle_, &e, ee.data()), 1);

    const uint8_t done = 0x00;
    BootBlockRequest fin = block(5, 1, 0x7FFF, 1);
    EXPECT_EQ(PicBootWriteBlock(handle_, &fin, &done), 1);

    dev_.with([&](BootDevice& d) {
        const auto& mem = d.programMemory();
        EXPECT_TRUE(std::equal(row1.begin(), row1.end(), mem.begin() + 0x400));
        EXPECT_TRUE(std::equal(row2.begin(), row2.end(), mem.begin() + 0x1FFF0));
        EXPECT_EQ(mem[0x410], 0xFF);
        EXPECT_TRUE(std::equal(ee.begin(), ee.end(), d.eeprom().begin() + 0xF0));
        ASSERT_TRUE(d.bootFlag().has_value());
        EXPECT_EQ(*d.bootFlag(), 0x00);
    });
}

TEST_F(BootChannel, BadRequestsAreRefusedBeforeAnythingIsSent) {
    ASSERT_GT(open(), 0);
    const long before = requests();
    const auto data = pattern(64, 1);
    BootBlockRequest misaligned = block(2, 16, 0x000404, 8);
    BootBlockRequest oddCount = block(2, 12, 0x000400, 8);
    BootBlockRequest tooLong = block(2, 16, 0x000400, 8);
    tooLong.count = PICBOOT_MAX_BLOCK + 8;
    BootBlockRequest badRevision = block(2, 16, 0x000400, 8);
    badRevision.revision = 2;
    BootBlockRequest notZero = block(5, 1, 0x10, 1);
    notZero.zero = 1;
    BootBlockRequest wide = block(5, 16, 0xFFFFF8, 1);
    for (const BootBlockRequest* r : {&misaligned, &oddCount, &tooLong, &badRevision, &notZero, &wide}) {
        EXPECT_EQ(PicBootWriteBlock(handle_, r, data.data()), 0);
    }
    EXPECT_EQ(PicBootWriteBlock(handle_, nullptr, data.data()), 0);
    EXPECT_EQ(PicBootWriteBlock(handle_, &misaligned, nullptr), 0);
    EXPECT_EQ(requests(), before);
}

TEST_F(BootChannel, AReadBackThatDiffersIsAFailure) {
    ASSERT_GT(open(), 0);
    dev_.with([](BootDevice& d) { d.faults().deadProgramCell = 0x000805; });
    const auto row = pattern(16, 0x31);
    BootBlockRequest r = block(2, 16, 0x000800, 8);
    EXPECT_EQ(PicBootWriteBlock(handle_, &r, row.data()), 0);

    // Program memory that was not erased first cannot take the bytes either.
    dev_.with([](BootDevice& d) {
        d.faults().deadProgramCell.reset();
        std::fill_n(d.programMemory().begin() + 0x900, 16, 0x0F);
    });
    r.address = 0x000900;
    EXPECT_EQ(PicBootWriteBlock(handle_, &r, row.data()), 0);

    // Writes into the bootloader's own block are refused.
    r.address = 0x000000;
    EXPECT_EQ(PicBootWriteBlock(handle_, &r, row.data()), 0);
    r.address = 0x000A00;
    EXPECT_EQ(PicBootWriteBlock(handle_, &r, row.data()), 1);
}

// --- A line that misbehaves ----------------------------------------------------------------

TEST_F(BootChannel, LostDamagedAndNoisyRepliesAreRetried) {
    ASSERT_GT(open(), 0);
    const long before = requests();
    dev_.with([](BootDevice& d) {
        d.faults().garbleReplies = 2;
        d.faults().dropReplies = 1;
    });
    EXPECT_EQ(send(erasePacket(0x400)), 0);
    EXPECT_EQ(requests() - before, 4) << "one drop and two damaged replies make four sends";

    // A damaged reply to a block write is retried as well.
    dev_.with([](BootDevice& d) { d.faults().garbleReplies = 1; });
    const auto row = pattern(16, 0x55);
    BootBlockRequest r = block(2, 16, 0x000400, 8);
    EXPECT_EQ(PicBootWriteBlock(handle_, &r, row.data()), 1);

    // Junk on the line (the unit's prompt, a cut-off frame) is skipped.
    dev_.inject(std::string("?\r\n>\xD5\x07\x10\x01", 8));
    EXPECT_EQ(send(erasePacket(0x440)), 0);
}

TEST_F(BootChannel, ADeviceThatStopsAnsweringEndsEachCallWithAFailure) {
    ASSERT_GT(open(), 0);
    const long before = requests();
    dev_.with([&](BootDevice& d) { d.faults().answerLimit = before + 2; });
    EXPECT_EQ(send(erasePacket(0x400)), 0);
    EXPECT_EQ(send(erasePacket(0x440)), 0);
    EXPECT_EQ(send(erasePacket(0x480)), PICBOOT_ERR_NO_REPLY);
    const auto row = pattern(16, 3);
    BootBlockRequest r = block(2, 16, 0x000400, 8);
    EXPECT_EQ(PicBootWriteBlock(handle_, &r, row.data()), 0);
    EXPECT_EQ(PicBootClose(handle_), 0);
    handle_ = PICBOOT_INVALID_HANDLE;

    // The unit restarted: the same line works again.
    dev_.with([](BootDevice& d) { d.faults().answerLimit = -1; });
    ASSERT_GT(open(), 0);
    EXPECT_EQ(send(erasePacket(0x480)), 0);
}

// --- The wire format as the README gives it ---------------------------------------------

std::string bytes(std::initializer_list<int> v) {
    std::string s;
    for (int b : v) s.push_back(static_cast<char>(b));
    return s;
}

TEST(BootWireFormat, DocumentedFramesGetDocumentedAnswers) {
    BootDevice d;
    auto feed = [&d](const std::string& s) {
        return d.received({reinterpret_cast<const uint8_t*>(s.data()), s.size()});
    };
    // Identify.
    EXPECT_EQ(feed(bytes({0xD5, 0x01, 0x01, 0x00, 0xC8, 0x9D})),
              bytes({0xD5, 0x01, 0x07, 0x00, 0x01, 0x00, 0x00, 0x02, 0x00, 0x04, 0x5F, 0x0D}));
    // Erase the row at 0x000400, after some noise.
    EXPECT_EQ(feed(bytes({0x3F, 0x0D, 0xD6, 0xD5, 0x02, 0x05, 0x03, 0x01, 0x00, 0x04, 0x00, 0x86, 0x8E})),
              bytes({0xD5, 0x02, 0x01, 0x00, 0x91, 0xCD}));
    // Two EEPROM bytes that are the markers themselves, escaped both ways.
    EXPECT_EQ(feed(bytes({0xD5, 0x03, 0x07, 0x05, 0x02, 0x10, 0x00, 0x00, 0xD6, 0xF5, 0xD6, 0xF6, 0x45, 0xFA})),
              bytes({0xD5, 0x03, 0x03, 0x00, 0xD6, 0xF5, 0xD6, 0xF6, 0x25, 0x6B}));
    EXPECT_EQ(d.eeprom()[0x10], 0xD5);
    EXPECT_EQ(d.eeprom()[0x11], 0xD6);
    // A damaged CRC is answered with status 1 and changes nothing.
    const std::string nak = feed(bytes({0xD5, 0x04, 0x05, 0x03, 0x01, 0x00, 0x08, 0x00, 0x00, 0x00}));
    ASSERT_GE(nak.size(), 4u);
    EXPECT_EQ(static_cast<uint8_t>(nak[3]), BootDevice::kStatusFrameError);
    EXPECT_EQ(d.counters().erasedRows, 1);
    EXPECT_EQ(d.counters().badFrames, 1);
}

}  // namespace
