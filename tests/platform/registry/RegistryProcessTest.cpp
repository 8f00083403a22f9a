// Several processes writing at once, as the console, regsvr and xelctl may:
// the file lock and the atomic replace keep every write.
#include "tests/platform/registry/Concurrency.h"
#include "tests/support/Loopback.h"

#include <sys/wait.h>
#include <unistd.h>

using xeltest::expectAllWrites;
using xeltest::RegistryConcurrency;
using xeltest::Watcher;

TEST_F(RegistryConcurrency, ProcessesWritingDifferentKeysLoseNothing) {
    constexpr int kWrites = 300;
    const std::string helper = xeltest::binDir() + "/registry_writer";
    ASSERT_EQ(::access(helper.c_str(), X_OK), 0) << helper << " is missing";
    Watcher watcher;
    std::vector<pid_t> children;
    for (const char* key : {"ProcessA", "ProcessB"}) {
        const std::string count = std::to_string(kWrites);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::execl(helper.c_str(), helper.c_str(), key, count.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer process failed, status " << status;
    }
    EXPECT_EQ(watcher.stop(), 0) << "a reader saw the registry without a value it always had";
    EXPECT_GT(watcher.reads(), 0);
    expectAllWrites("ProcessA", kWrites);
    expectAllWrites("ProcessB", kWrites);
    expectNoDamage();
}
