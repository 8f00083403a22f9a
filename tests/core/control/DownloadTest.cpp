// The firmware download through the core object: a converted HEX file reaches a
// bootloader on a real pseudo-terminal (reached as COM5) state by state, with
// each state announced once, and every way it can fail ends in state 4.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/core/control/CoreFixture.h"
#include "tests/platform/picboot/PtyBootDevice.h"
#include "tests/support/HexRecord.h"

namespace {

using namespace xeltest;

// One Intel HEX record line.
std::string record(int type, unsigned address, const std::vector<uint8_t>& data) {
    return hexRecord(type, address, data) + "\r\n";
}

const std::vector<uint8_t> kProgram = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
                                       0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F};
const std::vector<uint8_t> kEeprom = {0xDE, 0xAD, 0xBE, 0xEF};

class DownloadTest : public CoreTest {
protected:
    void useBootloader() {
        device.mapAs("COM5");
        device.start();
        ASSERT_EQ(comm->put_Address(Bstr(u"COM5").get()), S_OK);
    }
    void convertImage() {
        const std::string hex = dir.file("fw.hex");
        std::ofstream(hex) << record(0, 0x0400, kProgram) << record(1, 0, {});
        ASSERT_EQ(xel->ParseHexFile(Bstr(u16(hex)).get()), S_OK);
    }
    PtyBootDevice device;
    ScratchDir dir;
};

TEST_F(DownloadTest, ConvertedImagesLandInTheDevice) {
    const std::string hex = dir.file("fw.hex");
    std::ofstream(hex) << record(4, 0, {0x00, 0x00}) << record(0, 0x0400, kProgram) << record(4, 0, {0x00, 0xF0})
                       << record(0, 0x0010, kEeprom) << record(1, 0, {});
    ASSERT_EQ(xel->ParseHexFile(Bstr(u16(hex)).get()), S_OK);
    useBootloader();
    device.with([](xelsim::BootDevice& d) { d.programMemory()[0x800] = 0x00; });  // to be erased
    auto progress = EventSink::make();
    DWORD progressCookie = 0;
    ASSERT_EQ(xel::objrt::advise(xel.get(), xel::DIID__IXelStatusEvents, progress.get(), &progressCookie), S_OK);

    ASSERT_EQ(xel->DownloadToPIC(), S_OK);
    ASSERT_TRUE(sink->waitFor(downloadEnded, std::chrono::seconds(120))) << describe(sink->events());
    EXPECT_EQ(downloadStates(*sink.get()), (std::vector<LONG>{0, 1, 2, 3, 5})) << "each state announced once";
    device.with([](xelsim::BootDevice& d) {
        EXPECT_EQ(std::vector<uint8_t>(d.programMemory().begin() + 0x400, d.programMemory().begin() + 0x410), kProgram);
        EXPECT_EQ(d.programMemory()[0x800], 0xFF) << "erased";
        EXPECT_EQ(d.counters().erasedRows, 2032);
        EXPECT_EQ(std::vector<uint8_t>(d.eeprom().begin() + 0x10, d.eeprom().begin() + 0x14), kEeprom);
        EXPECT_EQ(d.bootFlag(), std::optional<uint8_t>(0x00)) << "the final write";
    });
    expectDownloadProgressEnded(*progress.get());
    VARIANT_BOOL connected = VARIANT_TRUE;
    comm->IsConnected(&connected);
    EXPECT_EQ(connected, VARIANT_FALSE) << "the bootloader channel is closed, the connection clean";
    xel::objrt::unadvise(xel.get(), xel::DIID__IXelStatusEvents, progressCookie);
}

TEST_F(DownloadTest, WithoutAConvertedImageItFailsBeforeErasingAnything) {
    useBootloader();
    ASSERT_EQ(xel->DownloadToPIC(), S_OK);
    ASSERT_TRUE(sink->waitFor(downloadEnded, std::chrono::seconds(120))) << describe(sink->events());
    EXPECT_EQ(downloadStates(*sink.get()), (std::vector<LONG>{0, 4})) << "the unit keeps its program";
    device.with([](xelsim::BootDevice& d) { EXPECT_EQ(d.counters().erasedRows, 0); });
}

// The download's steps follow one another without a pause, yet a stop still
// comes between two of them: here Cleanup from the handler of the erase's
// state event, after which the one step already begun is the last.
TEST_F(DownloadTest, CleanupEndsTheDownloadBetweenTwoSteps) {
    convertImage();
    useBootloader();
    sink->setHandler([&](const CoreEvent& e) {
        if (e.id == xel::DISPID_PICDownloadStateChange && e.args.at(0) == xel::PICDownloadErasing) xel->Cleanup();
    });
    ASSERT_EQ(xel->DownloadToPIC(), S_OK);
    ASSERT_TRUE(sink->waitFor([](const std::vector<CoreEvent>& all) {
        for (const auto& e : all)
            if (e.id == xel::DISPID_PICDownloadStateChange && e.args.at(0) == xel::PICDownloadErasing) return true;
        return false;
    })) << describe(sink->events());
    ASSERT_EQ(xel->Cleanup(), S_OK);  // the monitor thread has ended once this returns
    sink->setHandler(nullptr);
    device.with([](xelsim::BootDevice& d) { EXPECT_LE(d.counters().erasedRows, 1); });
    EXPECT_EQ(downloadStates(*sink.get()), (std::vector<LONG>{0, 1})) << describe(sink->events());
}

TEST_F(DownloadTest, NoBootloaderOnThePort) {
    convertImage();
    const auto ports = std::filesystem::path(privateConfigHome()) / "xelor" / "ports";
    std::filesystem::create_directories(ports);
    std::filesystem::remove(ports / "COM9");
    std::filesystem::create_symlink(dir.file("no-such-device"), ports / "COM9");
    ASSERT_EQ(comm->put_Address(Bstr(u"COM9").get()), S_OK);
    ASSERT_EQ(xel->DownloadToPIC(), S_OK);
    ASSERT_TRUE(sink->waitFor(downloadEnded)) << describe(sink->events());
    EXPECT_EQ(downloadStates(*sink.get()), (std::vector<LONG>{0, 4}));

    // A device that stops answering part-way through the erase.
    sink->clear();
    useBootloader();
    device.with([](xelsim::BootDevice& d) { d.faults().answerLimit = 100; });
    ASSERT_EQ(xel->DownloadToPIC(), S_OK);
    ASSERT_TRUE(sink->waitFor(downloadEnded, std::chrono::seconds(60))) << describe(sink->events());
    EXPECT_EQ(downloadStates(*sink.get()), (std::vector<LONG>{0, 1, 4}));
}

}  // namespace
