// Save and Load through the core object against xelsim: the file holds what the
// unit holds, a loaded file ends up in the unit's EEPROM, refused files change
// nothing, and a failed save leaves the previous file as it was.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/core/control/CoreFixture.h"
#include "tests/core/control/FileLimit.h"

namespace {

using namespace xeltest;

using Bytes = std::vector<uint8_t>;

Bytes readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

int32_t intAt(const Bytes& b, size_t offset) {
    return static_cast<int32_t>(b[offset] | (b[offset + 1] << 8) | (b[offset + 2] << 16) |
                                (static_cast<uint32_t>(b[offset + 3]) << 24));
}

void putInt(Bytes& b, size_t offset, int32_t v) {
    for (size_t i = 0; i < 4; ++i) b[offset + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}

void putText(Bytes& b, size_t offset, const std::string& ansi) {
    std::copy(ansi.begin(), ansi.end(), b.begin() + static_cast<long>(offset));
}

Bytes slice(const Bytes& b, size_t offset, size_t n) {
    return Bytes(b.begin() + static_cast<long>(offset), b.begin() + static_cast<long>(offset + n));
}

// A text field as the file carries an EEPROM text: its bytes up to the first
// zero, then zeros up to the file's width.
Bytes fileText(const Bytes& eeprom, size_t address, size_t eepromWidth, size_t fileWidth) {
    Bytes out(fileWidth, 0);
    for (size_t i = 0; i < eepromWidth && i < fileWidth && eeprom[address + i] != 0; ++i) out[i] = eeprom[address + i];
    return out;
}

constexpr char kGuid[] = "0f8fad5b-d9cb-469f-a165-70867728950e";

// A setup file written field by field at the offsets of the layout.
Bytes sampleFile() {
    Bytes f(352, 0);
    const uint8_t signature[] = {0x4B, 0x00, 0x52, 0x00, 0x56, 0x00, 0x58};
    std::copy(std::begin(signature), std::end(signature), f.begin());
    putInt(f, 7, 3);   // PowerOnFormat
    putInt(f, 11, 1);  // AESEBUFallback
    putInt(f, 15, 8);
    for (size_t i = 0; i < 8 * 24; ++i) f[19 + i] = static_cast<uint8_t>(0x41 + i % 26);
    putText(f, 211, std::string(32, 'P'));  // fills its field
    putText(f, 243, "42");
    putText(f, 275, "Grand \xE9");
    putText(f, 307, "7");
    putText(f, 311, kGuid);
    putInt(f, 348, 1);  // PowerOnMode
    return f;
}

std::u16string getText(HRESULT (xel::IProfile::*get)(BSTR*) noexcept, xel::IProfile* p) {
    BSTR b = nullptr;
    EXPECT_EQ((p->*get)(&b), S_OK);
    return textUpToNul(b);
}

TEST_F(CoreTest, SaveWritesWhatTheUnitHolds) {
    startSim();
    ASSERT_EQ(sim->panel("poke 1 83 3"), "ok");
    ASSERT_EQ(sim->panel("poke 24 54 31"), "ok");  // theatre number "T1"
    ASSERT_EQ(sim->panel("poke 64 39 0 0 0"), "ok");
    connectAndQuery();
    ASSERT_EQ(profile->put_TheaterName(Bstr(u"").get()), S_OK);
    ASSERT_EQ(waitSettled(), xel::SettleAllAnswered);

    ScratchDir dir;
    const std::string path = dir.file("unit.xel");
    ASSERT_EQ(xel->Save(Bstr(u16(path)).get()), S_OK);
    const Bytes f = readAll(path);
    ASSERT_EQ(f.size(), 352u);
    const Bytes e = sim->dump().eeprom;
    EXPECT_EQ(slice(f, 0, 7), (Bytes{0x4B, 0x00, 0x52, 0x00, 0x56, 0x00, 0x58}));
    EXPECT_EQ(intAt(f, 7), 2) << "0x83: format 2 + 1";
    EXPECT_EQ(intAt(f, 11), 2);
    LONG count = 0;
    format->get_Count(&count);
    EXPECT_EQ(intAt(f, 15), count);
    EXPECT_EQ(slice(f, 19, 192), slice(e, 0x68, 192)) << "the eight records byte for byte";
    EXPECT_EQ(slice(f, 211, 32), fileText(e, 0x04, 32, 32));
    EXPECT_EQ(slice(f, 243, 32), fileText(e, 0x24, 32, 32));
    EXPECT_EQ(slice(f, 243, 3), (Bytes{'T', '1', 0}));
    EXPECT_EQ(slice(f, 275, 32), Bytes(32, 0)) << "an empty theatre name";
    EXPECT_EQ(slice(f, 307, 4), (Bytes{'9', 0, 0, 0}));
    EXPECT_EQ(slice(f, 311, 37), fileText(e, 0x1E8, 36, 37));
    EXPECT_EQ(intAt(f, 348), 0) << "bit 7 set: power-on mode 0";
}

TEST_F(CoreTest, LoadQueuesEveryValueAndTheUnitEndsEqualToTheFile) {
    startSim();
    connectAndQuery();
    ScratchDir dir;
    const std::string path = dir.file("setup.xel");
    const Bytes f = sampleFile();
    writeAll(path, f);
    const size_t m = mark();
    ASSERT_EQ(xel->Load(Bstr(u16(path)).get()), S_OK);
    ASSERT_EQ(waitSettled(), xel::SettleAllAnswered) << sim->diagnostics();
    EXPECT_FALSE(writesSince(m).empty());

    const Bytes e = sim->dump().eeprom;
    EXPECT_EQ(e[1], 4) << "format 3 + 1, mode 1: bit 7 clear";
    EXPECT_EQ(e[2], 2);
    EXPECT_EQ(e[3], 8);
    EXPECT_EQ(slice(e, 0x68, 192), slice(f, 19, 192));
    EXPECT_EQ(slice(e, 0x04, 32), Bytes(32, 'P'));
    EXPECT_EQ(slice(e, 0x24, 32), fileText(f, 243, 32, 32));
    EXPECT_EQ(slice(e, 0x44, 32), fileText(f, 275, 32, 32));
    EXPECT_EQ(slice(e, 0x64, 4), (Bytes{'7', 0, 0, 0}));
    EXPECT_EQ(slice(e, 0x1E8, 36), slice(f, 311, 36));

    EXPECT_EQ(getText(&xel::IProfile::get_TheaterName, profile.get()), u"Grand \u00e9");
    BSTR name = nullptr;
    ASSERT_EQ(format->get_ProcessorName(&name), S_OK);
    EXPECT_EQ(textUpToNul(name), std::u16string(32, u'P')) << "a name that fills its field comes back whole";
}

TEST_F(CoreTest, LoadWhileDisconnectedChangesPropertiesOnly) {
    startSim();
    ScratchDir dir;
    const std::string path = dir.file("setup.xel");
    writeAll(path, sampleFile());
    ASSERT_EQ(xel->Load(Bstr(u16(path)).get()), S_OK);
    LONG v = 0;
    xel->get_PowerOnFormat(&v);
    EXPECT_EQ(v, 3);
    xel->get_PowerOnMode(&v);
    EXPECT_EQ(v, 1);
    xel->get_AESEBUFallback(&v);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(getText(&xel::IProfile::get_TheaterNumber, profile.get()), u"42");
    EXPECT_EQ(waitSettled(), xel::SettleSomeFailed) << "nothing could be queued";

    const size_t m = mark();
    connectAndQuery();
    EXPECT_TRUE(writesSince(m).empty()) << "the unit keeps its own values";
}

TEST_F(CoreTest, LoadRefusesBadFilesBeforeApplyingAnything) {
    ScratchDir dir;
    ASSERT_EQ(xel->put_PowerOnFormat(1), S_OK);
    const Bytes good = sampleFile();
    const std::string path = dir.file("bad.xel");

    writeAll(path, Bytes(good.begin(), good.end() - 1));
    EXPECT_EQ(xel->Load(Bstr(u16(path)).get()), 110) << "one byte short";
    Bytes lower = good;
    lower[0] = 'k';
    writeAll(path, lower);
    EXPECT_EQ(xel->Load(Bstr(u16(path)).get()), 110) << "signature in lower case";
    EXPECT_EQ(xel->Load(Bstr(u16(dir.file("absent.xel"))).get()), 110);
    EXPECT_EQ(xel->Load(Bstr(u16(dir.path())).get()), 110) << "a folder";
    EXPECT_EQ(xel->Load(Bstr(u"").get()), 110);
    LONG v = 0;
    xel->get_PowerOnFormat(&v);
    EXPECT_EQ(v, 1) << "nothing of a refused file was applied";
    EXPECT_EQ(getText(&xel::IProfile::get_TheaterNumber, profile.get()), u"");
}

TEST_F(CoreTest, FailedSaveReturns110AndKeepsThePreviousFile) {
    ScratchDir dir;
    const std::string path = dir.file("unit.xel");
    const Bytes old(352, 0x5A);
    writeAll(path, old);
    {
        FileSizeLimit limit(64);  // the write fails part-way
        EXPECT_EQ(xel->Save(Bstr(u16(path)).get()), 110);
    }
    EXPECT_EQ(readAll(path), old);
    EXPECT_EQ(xel->Save(Bstr(u16(dir.file("no/such/folder.xel"))).get()), 110);
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
        ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
        EXPECT_EQ(xel->Save(Bstr(u16(path)).get()), 110) << "a read-only file in a read-only folder";
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
        EXPECT_EQ(readAll(path), old);
    }
    EXPECT_EQ(xel->Save(Bstr(u16(path)).get()), S_OK);
    EXPECT_EQ(readAll(path).size(), 352u);
}

TEST_F(CoreTest, SetupRoundTripThroughASymlinkKeepsTheLink) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.file("setups"));
    const std::string target = dir.file("setups/grand.xel");
    const std::string link = dir.file("current.xel");
    const Bytes f = sampleFile();
    writeAll(target, f);
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    std::filesystem::create_symlink("setups/grand.xel", link);

    ASSERT_EQ(xel->Load(Bstr(u16(link)).get()), S_OK);
    ASSERT_EQ(xel->put_PowerOnFormat(5), S_OK);
    ASSERT_EQ(xel->Save(Bstr(u16(link)).get()), S_OK);
    EXPECT_TRUE(std::filesystem::is_symlink(link)) << "save replaces a symbolic link with a plain file";
    Bytes want = f;
    putInt(want, 7, 5);
    EXPECT_EQ(readAll(target), want) << "the loaded setup, with the one change, in the link's target";
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    ASSERT_EQ(xel->put_PowerOnFormat(1), S_OK);
    ASSERT_EQ(xel->Load(Bstr(u16(link)).get()), S_OK);
    LONG v = 0;
    xel->get_PowerOnFormat(&v);
    EXPECT_EQ(v, 5) << "the saved file loads back through the link";
}

}  // namespace
