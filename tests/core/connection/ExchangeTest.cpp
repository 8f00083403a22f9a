// Whole exchanges against a TCP peer that plays back scripted bytes: the exact
// frames sent, reply collection, retries, and the faults a real line shows.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/connection/Connection.h"
#include "tests/core/connection/CommFixture.h"
#include "tests/core/connection/ScriptedPeer.h"

namespace {

using namespace std::chrono_literals;
using xel::CommErr;
using xeltest::CommHandle;
using xeltest::hexBytes;
using xeltest::Piece;
using xeltest::ScriptedPeer;

// A peer, and a connection that has done its handshake with it.
class Exchange : public ::testing::Test {
protected:
    void SetUp() override {
        comm.setAddress(peer.address());
        HRESULT status = -1;
        ASSERT_EQ(comm.connect(&status), xel::CommErrNone);
        ASSERT_EQ(status, 0);
        peer.clear();
    }
    // What the host sent since the handshake, as hexadecimal bytes.
    std::string wire() const { return hexBytes(peer.received()); }

    ScriptedPeer peer;
    CommHandle comm;
};

TEST_F(Exchange, ConnectSendsTheTwoHandshakeFrames) {
    ScriptedPeer fresh;
    CommHandle other;
    other.setAddress(fresh.address());
    ASSERT_EQ(other.connect(), xel::CommErrNone);
    EXPECT_TRUE(other.connected());
    EXPECT_EQ(fresh.commands(), (std::vector<std::string>{"checksum 1", "picver"}));
    EXPECT_EQ(fresh.badChecksums(), 0);
    EXPECT_EQ(hexBytes(fresh.received()), "63 68 65 63 6B 73 75 6D 20 31 0D A4 70 69 63 76 65 72 0D 89");
}

TEST_F(Exchange, WriteFramesExactlyAsTheUnitExpects) {
    CommErr err = xel::CommErrCheck;
    EXPECT_EQ(comm.write(u"picver\r", &err), 0);
    EXPECT_EQ(err, xel::CommErrNone);
    ASSERT_TRUE(peer.waitForCommands(1));
    EXPECT_EQ(comm.write(u"mute\r"), 0);
    EXPECT_EQ(comm.write(u"\r"), 0);
    ASSERT_TRUE(peer.waitForCommands(3));
    EXPECT_EQ(comm.write(u""), 0);
    std::string want = "70 69 63 76 65 72 0D 89 6D 75 74 65 0D BB 0D 00 00";
    for (int i = 0; i < 100 && wire() != want; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(wire(), want);
}

TEST_F(Exchange, AnOverlongCommandIsRefusedAndNothingIsSent) {
    std::u16string cmd(250, u'a');
    cmd.back() = u'\r';
    CommErr err = xel::CommErrNone;
    EXPECT_EQ(comm.write(cmd, &err), 1);
    EXPECT_EQ(err, xel::CommErrWriteFailed);
    std::vector<LONG> v{0};
    EXPECT_EQ(comm.query(cmd, v), 1);
    EXPECT_EQ(comm.command(u"mute\r"), 0);
    EXPECT_EQ(peer.commands(), std::vector<std::string>{"mute"});
}

TEST_F(Exchange, AReplyInPiecesIsOneReply) {
    peer.setScript([](const std::string&) { return std::vector<Piece>{{"12", 0}, {"3\r\n>", 120}}; });
    std::vector<LONG> v{0};
    EXPECT_EQ(comm.query(u"mute\r", v), 0);
    EXPECT_EQ(v[0], 0x123);
    EXPECT_EQ(peer.commands().size(), 1u);
}

TEST_F(Exchange, APromptThatIsNotLastDoesNotEndTheReply) {
    peer.setScript([](const std::string&) { return std::vector<Piece>{{"1>2", 0}, {"\r\n>", 60}}; });
    ASSERT_EQ(comm.write(u"x\r"), 0);
    std::u16string reply;
    CommErr err = xel::CommErrCheck;
    EXPECT_EQ(comm.read(reply, &err), 1);
    EXPECT_EQ(err, xel::CommErrNone);
    EXPECT_EQ(reply, u"1>2\r\n>");
    EXPECT_EQ(xel::core::lastReply(), u"1>2\r\n>");
}

TEST_F(Exchange, ReadHandsOutTheWholeReplyInAWindows1252Text) {
    peer.setScript([](const std::string&) { return std::vector<Piece>{{"\xE9\x80\t1\r\n>", 0}}; });
    ASSERT_EQ(comm.write(u"x\r"), 0);
    std::u16string reply;
    EXPECT_EQ(comm.read(reply), 1);
    EXPECT_EQ(reply, u"\u00e9\u20ac\t1\r\n>");
}

TEST_F(Exchange, ARefusedCommandIsRetriedAndFailsAfterThreeRefusals) {
    std::atomic<int> asked{0};
    peer.setScript([&](const std::string&) { return std::vector<Piece>{{++asked < 3 ? "?\r\n>" : "5\r\n>", 0}}; });
    std::vector<LONG> v{0};
    EXPECT_EQ(comm.query(u"pin\r", v), 0);
    EXPECT_EQ(v[0], 5);
    EXPECT_EQ(peer.commands().size(), 3u);

    peer.clear();
    peer.setScript([](const std::string&) { return std::vector<Piece>{{"?\r\n>", 0}}; });
    EXPECT_EQ(comm.command(u"wreep 1 83\r"), 1) << "a refused write is not done";
    EXPECT_EQ(peer.commands().size(), 3u);
    EXPECT_EQ(comm.command(u"setip C0A80102 18 C0A80101\r"), 1) << "a refused setip is not done either";
}

TEST_F(Exchange, ASetipWithoutReplyIsDoneAfterOneAttempt) {
    peer.setScript([](const std::string&) { return std::vector<Piece>{}; });
    EXPECT_EQ(comm.command(u"setip C0A80102 18 C0A80101\r"), 0);
    EXPECT_EQ(peer.commands().size(), 1u);
    // Any other command without a reply is tried three times and fails.
    peer.clear();
    EXPECT_EQ(comm.command(u"mute 1\r"), 1);
    EXPECT_EQ(peer.commands().size(), 3u);
}

// The unit's replies do not say which command they answer: a reply that turns up
// between a failed read and the next command is thrown away, or it would be paired
// with that command, and every reply after it with the command before.
TEST_F(Exchange, LateReplyIsNeverPairedWithTheWrongCommand) {
    peer.setScript([&](const std::string& cmd) {
        if (cmd == "first") return std::vector<Piece>{};
        return std::vector<Piece>{{"2\r\n>", 0}};
    });
    ASSERT_EQ(comm.write(u"first\r"), 0);
    std::u16string reply;
    CommErr err = xel::CommErrCheck;
    ASSERT_EQ(comm.read(reply, &err), 0);
    ASSERT_EQ(err, xel::CommErrReadFailed);
    // The answer to "first" turns up after the host gave up on it.
    peer.sendNow("1\r\n>");
    std::this_thread::sleep_for(100ms);
    std::vector<LONG> v{0};
    EXPECT_EQ(comm.query(u"second\r", v), 0);
    EXPECT_EQ(v[0], 2) << "the late reply was paired with the wrong command";
    EXPECT_EQ(comm.query(u"third\r", v), 0);
    EXPECT_EQ(v[0], 2) << "the late reply was paired with the wrong command";
}

TEST_F(Exchange, AReplyThatFillsTheBufferWithoutPromptFailsAndIsDiscarded) {
    peer.setScript([](const std::string& cmd) {
        if (cmd == "flood") return std::vector<Piece>{{std::string(300, 'A'), 0}};
        return std::vector<Piece>{{"7\r\n>", 0}};
    });
    ASSERT_EQ(comm.write(u"flood\r"), 0);
    std::u16string reply = u"old";
    CommErr err = xel::CommErrCheck;
    EXPECT_EQ(comm.read(reply, &err), 0);
    EXPECT_EQ(err, xel::CommErrReadFailed);
    EXPECT_EQ(reply, u"old");
    std::vector<LONG> v{0};
    EXPECT_EQ(comm.query(u"next\r", v), 0);
    EXPECT_EQ(v[0], 7);
}

TEST_F(Exchange, AReplyOf250BytesWithItsPromptIsDeliveredWhole) {
    const std::string body = std::string(247, 'B') + "\r\n>";
    peer.setScript([&](const std::string&) { return std::vector<Piece>{{body, 0}}; });
    ASSERT_EQ(comm.write(u"x\r"), 0);
    std::u16string reply;
    EXPECT_EQ(comm.read(reply), 1);
    EXPECT_EQ(reply.size(), 250u);
}

TEST_F(Exchange, ConnectTwiceLeavesTheLinkOpen) {
    HRESULT status = 0;
    EXPECT_EQ(comm.connect(&status), xel::CommErrAlreadyConnected);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(comm.connected());
    std::vector<LONG> v{0};
    peer.setScript([](const std::string&) { return std::vector<Piece>{{"1\r\n>", 0}}; });
    EXPECT_EQ(comm.query(u"mute\r", v), 0);
    EXPECT_EQ(v[0], 1);
}

TEST_F(Exchange, DisconnectEndsTheLinkAndTheObjectCanConnectAgain) {
    EXPECT_EQ(comm->Disconnect(), S_OK);
    EXPECT_FALSE(comm.connected());
    CommErr err = xel::CommErrNone;
    EXPECT_EQ(comm.write(u"mute\r", &err), 2250);
    EXPECT_EQ(err, xel::CommErrNotConnected);
    std::u16string reply;
    EXPECT_EQ(comm.read(reply, &err), 0);
    EXPECT_EQ(err, xel::CommErrNotConnected);

    // Bytes left over from the old link never reach the new one's first reply.
    peer.clear();
    ASSERT_EQ(comm.connect(), xel::CommErrNone);
    EXPECT_EQ(peer.commands(), (std::vector<std::string>{"checksum 1", "picver"}));
}

TEST_F(Exchange, DisconnectCutsAReadShort) {
    peer.setScript([](const std::string&) { return std::vector<Piece>{}; });
    ASSERT_EQ(comm.write(u"x\r"), 0);
    std::atomic<CommErr> err{xel::CommErrCheck};
    std::thread reader([&] {
        std::u16string reply;
        CommErr e = xel::CommErrCheck;
        comm.read(reply, &e);
        err = e;
    });
    std::this_thread::sleep_for(30ms);
    comm->Disconnect();
    reader.join();
    EXPECT_EQ(err.load(), xel::CommErrNotConnected);
}

TEST(ExchangeHandshake, AUnitThatRefusesPicverIsNotFound) {
    ScriptedPeer peer([](const std::string& cmd) {
        return std::vector<Piece>{{cmd == "picver" ? "?\r\n>" : "\r\n>", 0}};
    });
    CommHandle comm;
    comm.setAddress(peer.address());
    HRESULT status = 0;
    EXPECT_EQ(comm.connect(&status), xel::CommErrUnitNotFound);
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(comm.connected());
    // And the object connects again once the unit answers.
    peer.setScript(xeltest::emptyReply);
    EXPECT_EQ(comm.connect(), xel::CommErrNone);
}

TEST(ExchangeHandshake, NoUnitAtTheAddressFailsToConnect) {
    xeltest::LoopbackLease nobody;  // reserved, nothing listens there
    CommHandle comm;
    comm.setAddress(nobody.address());
    HRESULT status = 0;
    EXPECT_EQ(comm.connect(&status), xel::CommErrFailedConnect);
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(comm.connected());
}

}  // namespace
