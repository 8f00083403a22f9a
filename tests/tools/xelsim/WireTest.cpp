// The real xelsim program over real links: the protocol as a host meets it, the front
// panel, the EEPROM file, the log, one host at a time, the pseudo-terminal, stopping.
#include "tests/support/XelsimProcess.h"
#include "tests/tools/xelsim/WireHost.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

using xelsimtest::WireHost;
using xeltest::XelsimProcess;

namespace {

std::unique_ptr<WireHost> connect(const XelsimProcess& sim) { return WireHost::tcp(sim.address(), sim.port()); }

std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

ino_t inode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ino;
}

// Runs xelsim to completion with `args` (for --help and refused command lines).
int runToEnd(const std::string& args, std::string& output) {
    std::FILE* p = ::popen((xeltest::xelsimPath() + " " + args + " 2>&1").c_str(), "r");
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// -------------------------------------------------------------------------------------
// Protocol over TCP

TEST(Protocol, HandshakeFramesAreLoggedExactlyAndJudgedOnceEnabled) {
    XelsimProcess sim;
    auto host = connect(sim);
    EXPECT_EQ(host->command("checksum 1"), "\r\n>");
    EXPECT_EQ(host->command("picver"), "2\t1\r\n>");
    host->send(std::string("mute\r\x01", 6));
    EXPECT_EQ(host->readReply(), "?\r\n>");

    const auto log = sim.log();
    std::vector<xeltest::XelsimLogEntry> rx;
    for (const auto& e : log)
        if (e.dir == "rx") rx.push_back(e);
    ASSERT_EQ(rx.size(), 3u) << sim.diagnostics();
    EXPECT_FALSE(rx[0].checked) << "checking starts after \"checksum 1\"";
    EXPECT_EQ(rx[1].bytes, (std::vector<std::uint8_t>{0x70, 0x69, 0x63, 0x76, 0x65, 0x72, 0x0D, 0x89}));
    EXPECT_TRUE(rx[1].checked);
    EXPECT_TRUE(rx[1].checksumOk);
    EXPECT_FALSE(rx[2].checksumOk);
    const auto tx =
        std::find_if(log.begin(), log.end(), [](const auto& e) { return e.dir == "tx" && e.text == "2\t1\r\n>"; });
    EXPECT_NE(tx, log.end()) << "replies are logged with their bytes";
    EXPECT_EQ(log.front().event, "start");
}

TEST(Protocol, EveryCommandAsQueryAndSetAgreesWithTheUnitsState) {
    XelsimProcess sim({"--seed", "3"});
    auto host = connect(sim);
    struct Row {
        const char* set;
        const char* query;
        const char* answer;
    } rows[] = {{"mute 0", "mute", "0"},
                {"mute 1", "mute", "1"},
                {"button 6", "button", "6"},
                {"pin F", "pin", "F"},
                {"digitalenable 0", "digitalenable", "0"},
                {"checksum 1", "checksum", "1"},
                {"wreep 24 54 31 0", "rdeep 2 24", "54\t31\t0"}};
    for (const Row& r : rows) {
        EXPECT_EQ(host->command(r.set), "\r\n>") << r.set;
        EXPECT_EQ(host->command(r.query), std::string(r.answer) + "\r\n>") << r.query;
    }
    const auto d = sim.dump();
    EXPECT_FALSE(d.muted);
    EXPECT_EQ(d.button, 6);
    EXPECT_EQ(d.pin, 15);
    EXPECT_TRUE(d.film) << "digitalenable 0 is film mode";
    EXPECT_TRUE(d.checksum);
    EXPECT_EQ(d.eeprom[0x24], 0x54);
    EXPECT_EQ(d.eeprom.size(), 1024u);

    const std::string vu = host->command("vu");
    EXPECT_EQ(std::count(vu.begin(), vu.end(), '\t'), 3) << vu;
    EXPECT_EQ(host->command("setip"), "?\r\n>");
}

TEST(Protocol, SetipIsKeptThroughTheResetAndAcrossRuns) {
    xeltest::ScratchDir dir;
    const std::string eep = dir.file("unit.eep");
    {
        XelsimProcess sim({"--eeprom", eep});
        auto host = connect(sim);
        host->command("checksum 1");
        host->command("button 4");
        host->send(WireHost::frame("setip C0 A8 1 32 18 C0 A8 1 1 2711"));
        EXPECT_TRUE(host->waitClosed(2000)) << "the unit resets: the connection drops";
        auto again = connect(sim);
        EXPECT_EQ(again->command("checksum"), "0\r\n>") << "checking is off after a restart";
        EXPECT_EQ(again->command("button"), "1\r\n>") << "back on the power-on input";
        const auto d = sim.dump();
        EXPECT_EQ(d.ipAddress, "192.168.1.50");
        EXPECT_EQ(d.hostBits, 24);
        EXPECT_EQ(d.gateway, "192.168.1.1");
        EXPECT_EQ(d.ipPort, 10001);
        EXPECT_EQ(d.resets, 1);
    }
    XelsimProcess later({"--eeprom", eep});
    EXPECT_EQ(later.dump().ipAddress, "192.168.1.50") << "kept in the EEPROM file's companion";
}

TEST(Protocol, OneHostAtATimeAndServingGoesOnAfterADisconnect) {
    XelsimProcess sim;
    auto first = connect(sim);
    EXPECT_EQ(first->command("mute"), "1\r\n>");
    auto second = connect(sim);
    EXPECT_TRUE(second->waitClosed(2000)) << "a second host is turned away";
    EXPECT_EQ(first->command("mute"), "1\r\n>") << "the first host is still served";
    first.reset();
    for (int i = 0; i < 3; ++i) {
        auto next = connect(sim);
        EXPECT_EQ(next->command("picver"), "2\t1\r\n>") << "reconnect " << i << "\n" << sim.diagnostics();
    }
}

// -------------------------------------------------------------------------------------
// Front panel and script

TEST(FrontPanel, ChangesUnderneathTheHostShowOnTheWire) {
    XelsimProcess sim;
    auto host = connect(sim);
    struct Row {
        const char* panel;
        const char* query;
        const char* answer;
    } rows[] = {{"button 3", "button", "3"},
                {"pin 7", "pin", "7"},
                {"film on", "digitalenable", "0"},
                {"film off", "digitalenable", "1"},
                {"mute on", "mute", "0"},
                {"mute off", "mute", "1"},
                {"poke 1E8 41 42", "rdeep 1 1E8", "41\t42"},
                {"vu 4095 0 1 2 3 4 5 6", "vu", "FFF000\t1002\t3004\t5006"}};
    for (const Row& r : rows) {
        EXPECT_EQ(sim.panel(r.panel), "ok") << r.panel;
        EXPECT_EQ(host->command(r.query), std::string(r.answer) + "\r\n>") << r.panel;
    }
    for (const char* bad : {"button 9", "pin 0", "film maybe", "vu 1 2", "poke 3FF 1 2", "frobnicate"})
        EXPECT_EQ(sim.panel(bad).rfind("error: ", 0), 0u) << bad;
    EXPECT_EQ(host->command("button"), "3\r\n>") << "refused panel commands change nothing";
}

TEST(FrontPanel, EndOfInputIsHarmlessAndQuitEndsCleanly) {
    XelsimProcess sim;
    sim.closeStdin();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(sim.running());
    EXPECT_EQ(connect(sim)->command("picver"), "2\t1\r\n>");

    XelsimProcess other;
    EXPECT_EQ(other.panel("quit"), "ok");
    for (int i = 0; i < 200 && other.running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(other.running());
    EXPECT_EQ(other.stop(), 0);
}

TEST(FrontPanel, ScriptLinesRunAtTheirTime) {
    xeltest::ScratchDir dir;
    std::ofstream(dir.file("panel.txt")) << "# a projectionist at work\n"
                                            "50 button 6\n"
                                            "\n"
                                            "60 film on   # bypass\n";
    XelsimProcess sim({"--script", dir.file("panel.txt")});
    ASSERT_TRUE(sim.waitForLog([](const auto& log) {
        return std::count_if(log.begin(), log.end(), [](const auto& e) { return e.event == "panel"; }) == 2;
    })) << sim.diagnostics();
    const auto d = sim.dump();
    EXPECT_EQ(d.button, 6);
    EXPECT_TRUE(d.film);

    std::ofstream(dir.file("bad.txt")) << "soon button 6\n";
    std::string out;
    EXPECT_EQ(runToEnd("--script " + dir.file("bad.txt"), out), 1);
    EXPECT_NE(out.find("bad.txt:1"), std::string::npos) << out;
}

// -------------------------------------------------------------------------------------
// EEPROM file and configuration seed

TEST(EepromFile, CreatedAtStartReplacedWholeOnEveryWriteAndReadBack) {
    xeltest::ScratchDir dir;
    const std::string eep = dir.file("unit.eep");
    std::vector<std::uint8_t> factory;
    {
        XelsimProcess sim({"--eeprom", eep});
        factory = fileBytes(eep);
        ASSERT_EQ(factory.size(), 1024u);
        EXPECT_EQ(factory, sim.dump().eeprom);

        auto host = connect(sim);
        const ino_t before = inode(eep);
        EXPECT_EQ(host->command("wreep 64 31 32 0 0"), "\r\n>");
        auto now = fileBytes(eep);
        EXPECT_EQ(now[0x64], 0x31) << "saved before the reply went out";
        EXPECT_EQ(now[0x65], 0x32);
        EXPECT_NE(inode(eep), before) << "replaced by rename, never rewritten in place";
        EXPECT_EQ(sim.panel("poke 20C 5"), "ok");
        EXPECT_EQ(fileBytes(eep)[0x20C], 5);
        host->send(WireHost::frame("wreep 64 100"));  // refused: nothing is written
        EXPECT_EQ(host->readReply(), "?\r\n>");
        EXPECT_EQ(fileBytes(eep)[0x64], 0x31);
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();

    XelsimProcess later({"--eeprom", eep});
    auto host = connect(later);
    EXPECT_EQ(host->command("rdeep 3 64"), "31\t32\t0\t0\r\n>");
    EXPECT_EQ(host->command("rdeep 0 20C"), "5\r\n>");
}

TEST(EepromFile, BrokenImageOrConfigurationStopsTheStartWithAReason) {
    xeltest::ScratchDir dir;
    std::ofstream(dir.file("short.eep")) << "not an image";
    std::string out;
    EXPECT_EQ(runToEnd("--eeprom " + dir.file("short.eep"), out), 1);
    EXPECT_NE(out.find("1024"), std::string::npos) << out;
    EXPECT_NE(out.find("short.eep"), std::string::npos) << out;

    std::ofstream(dir.file("bad.xel")) << std::string(352, 'x');
    out.clear();
    EXPECT_EQ(runToEnd("--config " + dir.file("bad.xel"), out), 1);
    EXPECT_NE(out.find("signature"), std::string::npos) << out;
}

TEST(EepromFile, ConfigurationClonesAUnitIntoTheImage) {
    xeltest::ScratchDir dir;
    std::vector<char> xel(352, 0);
    const char sig[7] = {0x4B, 0x00, 0x52, 0x00, 0x56, 0x00, 0x58};
    std::copy(sig, sig + 7, xel.begin());
    xel[7] = 4;    // power-on format 4
    xel[348] = 1;  // power-on mode 1: digital
    const std::string name = "Booth 2";
    std::copy(name.begin(), name.end(), xel.begin() + 211);
    std::ofstream(dir.file("site.xel"), std::ios::binary).write(xel.data(), 352);

    XelsimProcess sim({"--config", dir.file("site.xel"), "--eeprom", dir.file("clone.eep")});
    auto host = connect(sim);
    EXPECT_EQ(host->command("rdeep 7 4"), "42\t6F\t6F\t74\t68\t20\t32\t0\r\n>");
    EXPECT_EQ(host->command("rdeep 0 1"), "5\r\n>");
    EXPECT_EQ(host->command("button"), "5\r\n>") << "the unit powers on with the seeded input";
    EXPECT_EQ(fileBytes(dir.file("clone.eep"))[4], 'B') << "the seeded image is saved at once";
}

// -------------------------------------------------------------------------------------
// Pseudo-terminal

TEST(PseudoTerminal, LinkLeadsToTheUnitAndGoesAwayWithIt) {
    std::string link, pts;
    {
        XelsimProcess sim({}, XelsimProcess::Link::Pty);
        link = sim.linkPath();
        pts = sim.ptyPath();
        ASSERT_EQ(std::filesystem::read_symlink(link).string(), pts);
        auto host = WireHost::serial(link);
        EXPECT_EQ(host->command("checksum 1"), "\r\n>");
        EXPECT_EQ(host->command("rdeep 0 3"), "8\r\n>");
        host.reset();
        auto reopened = WireHost::serial(link);
        EXPECT_EQ(reopened->command("checksum"), "1\r\n>") << "closing the port is not a restart";
    }
    EXPECT_FALSE(std::filesystem::is_symlink(link)) << "the link is removed at exit";
}

TEST(PseudoTerminal, RefusesToReplaceSomethingThatIsNotALink) {
    xeltest::ScratchDir dir;
    std::ofstream(dir.file("COM3")) << "precious";
    std::string out;
    EXPECT_EQ(runToEnd("--pty " + dir.file("COM3"), out), 1);
    EXPECT_NE(out.find("not a symlink"), std::string::npos) << out;
    std::ifstream in(dir.file("COM3"));
    std::string kept;
    in >> kept;
    EXPECT_EQ(kept, "precious");
}

// -------------------------------------------------------------------------------------
// Process life

TEST(Process, SigtermAndSigintEndItCleanly) {
    XelsimProcess sim;
    auto host = connect(sim);
    EXPECT_EQ(host->command("picver"), "2\t1\r\n>");
    EXPECT_EQ(sim.stop(), 0) << sim.diagnostics();
    EXPECT_TRUE(host->waitClosed(1000));
    EXPECT_TRUE(sim.waitForLog([](const auto& log) { return !log.empty() && log.back().event == "stop"; }, 1000));

    XelsimProcess other({}, XelsimProcess::Link::Pty);
    ::kill(other.pid(), SIGINT);
    for (int i = 0; i < 300 && other.running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(other.stop(), 0);
}

TEST(Process, HelpExplainsAndBadCommandLinesAreRefused) {
    std::string out;
    EXPECT_EQ(runToEnd("--help", out), 0);
    for (const char* word : {"--tcp", "--pty", "--baud", "--eeprom", "--config", "--seed", "--script", "--log",
                             "--silent", "--delay-ms", "--split", "--drop-after", "--no-prompt-after",
                             "--garbage-after", "--reset-after", "button N", "film on|off", "dump"})
        EXPECT_NE(out.find(word), std::string::npos) << word;
    out.clear();
    EXPECT_EQ(runToEnd("--drop-after lots", out), 2);
    EXPECT_NE(out.find("--drop-after"), std::string::npos) << out;
}

}  // namespace
