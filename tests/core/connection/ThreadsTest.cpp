// Two threads sharing one connection, as the client and the monitor do: every
// reply must belong to its own command, and a Disconnect overlapping a Connect
// leaves the object disconnected.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

#include "tests/core/connection/CommFixture.h"
#include "tests/core/connection/ScriptedPeer.h"
#include "tests/support/XelsimProcess.h"

namespace {

using xeltest::Piece;

// "echo N" answers N and N + 1 in two pieces, so an exchange that overlapped
// another would mix the replies up.
std::vector<Piece> echo(const std::string& cmd) {
    unsigned n = 0;
    if (std::sscanf(cmd.c_str(), "echo %X", &n) != 1) return {{"\r\n>", 0}};
    char tail[32];
    std::snprintf(tail, sizeof tail, "%X\r\n>", n + 1);
    char head[16];
    std::snprintf(head, sizeof head, "%X\t", n);
    return {{head, 0}, {tail, 2}};
}

TEST(ExchangeThreads, TwoThreadsNeverMixUpReplies) {
    xeltest::ScriptedPeer peer(echo);
    xeltest::CommHandle comm;
    comm.setAddress(peer.address());
    ASSERT_EQ(comm.connect(), xel::CommErrNone);

    constexpr int kPerThread = 150;
    std::atomic<int> wrong{0}, failed{0};
    auto hammer = [&](unsigned base) {
        for (int i = 0; i < kPerThread; ++i) {
            const unsigned n = base + static_cast<unsigned>(i);
            char cmd[32];
            std::snprintf(cmd, sizeof cmd, "echo %X\r", n);
            std::u16string wide(cmd, cmd + std::char_traits<char>::length(cmd));
            std::vector<LONG> v{-1, -1};
            if (comm.query(wide, v) != 0) {
                ++failed;
                continue;
            }
            if (v[0] != LONG(n) || v[1] != LONG(n + 1)) ++wrong;
        }
    };
    std::thread a(hammer, 0x1000u), b(hammer, 0x8000u);
    // A third thread keeps asking whether the link is up, as the console does.
    std::atomic<bool> done{false};
    std::thread c([&] {
        while (!done) EXPECT_TRUE(comm.connected());
    });
    a.join();
    b.join();
    done = true;
    c.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(peer.commands().size(), 2u + 2 * kPerThread) << "each query answered at its first attempt";
}

using xeltest::XelsimLogEntry;
using xeltest::XelsimProcess;
using LogMoment = std::function<bool(const std::vector<XelsimLogEntry>&)>;

// Connects on a second thread, calls Disconnect once xelsim's log shows `moment`,
// and checks that the Disconnect won: Connect failed as a failed handshake does,
// the object is disconnected and its slot is free for the next Connect.
void disconnectWhileConnecting(XelsimProcess& sim, const LogMoment& moment, const std::string& when) {
    SCOPED_TRACE(when);
    xeltest::CommHandle comm;
    comm.setAddress(sim.address());
    HRESULT status = -1;
    xel::CommErr error = xel::CommErrCheck;
    std::thread connecting([&] { error = comm.connect(&status); });
    const bool reached = sim.waitForLog(moment);
    comm->Disconnect();
    connecting.join();
    ASSERT_TRUE(reached) << sim.diagnostics();

    EXPECT_EQ(status, 1) << "a Disconnect during Connect left a false connected";
    EXPECT_EQ(error, xel::CommErrFailedConnect);
    EXPECT_FALSE(comm.connected()) << "a Disconnect during Connect left a false connected";
    xel::CommErr writeError = xel::CommErrCheck;
    EXPECT_EQ(comm.write(u"mute\r", &writeError), 2250);
    EXPECT_EQ(writeError, xel::CommErrNotConnected);
    EXPECT_NE(comm.connect(), xel::CommErrAlreadyConnected) << "the overlapped Connect left its channel behind";
}

TEST(ExchangeThreads, DisconnectDuringConnectLeavesNoFalseConnected) {
    {
        XelsimProcess sim;
        // The link is accepted; the host now waits out the settle before "checksum 1".
        disconnectWhileConnecting(
            sim,
            [](const auto& log) {
                for (const auto& e : log)
                    if (e.event == "connect") return true;
                return false;
            },
            "during the settle after the TCP connect");
    }
    {
        // The reply to "checksum 1" is held back well beyond the time the handshake waits.
        XelsimProcess sim({"--delay-ms", "2000"});
        disconnectWhileConnecting(
            sim,
            [](const auto& log) {
                for (const auto& e : log)
                    if (e.dir == "rx" && e.text == "checksum 1") return true;
                return false;
            },
            "while the unit holds its reply to \"checksum 1\"");
    }
}

}  // namespace
