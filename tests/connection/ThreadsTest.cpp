// Two threads sharing one connection, as the client and the monitor do: every
// reply must belong to its own command.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "tests/connection/CommFixture.h"
#include "tests/connection/ScriptedPeer.h"

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

}  // namespace
