// Intel HEX validation and conversion into the four memory images, and reading
// an image back for the download.
#include "core/control/HexImage.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fcntl.h>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/support/HexRecord.h"

namespace fs = std::filesystem;
using xel::core::ImageRow;
using xel::core::MemoryImage;
using xel::core::MemoryImagePaths;
using xel::core::ParseHexFile;
using xel::core::ValidateHexFile;

namespace {

const char* const kImageNames[] = {"PROGMEM.MCP", "EEDATA.MCP", "USERID.MCP", "CONFIG.MCP"};

std::string record(int type, unsigned address, const std::vector<uint8_t>& data) {
    return xeltest::hexRecord(type, address, data);
}
std::string ext(unsigned upper) {
    return record(4, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper & 0xFF)});
}
std::string eof() { return ":00000001FF"; }
std::vector<uint8_t> counting(int n, int from = 0) {
    std::vector<uint8_t> v;
    for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>((from + i) & 0xFF));
    return v;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
void writeFile(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

class TempFolder {
public:
    TempFolder() {
        std::string tmpl = (fs::temp_directory_path() / "xelor-fw-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    // Everything in the folder, by name, for "nothing else was touched" checks.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (auto& e : fs::directory_iterator(path_)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

private:
    fs::path path_;
};

struct Images {
    std::string progmem, eedata, userid, config;
};
Images readImages(const fs::path& folder) {
    return {readFile(folder / "PROGMEM.MCP"), readFile(folder / "EEDATA.MCP"), readFile(folder / "USERID.MCP"),
            readFile(folder / "CONFIG.MCP")};
}

// Converts `lines` (joined with LF) in a fresh folder and returns the images.
Images convertLines(const std::vector<std::string>& lines) {
    TempFolder dir;
    std::string text;
    for (auto& l : lines) text += l + "\n";
    writeFile(dir.path() / "app.hex", text);
    MemoryImagePaths paths;
    EXPECT_EQ(ParseHexFile(dir.path() / "app.hex", paths), 0) << text;
    return readImages(dir.path());
}

// --- Conversion of an assembler's output ------------------------------------

#ifndef XELOR_GPASM
#define XELOR_GPASM ""
#endif

class AssembledImage : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(XELOR_GPASM).empty())
            GTEST_SKIP() << "gpasm (Debian package gputils) was not found at configure time";
    }
    // Assembles the test application into `dir/name` (INHX32; CR LF when `dos`).
    fs::path assemble(const fs::path& dir, const std::string& name, bool dos) {
        const fs::path out = dir / name;
        const std::string cmd = std::string("'") + XELOR_GPASM + "' -q " + (dos ? "-n " : "") + "-a inhx32 '" +
                                FIRMWARE_DATA_DIR "/xelapp.asm' -o '" + out.string() + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return out;
    }
};

// Every row carries every byte that any record puts into it: the reset goto at
// 0x0400 and the high-priority vector's retfie at 0x0408 share one line.
TEST_F(AssembledImage, ConvertsIntoTheFourImages) {
    TempFolder dir;
    const fs::path hex = assemble(dir.path(), "xelapp.hex", false);
    ASSERT_EQ(ValidateHexFile(hex), 0);
    MemoryImagePaths paths;
    ASSERT_EQ(ParseHexFile(hex, paths), 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(paths.paths[i], dir.path() / kImageNames[i]);

    const Images img = readImages(dir.path());
    EXPECT_EQ(img.progmem,
              "000400 0D EF 02 F0 00 00 00 00 11 00 00 00 00 00 00 00\r\n"
              "000410 00 00 00 00 00 00 00 00 10 00 12 0E 81 6E FD D7\r\n"
              "000420 58 65 6C 6F 72 20 66 69 72 6D 77 61 72 65 20 69\r\n"
              "000430 6D 61 67 65 2C 20 76 65 72 73 69 6F 6E 20 32 2E\r\n"
              "000440 31 20 28 74 65 73 74 20 62 75 69 6C 64 29 00 00\r\n"
              "01FF00 A5 5A C3 3C 00 00 00 00 00 00 00 00 00 00 00 00\r\n");
    EXPECT_EQ(img.eedata,
              "000000 58 45 4C 4F 52 00 00 00 00 00 00 00 00 00 00 00\r\n"
              "0000F0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 12 34\r\n");
    EXPECT_EQ(img.userid, "200000 01 02 00 00 00 00 00 0F 00 00 00 00 00 00 00 00\r\n");
    // Three configuration records (0x300001, 0x300005, 0x300008) make one row;
    // the bytes besides OSC=HSPLL (0x06 at 0x300001) are the device's defaults
    // from the assembler's tables.
    EXPECT_EQ(img.config, "300000 00 06 1F 1E 00 83 81 00 FF C0 FF E0 FF 40 00 00\r\n");
}

TEST_F(AssembledImage, CrLfAndLowerCaseConvertLikeLf) {
    TempFolder lf, crlf, lower;
    MemoryImagePaths paths;
    ASSERT_EQ(ParseHexFile(assemble(lf.path(), "a.hex", false), paths), 0);

    const fs::path dosHex = assemble(crlf.path(), "a.hex", true);
    ASSERT_NE(readFile(dosHex).find("\r\n"), std::string::npos) << "the assembler did not write CR LF";
    ASSERT_EQ(ParseHexFile(dosHex, paths), 0);

    std::string text = readFile(dosHex);
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    writeFile(lower.path() / "a.hex", text);
    ASSERT_EQ(ParseHexFile(lower.path() / "a.hex", paths), 0);

    const Images ref = readImages(lf.path());
    ASSERT_FALSE(ref.progmem.empty());
    for (const TempFolder* other : {&crlf, &lower}) {
        const Images img = readImages(other->path());
        EXPECT_EQ(img.progmem, ref.progmem);
        EXPECT_EQ(img.eedata, ref.eedata);
        EXPECT_EQ(img.userid, ref.userid);
        EXPECT_EQ(img.config, ref.config);
    }
}

// --- Routing, rows and record shapes -----------------------------------------

struct ConversionCase {
    const char* name;
    std::vector<std::string> lines;
    Images expected;
};

class Conversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(Conversion, ProducesExpectedImages) {
    const ConversionCase& c = GetParam();
    const Images img = convertLines(c.lines);
    EXPECT_EQ(img.progmem, c.expected.progmem);
    EXPECT_EQ(img.eedata, c.expected.eedata);
    EXPECT_EQ(img.userid, c.expected.userid);
    EXPECT_EQ(img.config, c.expected.config);
}

INSTANTIATE_TEST_SUITE_P(
    HexRecords, Conversion,
    ::testing::Values(
        ConversionCase{"ConfigRecordShorterThanARow",
                       {ext(0x30), record(0, 0x0000, counting(14, 1)), eof()},
                       {"", "", "", "300000 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 00 00\r\n"}},
        ConversionCase{"DataEepromFromAddressZero",
                       {ext(0xF0), record(0, 0x0000, {0xAA, 0xBB}), record(0, 0x0012, {0xCC}), eof()},
                       {"",
                        "000000 AA BB 00 00 00 00 00 00 00 00 00 00 00 00 00 00\r\n"
                        "000010 00 00 CC 00 00 00 00 00 00 00 00 00 00 00 00 00\r\n",
                        "", ""}},
        ConversionCase{"ThirtyTwoBytesMakeTwoRows",
                       {record(0, 0x0100, counting(32)), eof()},
                       {"000100 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n"
                        "000110 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F\r\n",
                        "", "", ""}},
        ConversionCase{"UnknownSegmentIsDropped",
                       {ext(0x21), record(0, 0x0000, counting(16)), ext(0x00), record(0, 0x0010, {0x01}), eof()},
                       {"000010 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\r\n", "", "", ""}},
        ConversionCase{"RecordsSharingRowsAreMerged",
                       {record(0, 0x0000, {0xEF, 0x04, 0xF0, 0x00}), record(0, 0x0008, {0x11, 0x00}),
                        record(0, 0x0018, {0x10, 0x00}), record(0, 0x0010, {0x22}), eof()},
                       {"000000 EF 04 F0 00 00 00 00 00 11 00 00 00 00 00 00 00\r\n"
                        "000010 22 00 00 00 00 00 00 00 10 00 00 00 00 00 00 00\r\n",
                        "", "", ""}},
        ConversionCase{"UnalignedRecordKeepsItsTail",
                       {record(0, 0x0006, counting(20, 0x40)), eof()},
                       {"000000 00 00 00 00 00 00 40 41 42 43 44 45 46 47 48 49\r\n"
                        "000010 4A 4B 4C 4D 4E 4F 50 51 52 53 00 00 00 00 00 00\r\n",
                        "", "", ""}},
        ConversionCase{"RecordCrossingIntoTheNextSegment",
                       {record(0, 0xFFF8, counting(16, 0x80)), eof()},
                       {"00FFF0 00 00 00 00 00 00 00 00 80 81 82 83 84 85 86 87\r\n"
                        "010000 88 89 8A 8B 8C 8D 8E 8F 00 00 00 00 00 00 00 00\r\n",
                        "", "", ""}},
        ConversionCase{"RowsInOrderOfFirstAppearance",
                       {record(0, 0x0200, {1}), ext(0x20), record(0, 0x0000, {7}), ext(0x00), record(0, 0x0100, {2}),
                        record(0, 0x020F, {3}), eof()},
                       {"000200 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 03\r\n"
                        "000100 02 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\r\n",
                        "", "200000 07 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\r\n", ""}},
        ConversionCase{"OtherRecordTypesAreIgnored",
                       {record(2, 0, {0x10, 0x00}), record(3, 0, {0, 0, 0, 0}), record(5, 0, {0, 0, 4, 0}),
                        record(0, 0x0000, {0x5A}), eof(), record(0, 0x0001, {0x6B})},
                       {"000000 5A 6B 00 00 00 00 00 00 00 00 00 00 00 00 00 00\r\n", "", "", ""}}),
    [](const ::testing::TestParamInfo<ConversionCase>& info) { return std::string(info.param.name); });

TEST(HexConversion, LongUnalignedRecordFillsEveryRowItTouches) {
    // 255 bytes from 0x00F7: the first row takes 9 of them, then 15 whole rows, then 6.
    const Images img = convertLines({record(0, 0x00F7, counting(255)), eof()});
    const auto result = xel::core::ParseMemoryImage(img.progmem);
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.rows.size(), 17u);
    int expect = 0;
    for (unsigned addr = 0x00F7; addr < 0x00F7 + 255; ++addr, ++expect) {
        const ImageRow& row = result.rows[(addr - 0x00F0) / 16];
        ASSERT_EQ(row.address, addr & ~0xFu);
        ASSERT_EQ(row.bytes[addr & 0xF], expect & 0xFF) << "address " << addr;
    }
    EXPECT_EQ(result.rows.front().bytes[6], 0);
    EXPECT_EQ(result.rows.back().bytes[6], 0);
}

TEST(HexConversion, LastLineWithoutLineFeedCounts) {
    TempFolder dir;
    writeFile(dir.path() / "a.hex", record(0, 0x0000, {0x42}) + "\r\n" + record(0, 0x0010, {0x43}));
    MemoryImagePaths paths;
    ASSERT_EQ(ParseHexFile(dir.path() / "a.hex", paths), 0);
    EXPECT_EQ(readFile(dir.path() / "PROGMEM.MCP"),
              "000000 42 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\r\n"
              "000010 43 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\r\n");
}

// --- Where the images go ------------------------------------------------------

TEST(ImageFiles, ReplaceOldImagesBesideTheHexFileAndLeaveNoTemporaries) {
    TempFolder dir;
    for (const char* n : kImageNames) writeFile(dir.path() / n, "old contents that are longer than the new ones\r\n");
    writeFile(dir.path() / "a.hex", record(0, 0x0400, {1, 2, 3}) + "\n" + eof() + "\n");
    MemoryImagePaths paths;
    ASSERT_EQ(ParseHexFile(dir.path() / "a.hex", paths), 0);
    EXPECT_EQ(readFile(paths[MemoryImage::ProgramMemory]),
              "000400 01 02 03 00 00 00 00 00 00 00 00 00 00 00 00 00\r\n");
    EXPECT_EQ(readFile(paths[MemoryImage::DataEeprom]), "");
    EXPECT_EQ(readFile(paths[MemoryImage::UserId]), "");
    EXPECT_EQ(readFile(paths[MemoryImage::Config]), "");
    EXPECT_EQ(dir.names(),
              (std::vector<std::string>{"CONFIG.MCP", "EEDATA.MCP", "PROGMEM.MCP", "USERID.MCP", "a.hex"}));
}

TEST(ImageFiles, PathWithoutFolderWritesIntoTheCurrentFolderAndReturnsAbsolutePaths) {
    TempFolder dir;
    writeFile(dir.path() / "a.hex", record(0, 0x0400, {9}) + "\n");
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    MemoryImagePaths paths;
    const int rc = ParseHexFile("a.hex", paths);
    fs::current_path(before);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(paths[MemoryImage::ProgramMemory], dir.path() / "PROGMEM.MCP");
    EXPECT_TRUE(paths[MemoryImage::Config].is_absolute());
    EXPECT_TRUE(fs::exists(dir.path() / "CONFIG.MCP"));
}

// --- Files that must be refused -------------------------------------------------

struct InvalidCase {
    const char* name;
    std::string text;
};

class InvalidHex : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(InvalidHex, IsRefusedAndTouchesNothing) {
    TempFolder dir;
    for (const char* n : kImageNames) writeFile(dir.path() / n, std::string("keep ") + n);
    writeFile(dir.path() / "bad.hex", GetParam().text);
    const auto namesBefore = dir.names();

    EXPECT_EQ(ValidateHexFile(dir.path() / "bad.hex"), 1);
    MemoryImagePaths paths;
    paths.paths[0] = "remembered";
    EXPECT_EQ(ParseHexFile(dir.path() / "bad.hex", paths), 1);
    EXPECT_EQ(paths.paths[0], "remembered");
    EXPECT_EQ(dir.names(), namesBefore);
    for (const char* n : kImageNames) EXPECT_EQ(readFile(dir.path() / n), std::string("keep ") + n);
}

std::string offByOne() {
    std::string bad = record(0, 0x0010, {0x01, 0x02});
    bad.back() = static_cast<char>(bad.back() == '0' ? '1' : bad.back() - 1);
    return record(0, 0x0000, {0xFF}) + "\n" + bad + "\n" + eof() + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    Files, InvalidHex,
    ::testing::Values(InvalidCase{"ChecksumOffByOne", offByOne()},
                      InvalidCase{"LineWithoutColon", record(0, 0, {1}) + "\n" + record(0, 0x10, {2}).substr(1) + "\n"},
                      InvalidCase{"EmptyFile", ""},
                      InvalidCase{"BlankLineBetweenRecords", record(0, 0, {1}) + "\n\n" + eof() + "\n"},
                      InvalidCase{"TruncatedRecord", record(0, 0, {1, 2, 3, 4}).substr(0, 12) + "\n"},
                      InvalidCase{"NonHexDigit", ":0100000G" + record(0, 0, {1}).substr(9) + "\n"},
                      InvalidCase{"ExtendedAddressWithOneByte", record(4, 0, {0x30}) + "\n"}),
    [](const ::testing::TestParamInfo<InvalidCase>& info) { return std::string(info.param.name); });

TEST(InvalidHexPath, MissingFileOrFolderIsRefused) {
    TempFolder dir;
    EXPECT_EQ(ValidateHexFile(dir.path() / "absent.hex"), 1);
    EXPECT_EQ(ValidateHexFile(dir.path()), 1);
    MemoryImagePaths paths;
    EXPECT_EQ(ParseHexFile(dir.path() / "absent.hex", paths), 1);
    EXPECT_TRUE(dir.names().empty());
}

// A folder in which no file can be created, even by root: /proc/self/fd.
TEST(UnwritableFolder, ImagesThatCannotBeCreatedReportInvalid) {
    TempFolder dir;
    writeFile(dir.path() / "a.hex", record(0, 0x0400, {1}) + "\n");
    const int fd = ::open((dir.path() / "a.hex").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const fs::path viaProc = fs::path("/proc/self/fd") / std::to_string(fd);
    EXPECT_EQ(ValidateHexFile(viaProc), 0);
    MemoryImagePaths paths;
    EXPECT_EQ(ParseHexFile(viaProc, paths), 1);
    EXPECT_TRUE(paths.paths[0].empty());
    ::close(fd);
}

TEST(UnwritableFolder, AFolderInTheWayReplacesNoImage) {
    TempFolder dir;
    writeFile(dir.path() / "PROGMEM.MCP", "old program");
    fs::create_directory(dir.path() / "CONFIG.MCP");
    writeFile(dir.path() / "a.hex", record(0, 0x0400, {1}) + "\n");
    MemoryImagePaths paths;
    EXPECT_EQ(ParseHexFile(dir.path() / "a.hex", paths), 1);
    EXPECT_EQ(readFile(dir.path() / "PROGMEM.MCP"), "old program");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"CONFIG.MCP", "PROGMEM.MCP", "a.hex"}));
}

// --- Reading an image back -------------------------------------------------------

TEST(MemoryImageReader, ReadsWhatTheConversionWrote) {
    TempFolder dir;
    writeFile(dir.path() / "a.hex", record(0, 0x0408, {0xDE, 0xAD}) + "\n" + record(0, 0x0400, {0xBE}) + "\n" +
                                        record(0, 0x0430, counting(16, 0xF0)) + "\n");
    MemoryImagePaths paths;
    ASSERT_EQ(ParseHexFile(dir.path() / "a.hex", paths), 0);
    const auto r = xel::core::ReadMemoryImage(paths[MemoryImage::ProgramMemory]);
    ASSERT_TRUE(r.ok) << r.error;
    ImageRow first{0x0400, {}};
    first.bytes[0] = 0xBE;
    first.bytes[8] = 0xDE;
    first.bytes[9] = 0xAD;
    ImageRow second{0x0430, {}};
    for (int i = 0; i < 16; ++i) second.bytes[i] = static_cast<uint8_t>(0xF0 + i);
    EXPECT_EQ(r.rows, (std::vector<ImageRow>{first, second}));

    const auto empty = xel::core::ReadMemoryImage(paths[MemoryImage::Config]);
    EXPECT_TRUE(empty.ok);
    EXPECT_TRUE(empty.rows.empty());
}

TEST(MemoryImageReader, AcceptsLfLowerCaseAndAMissingLastLineEnd) {
    const auto r = xel::core::ParseMemoryImage(
        "1ffff0 aa bb cc dd ee ff 00 11 22 33 44 55 66 77 88 99\n"
        "000010 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.rows.size(), 2u);
    EXPECT_EQ(r.rows[0].address, 0x1FFFF0u);
    EXPECT_EQ(r.rows[0].bytes[0], 0xAA);
    EXPECT_EQ(r.rows[0].bytes[15], 0x99);
    EXPECT_EQ(r.rows[1].bytes[15], 0x01);
}

TEST(MemoryImageReader, NamesTheMalformedLine) {
    const std::string good = "000400 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n";
    const struct {
        std::string line;
        const char* what;
    } cases[] = {
        {"00040 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n", "address"},
        {"000400 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E\r\n", "byte 15"},
        {"000400 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0G\r\n", "byte 15"},
        {"000400 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10\r\n", "after the sixteenth byte"},
        {"000400  00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n", "byte 0"},
        {"\r\n", "address"},
    };
    for (const auto& c : cases) {
        const auto r = xel::core::ParseMemoryImage(good + c.line + good);
        EXPECT_FALSE(r.ok) << c.line;
        EXPECT_TRUE(r.rows.empty());
        EXPECT_NE(r.error.find("line 2"), std::string::npos) << r.error;
        EXPECT_NE(r.error.find(c.what), std::string::npos) << r.error;
    }
    const auto missing = xel::core::ReadMemoryImage("/nonexistent/PROGMEM.MCP");
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("cannot open"), std::string::npos);
}

}  // namespace
