// Every fault flag, as a host meets it on a real link.
#include "tests/support/XelsimProcess.h"
#include "tests/tools/xelsim/WireHost.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

using xelsimtest::WireHost;
using xeltest::XelsimProcess;

namespace {

std::unique_ptr<WireHost> connect(const XelsimProcess& sim) { return WireHost::tcp(sim.address(), sim.port()); }

TEST(Faults, SilentUnitCarriesCommandsOutButNeverAnswers) {
    XelsimProcess sim({"--silent"});
    auto host = connect(sim);
    host->send(WireHost::frame("mute 0"));
    ASSERT_TRUE(sim.waitForLog([](const auto& log) {
        return std::any_of(log.begin(), log.end(), [](const auto& e) { return e.event == "withheld"; });
    }));
    EXPECT_EQ(host->readFor(300), "");
    EXPECT_TRUE(sim.dump().muted) << "the command was carried out";
}

TEST(Faults, DelayedAndSplitRepliesArriveWhole) {
    XelsimProcess sim({"--delay-ms", "30", "--split", "--split-ms", "150"});
    auto host = connect(sim);
    host->send(WireHost::frame("rdeep 7 4"));
    const auto chunks = host->readChunks(3000);
    std::string joined;
    for (const auto& c : chunks) joined += c.bytes;
    EXPECT_EQ(joined, "44\t65\t66\t61\t75\t6C\t74\t0\r\n>");
    EXPECT_GE(chunks.size(), 2u) << "the reply came in one piece";
    for (std::size_t i = 0; i + 1 < chunks.size(); ++i)
        EXPECT_EQ(chunks[i].bytes.find('>'), std::string::npos) << "only the last piece carries the prompt";
    const auto log = sim.log();
    const auto tx = std::find_if(log.begin(), log.end(), [](const auto& e) { return e.dir == "tx"; });
    ASSERT_NE(tx, log.end());
    EXPECT_EQ(tx->faults, (std::vector<std::string>{"delay", "split"}));
}

TEST(Faults, DropAfterCutsEachConnectionAfterItsQuota) {
    XelsimProcess sim({"--drop-after", "2"});
    for (int round = 0; round < 2; ++round) {
        auto host = connect(sim);
        EXPECT_EQ(host->command("mute"), "1\r\n>") << "round " << round;
        EXPECT_EQ(host->command("pin 3"), "\r\n>") << "round " << round;
        host->send(WireHost::frame("pin 4"));
        EXPECT_TRUE(host->waitClosed(2000)) << "round " << round << "\n" << sim.diagnostics();
    }
    EXPECT_EQ(sim.dump().pin, 3) << "the command that met the drop was not carried out";
}

TEST(Faults, RstAfterResetsTheConnectionInsteadOfClosingIt) {
    XelsimProcess sim({"--rst-after", "1"});
    for (int round = 0; round < 2; ++round) {
        // A bare socket: the host must see the receive fail, which WireHost hides.
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(sim.port()));
        ::inet_pton(AF_INET, sim.address().c_str(), &sa.sin_addr);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0) << std::strerror(errno);
        std::string got;
        int lastErrno = 0;
        ssize_t last = 1;
        auto exchange = [&](const std::string& text) {
            const std::string f = WireHost::frame(text);
            ASSERT_EQ(::send(fd, f.data(), f.size(), MSG_NOSIGNAL), static_cast<ssize_t>(f.size()));
            got.clear();
            for (;;) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 2000) <= 0) break;  // a time-out ends the test's wait, not the test
                char buf[256];
                last = ::recv(fd, buf, sizeof buf, 0);
                lastErrno = last < 0 ? errno : 0;
                if (last <= 0) break;
                got.append(buf, static_cast<std::size_t>(last));
                if (got.back() == '>') break;
            }
        };
        exchange("picver");
        EXPECT_EQ(got, "2\t1\r\n>") << "round " << round;
        exchange("picver");
        EXPECT_EQ(got, "") << "round " << round;
        EXPECT_EQ(last, -1) << "round " << round << ": an orderly end instead of a reset\n" << sim.diagnostics();
        EXPECT_EQ(lastErrno, ECONNRESET) << "round " << round << ": " << std::strerror(lastErrno);
        ::close(fd);
    }
    const auto log = sim.log();
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const auto& e) { return e.event == "rst"; }), 2);
    EXPECT_EQ(sim.dump().sessions, 2) << "each connection had its own quota";
}

TEST(Faults, SilentAfterAnswersItsQuotaThenCarriesOutWithoutAnswering) {
    XelsimProcess sim({"--silent-after", "1"});
    auto host = connect(sim);
    EXPECT_EQ(host->command("mute"), "1\r\n>");
    host->send(WireHost::frame("mute 0"));
    EXPECT_EQ(host->readFor(300), "");
    EXPECT_TRUE(sim.dump().muted) << "the unanswered command was carried out";
}

TEST(Faults, NoPromptAfterLeavesRepliesUnfinished) {
    XelsimProcess sim({"--no-prompt-after", "1"});
    auto host = connect(sim);
    EXPECT_EQ(host->command("mute"), "1\r\n>");
    for (const char* query : {"mute", "pin"}) {
        host->send(WireHost::frame(query));
        EXPECT_EQ(host->readUntil("\r\n"), "1\r\n") << query;
        EXPECT_EQ(host->readFor(200), "") << "no prompt follows, for the rest of the connection";
    }
}

TEST(Faults, GarbageAfterAnswersJunkThatStillEndsInThePrompt) {
    XelsimProcess sim({"--garbage-after", "1", "--seed", "5"});
    auto host = connect(sim);
    EXPECT_EQ(host->command("picver"), "2\t1\r\n>");
    for (int i = 0; i < 3; ++i) {
        const std::string junk = host->command("picver");
        ASSERT_FALSE(junk.empty());
        EXPECT_NE(junk, "2\t1\r\n>");
        EXPECT_EQ(junk.find('>'), junk.size() - 1) << "one prompt, at the end";
    }
    const auto log = sim.log();
    EXPECT_EQ(
        std::count_if(log.begin(), log.end(),
                      [](const auto& e) { return e.dir == "tx" && e.faults == std::vector<std::string>{"garbage"}; }),
        3);
}

TEST(Faults, ResetAfterRestartsTheUnitInsteadOfAnswering) {
    XelsimProcess sim({"--reset-after", "2"});
    auto host = connect(sim);
    EXPECT_EQ(host->command("checksum 1"), "\r\n>");
    EXPECT_EQ(host->command("mute 0"), "\r\n>");
    host->send(WireHost::frame("button 4"));
    EXPECT_TRUE(host->waitClosed(2000)) << sim.diagnostics();
    const auto d = sim.dump();
    EXPECT_EQ(d.resets, 1);
    EXPECT_FALSE(d.checksum);
    EXPECT_FALSE(d.muted) << "audio is on again after a restart";
    EXPECT_EQ(d.button, 1);
    auto again = connect(sim);
    EXPECT_EQ(again->command("button"), "1\r\n>");
}

TEST(Faults, DroppedSerialLineHangsUpAndComesBackOnANewTerminal) {
    XelsimProcess sim({"--drop-after", "1"}, XelsimProcess::Link::Pty);
    auto host = WireHost::serial(sim.linkPath());
    EXPECT_EQ(host->command("picver"), "2\t1\r\n>");
    host->send(WireHost::frame("picver"));
    EXPECT_TRUE(host->waitClosed(2000)) << sim.diagnostics();
    ASSERT_TRUE(sim.waitForLog([](const auto& log) {
        return std::count_if(log.begin(), log.end(), [](const auto& e) { return e.event == "connect"; }) == 2;
    }));
    const std::string now = std::filesystem::read_symlink(sim.linkPath()).string();
    EXPECT_NE(now, sim.ptyPath()) << "a fresh terminal behind the same link";
    auto replugged = WireHost::serial(sim.linkPath());
    EXPECT_EQ(replugged->command("picver"), "2\t1\r\n>");
}

TEST(Faults, FrontPanelCanDropAndResetALiveConnection) {
    XelsimProcess sim;
    auto host = connect(sim);
    EXPECT_EQ(host->command("mute 0"), "\r\n>");
    EXPECT_EQ(sim.panel("drop"), "ok");
    EXPECT_TRUE(host->waitClosed(2000));
    EXPECT_TRUE(sim.dump().muted) << "a dropped link is not a restart";

    host = connect(sim);
    EXPECT_EQ(host->command("picver"), "2\t1\r\n>");
    EXPECT_EQ(sim.panel("reset"), "ok");
    EXPECT_TRUE(host->waitClosed(2000));
    EXPECT_FALSE(sim.dump().muted);
}

}  // namespace
