// Private-profile behaviour of INI files: lookups, edits that keep the rest of
// the file byte for byte, Windows-1252 text and writes that never lose the old file.
#include "platform/inifile/IniFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;
using xel::ini::Entry;
using xel::ini::IniFile;
using xel::ini::Status;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* home = std::getenv("XDG_CONFIG_HOME");
        dir_ = fs::path(home ? home : fs::temp_directory_path().string()) /
               ("ini-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = dir_ / "test.ini";
    }
    void TearDown() override { fs::remove_all(dir_); }

    void put(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
    std::string bytes() const {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path dir_;
    fs::path path_;
};

// ---- Reading ------------------------------------------------------------------

TEST_F(IniFileTest, LooksUpSectionsAndKeysIgnoringCaseFirstMatchWins) {
    put("; leading comment\r\n"
        "Orphan=before any section\r\n"
        "[Alpha]\r\n"
        "  Name  =  spaced value  \r\n"
        "Dup=first\r\n"
        "Dup=second\r\n"
        "; Hidden=comment\r\n"
        "[ALPHA]\r\n"
        "Other=from the second Alpha\r\n");
    IniFile ini(path_);
    EXPECT_EQ(ini.readString(u"alpha", u"NAME", u"x"), u"spaced value");
    EXPECT_EQ(ini.readString(u"Alpha", u"dup"), u"first");
    EXPECT_EQ(ini.readString(u"Alpha", u"Other", u"none"), u"none") << "only the first section of a name is read";
    EXPECT_EQ(ini.readString(u"Alpha", u"; Hidden", u"none"), u"none") << "a comment is not a key";
    EXPECT_EQ(ini.readString(u"", u"Orphan", u"none"), u"none") << "nothing before the first section is a key";
    EXPECT_EQ(ini.readString(u"Beta", u"Name", u"dflt"), u"dflt");
    EXPECT_EQ(ini.sectionNames(), (std::vector<std::u16string>{u"Alpha"}));
}

TEST_F(IniFileTest, MissingFileReadsDefaultsAndHasNoSections) {
    IniFile ini(dir_ / "absent.ini");
    EXPECT_EQ(ini.readString(u"S", u"K", u"40.0"), u"40.0");
    EXPECT_EQ(ini.readInt(u"S", u"K", 7), 7);
    EXPECT_TRUE(ini.sectionNames().empty());
    EXPECT_FALSE(ini.hasSection(u"S"));
}

TEST_F(IniFileTest, BracketsStartASectionOnlyAtTheStartOfALine) {
    put("[Digital [5.1]]\r\n"
        "Format1=Surround [EX] 6.1\r\n"
        "Format2=[leading bracket\r\n"
        "   [Indented]\r\n"
        "Key=v\r\n"
        "[Unclosed\r\n"
        "Key=u\r\n");
    IniFile ini(path_);
    EXPECT_EQ(ini.sectionNames(), (std::vector<std::u16string>{u"Digital [5.1]", u"Indented", u"Unclosed"}));
    EXPECT_EQ(ini.readString(u"Digital [5.1]", u"Format1"), u"Surround [EX] 6.1");
    EXPECT_EQ(ini.readString(u"Digital [5.1]", u"Format2"), u"[leading bracket");
    EXPECT_EQ(ini.readString(u"indented", u"Key"), u"v");
    EXPECT_EQ(ini.readString(u"Unclosed", u"Key"), u"u");
}

TEST_F(IniFileTest, NumbersParseLikeThePrivateProfileCall) {
    struct Row {
        const char* text;
        int32_t expected;
    } rows[] = {
        {"12", 12},
        {"-3", -3},
        {"+5", 5},
        {"7 pins", 7},
        {"abc", 0},
        {"-", 0},
        {"0x10", 0},
        {"2147483647", 2147483647},
        {"99999999999", 2147483647},
        {"-99999999999", -2147483647 - 1},
    };
    std::string text = "[N]\r\n";
    for (size_t i = 0; i < std::size(rows); ++i) text += "K" + std::to_string(i) + "=" + rows[i].text + "\r\n";
    text += "Empty=\r\n";
    put(text);
    IniFile ini(path_);
    for (size_t i = 0; i < std::size(rows); ++i) {
        std::u16string k;
        for (char c : "K" + std::to_string(i)) k += static_cast<char16_t>(c);
        EXPECT_EQ(ini.readInt(u"N", k, -99), rows[i].expected) << "value \"" << rows[i].text << "\"";
    }
    EXPECT_EQ(ini.readInt(u"N", u"Empty", 42), 42) << "an empty value reads as the default";
    EXPECT_EQ(ini.readInt(u"N", u"Missing", 42), 42);
}

// ---- Writing keeps the rest of the file ------------------------------------------

TEST_F(IniFileTest, ReplacingAKeyChangesOnlyItsValue) {
    const std::string before =
        "; library\r\n[One]\r\n  Format1 = Old\r\nFormat2=Keep\r\n\r\n[Two]\r\nFormat1=Other\r\n";
    put(before);
    IniFile ini(path_);
    ASSERT_EQ(ini.writeString(u"one", u"FORMAT1", u"New"), Status::Ok);
    EXPECT_EQ(bytes(), "; library\r\n[One]\r\n  Format1 =New\r\nFormat2=Keep\r\n\r\n[Two]\r\nFormat1=Other\r\n");
    EXPECT_EQ(ini.readString(u"One", u"Format1"), u"New");
}

TEST_F(IniFileTest, NewKeyGoesAfterTheLastLineOfItsSection) {
    put("[One]\r\nA=1\r\n; note\r\n\r\n\r\n[Two]\r\nA=2\r\n");
    IniFile ini(path_);
    ASSERT_EQ(ini.writeString(u"One", u"B", u"b"), Status::Ok);
    EXPECT_EQ(bytes(), "[One]\r\nA=1\r\n; note\r\nB=b\r\n\r\n\r\n[Two]\r\nA=2\r\n");
}

TEST_F(IniFileTest, NewSectionIsAppendedWithCrlfEvenAfterAnUnterminatedLastLine) {
    put("[One]\nA=1");  // written by hand: LF and no final line end
    IniFile ini(path_);
    ASSERT_EQ(ini.writeStrings(u"Two", {{u"X", u"1"}, {u"Y", u"2"}}), Status::Ok);
    EXPECT_EQ(bytes(), "[One]\nA=1\r\n[Two]\r\nX=1\r\nY=2\r\n");
    EXPECT_EQ(ini.readString(u"One", u"A"), u"1");
}

TEST_F(IniFileTest, WritingCreatesAMissingFile) {
    IniFile ini(path_);
    ASSERT_EQ(ini.writeString(u"S", u"K", u"v"), Status::Ok);
    EXPECT_EQ(bytes(), "[S]\r\nK=v\r\n");
}

TEST_F(IniFileTest, CrlfFileReadsWithoutCarriageReturns) {
    put("[S]\r\nK=value\r\nEmpty=\r\n");
    IniFile ini(path_);
    EXPECT_EQ(ini.readString(u"S", u"K"), u"value");
    EXPECT_EQ(ini.readString(u"S", u"Empty", u"d"), u"");
    EXPECT_EQ(ini.readInt(u"S", u"Empty", 3), 3);
}

TEST_F(IniFileTest, DeletingASectionRemovesEveryCopyAndNothingElse) {
    put("[A]\r\nK=1\r\n[B]\r\nK=2\r\n; about B\r\n[a]\r\nK=3\r\n[C]\r\nK=4\r\n");
    IniFile ini(path_);
    ASSERT_EQ(ini.deleteSection(u"a"), Status::Ok);
    EXPECT_EQ(bytes(), "[B]\r\nK=2\r\n; about B\r\n[C]\r\nK=4\r\n");
    ASSERT_EQ(ini.deleteSection(u"Missing"), Status::Ok);
    EXPECT_EQ(bytes(), "[B]\r\nK=2\r\n; about B\r\n[C]\r\nK=4\r\n");
    ASSERT_EQ(ini.deleteKey(u"B", u"k"), Status::Ok);
    EXPECT_EQ(bytes(), "[B]\r\n; about B\r\n[C]\r\nK=4\r\n");
}

// ---- Text and names ---------------------------------------------------------------

TEST_F(IniFileTest, TextIsWindows1252OnDisk) {
    IniFile ini(path_);
    ASSERT_EQ(ini.writeString(u"Caf\u00e9", u"Preis", u"5 \u20ac \u0100"), Status::Ok);
    EXPECT_EQ(bytes(), "[Caf\xe9]\r\nPreis=5 \x80 ?\r\n") << "one byte per character, unmappable as '?'";
    EXPECT_EQ(ini.readString(u"CAF\u00c9", u"preis"), u"5 \u20ac ?") << "Latin-1 letters compare ignoring case";
}

TEST_F(IniFileTest, NamesAndValuesThatWouldNotReadBackAreRefused) {
    put("[S]\r\nK=v\r\n");
    IniFile ini(path_);
    EXPECT_EQ(ini.writeString(u"S", u"K", u"two\r\n[Injected]"), Status::InvalidValue);
    EXPECT_EQ(ini.writeString(u"S\nT", u"K", u"v"), Status::InvalidName);
    EXPECT_EQ(ini.writeString(u"S", u"  ", u"v"), Status::InvalidName);
    EXPECT_EQ(ini.writeString(u"S", u"A=B", u"v"), Status::InvalidName);
    EXPECT_EQ(ini.writeString(u"S", u";K", u"v"), Status::InvalidName);
    EXPECT_EQ(ini.writeString(u"S", u"[K", u"v"), Status::InvalidName);
    EXPECT_EQ(ini.writeStrings(u"S", {{u"Good", u"1"}, {u"", u"2"}}), Status::InvalidName);
    EXPECT_EQ(bytes(), "[S]\r\nK=v\r\n") << "a refused write changes nothing";
    EXPECT_EQ(ini.writeString(u"S", u"K", u"a=b [c]"), Status::Ok);
    EXPECT_EQ(ini.readString(u"S", u"K"), u"a=b [c]");
}

TEST_F(IniFileTest, NamesAreTrimmedAsTheReaderTrimsThemAndMayBeEmpty) {
    put("[S]\r\nK=v\r\n");
    IniFile ini(path_);
    ASSERT_EQ(ini.writeString(u" S\t", u" K ", u"w"), Status::Ok);
    ASSERT_EQ(ini.writeString(u"", u"K", u"unnamed"), Status::Ok);
    EXPECT_EQ(bytes(), "[S]\r\nK=w\r\n[]\r\nK=unnamed\r\n");
    EXPECT_EQ(ini.readString(u"", u"K"), u"unnamed");
    EXPECT_EQ(ini.sectionNames(), (std::vector<std::u16string>{u"S", u""}));
}

// ---- Safe replacement --------------------------------------------------------------

TEST_F(IniFileTest, FailedWriteLeavesTheOldFileIntact) {
    const std::string before = "[S]\r\nK=old\r\n";
    put(before);
    // A file size limit makes the temporary file's write fail part way.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 16;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    IniFile ini(path_);
    const Status st = ini.writeString(u"S", u"K", std::u16string(100, u'x'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(st, Status::IoError);
    EXPECT_NE(ini.lastError().find("test.ini"), std::string::npos) << ini.lastError();
    EXPECT_EQ(bytes(), before);
    for (const auto& e : fs::directory_iterator(dir_))
        EXPECT_EQ(e.path().filename(), "test.ini") << "temporary file left behind";
}

TEST_F(IniFileTest, ReplacementKeepsModeAndWritesThroughASymlink) {
    put("[S]\r\nK=1\r\n");
    ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
    const fs::path link = dir_ / "link.ini";
    fs::create_symlink(path_, link);
    IniFile ini(link);
    ASSERT_EQ(ini.writeString(u"S", u"K", u"2"), Status::Ok);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(bytes(), "[S]\r\nK=2\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(IniFileTest, AFolderInPlaceOfTheFileIsAnErrorNotAnEmptyFile) {
    fs::create_directory(path_);
    IniFile ini(path_);
    EXPECT_EQ(ini.readString(u"S", u"K", u"d"), u"d");
    EXPECT_EQ(ini.writeString(u"S", u"K", u"v"), Status::IoError) << "a folder must not be replaced by a new file";
    EXPECT_TRUE(fs::is_directory(path_));
    std::string bytes;
    EXPECT_EQ(xel::ini::readFile(path_, bytes), Status::IoError);
}

TEST_F(IniFileTest, WriteIntoAMissingFolderFailsCleanly) {
    IniFile ini(dir_ / "no" / "such" / "x.ini");
    EXPECT_EQ(ini.writeString(u"S", u"K", u"v"), Status::IoError);
    EXPECT_FALSE(ini.lastError().empty());
}

}  // namespace
