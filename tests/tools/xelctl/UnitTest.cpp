// xelctl against the real xelsim: what goes over the wire for each command,
// what the unit holds when xelctl returns, what it prints, and how it ends.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "platform/registry/Registry.h"
#include "tests/support/CoreRegistration.h"
#include "tests/support/Loopback.h"
#include "tests/support/XelsimProcess.h"
#include "tests/tools/xelctl/XelctlRun.h"

namespace fs = std::filesystem;
using namespace xeltest;

namespace {

std::string hex(unsigned v) {
    char b[16];
    std::snprintf(b, sizeof b, "%X", v);
    return b;
}

// The core's Query on the wire, after the handshake.
const std::vector<std::string> kQuerySequence = {
    "rdeep 0 1",   "rdeep 0 2",   "rdeep 0 20C", "mute",          "rdeep 1F 24",  "rdeep 1F 44", "rdeep 3 64",
    "rdeep 1F 4",  "button",      "pin",         "digitalenable", "rdeep 23 1E8", "rdeep 17 68", "rdeep 17 80",
    "rdeep 17 98", "rdeep 17 B0", "rdeep 17 C8", "rdeep 17 E0",   "rdeep 17 F8",
};

std::string joined(const std::vector<std::string>& v) {
    std::string s;
    for (const std::string& x : v) s += "  " + x + "\n";
    return s;
}

size_t count(const std::vector<std::string>& v, const std::string& x) {
    return static_cast<size_t>(std::count(v.begin(), v.end(), x));
}

class XelctlUnit : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(registerCore()); }

    XelctlResult ctl(std::vector<std::string> args, std::string input = {}) {
        args.insert(args.begin(), {"-a", sim.address()});
        return runXelctl(std::move(args), std::move(input));
    }
    // A watch's Query is done once its monitor polls the levels after it.
    void waitForMonitorAfterQuery() {
        ASSERT_TRUE(sim.waitForLog(
            [](const auto& l) {
                const auto q = std::find_if(l.begin(), l.end(), [](const auto& e) { return e.text == "rdeep 17 F8"; });
                return q != l.end() &&
                       std::any_of(q, l.end(), [](const auto& e) { return e.dir == "rx" && e.text == "vu"; });
            },
            10000))
            << sim.diagnostics();
    }
    void poke(unsigned address, const std::vector<unsigned>& bytes) {
        std::string line = "poke " + hex(address);
        for (unsigned b : bytes) line += " " + hex(b);
        ASSERT_EQ(sim.panel(line), "ok") << line;
    }
    void pokeText(unsigned address, const std::string& text, size_t width) {
        std::vector<unsigned> bytes(width, 0);
        for (size_t i = 0; i < text.size() && i < width; ++i) bytes[i] = static_cast<unsigned char>(text[i]);
        poke(address, bytes);
    }
    std::string eepromText(unsigned address, size_t width) {
        const auto e = sim.dump().eeprom;
        std::string s(e.begin() + address, e.begin() + address + static_cast<long>(width));
        return s.substr(0, s.find('\0'));
    }
    // The frames a host sent after the handshake and the Query.
    std::vector<std::string> afterQuery() {
        const auto rx = sim.receivedTexts();
        auto last = std::find(rx.rbegin(), rx.rend(), "rdeep 17 F8");
        return std::vector<std::string>(last.base(), rx.end());
    }

    XelsimProcess sim{{"--seed", "7"}};
};

TEST_F(XelctlUnit, QueryIsTheHandshakeAndTheCoresQueryThenACleanDisconnect) {
    const XelctlResult r = ctl({"query"});
    ASSERT_EQ(r.exitCode, 0) << r.describe() << sim.diagnostics();
    const auto rx = sim.receivedTexts();
    std::vector<std::string> expected = {"checksum 1", "picver"};
    expected.insert(expected.end(), kQuerySequence.begin(), kQuerySequence.end());
    ASSERT_GE(rx.size(), expected.size()) << joined(rx);
    EXPECT_EQ(std::vector<std::string>(rx.begin(), rx.begin() + static_cast<long>(expected.size())), expected)
        << joined(rx);
    // Nothing but the monitor's polls after the Query: xelctl changed nothing.
    for (const std::string& t : afterQuery())
        EXPECT_TRUE(t == "vu" || t == "button" || t == "pin" || t == "digitalenable") << t;
    const auto log = sim.log();
    ASSERT_TRUE(sim.waitForLog([](const auto& l) { return !l.empty() && l.back().event == "disconnect"; }))
        << sim.diagnostics();
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const auto& e) { return e.event == "connect"; }), 1);

    EXPECT_NE(r.out.find("ProcessorName     Default"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("0       Analog 2ch        0.0dB       0.0dB        0ms          0ms             0x1103"),
              std::string::npos)
        << r.out;
}

TEST_F(XelctlUnit, QueryShowsWhatTheUnitHoldsInBothForms) {
    pokeText(0x44, "Grand Hall", 32);
    pokeText(0x64, "12", 4);
    poke(0x98 + 20, {12, 4});             // format 2: +6.0 dB in, -2.0 dB out
    poke(0x80 + 16, {0x2C, 0x01, 0x32});  // format 1: 300 ms input delay, 50 ms surround
    poke(0xB0 + 22, {0x34, 0x12});        // format 3's flag word
    ASSERT_EQ(sim.panel("mute on"), "ok");

    const XelctlResult r = ctl({"--json", "query"});
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    const auto j = nlohmann::ordered_json::parse(r.out);
    std::vector<std::string> keys;
    for (const auto& item : j.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"PowerOnFormat", "PowerOnMode", "AESEBUFallback", "FilmReturnFormat",
                                              "Mute", "TheaterNumber", "TheaterName", "ScreenNumber", "ProcessorName",
                                              "ProcessorGUID", "ModePin", "CurrentFormat", "Pin", "Film", "Formats"}));
    EXPECT_EQ(j["TheaterName"], "Grand Hall") << "cut at the first NUL";
    EXPECT_EQ(j["ScreenNumber"], "12");
    EXPECT_EQ(j["Mute"], true);
    EXPECT_EQ(j["Film"], false);
    ASSERT_EQ(j["Formats"].size(), 8u);
    EXPECT_EQ(j["Formats"][2]["InputTrim"], 12);
    EXPECT_EQ(j["Formats"][2]["OutputTrim"], 4);
    EXPECT_EQ(j["Formats"][1]["InputDelay"], 300);
    EXPECT_EQ(j["Formats"][1]["SurroundDelay"], 0x32);
    EXPECT_EQ(j["Formats"][3]["Flags"], 0x1234);
    EXPECT_EQ(j["Formats"][0]["Flags"], 0x1103);
    EXPECT_EQ(j["Formats"][3]["Name"], "Toslink");

    const XelctlResult text = ctl({"query"});
    ASSERT_EQ(text.exitCode, 0) << text.describe();
    EXPECT_NE(text.out.find("TheaterName       Grand Hall\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Mute              on\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("2       Digital 8ch       6.0dB       -2.0dB       0ms"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("300ms        50ms"), std::string::npos) << text.out;
}

TEST_F(XelctlUnit, SetSendsTheExactFrameAndReturnsOnlyOnceTheUnitHasIt) {
    auto record = [&](unsigned address, size_t at, std::vector<unsigned> bytes) {
        auto e = sim.dump().eeprom;
        std::string frame = "wreep " + hex(address);
        for (size_t i = 0; i < 24; ++i) {
            unsigned b = e[address + i];
            if (i >= at && i < at + bytes.size()) b = bytes[i - at];
            frame += " " + hex(b);
        }
        return frame;
    };
    struct Row {
        std::vector<std::string> args;
        std::string frame;
        std::function<bool(const XelsimDump&)> holds;
    };
    std::string hall = "wreep 44 47 72 61 6E 64 20 48 61 6C 6C";
    for (int i = 0; i < 22; ++i) hall += " 0";
    const std::vector<Row> rows = {
        {{"set", "Format.InputTrim", "2", "12"},
         record(0x98, 20, {12}),
         [](const XelsimDump& d) { return d.eeprom[0x98 + 20] == 12; }},
        {{"set", "format.inputdelay", "1", "0x12C"},
         record(0x80, 16, {0x2C, 0x01}),
         [](const XelsimDump& d) { return d.eeprom[0x80 + 16] == 0x2C && d.eeprom[0x80 + 17] == 1; }},
        {{"set", "Profile.TheaterName", "Grand Hall"},
         hall,
         [](const XelsimDump& d) { return d.eeprom[0x44] == 'G' && d.eeprom[0x4E] == 0; }},
        {{"set", "Format.Pin", "5"}, "pin 5", [](const XelsimDump& d) { return d.pin == 5; }},
        {{"set", "Format.CurrentFormat", "3"}, "button 4", [](const XelsimDump& d) { return d.button == 4; }},
        {{"set", "Xel.Mute", "on"}, "mute 0", [](const XelsimDump& d) { return d.muted; }},
    };
    for (const Row& row : rows) {
        const XelctlResult r = ctl(row.args);
        ASSERT_EQ(r.exitCode, 0) << r.describe() << sim.diagnostics();
        // The unit holds it the moment xelctl is back.
        EXPECT_TRUE(row.holds(sim.dump())) << row.frame;
        const auto sent = afterQuery();
        EXPECT_EQ(count(sent, row.frame), 1u) << "expected " << row.frame << " once after the query, got\n"
                                              << joined(sent);
        for (const std::string& t : sent)
            EXPECT_TRUE(t == row.frame || t == "vu" || t == "button" || t == "pin" || t == "digitalenable") << t;
    }
}

TEST_F(XelctlUnit, GetAndCallReadWhatTheUnitHolds) {
    poke(0x98 + 16, {0x64, 0, 0x0A, 0, 7, 9});
    XelctlResult r = ctl({"get", "Format.SurroundDelay", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(r.out, "10\n");

    r = ctl({"call", "Format.GetTrimsAndDelays", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(r.out, "InputTrim 7\nOutputTrim 9\nInputDelay 100\nSurroundDelay 10\n");

    r = ctl({"--json", "get", "Format.FormatName", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(nlohmann::json::parse(r.out),
              nlohmann::json::parse(R"({"name":"Format.FormatName","index":2,"value":"Digital 8ch"})"));
}

TEST_F(XelctlUnit, SaveAndLoadRoundTripThroughTheUnit) {
    ScratchDir dir;
    pokeText(0x44, "Alpha", 32);
    poke(0x68 + 20, {6});
    const std::string file = dir.file("site.xel");
    XelctlResult r = ctl({"save", file});
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(bytes.size(), 352u);
    EXPECT_EQ(bytes.substr(0, 7), std::string("K\0R\0V\0X", 7));
    EXPECT_EQ(bytes.substr(275, 6), std::string("Alpha\0", 6));
    const auto eeprom = sim.dump().eeprom;
    for (size_t i = 0; i < 7 * 24; ++i)  // Query reads records 0-6
        ASSERT_EQ(static_cast<unsigned char>(bytes[19 + i]), eeprom[0x68 + i]) << "record byte " << i;

    // The unit changes behind our back; loading the file puts it back.
    pokeText(0x44, "Beta", 32);
    poke(0x68 + 20, {1});
    r = ctl({"load", file});
    ASSERT_EQ(r.exitCode, 0) << r.describe() << sim.diagnostics();
    EXPECT_EQ(eepromText(0x44, 32), "Alpha");
    EXPECT_EQ(sim.dump().eeprom[0x68 + 20], 6);
}

TEST_F(XelctlUnit, SetIpSendsTheLineWithTheHostBitsOfTheMask) {
    const XelctlResult r = ctl({"setip", "192.168.1.50", "255.255.255.0", "192.168.1.1"});
    ASSERT_EQ(r.exitCode, 0) << r.describe() << sim.diagnostics();
    EXPECT_EQ(count(sim.receivedTexts(), "setip C0 A8 1 32 8 C0 A8 1 1 2711"), 1u) << joined(sim.receivedTexts());
    ASSERT_TRUE(sim.waitForLog([](const auto& l) {
        return std::any_of(l.begin(), l.end(), [](const auto& e) { return e.event == "reset"; });
    })) << sim.diagnostics();
    const XelsimDump d = sim.dump();
    EXPECT_EQ(d.ipAddress, "192.168.1.50");
    EXPECT_EQ(d.hostBits, 8);
    EXPECT_EQ(d.gateway, "192.168.1.1");
    EXPECT_NE(r.out.find("After the unit resets the IP information has been changed."), std::string::npos);

    // A mask with a hole is taken as the mask with the same host bits, and said so.
    const XelctlResult odd = ctl({"setip", "10.0.0.1", "255.0.255.0", "10.0.0.254"});
    ASSERT_EQ(odd.exitCode, 0) << odd.describe();
    EXPECT_EQ(count(sim.receivedTexts(), "setip A 0 0 1 8 A 0 0 FE 2711"), 1u) << joined(sim.receivedTexts());
    EXPECT_NE(odd.err.find("255.255.255.0"), std::string::npos) << odd.describe();
}

TEST_F(XelctlUnit, WatchPrintsFrontPanelChangesAsEvents) {
    XelctlProcess watch({"-a", sim.address(), "watch", "--seconds", "4"});
    // Once the monitor polls, the Query is done: press the unit's buttons.
    ASSERT_NO_FATAL_FAILURE(waitForMonitorAfterQuery());
    ASSERT_EQ(sim.panel("button 3"), "ok");
    ASSERT_EQ(sim.panel("pin 5"), "ok");
    ASSERT_EQ(sim.panel("film on"), "ok");
    const XelctlResult r = watch.wait();
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    for (const char* line : {"InputChange 2\n", "AutomationChange 5\n", "ModeChange 0\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.describe();
    EXPECT_TRUE(std::regex_search(r.out, std::regex("(^|\n)Levels Left=\\d+ Right=\\d+ Center=\\d+ Sub=\\d+ "
                                                    "LeftSurround=\\d+ RightSurround=\\d+ LeftEx=\\d+ RightEx=\\d+\n")))
        << r.out;
}

TEST_F(XelctlUnit, WatchEndsCleanlyOnCtrlCOrTerm) {
    long round = 0;
    for (const int sig : {SIGINT, SIGTERM}) {
        ++round;
        XelctlProcess watch({"-a", sim.address(), "watch"});
        // This round's Query has been answered: the watch is under way.
        ASSERT_TRUE(sim.waitForLog(
            [round](const auto& l) {
                long answered = 0;
                for (size_t i = 0; i + 1 < l.size(); ++i)
                    answered += l[i].dir == "rx" && l[i].text == "rdeep 17 F8" && l[i + 1].dir == "tx";
                return answered >= round;
            },
            10000))
            << sim.diagnostics();
        watch.signal(sig);
        const XelctlResult r = watch.wait(10000);
        EXPECT_EQ(r.exitCode, 0) << "signal " << sig << "\n" << r.describe();
        EXPECT_TRUE(r.err.empty()) << r.describe();
        ASSERT_TRUE(sim.waitForLog([](const auto& l) { return !l.empty() && l.back().event == "disconnect"; }))
            << sim.diagnostics();
    }
}

TEST_F(XelctlUnit, WatchInJsonIsOneObjectPerLineAndEndsOnALostLink) {
    XelctlProcess watch({"-a", sim.address(), "--json", "watch"});
    ASSERT_NO_FATAL_FAILURE(waitForMonitorAfterQuery());
    ASSERT_EQ(sim.panel("button 6"), "ok");
    ASSERT_TRUE(sim.waitForLog([](const auto& l) {
        return std::count_if(l.begin(), l.end(), [](const auto& e) { return e.dir == "tx" && e.text == "6\r\n>"; }) > 0;
    })) << sim.diagnostics();
    ASSERT_EQ(sim.panel("drop"), "ok");
    const XelctlResult r = watch.wait(20000);
    EXPECT_EQ(r.exitCode, 1) << r.describe();
    std::istringstream lines(r.out);
    std::vector<nlohmann::json> events;
    for (std::string line; std::getline(lines, line);) events.push_back(nlohmann::json::parse(line));
    EXPECT_NE(std::find(events.begin(), events.end(), nlohmann::json::parse(R"({"event":"InputChange","Input":5})")),
              events.end())
        << r.out;
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), nlohmann::json::parse(R"({"event":"CommFail"})")) << r.out;
    EXPECT_NE(r.err.find("failed"), std::string::npos) << r.describe();
}

TEST_F(XelctlUnit, SendDoesOneRawExchangeWithoutReadingTheUnit) {
    poke(0x20C, {3});
    XelctlResult r = ctl({"send", "rdeep", "0", "20C"});
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(r.out, "3\r\n>\n");
    EXPECT_EQ(sim.receivedTexts(), (std::vector<std::string>{"checksum 1", "picver", "rdeep 0 20C"}));
    for (const auto& frame : sim.receivedFrames()) EXPECT_EQ(frame.size() >= 2 ? frame[frame.size() - 2] : 0, '\r');

    r = ctl({"--json", "send", "bogus"});
    EXPECT_EQ(r.exitCode, 1) << r.describe();
    EXPECT_EQ(nlohmann::json::parse(r.out), nlohmann::json::parse(R"({"command":"bogus","reply":"?\r\n>"})"));
    EXPECT_NE(r.err.find("refused"), std::string::npos) << r.describe();
}

TEST_F(XelctlUnit, VerboseTracesEveryFrameAndReplyWithMilliseconds) {
    const XelctlResult quiet = ctl({"get", "Format.Pin"});
    ASSERT_EQ(quiet.exitCode, 0) << quiet.describe();
    EXPECT_TRUE(quiet.err.empty()) << "no trace without -v:\n" << quiet.err;

    const size_t before = sim.receivedTexts().size();
    const XelctlResult r = ctl({"-v", "get", "Format.Pin"});
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(r.out, "1\n");
    const std::regex sent(R"(^\d\d:\d\d:\d\d\.\d\d\d > (.*)$)");
    const std::regex got(R"(^\d\d:\d\d:\d\d\.\d\d\d < .*>$)");
    std::vector<std::string> frames;
    size_t replies = 0;
    std::istringstream lines(r.err);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_match(line, m, sent))
            frames.push_back(m[1]);
        else if (std::regex_match(line, got))
            ++replies;
        else
            ADD_FAILURE() << "not a trace line: " << line;
    }
    const auto rx = sim.receivedTexts();
    ASSERT_EQ(frames.size(), rx.size() - before) << r.err;
    EXPECT_EQ(frames[0], "checksum 1\\r\\xA4");
    EXPECT_EQ(frames[1], "picver\\r\\x89");
    EXPECT_EQ(frames[2], "rdeep 0 1\\r\\xB1") << "the checksum byte is escaped";
    EXPECT_EQ(replies, frames.size());
}

TEST_F(XelctlUnit, ShellRunsItsLinesOverOneConnectionAndReportsTheFirstFailure) {
    const std::string script =
        "# set up screen 3\n"
        "set Profile.ScreenNumber \"3\"\n"
        "\n"
        "get Profile.ScreenNumber\n"
        "get Format.Nonsense\n"
        "set Format.Pin 9   # the automation pin\n"
        "get Format.Pin\n";
    const XelctlResult r = ctl({"shell"}, script);
    EXPECT_EQ(r.exitCode, 2) << r.describe();
    EXPECT_EQ(r.out, "3\n9\n") << r.describe();
    EXPECT_NE(r.err.find("line 5: Format has no member \"Nonsense\""), std::string::npos) << r.describe();
    EXPECT_EQ(sim.dump().pin, 9);
    EXPECT_EQ(eepromText(0x64, 4), "3");
    const auto rx = sim.receivedTexts();
    EXPECT_EQ(count(rx, "checksum 1"), 1u) << joined(rx);
    EXPECT_EQ(count(rx, "rdeep 17 F8"), 1u) << "one Query for the whole script\n" << joined(rx);
}

TEST_F(XelctlUnit, ARawExchangeInAShellIsFollowedByAFreshRead) {
    const XelctlResult r = ctl({"shell"}, "get Format.CurrentFormat\nsend button 5\nget Format.CurrentFormat\n");
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(r.out, "0\n\r\n>\n4\n") << r.describe();
    const auto rx = sim.receivedTexts();
    EXPECT_EQ(count(rx, "rdeep 17 F8"), 2u) << joined(rx);
}

TEST_F(XelctlUnit, TheConsolesAddressIsTheDefault) {
    ASSERT_EQ(xel::registry::setString(xel::registry::Root::CurrentUser, "Software\\Corvane Labs\\Xelor", "Address",
                                       sim.address()),
              xel::registry::Status::Ok);
    const XelctlResult r = runXelctl({"get", "Profile.TheaterName"});
    (void)xel::registry::deleteValue(xel::registry::Root::CurrentUser, "Software\\Corvane Labs\\Xelor", "Address");
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(count(sim.receivedTexts(), "rdeep 1F 44"), 1u);
}

TEST_F(XelctlUnit, FailuresEndWithTheirExitCodes) {
    ScratchDir dir;
    std::ofstream(dir.file("notes.txt")) << "not a setup\n";
    struct Row {
        std::vector<std::string> args;
        int code;
        const char* says;
    };
    const Row rows[] = {
        {{"load", dir.file("notes.txt")}, 3, "not a configuration file"},
        {{"load", dir.file("missing.xel")}, 3, "cannot read"},
        {{"load", dir.path()}, 3, "not a file"},
        {{"save", dir.file("no/such/folder.xel")}, 3, "cannot write"},
    };
    for (const Row& row : rows) {
        const XelctlResult r = ctl(row.args);
        EXPECT_EQ(r.exitCode, row.code) << r.describe();
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.describe();
    }
    EXPECT_EQ(count(sim.receivedTexts(), "wreep 44 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"),
              0u)
        << "a refused file applies nothing";
}

TEST(XelctlNoUnit, ASilentUnitAndAMissingOneAreLinkFailures) {
    ASSERT_TRUE(registerCore());
    {
        XelsimProcess silent({"--silent"});
        const XelctlResult r = runXelctl({"-a", silent.address(), "query"});
        EXPECT_EQ(r.exitCode, 1) << r.describe();
        EXPECT_NE(r.err.find("no unit answers"), std::string::npos) << r.describe();
    }
    LoopbackLease nobody;
    const XelctlResult r = runXelctl({"-a", nobody.address(), "set", "Xel.Mute", "on"});
    EXPECT_EQ(r.exitCode, 1) << r.describe();
    EXPECT_NE(r.err.find("cannot open the link to " + nobody.address()), std::string::npos) << r.describe();
}

}  // namespace
