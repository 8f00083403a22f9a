#include "tests/platform/objrt/TestServer.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/support/Loopback.h"
#include "xelsys/Retry.h"

extern char** environ;

namespace objrt_test {

using namespace xel::objrt;

std::string serverPath() { return xeltest::libDir() + "/libobjrt_testserver.so"; }
std::string noEntryPath() { return xeltest::libDir() + "/libobjrt_noentry.so"; }

namespace {
std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
}  // namespace

RunResult regsvr(const std::vector<std::string>& args) {
    RunResult run;
    char dir[] = "/tmp/objrt-regsvr-XXXXXX";
    if (!mkdtemp(dir)) return run;
    const std::string out = std::string(dir) + "/out", err = std::string(dir) + "/err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::string program = xeltest::binDir() + "/regsvr";
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        (void)xel::sys::retryOnSignal([&] { return waitpid(pid, &status, 0); });
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = slurp(out);
    run.err = slurp(err);
    unlink(out.c_str());
    unlink(err.c_str());
    rmdir(dir);
    return run;
}

void registerServer() {
    RunResult r = regsvr({serverPath()});
    ASSERT_EQ(r.exitCode, 0) << "regsvr failed: " << r.out << r.err;
}

HRESULT invoke(IDispatch* d, DISPID id, WORD flags, std::vector<VARIANT> args, VARIANT* result, UINT* argErr,
               std::vector<DISPID> named) {
    // rgvarg holds the arguments in reverse order: the named ones (last given)
    // come first.
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    std::vector<DISPID> ids(named.rbegin(), named.rend());
    DISPPARAMS dp{reversed.empty() ? nullptr : reversed.data(), ids.empty() ? nullptr : ids.data(),
                  static_cast<UINT>(reversed.size()), static_cast<UINT>(ids.size())};
    return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &dp, result, nullptr, argErr);
}

DISPID idOf(IDispatch* d, const char16_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
}

HRESULT put(IDispatch* d, DISPID id, VARIANT value, std::vector<VARIANT> index) {
    index.push_back(value);
    return invoke(d, id, DISPATCH_PROPERTYPUT, index, nullptr, nullptr, {DISPID_PROPERTYPUT});
}

VARIANT i4(LONG v) {
    VARIANT a{};
    a.vt = VT_I4;
    a.lVal = v;
    return a;
}
VARIANT i2(SHORT v) {
    VARIANT a{};
    a.vt = VT_I2;
    a.iVal = v;
    return a;
}
VARIANT vbool(VARIANT_BOOL v) {
    VARIANT a{};
    a.vt = VT_BOOL;
    a.boolVal = v;
    return a;
}
VARIANT text(BSTR s) {
    VARIANT a{};
    a.vt = VT_BSTR;
    a.bstrVal = s;
    return a;
}

HRESULT EventLog::LevelChanged(LONG Level, VARIANT_BOOL Enabled) noexcept {
    std::lock_guard lock(mutex_);
    events_.push_back("LevelChanged " + std::to_string(Level) + " " + std::to_string(int(Enabled)));
    return answer_;
}
HRESULT EventLog::LabelChanged(BSTR Label) noexcept {
    std::lock_guard lock(mutex_);
    events_.push_back("LabelChanged " + Bstr::toUtf8(Label));
    return answer_;
}
std::vector<std::string> EventLog::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}
size_t EventLog::count() const {
    std::lock_guard lock(mutex_);
    return events_.size();
}

ComPtr<Sink> makeSink(HRESULT answer) {
    ComPtr<Sink> s;
    EXPECT_EQ(Sink::create(s, answer), S_OK);
    return s;
}

}  // namespace objrt_test
