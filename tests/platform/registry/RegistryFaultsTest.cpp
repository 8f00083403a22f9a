// A damaged registry file is kept for a person to look at, never overwritten;
// a write that cannot complete leaves the previous file as it was.
#include "tests/platform/registry/RegistryFixture.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <csignal>

namespace reg = xel::registry;
using reg::Root;
using reg::Status;
using xeltest::RegistryTest;

namespace {

constexpr Root HKCU = Root::CurrentUser;

// Root passes every permission check; to see the folder's permissions act,
// this thread gives up the capabilities that bypass them while in scope.
class WithoutPermissionOverride {
public:
    WithoutPermissionOverride() {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        if (::syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) reduced[0].effective &= ~(1u << cap);
        active_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutPermissionOverride() {
        if (active_) (void)::syscall(SYS_capset, &header_, saved_);
    }
    WithoutPermissionOverride(const WithoutPermissionOverride&) = delete;
    WithoutPermissionOverride& operator=(const WithoutPermissionOverride&) = delete;

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

}  // namespace

class RegistryFaults : public RegistryTest {
protected:
    // Writes a healthy registry and returns its bytes.
    std::string seed() {
        EXPECT_EQ(reg::setString(HKCU, "Software\\Corvane Labs\\Xelor", "Address", "10.0.0.5"), Status::Ok);
        EXPECT_EQ(reg::setDword(HKCU, "Software\\Corvane Labs\\Xelor", "Baud", 38400), Status::Ok);
        return slurp(file());
    }

    std::vector<std::filesystem::path> asideCopies() const { return filesStartingWith("registry.json.corrupt-"); }
};

TEST_F(RegistryFaults, TruncatedFileIsKeptAsideWithItsBytesAndTheRegistryStartsEmpty) {
    const std::string healthy = seed();
    const std::string damaged = healthy.substr(0, healthy.size() / 2);
    spill(file(), damaged);

    EXPECT_EQ(reg::getString(HKCU, "Software\\Corvane Labs\\Xelor", "Address"), std::nullopt);
    const auto copies = asideCopies();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(slurp(copies[0]), damaged);
    const std::string warning = newWarning();
    EXPECT_NE(warning.find(copies[0].filename().string()), std::string::npos) << warning;

    // Work goes on from empty, and the kept copy stays as it was.
    ASSERT_EQ(reg::setString(HKCU, "K", "v", "new"), Status::Ok);
    EXPECT_EQ(reg::getString(HKCU, "K", "v"), "new");
    EXPECT_EQ(slurp(copies[0]), damaged);
    EXPECT_EQ(asideCopies().size(), 1u);
}

TEST_F(RegistryFaults, MalformedDocumentsAreKeptAsideBeforeAWrite) {
    std::vector<std::string> cases = {
        "not json at all",
        "[1, 2, 3]",
        R"({"HKEY_CURRENT_USER":{"name":"HKEY_CURRENT_USER"}})",                     // no version
        R"({"version":1,"HKEY_CURRENT_USER":{"name":"x","keys":5}})",                // keys not a list
        R"({"version":1,"HKEY_CLASSES_ROOT":{"name":"x","keys":[{"values":[]}]}})",  // nameless key
        R"({"version":1,"HKEY_CURRENT_USER":{"name":"x","values":[{"type":"REG_SZ"}]}})",
        "{\"version\":1,\"HKEY_CURRENT_USER\":{\"name\":\"bad \xFF utf-8\"}}",
    };
    // Nested deeper than any registry could be, which rewriting could not handle.
    cases.push_back(R"({"version":1,"extra":)" + std::string(5000, '[') + std::string(5000, ']') + "}");
    for (const std::string& bytes : cases) {
        SCOPED_TRACE(bytes);
        std::filesystem::remove_all(stateDir());
        spill(file(), bytes);
        ASSERT_EQ(reg::setDword(HKCU, "After", "n", 1), Status::Ok);
        const auto copies = asideCopies();
        ASSERT_EQ(copies.size(), 1u);
        EXPECT_EQ(slurp(copies[0]), bytes);
        EXPECT_EQ(reg::getDword(HKCU, "After", "n"), 1u);
    }
}

TEST_F(RegistryFaults, EachDamagedFileGetsItsOwnCopy) {
    spill(file(), "{\"first");
    EXPECT_FALSE(reg::keyExists(HKCU, "K"));
    spill(file(), "{\"second");  // within the same second, as a rule
    EXPECT_FALSE(reg::keyExists(HKCU, "K"));
    std::vector<std::string> contents;
    for (const auto& p : asideCopies()) contents.push_back(slurp(p));
    std::sort(contents.begin(), contents.end());
    EXPECT_EQ(contents, (std::vector<std::string>{"{\"first", "{\"second"}));
}

TEST_F(RegistryFaults, EmptyFileIsAnEmptyRegistryAndAFolderIsMovedAside) {
    spill(file(), "");
    EXPECT_EQ(reg::setString(HKCU, "K", "v", "x"), Status::Ok);
    EXPECT_TRUE(asideCopies().empty());
    EXPECT_EQ(newWarning(), "");

    std::filesystem::remove(file());
    std::filesystem::create_directories(file() / "inside");
    EXPECT_EQ(reg::setString(HKCU, "K", "v", "y"), Status::Ok);
    const auto copies = asideCopies();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_TRUE(std::filesystem::is_directory(copies[0] / "inside"));
    EXPECT_EQ(reg::getString(HKCU, "K", "v"), "y");
}

TEST_F(RegistryFaults, FolderThatCannotTakeANewFileKeepsTheOldOne) {
    const std::string healthy = seed();
    std::filesystem::permissions(stateDir(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    {
        WithoutPermissionOverride asOrdinaryUser;
        const std::filesystem::path probe = stateDir() / "probe";
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(probe.c_str());
            GTEST_SKIP() << "the folder stays writable for this user (permission checks bypassed)";
        }
        EXPECT_EQ(reg::setString(HKCU, "Software\\Corvane Labs\\Xelor", "Address", "10.0.0.9"), Status::IoError);
        EXPECT_EQ(reg::deleteKey(HKCU, "Software"), Status::IoError);
        EXPECT_NE(newWarning(), "");
        // Reading still works.
        EXPECT_EQ(reg::getString(HKCU, "Software\\Corvane Labs\\Xelor", "Address"), "10.0.0.5");
    }
    std::filesystem::permissions(stateDir(), std::filesystem::perms::owner_all);
    EXPECT_EQ(slurp(file()), healthy);
    EXPECT_TRUE(filesStartingWith("registry.json.").empty());
}

TEST_F(RegistryFaults, WriteCutShortLeavesTheOldFileAndNoLeftovers) {
    const std::string healthy = seed();
    // A file size limit makes the new file's write fail part way, as a full disk would.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const Status s = reg::setString(HKCU, "Big", "v", std::string(8192, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(s, Status::IoError);
    EXPECT_EQ(slurp(file()), healthy);
    EXPECT_TRUE(filesStartingWith("registry.json.tmp").empty());
    EXPECT_EQ(reg::getDword(HKCU, "Software\\Corvane Labs\\Xelor", "Baud"), 38400u);
    EXPECT_NE(newWarning().find("unchanged"), std::string::npos) << newWarning();
}
