// The bootloader channel in the connection's link slot, against xelsim's
// bootloader engine on a real pseudo-terminal mapped as COM5.
#include <gtest/gtest.h>

#include "tests/core/connection/CommFixture.h"
#include "tests/core/connection/ScriptedPeer.h"
#include "tests/platform/picboot/PtyBootDevice.h"

namespace {

using xel::CommErr;
using xeltest::CommHandle;

const uint8_t kErase400[] = {0x03, 0x01, 0x00, 0x04, 0x00};

TEST(BootloaderSlot, TheDownloadHoldsTheSlotUntilItClosesTheChannel) {
    xeltest::PtyBootDevice device;
    device.mapAs("COM5");
    device.start();
    CommHandle comm;
    comm.setAddress(std::string("COM5"));

    ASSERT_TRUE(comm->OpenBootloader());
    EXPECT_FALSE(comm.connected()) << "the bootloader does not count as a connected unit";
    HRESULT status = 0;
    EXPECT_EQ(comm.connect(&status), xel::CommErrAlreadyConnected);
    EXPECT_EQ(status, 1);
    // Disconnect leaves the download's channel alone.
    EXPECT_EQ(comm->Disconnect(), S_OK);
    EXPECT_GE(comm->BootSendPacket(kErase400, sizeof kErase400, 255, 25), 0);

    const uint8_t row[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const BootBlockRequest request{2, 16, 0, 0x400, 8, 1, 3};
    EXPECT_NE(comm->BootWriteBlock(request, row), 0);
    device.with([&](xelsim::BootDevice& d) {
        for (int i = 0; i < 16; ++i) EXPECT_EQ(d.programMemory()[0x400 + i], row[i]) << "byte " << i;
    });

    comm->CloseBootloader();
    comm->CloseBootloader();  // a second close finds nothing to close
    EXPECT_LT(comm->BootSendPacket(kErase400, sizeof kErase400, 255, 25), 0);
    EXPECT_EQ(comm->BootWriteBlock(request, row), 0);

    // The slot is empty again: the object connects as usual.
    xeltest::ScriptedPeer unit;
    comm.setAddress(unit.address());
    EXPECT_EQ(comm.connect(), xel::CommErrNone);
}

TEST(BootloaderSlot, OpeningTheBootloaderClosesAnOpenLink) {
    xeltest::PtyBootDevice device;
    device.mapAs("COM5");
    device.start();
    xeltest::ScriptedPeer unit;
    CommHandle comm;
    comm.setAddress(unit.address());
    ASSERT_EQ(comm.connect(), xel::CommErrNone);

    comm.setAddress(std::string("COM5"));
    ASSERT_TRUE(comm->OpenBootloader());
    EXPECT_FALSE(comm.connected());
    CommErr err = xel::CommErrNone;
    EXPECT_EQ(comm.write(u"mute\r", &err), 2250);
    comm->CloseBootloader();

    // A port without a bootloader: the open fails and leaves nothing behind.
    device.stop();
    EXPECT_FALSE(comm->OpenBootloader());
    comm.setAddress(unit.address());
    EXPECT_EQ(comm.connect(), xel::CommErrNone);
}

}  // namespace
