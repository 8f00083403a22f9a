// An assembled application, converted into memory images and written row by
// row through the bootloader library, ends up in the device byte for byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "core/control/HexImage.h"
#include "platform/picboot/picboot.h"
#include "tests/platform/picboot/PtyBootDevice.h"

namespace {

namespace fs = std::filesystem;
using xel::core::ImageRow;
using xel::core::MemoryImage;

#ifndef XELOR_GPASM
#define XELOR_GPASM ""
#endif

// Erase, program rows, data-EEPROM rows, final write: the order the download uses.
bool download(int32_t h, const std::vector<ImageRow>& program, const std::vector<ImageRow>& eedata) {
    for (uint32_t a = 0x000400; a <= 0x01FFFF; a += 64) {
        const uint8_t packet[5] = {0x03, 0x01, static_cast<uint8_t>(a), static_cast<uint8_t>(a >> 8),
                                   static_cast<uint8_t>(a >> 16)};
        if (PicBootSendPacket(h, packet, 5, 255, 25) < 0) return false;
    }
    BootBlockRequest r{};
    r.revision = 1;
    r.attempts = 3;
    r.count = 16;
    for (const ImageRow& row : program) {
        r.command = 2;
        r.unitSize = 8;
        r.address = row.address;
        if (PicBootWriteBlock(h, &r, row.bytes.data()) == 0) return false;
    }
    for (const ImageRow& row : eedata) {
        r.command = 5;
        r.unitSize = 1;
        r.address = row.address;
        if (PicBootWriteBlock(h, &r, row.bytes.data()) == 0) return false;
    }
    const uint8_t done = 0;
    BootBlockRequest fin{5, 1, 0, 0x7FFF, 1, 1, 3};
    return PicBootWriteBlock(h, &fin, &done) != 0;
}

TEST(FirmwareDownload, AssembledImageLandsInTheDeviceByteForByte) {
    if (std::string(XELOR_GPASM).empty())
        GTEST_SKIP() << "gpasm (Debian package gputils) was not found at configure time";
    const fs::path dir = fs::path(xeltest::privateConfigHome()) / "image";
    fs::create_directories(dir);
    const std::string cmd = std::string("'") + XELOR_GPASM + "' -q -a inhx32 '" +
                            FIRMWARE_DATA_DIR "/xelapp.asm' -o '" + (dir / "app.hex").string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    xel::core::MemoryImagePaths paths;
    ASSERT_EQ(xel::core::ParseHexFile(dir / "app.hex", paths), 0);
    const auto program = xel::core::ReadMemoryImage(paths[MemoryImage::ProgramMemory]);
    const auto eedata = xel::core::ReadMemoryImage(paths[MemoryImage::DataEeprom]);
    ASSERT_TRUE(program.ok) << program.error;
    ASSERT_TRUE(eedata.ok) << eedata.error;
    ASSERT_FALSE(program.rows.empty());
    ASSERT_FALSE(eedata.rows.empty());

    xeltest::PtyBootDevice dev;
    dev.mapAs("COM5");
    // What the unit held before: an older program everywhere.
    dev.with([](xelsim::BootDevice& d) { std::fill(d.programMemory().begin(), d.programMemory().end(), 0x5C); });
    dev.start();
    const int32_t h = PicBootOpen("COM5", 38400, 1000);
    ASSERT_GT(h, 0);
    EXPECT_TRUE(download(h, program.rows, eedata.rows));
    PicBootClose(h);

    dev.with([&](xelsim::BootDevice& d) {
        std::vector<uint8_t> expect(d.programMemory().size(), 0xFF);
        std::fill_n(expect.begin(), 0x400, 0x5C);  // the boot block stays as it was
        for (const ImageRow& row : program.rows)
            std::copy(row.bytes.begin(), row.bytes.end(), expect.begin() + row.address);
        EXPECT_TRUE(d.programMemory() == expect) << "program memory differs from the image";
        std::vector<uint8_t> ee(d.eeprom().size(), 0xFF);
        for (const ImageRow& row : eedata.rows) std::copy(row.bytes.begin(), row.bytes.end(), ee.begin() + row.address);
        EXPECT_TRUE(d.eeprom() == ee) << "data EEPROM differs from the image";
        EXPECT_EQ(d.bootFlag(), std::optional<uint8_t>(0x00));
    });
    std::cout << "bytes on the line: " << dev.bytesFromHost() << " to the device, " << dev.bytesToHost() << " back\n";
}

}  // namespace
