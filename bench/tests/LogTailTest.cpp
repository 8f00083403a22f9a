// Following xelsim's log: whole lines only, nothing handed out twice, nothing
// lost behind a match.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "bench/LogTail.h"
#include "tests/support/XelsimProcess.h"

namespace xelbench {
namespace {

using namespace std::chrono_literals;

const char* kRx = R"({"t":12.5,"dir":"rx","bytes":"70 69 6E 20 32 0D E9","text":"pin 2","checksum":"E9"})";
const char* kTx = R"({"t":12.6,"dir":"tx","bytes":"0D 0A 3E","text":"\r\n>","faults":[]})";
const char* kEvent = R"({"t":0.1,"event":"connect","detail":"127.0.0.5:40000"})";

TEST(LogTail, ParsesFramesRepliesAndEvents) {
    const auto rx = parseLogLine(kRx);
    ASSERT_TRUE(rx);
    EXPECT_EQ(rx->dir, "rx");
    EXPECT_EQ(rx->text, "pin 2");
    EXPECT_EQ(rx->bytes, std::string("pin 2\r\xE9"));
    EXPECT_DOUBLE_EQ(rx->timeMs, 12.5);
    const auto event = parseLogLine(kEvent);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->event, "connect");
    EXPECT_EQ(event->text, "127.0.0.5:40000");
    EXPECT_FALSE(parseLogLine("not json"));
    EXPECT_FALSE(parseLogLine("[1,2]"));
    EXPECT_FALSE(parseLogLine(R"({"t":"late","dir":"rx"})"));
}

TEST(LogTail, HandsOutWholeLinesOnceAndKeepsWhatFollowsAMatch) {
    xeltest::ScratchDir dir;
    const std::string path = dir.file("xelsim.log");
    std::ofstream log(path);
    LogTail tail(path);
    EXPECT_TRUE(tail.poll().empty());

    log << kEvent << '\n' << kRx << '\n' << std::string(kTx).substr(0, 20) << std::flush;
    auto first = tail.poll();
    ASSERT_EQ(first.size(), 2u);  // the half-written reply waits for its newline
    EXPECT_EQ(first[1].text, "pin 2");
    log << std::string(kTx).substr(20) << '\n' << kRx << '\n' << std::flush;
    // The match is the reply; the frame logged after it stays for the next call.
    const auto seen = tail.waitFor([](const LogEntry& e) { return e.dir == "tx"; }, 1s);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->entry.bytes, "\r\n>");
    const auto rest = tail.poll();
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].dir, "rx");
}

TEST(LogTail, WakesForALineWrittenWhileItWaits) {
    xeltest::ScratchDir dir;
    const std::string path = dir.file("xelsim.log");
    std::ofstream log(path);
    LogTail tail(path);
    std::thread writer([&] {
        std::this_thread::sleep_for(50ms);
        log << kEvent << '\n' << std::flush;
        std::this_thread::sleep_for(50ms);
        log << kRx << '\n' << std::flush;
    });
    const auto seen = tail.waitFor([](const LogEntry& e) { return e.text == "pin 2"; }, 5s);
    writer.join();
    ASSERT_TRUE(seen);
    EXPECT_FALSE(tail.waitFor([](const LogEntry& e) { return e.text == "pin 3"; }, 50ms));
}

}  // namespace
}  // namespace xelbench
