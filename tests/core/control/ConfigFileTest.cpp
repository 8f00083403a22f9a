// The configuration file's byte layout, its texts through the code page, the
// files it refuses, and saves that never destroy the previous file, follow
// symbolic links and write in place where no second file can be made.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/protocol/ConfigFile.h"
#include "tests/core/control/FileLimit.h"
#include "tests/support/XelsimProcess.h"

namespace {

using namespace xel::core;
using L = ConfigLayout;
using xeltest::FileSizeLimit;

std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

int32_t intAt(const ConfigBytes& b, size_t offset) {
    return static_cast<int32_t>(b[offset] | (b[offset + 1] << 8) | (b[offset + 2] << 16) |
                                (static_cast<uint32_t>(b[offset + 3]) << 24));
}

std::string bytesAt(const ConfigBytes& b, size_t offset, size_t n) {
    return std::string(reinterpret_cast<const char*>(b.data() + offset), n);
}

UnitSetup sampleSetup() {
    UnitSetup s;
    s.powerOnFormat = 2;
    s.aesEbuFallback = -1;
    s.formatCount = 8;
    for (int i = 0; i < kFormatCount; ++i)
        for (int k = 0; k < kFormatRecordSize; ++k)
            s.records[static_cast<size_t>(i)].bytes[k] = static_cast<uint8_t>(i * 24 + k);
    s.processorName = u"Booth 3";
    s.theaterNumber = u"T-17";
    s.theaterName = u"Caf\u00e9 \u20ac";  // both held by the code page
    s.screenNumber = u"12";
    s.processorGuid = u"0f8fad5b-d9cb-469f-a165-70867728950e";
    s.powerOnMode = 1;
    return s;
}

TEST(ConfigLayout, EveryRecordAtItsOffset) {
    const ConfigBytes b = encodeConfig(sampleSetup());
    EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 7),
              (std::vector<uint8_t>{0x4B, 0x00, 0x52, 0x00, 0x56, 0x00, 0x58}));
    EXPECT_EQ(intAt(b, 7), 2);
    EXPECT_EQ(intAt(b, 11), -1);
    EXPECT_EQ(intAt(b, 15), 8);
    EXPECT_EQ(b[19], 0);
    EXPECT_EQ(b[19 + 24 * 7 + 23], 7 * 24 + 23);
    EXPECT_EQ(bytesAt(b, 211, 32), std::string("Booth 3") + std::string(25, '\0'));
    EXPECT_EQ(bytesAt(b, 243, 32), std::string("T-17") + std::string(28, '\0'));
    EXPECT_EQ(bytesAt(b, 275, 7), std::string("Caf\xE9 \x80\0", 7));
    EXPECT_EQ(bytesAt(b, 307, 4), std::string("12\0\0", 4));
    EXPECT_EQ(bytesAt(b, 311, 37), std::string("0f8fad5b-d9cb-469f-a165-70867728950e") + '\0');
    EXPECT_EQ(intAt(b, 348), 1);
}

TEST(ConfigTexts, WidthsCutsAndPadding) {
    UnitSetup s;
    s.processorName = std::u16string(32, u'N');  // fills its field: no terminator
    s.theaterNumber = std::u16string(40, u'A');  // longer: cut to 32
    s.theaterName = u"";                         // all zero
    s.screenNumber = u"12345";                   // cut to 4
    s.processorGuid = u"\u4e2d\u6587";           // not in the code page
    const ConfigBytes b = encodeConfig(s);
    EXPECT_EQ(bytesAt(b, L::kProcessorName, 32), std::string(32, 'N'));
    EXPECT_EQ(b[L::kTheaterNumber], 'A') << "the name's last byte runs straight into the next field";
    EXPECT_EQ(bytesAt(b, L::kTheaterNumber, 32), std::string(32, 'A'));
    EXPECT_EQ(bytesAt(b, L::kTheaterName, 32), std::string(32, '\0'));
    EXPECT_EQ(bytesAt(b, L::kScreenNumber, 4), "1234");
    EXPECT_EQ(bytesAt(b, L::kProcessorGuid, 3), std::string("??\0", 3));

    const auto back = decodeConfig(b);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->processorName, std::u16string(32, u'N'));
    EXPECT_EQ(back->theaterNumber, std::u16string(32, u'A'));
    EXPECT_EQ(back->theaterName, u"");
    EXPECT_EQ(back->screenNumber, u"1234");
    EXPECT_EQ(back->processorGuid, u"??");
}

TEST(ConfigTexts, TextEndsAtItsFirstZeroCharacter) {
    UnitSetup s;
    s.processorName = std::u16string(u"Main\0\0\0\0junk", 12);  // fixed width as read from the unit
    const ConfigBytes b = encodeConfig(s);
    EXPECT_EQ(bytesAt(b, L::kProcessorName, 8), std::string("Main\0\0\0\0", 8));
    EXPECT_EQ(decodeConfig(b)->processorName, u"Main");
}

TEST(ConfigRefusal, ShortFilesAndWrongSignatures) {
    const ConfigBytes good = encodeConfig(sampleSetup());
    EXPECT_FALSE(decodeConfig(std::span<const uint8_t>(good.data(), 351))) << "one byte short";
    EXPECT_FALSE(decodeConfig(std::span<const uint8_t>(good.data(), 0)));
    for (size_t i = 0; i < kConfigSignature.size(); ++i) {
        ConfigBytes bad = good;
        bad[i] ^= 0x20;  // 'K' -> 'k' and friends: the lower-case spelling is refused too
        EXPECT_FALSE(decodeConfig(bad)) << "signature byte " << i;
    }
    std::vector<uint8_t> longer(good.begin(), good.end());
    longer.push_back(0xEE);
    EXPECT_TRUE(decodeConfig(longer)) << "bytes after the setup are not looked at";
}

TEST(ConfigRefusal, WideSignaturePassesButReadsOutOfStep) {
    // "KRVXEL" as 12 UTF-16 bytes: its first seven match, so the records that
    // follow are read five bytes late.
    std::vector<uint8_t> file = {0x4B, 0, 0x52, 0, 0x56, 0, 0x58, 0, 0x45, 0, 0x4C, 0};
    const ConfigBytes body = encodeConfig(sampleSetup());
    file.insert(file.end(), body.begin() + 7, body.end());
    ASSERT_EQ(file.size(), kConfigFileSize + 5);
    const auto s = decodeConfig(file);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->powerOnFormat, 0x4C004500) << "the signature's own bytes 00 45 00 4C read as a number";
    EXPECT_EQ(s->aesEbuFallback, 0x200) << "its last byte, then three of PowerOnFormat (02 00 00)";
    EXPECT_NE(s->powerOnMode, 1);
}

struct stat statOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

size_t entriesIn(const std::string& folder) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

class ConfigFiles : public ::testing::Test {
protected:
    xeltest::ScratchDir dir;
};

// The outcome of a save made by a process that holds no privileges, so that a
// folder's permission bits bind it (root ignores them): a child that drops to
// the unprivileged user first when the test runs as root.
enum class Unprivileged { Saved, Failed, CannotDrop };

template <class Save>
Unprivileged saveUnprivileged(Save save) {
    const pid_t child = ::fork();
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            ::_exit(2);
        ::_exit(save() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return Unprivileged::CannotDrop;
    return WEXITSTATUS(status) == 0   ? Unprivileged::Saved
           : WEXITSTATUS(status) == 1 ? Unprivileged::Failed
                                      : Unprivileged::CannotDrop;
}

TEST_F(ConfigFiles, ReplaceWritesExactlyTheBytesAndLeavesNoTemporaries) {
    const std::string target = dir.file("unit.xel");
    writeBytes(target, std::vector<uint8_t>(1000, 0x55));  // an older, longer file
    const ConfigBytes b = encodeConfig(sampleSetup());
    ASSERT_TRUE(writeFileReplacing(target, b));
    EXPECT_EQ(readAll(target), std::vector<uint8_t>(b.begin(), b.end()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    const auto start = readFileStart(target, kConfigFileSize);
    ASSERT_TRUE(start);
    EXPECT_EQ(*start, std::vector<uint8_t>(b.begin(), b.end()));
    EXPECT_EQ(readFileStart(target, 7)->size(), 7u);
}

TEST_F(ConfigFiles, WriteFailingPartWayKeepsThePreviousFile) {
    const std::string target = dir.file("unit.xel");
    const std::vector<uint8_t> old(352, 0xA5);
    writeBytes(target, old);
    {
        // Files may not grow beyond 100 bytes: the new content fails part-way.
        FileSizeLimit limit(100);
        EXPECT_FALSE(writeFileReplacing(target, encodeConfig(sampleSetup())));
    }
    EXPECT_EQ(readAll(target), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temporary left";
}

TEST_F(ConfigFiles, UnusableTargets) {
    const ConfigBytes b = encodeConfig(sampleSetup());
    EXPECT_FALSE(writeFileReplacing(dir.file("missing/unit.xel"), b)) << "no such folder";
    EXPECT_FALSE(writeFileReplacing(dir.path(), b)) << "a folder, not a file";
    EXPECT_FALSE(readFileStart(dir.file("absent.xel"), kConfigFileSize));
    EXPECT_FALSE(readFileStart(dir.path(), kConfigFileSize)) << "a folder cannot be read as a file";
}

TEST_F(ConfigFiles, SaveThroughASymlinkReplacesItsTargetAndLeavesTheLink) {
    // A link in one folder to a file in another, as a shared setup is kept.
    std::filesystem::create_directories(dir.file("shared"));
    std::filesystem::create_directories(dir.file("booth"));
    const std::string target = dir.file("shared/unit.xel");
    const std::string link = dir.file("booth/unit.xel");
    writeBytes(target, std::vector<uint8_t>(1000, 0x55));
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    std::filesystem::create_symlink("../shared/unit.xel", link);

    const ConfigBytes b = encodeConfig(sampleSetup());
    ASSERT_TRUE(writeFileReplacing(link, b));
    EXPECT_TRUE(std::filesystem::is_symlink(link)) << "save replaces a symbolic link with a plain file";
    EXPECT_EQ(std::filesystem::read_symlink(link), "../shared/unit.xel");
    EXPECT_EQ(readAll(target), std::vector<uint8_t>(b.begin(), b.end()));
    EXPECT_EQ(statOf(target).st_mode & 07777, 0640u) << "the target keeps its permission bits";
    EXPECT_EQ(entriesIn(dir.file("shared")), 1u) << "no temporary left beside the target";
    EXPECT_EQ(entriesIn(dir.file("booth")), 1u);

    // A link to a file not made yet: the file appears where the link leads.
    const std::string fresh = dir.file("booth/fresh.xel");
    std::filesystem::create_symlink(dir.file("shared/fresh.xel"), fresh);
    ASSERT_TRUE(writeFileReplacing(fresh, b));
    EXPECT_TRUE(std::filesystem::is_symlink(fresh));
    EXPECT_EQ(readAll(dir.file("shared/fresh.xel")).size(), kConfigFileSize);

    // A loop of links leads nowhere and is refused.
    std::filesystem::create_symlink("loop-b", dir.file("booth/loop-a"));
    std::filesystem::create_symlink("loop-a", dir.file("booth/loop-b"));
    EXPECT_FALSE(writeFileReplacing(dir.file("booth/loop-a"), b));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("booth/loop-a")));
}

TEST_F(ConfigFiles, WritableFileInAReadOnlyFolderIsWrittenInPlace) {
    // No temporary file can be made beside the target: the folder is read-only
    // to the saving process. The file itself is writable, so it is written where
    // it is, and only a write that fails there is a failed save.
    const std::string folder = dir.file("ro");
    std::filesystem::create_directories(folder);
    const std::string target = folder + "/unit.xel";
    const std::string locked = folder + "/locked.xel";
    const std::vector<uint8_t> old(1000, 0x55);
    writeBytes(target, old);
    writeBytes(locked, old);
    ASSERT_EQ(::chmod(target.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);  // the unprivileged user passes through
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    const ino_t inode = statOf(target).st_ino;
    const ConfigBytes b = encodeConfig(sampleSetup());

    const Unprivileged saved = saveUnprivileged([&] { return writeFileReplacing(target, b); });
    if (saved == Unprivileged::CannotDrop)
        GTEST_SKIP() << "running as root, and the test process cannot become uid/gid 65534 (setuid/setgid "
                        "refused), which a read-only folder needs to bind the save";
    EXPECT_EQ(saved, Unprivileged::Saved) << "save fails where the folder is read-only but the file is writable";
    EXPECT_EQ(readAll(target), std::vector<uint8_t>(b.begin(), b.end())) << "the older, longer file is cut to 352";
    EXPECT_EQ(statOf(target).st_ino, inode);
    EXPECT_EQ(statOf(target).st_mode & 07777, 0666u);
    EXPECT_EQ(entriesIn(folder), 2u);

    EXPECT_EQ(saveUnprivileged([&] { return writeFileReplacing(locked, b); }), Unprivileged::Failed)
        << "neither a temporary nor the file itself can be written";
    EXPECT_EQ(readAll(locked), old);
    EXPECT_EQ(saveUnprivileged([&] {
                  FileSizeLimit limit(100);
                  return writeFileReplacing(target, b);
              }),
              Unprivileged::Failed)
        << "an in-place write that fails part-way is a failed save";
    EXPECT_EQ(entriesIn(folder), 2u);
    ::chmod(folder.c_str(), 0755);
}

}  // namespace
