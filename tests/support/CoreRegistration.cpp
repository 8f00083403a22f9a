#include "tests/support/CoreRegistration.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "tests/support/Loopback.h"
#include "xelsys/Retry.h"

extern char** environ;

namespace xeltest {

namespace {

std::mutex g_mutex;
std::string g_registeredFor;  // XDG_CONFIG_HOME of the last successful registration

std::string currentStateHome() {
    const char* x = std::getenv("XDG_CONFIG_HOME");
    return x ? x : "";
}

}  // namespace

std::string coreLibraryPath() { return libDir() + "/libxelor.so"; }

::testing::AssertionResult registerCore() {
    std::lock_guard lock(g_mutex);
    const std::string home = currentStateHome();
    if (!g_registeredFor.empty() && g_registeredFor == home) return ::testing::AssertionSuccess();

    const std::string regsvr = binDir() + "/regsvr";
    const std::string library = coreLibraryPath();
    if (::access(regsvr.c_str(), X_OK) != 0) return ::testing::AssertionFailure() << "regsvr is not built: " << regsvr;
    if (::access(library.c_str(), R_OK) != 0)
        return ::testing::AssertionFailure() << "the core library is not built: " << library;

    char outTemplate[] = "/tmp/xelor-regsvr-XXXXXX";
    const int out = ::mkstemp(outTemplate);
    if (out < 0) return ::testing::AssertionFailure() << "cannot create a file for regsvr's output";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out, STDERR_FILENO);
    char* argv[] = {const_cast<char*>(regsvr.c_str()), const_cast<char*>(library.c_str()), nullptr};
    pid_t pid = -1;
    const int spawnError = ::posix_spawn(&pid, regsvr.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out);
    int status = 0;
    if (spawnError == 0) {
        (void)xel::sys::retryOnSignal([&] { return ::waitpid(pid, &status, 0); });
    }
    std::ifstream in(outTemplate);
    std::stringstream text;
    text << in.rdbuf();
    ::unlink(outTemplate);
    if (spawnError != 0) return ::testing::AssertionFailure() << "cannot start " << regsvr << ": error " << spawnError;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return ::testing::AssertionFailure()
               << "regsvr " << library << " failed (status " << status << ") in XDG_CONFIG_HOME=" << home << ":\n"
               << text.str();
    g_registeredFor = home;
    return ::testing::AssertionSuccess();
}

}  // namespace xeltest
