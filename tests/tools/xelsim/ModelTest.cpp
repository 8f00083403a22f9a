// The unit model in-process: framing, the checksum rule, every command, the EEPROM
// map and the files an EEPROM image comes from.
#include "tests/support/XelsimProcess.h"
#include "tools/xelsim/Eeprom.h"
#include "tools/xelsim/Framer.h"
#include "tools/xelsim/Options.h"
#include "tools/xelsim/Storage.h"
#include "tools/xelsim/UnitModel.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

using namespace xelsim;

namespace {

std::vector<std::uint8_t> bytesOf(std::initializer_list<int> b) {
    std::vector<std::uint8_t> out;
    for (int x : b) out.push_back(static_cast<std::uint8_t>(x));
    return out;
}

std::vector<std::uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

// A host's frame, built from the documented rule: text, "\r", sum of the text.
std::string frame(const std::string& text) {
    unsigned sum = 0;
    for (unsigned char c : text) sum += c;
    return text + "\r" + static_cast<char>(sum & 0xFF);
}

class Unit {
public:
    explicit Unit(const EepromImage& image = factoryEeprom(), std::uint32_t seed = 1) : model(image, seed) {}

    // Feeds raw bytes; returns the replies of the frames they completed, joined.
    std::string feed(const std::string& raw) {
        std::string out;
        for (const Frame& f : framer.push(bytesOf(raw))) out += model.execute(f).bytes;
        return out;
    }
    std::string cmd(const std::string& text) { return feed(frame(text)); }
    std::string badChecksum(const std::string& text) {
        std::string f = frame(text);
        f.back() = static_cast<char>(f.back() + 1);
        return feed(f);
    }

    UnitModel model;
    Framer framer;
};

// -------------------------------------------------------------------------------------
// Framing

TEST(Framing, DocumentedFramesCarryTheirChecksums) {
    EXPECT_EQ(bytesOf(frame("picver")), bytesOf({0x70, 0x69, 0x63, 0x76, 0x65, 0x72, 0x0D, 0x89}));
    EXPECT_EQ(bytesOf(frame("mute")), bytesOf({0x6D, 0x75, 0x74, 0x65, 0x0D, 0xBB}));

    Framer f;
    auto frames = f.push(bytesOf({0x70, 0x69, 0x63, 0x76, 0x65, 0x72, 0x0D, 0x89}));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].text, "picver");
    EXPECT_EQ(frames[0].checksum, 0x89);
    EXPECT_TRUE(frames[0].checksumMatches());
    EXPECT_EQ(frames[0].bytes(), bytesOf(frame("picver")));
}

TEST(Framing, FramesSurviveAnySplitAndBackToBackArrival) {
    const std::string stream = frame("mute 0") + frame("pin 5") + frame("button");
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        Framer f;
        auto a = f.push(bytesOf(stream.substr(0, cut)));
        auto b = f.push(bytesOf(stream.substr(cut)));
        a.insert(a.end(), b.begin(), b.end());
        ASSERT_EQ(a.size(), 3u) << "cut at " << cut;
        EXPECT_EQ(a[0].text, "mute 0");
        EXPECT_EQ(a[1].text, "pin 5");
        EXPECT_EQ(a[2].text, "button");
        EXPECT_FALSE(f.midFrame());
    }
}

TEST(Framing, ChecksumByteIsNeverTakenAsText) {
    // A checksum byte that happens to be "\r" or ">" must not end or start a frame.
    Framer f;
    auto frames = f.push(bytesOf(std::string("mute\r\r") + "pin\r>" + frame("picver")));
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].text, "mute");
    EXPECT_EQ(frames[0].checksum, '\r');
    EXPECT_EQ(frames[1].text, "pin");
    EXPECT_EQ(frames[2].text, "picver");
}

TEST(Framing, OverlongTextIsRefusedAndTheNextFrameStaysInStep) {
    Unit u;
    std::string reply = u.feed(frame(std::string(300, 'a')) + frame("mute"));
    EXPECT_EQ(reply, "?\r\n>1\r\n>");
    // 248 bytes of text is the most a frame carries: it is understood.
    std::string longest = "wreep 100";
    while (longest.size() + 2 <= Framer::kMaxText) longest += " 0";
    EXPECT_EQ(u.cmd(longest), "\r\n>");
}

TEST(Framing, EmptyLineOnlyBringsThePromptBack) {
    Unit u;
    EXPECT_EQ(u.feed(std::string("\r\0", 2)), "\r\n>");
}

// -------------------------------------------------------------------------------------
// Checksum rule: unchecked until a host enables it, refused with "?" after.

TEST(ChecksumRule, UncheckedUntilEnabledThenBadFramesAreRefusedUnexecuted) {
    Unit u;
    EXPECT_EQ(u.cmd("checksum"), "0\r\n>");
    EXPECT_EQ(u.badChecksum("mute 0"), "\r\n>") << "before checking, a bad checksum is not judged";
    EXPECT_FALSE(u.model.state().audioOn);
    EXPECT_EQ(u.badChecksum("checksum 1"), "\r\n>") << "the enabling frame itself is still unchecked";
    EXPECT_EQ(u.cmd("checksum"), "1\r\n>");

    EXPECT_EQ(u.badChecksum("mute 1"), "?\r\n>");
    EXPECT_FALSE(u.model.state().audioOn) << "a refused frame must not be carried out";
    EXPECT_EQ(u.cmd("mute 1"), "\r\n>");
    EXPECT_TRUE(u.model.state().audioOn);

    EXPECT_EQ(u.cmd("checksum 0"), "\r\n>");
    EXPECT_EQ(u.badChecksum("mute"), "1\r\n>");
}

TEST(ChecksumRule, VerdictReportsWhatTheUnitJudged) {
    Unit u;
    Frame good{"mute", 0xBB};
    Frame bad{"mute", 0xBC};
    EXPECT_EQ(u.model.verdict(bad), Verdict::Unchecked);
    u.cmd("checksum 1");
    EXPECT_EQ(u.model.verdict(good), Verdict::Good);
    EXPECT_EQ(u.model.verdict(bad), Verdict::Bad);
    u.model.powerOn();
    EXPECT_EQ(u.model.verdict(bad), Verdict::Unchecked) << "a restart turns checking off";
}

// -------------------------------------------------------------------------------------
// Commands as query and as set

struct SwitchRow {
    const char* keyword;
    const char* setTo;    // accepted value
    const char* answer;   // query answer after it
    const char* refused;  // out of range
    const char* initial;  // answer at power-on
};

class Switches : public ::testing::TestWithParam<SwitchRow> {};

TEST_P(Switches, QuerySetAndRefuseOutOfRange) {
    const SwitchRow& r = GetParam();
    Unit u;
    const std::string k = r.keyword;
    EXPECT_EQ(u.cmd(k), std::string(r.initial) + "\r\n>");
    EXPECT_EQ(u.cmd(k + " " + r.setTo), "\r\n>");
    EXPECT_EQ(u.cmd(k), std::string(r.answer) + "\r\n>");
    EXPECT_EQ(u.cmd(k + " " + r.refused), "?\r\n>");
    EXPECT_EQ(u.cmd(k), std::string(r.answer) + "\r\n>") << "a refused set leaves the switch";
    EXPECT_EQ(u.cmd(k + " 1 1"), "?\r\n>");
    EXPECT_EQ(u.cmd(k + " X"), "?\r\n>");
}

INSTANTIATE_TEST_SUITE_P(
    Unit, Switches,
    ::testing::Values(SwitchRow{"mute", "0", "0", "2", "1"}, SwitchRow{"digitalenable", "0", "0", "2", "1"},
                      SwitchRow{"button", "8", "8", "9", "1"}, SwitchRow{"button", "1", "1", "0", "1"},
                      SwitchRow{"pin", "10", "10", "11", "1"},  // 0x10 = 16
                      SwitchRow{"pin", "1", "1", "0", "1"}, SwitchRow{"checksum", "1", "1", "2", "0"}),
    [](const auto& info) { return std::string(info.param.keyword) + "_" + std::to_string(info.index); });

TEST(Commands, UnknownMalformedOrWronglyCasedCommandsAreRefused) {
    Unit u;
    for (const char* text : {"bogus", "MUTE", "Mute", "picver 1", "vu 1", "rdeep 0", "wreep 10", "setip 1 2 3"})
        EXPECT_EQ(u.cmd(text), "?\r\n>") << text;
    EXPECT_EQ(u.cmd("picver"), std::string(UnitModel::kFirmwareVersion) + "\r\n>");
    // Hex arguments are read as a small firmware parser reads them.
    EXPECT_EQ(u.cmd("wreep 1f0 0a"), "\r\n>");
    EXPECT_EQ(u.cmd("rdeep 0 1F0"), "A\r\n>");
    EXPECT_EQ(u.cmd("pin  0A"), "\r\n>");
    EXPECT_EQ(u.cmd("pin"), "A\r\n>");
}

TEST(Commands, SetipRecordsTheSettingsAndResetsWithoutAnswering) {
    Unit u;
    u.cmd("checksum 1");
    u.cmd("button 4");
    Frame f{"setip C0 A8 1 32 18 C0 A8 1 1 2711"};
    f.checksum = f.expectedChecksum();
    const Reply r = u.model.execute(f);
    EXPECT_TRUE(r.resets);
    EXPECT_TRUE(r.ipChanged);
    EXPECT_TRUE(r.bytes.empty()) << "the unit restarts instead of answering";
    EXPECT_EQ(dottedQuad(u.model.ip().address), "192.168.1.50");
    EXPECT_EQ(u.model.ip().hostBits, 24);
    EXPECT_EQ(dottedQuad(u.model.ip().gateway), "192.168.1.1");
    EXPECT_EQ(u.model.ip().port, 10001);

    for (const char* bad :
         {"setip 100 0 0 1 8 A 0 0 FE 2711", "setip A 0 0 1 21 A 0 0 FE 2711", "setip A 0 0 1 8 A 0 0 FE 10000"})
        EXPECT_EQ(u.cmd(bad), "?\r\n>") << bad;
}

// -------------------------------------------------------------------------------------
// EEPROM: factory contents as the unit's map lays them out, rdeep and wreep

TEST(Eeprom, FactoryContentsFollowTheMapAndTheDefaultDefinition) {
    Unit u;
    EXPECT_EQ(u.cmd("rdeep 2 1"), "1\t1\t8\r\n>") << "power-on format 0 in digital mode, fallback 0, 8 formats";
    EXPECT_EQ(u.cmd("rdeep 7 4"), "44\t65\t66\t61\t75\t6C\t74\t0\r\n>") << "\"Default\"";
    EXPECT_EQ(u.cmd("rdeep 3 64"), "0\t0\t0\t0\r\n>") << "no screen number";
    EXPECT_EQ(u.cmd("rdeep 0 20C"), "0\r\n>") << "film return format";

    const EepromImage& e = u.model.eeprom();
    const std::string guid(e.begin() + 0x1E8, e.begin() + 0x1E8 + 36);
    EXPECT_EQ(guid, "5B1E7C3A-42D9-4f0e-A6C2-9D83E1F04A27");

    struct Expect {
        const char* name;
        int flags;
    } records[8] = {{"Analog 2ch", 0x1103},
                    {"Analog 6ch", 0x2105},
                    {"Digital 8ch", 0x3109},
                    {"Toslink", 0x4111},
                    {"S/PDIF 1", 0x5121},
                    {"S/PDIF 2", 0x6141},
                    {"", 0},
                    {"", 0}};
    for (int i = 0; i < 8; ++i) {
        const std::size_t at = 0x68 + 24 * static_cast<std::size_t>(i);
        std::string name(reinterpret_cast<const char*>(&e[at]), 16);
        name.resize(name.find('\0') == std::string::npos ? 16 : name.find('\0'));
        EXPECT_EQ(name, records[i].name) << "record " << i;
        EXPECT_EQ(e[at + 22] | e[at + 23] << 8, records[i].flags) << "record " << i;
        for (std::size_t k = 16; k < 22; ++k) EXPECT_EQ(e[at + k], 0) << "record " << i << " byte " << k;
    }
}

TEST(Eeprom, ReadsAndWritesStayInsideTheChip) {
    Unit u;
    EXPECT_EQ(u.cmd("wreep 3FE 12 34"), "\r\n>");
    EXPECT_EQ(u.cmd("rdeep 1 3FE"), "12\t34\r\n>");
    EXPECT_EQ(u.cmd("rdeep 1 3FF"), "?\r\n>");
    EXPECT_EQ(u.cmd("rdeep 0 400"), "?\r\n>");
    EXPECT_EQ(u.cmd("wreep 3FF 1 2"), "?\r\n>");
    EXPECT_EQ(u.model.eeprom()[0x3FF], 0x34) << "a refused write stores nothing";

    // 64 values is the most one read returns; the reply still fits a host's 250-byte buffer.
    const std::string most = u.cmd("rdeep 3F 128");
    EXPECT_EQ(std::count(most.begin(), most.end(), '\t'), 63);
    EXPECT_LE(most.size(), 249u);
    EXPECT_EQ(u.cmd("rdeep 40 128"), "?\r\n>");
}

TEST(Eeprom, WriteWithAnyValueAboveAByteStoresNothing) {
    Unit u;
    const Reply r = [&] {
        Frame f{"wreep 64 31 20AC 0 0"};
        f.checksum = f.expectedChecksum();
        return u.model.execute(f);
    }();
    EXPECT_TRUE(r.refused);
    EXPECT_FALSE(r.eepromChanged);
    EXPECT_EQ(u.cmd("rdeep 3 64"), "0\t0\t0\t0\r\n>");
    Frame ok{"wreep 64 31 32 0 0"};
    ok.checksum = ok.expectedChecksum();
    EXPECT_TRUE(u.model.execute(ok).eepromChanged);
    EXPECT_EQ(u.cmd("rdeep 3 64"), "31\t32\t0\t0\r\n>");
}

TEST(Eeprom, PowerOnStateComesFromThePowerOnByte) {
    struct Row {
        int byte1;
        int button;
        bool digital;
    } rows[] = {{0x01, 1, true}, {0x85, 5, false}, {0x03, 3, true}, {0x00, 1, true}, {0xFF, 1, false}, {0x09, 1, true}};
    for (const Row& r : rows) {
        EepromImage image = factoryEeprom();
        image[1] = static_cast<std::uint8_t>(r.byte1);
        Unit u(image);
        EXPECT_EQ(u.model.state().button, r.button) << "byte 1 = " << r.byte1;
        EXPECT_EQ(u.model.state().digital, r.digital) << "byte 1 = " << r.byte1;
        EXPECT_TRUE(u.model.state().audioOn);
        EXPECT_EQ(u.model.state().pin, 1);
    }
}

// -------------------------------------------------------------------------------------
// Level meters

TEST(Levels, PairsArePackedTwelveBitsEachAndFollowTheSeed) {
    Unit u;
    u.model.meter().hold({4095, 0, 1, 2, 0xABC, 0x123, 0, 4095});
    EXPECT_EQ(u.cmd("vu"), "FFF000\t1002\tABC123\tFFF\r\n>");
    u.model.meter().release();

    Unit a(factoryEeprom(), 42), b(factoryEeprom(), 42), c(factoryEeprom(), 43);
    std::string sa, sb, sc;
    for (int i = 0; i < 5; ++i) {
        sa += a.cmd("vu");
        sb += b.cmd("vu");
        sc += c.cmd("vu");
    }
    EXPECT_EQ(sa, sb);
    EXPECT_NE(sa, sc);
    for (int level : a.model.levels()) {
        EXPECT_GE(level, 0);
        EXPECT_LE(level, 4095);
    }
    EXPECT_GT(a.model.levels()[0], 100) << "input 1 plays on the front pair";

    a.cmd("mute 0");
    EXPECT_EQ(a.cmd("vu"), "0\t0\t0\t0\r\n>") << "a muted unit meters silence";
}

// -------------------------------------------------------------------------------------
// Image files

TEST(ImageFiles, SaveLoadRoundTripAndWrongSizesAreRefused) {
    xeltest::ScratchDir dir;
    EepromImage image = factoryEeprom();
    image[0x3FF] = 0x5A;
    std::string error;
    ASSERT_TRUE(saveEeprom(dir.file("unit.eep"), image, error)) << error;
    EXPECT_EQ(std::filesystem::file_size(dir.file("unit.eep")), kEepromSize);
    EepromImage back{};
    ASSERT_TRUE(loadEeprom(dir.file("unit.eep"), back, error)) << error;
    EXPECT_EQ(back, image);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temporary left";

    std::ofstream(dir.file("short.eep")) << "abc";
    EXPECT_FALSE(loadEeprom(dir.file("short.eep"), back, error));
    EXPECT_NE(error.find("3 bytes"), std::string::npos) << error;
    EXPECT_FALSE(loadEeprom(dir.file("missing.eep"), back, error));
}

// A configuration file laid out by hand: signature, numbers, eight records, texts.
std::vector<std::uint8_t> configFile(int powerOnFormat, int fallback, int powerOnMode) {
    std::vector<std::uint8_t> f(352, 0);
    const std::uint8_t sig[7] = {0x4B, 0x00, 0x52, 0x00, 0x56, 0x00, 0x58};
    std::copy(std::begin(sig), std::end(sig), f.begin());
    auto put32 = [&](std::size_t at, int v) {
        for (int i = 0; i < 4; ++i) f[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    auto putText = [&](std::size_t at, const std::string& s) {
        std::copy(s.begin(), s.end(), f.begin() + static_cast<std::ptrdiff_t>(at));
    };
    put32(7, powerOnFormat);
    put32(11, fallback);
    put32(15, 5);
    for (std::size_t i = 0; i < 8; ++i)
        for (std::size_t k = 0; k < 24; ++k) f[19 + 24 * i + k] = static_cast<std::uint8_t>(i * 24 + k + 1);
    putText(211, std::string(32, 'P'));  // fills its width: no terminator
    putText(243, std::string("T42") + '\0' + "junk");
    putText(275, "Odeon");
    putText(307, "12");
    putText(311, "00112233-4455-6677-8899-AABBCCDDEEFF");
    put32(348, powerOnMode);
    return f;
}

TEST(ImageFiles, ConfigurationSeedsTheEepromAsAHostLoadingItWould) {
    xeltest::ScratchDir dir;
    auto bytes = configFile(2, 3, 0);
    std::ofstream(dir.file("site.xel"), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 352);
    EepromImage image = factoryEeprom();
    image[0x20C] = 7;
    std::string error;
    ASSERT_TRUE(seedFromConfig(dir.file("site.xel"), image, error)) << error;
    EXPECT_EQ(image[1], 0x83) << "format 2 stored as 3, bit 7 for film at power-on";
    EXPECT_EQ(image[2], 4);
    EXPECT_EQ(image[3], 8) << "the count is always 8";
    EXPECT_EQ(std::string(image.begin() + 4, image.begin() + 36), std::string(32, 'P'));
    EXPECT_EQ(std::string(image.begin() + 0x24, image.begin() + 0x28), std::string("T42\0", 4));
    EXPECT_EQ(image[0x28], 0) << "bytes after the text's end are zero, not the file's leftovers";
    EXPECT_EQ(std::string(image.begin() + 0x44, image.begin() + 0x49), "Odeon");
    EXPECT_EQ(std::string(image.begin() + 0x64, image.begin() + 0x68), std::string("12\0\0", 4));
    for (std::size_t k = 0; k < 8 * 24; ++k) ASSERT_EQ(image[0x68 + k], static_cast<std::uint8_t>(k + 1)) << k;
    EXPECT_EQ(std::string(image.begin() + 0x1E8, image.begin() + 0x20C), "00112233-4455-6677-8899-AABBCCDDEEFF");
    EXPECT_EQ(image[0x20C], 7) << "not in the file: kept";

    auto wrong = bytes;
    wrong[1] = 'R';  // the signature spelled differently
    std::ofstream(dir.file("wrong.xel"), std::ios::binary).write(reinterpret_cast<const char*>(wrong.data()), 352);
    EXPECT_FALSE(seedFromConfig(dir.file("wrong.xel"), image, error));
    std::ofstream(dir.file("short.xel"), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 351);
    EXPECT_FALSE(seedFromConfig(dir.file("short.xel"), image, error));
}

// -------------------------------------------------------------------------------------
// Command line

TEST(CommandLine, ParsesLinksFaultsAndRefusesWhatCannotWork) {
    Options o;
    std::string error;
    ASSERT_TRUE(parseOptions(
        {"--tcp", "127.0.0.5:10001", "--drop-after=3", "--split", "--delay-ms", "20", "--seed", "9"}, o, error))
        << error;
    EXPECT_EQ(o.tcpAddress, "127.0.0.5");
    EXPECT_EQ(o.tcpPort, 10001);
    EXPECT_EQ(o.faults.dropAfter, 3);
    EXPECT_TRUE(o.faults.split);
    EXPECT_EQ(o.faults.delayMs, 20);
    EXPECT_EQ(o.seed, 9u);

    Options p;
    ASSERT_TRUE(parseOptions({"--tcp", "2000"}, p, error));
    EXPECT_EQ(p.tcpAddress, "127.0.0.1") << "loopback unless told otherwise";
    EXPECT_EQ(p.tcpPort, 2000);

    for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{{"--bogus"},
                                                                              {"--tcp"},
                                                                              {"--tcp", "host:"},
                                                                              {"--tcp", ":10001"},
                                                                              {"--baud", "fast"},
                                                                              {"--drop-after", "-1"},
                                                                              {"--silent=1"},
                                                                              {"--tcp", "1", "--pty", "/tmp/x"}}) {
        Options q;
        EXPECT_FALSE(parseOptions(bad, q, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
