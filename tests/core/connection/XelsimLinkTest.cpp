// The connection against the real xelsim, over TCP and over a pseudo-terminal
// reached as a serial port name, checked against xelsim's frame log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/core/connection/CommFixture.h"
#include "tests/support/XelsimProcess.h"

namespace {

using xeltest::CommHandle;
using xeltest::XelsimProcess;

// What the host sent, in order, with the checksum checked by the unit.
void expectCommands(const XelsimProcess& sim, const std::vector<std::string>& want) {
    EXPECT_EQ(sim.receivedTexts(), want) << sim.diagnostics();
    for (const auto& e : sim.log()) {
        if (e.dir == "rx" && e.checked) {
            EXPECT_TRUE(e.checksumOk) << e.line;
        }
    }
}

TEST(XelsimLink, TcpHandshakeAndQueries) {
    XelsimProcess sim;
    CommHandle comm;
    comm.setAddress(sim.address());
    ASSERT_EQ(comm.connect(), xel::CommErrNone) << sim.diagnostics();

    // "vu" carries the eight levels as four pairs, the first of each in bits 12-23.
    sim.panel("vu 1 2 3 4 5 6 7 4095");
    std::vector<LONG> levels(4, -1);
    ASSERT_EQ(comm.query(u"vu\r", levels), 0);
    EXPECT_EQ(levels, (std::vector<LONG>{0x1002, 0x3004, 0x5006, 0x7FFF}));

    std::vector<LONG> mute{-1};
    ASSERT_EQ(comm.query(u"mute\r", mute), 0);
    EXPECT_EQ(mute[0], 1) << "audio on answers 1";
    sim.panel("mute on");
    ASSERT_EQ(comm.query(u"mute\r", mute), 0);
    EXPECT_EQ(mute[0], 0);

    EXPECT_EQ(comm.command(u"mute 1\r"), 0);
    EXPECT_FALSE(sim.dump().muted);
    expectCommands(sim, {"checksum 1", "picver", "vu", "mute", "mute", "mute 1"});
    EXPECT_TRUE(sim.dump().checksum) << "the handshake turned checking on";
}

TEST(XelsimLink, SerialNameThroughThePortsFolder) {
    XelsimProcess sim({}, XelsimProcess::Link::Pty);
    const char* home = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(home, nullptr);
    const std::filesystem::path ports = std::filesystem::path(home) / "xelor" / "ports";
    std::filesystem::create_directories(ports);
    std::filesystem::remove(ports / "COM7");
    std::filesystem::create_symlink(sim.linkPath(), ports / "COM7");

    CommHandle comm;
    comm.setAddress(std::string("COM7"));
    ASSERT_EQ(comm.connect(), xel::CommErrNone) << sim.diagnostics();
    std::vector<LONG> values{-1, -1};
    ASSERT_EQ(comm.query(u"rdeep 1 3\r", values), 0);
    const auto dump = sim.dump();
    EXPECT_EQ(values[0], dump.eeprom[3]);
    EXPECT_EQ(values[1], dump.eeprom[4]);
    comm->Disconnect();
    EXPECT_FALSE(comm.connected());
    expectCommands(sim, {"checksum 1", "picver", "rdeep 1 3"});
}

TEST(XelsimLink, SplitAndSlowRepliesStillArriveWhole) {
    XelsimProcess sim({"--split", "--split-ms", "30", "--delay-ms", "100"});
    CommHandle comm;
    comm.setAddress(sim.address());
    ASSERT_EQ(comm.connect(), xel::CommErrNone) << sim.diagnostics();
    sim.panel("vu 800 801 802 803 804 805 806 807");
    std::vector<LONG> levels(4, 0);
    ASSERT_EQ(comm.query(u"vu\r", levels), 0);
    EXPECT_EQ(levels, (std::vector<LONG>{800 << 12 | 801, 802 << 12 | 803, 804 << 12 | 805, 806 << 12 | 807}));
    EXPECT_EQ(sim.receivedTexts().size(), 3u) << "one attempt each";
}

TEST(XelsimLink, AReplyWithoutPromptFailsEachAttempt) {
    XelsimProcess sim({"--no-prompt-after", "2"});
    CommHandle comm;
    comm.setAddress(sim.address());
    ASSERT_EQ(comm.connect(), xel::CommErrNone) << sim.diagnostics();
    std::vector<LONG> v{-1};
    EXPECT_EQ(comm.query(u"mute\r", v), 1);
    EXPECT_EQ(v[0], -1);
    expectCommands(sim, {"checksum 1", "picver", "mute", "mute", "mute"});
}

}  // namespace
