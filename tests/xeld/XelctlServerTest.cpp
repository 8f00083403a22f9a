// xelctl --server: the same output and exit codes as the direct path, the
// direct runs made first on the same unit (it takes one host at a time).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/support/CoreRegistration.h"
#include "tests/xelctl/XelctlRun.h"
#include "tests/xeld/XeldProcess.h"

using namespace xeltest;

namespace {

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(XelctlServer, MatchesTheDirectPath) {
    ASSERT_TRUE(registerCore());
    XelsimProcess sim({"--seed", "7"});
    ScratchDir dir;
    struct Run {
        std::vector<std::string> args;
        XelctlResult direct;
    };
    std::vector<Run> runs = {
        {{"query"}, {}},
        {{"--json", "query"}, {}},
        {{"get", "Format.InputTrim", "2"}, {}},
        {{"get", "Xel.Mute"}, {}},
        {{"get", "Format.Nothing"}, {}},
        {{"set", "Format.InputTrim", "2", "high"}, {}},
        {{"call", "Format.GetTrimsAndDelays", "2"}, {}},
        {{"--json", "call", "format.gettrimsanddelays", "2"}, {}},
        {{"--json", "setip", "10.0.0.9", "255.255.255.0", "10.0.0.1"}, {}},
    };
    // setip resets the unit: it goes last, and the direct save goes before it.
    ASSERT_EQ(runXelctl({"-a", sim.address(), "save", dir.file("direct.xel")}).exitCode, 0);
    for (Run& r : runs) {
        std::vector<std::string> args = {"-a", sim.address()};
        args.insert(args.end(), r.args.begin(), r.args.end());
        r.direct = runXelctl(args);
    }
    ASSERT_TRUE(sim.waitForLog([](const auto& log) {
        return std::any_of(log.begin(), log.end(), [](const XelsimLogEntry& e) { return e.event == "connect"; });
    }));

    XeldProcess xeld(sim.address(), {"--retry-max", "1"});
    ASSERT_TRUE(xeld.waitForState("connected", 20000)) << xeld.stderrText() << sim.diagnostics();
    const std::string url = "http://" + xeld.listen();
    ASSERT_EQ(runXelctl({"--server", url, "save", dir.file("server.xel")}).exitCode, 0);
    EXPECT_EQ(bytesOf(dir.file("server.xel")), bytesOf(dir.file("direct.xel")));
    for (const Run& r : runs) {
        if (r.args.back() == "10.0.0.1") continue;  // after the changes below
        std::vector<std::string> args = {"--server", url};
        args.insert(args.end(), r.args.begin(), r.args.end());
        const XelctlResult remote = runXelctl(args);
        EXPECT_EQ(remote.exitCode, r.direct.exitCode) << remote.describe() << r.direct.describe();
        EXPECT_EQ(remote.out, r.direct.out) << remote.describe() << r.direct.describe();
    }

    // Changes through the server reach the unit; the Unix socket works too.
    XelctlResult set = runXelctl({"--server", url, "set", "Format.InputTrim", "2", "300"});
    EXPECT_EQ(set.exitCode, 0) << set.describe();
    EXPECT_EQ(runXelctl({"--server", url, "get", "Format.InputTrim", "2"}).out, "44\n");
    set = runXelctl({"--server", url, "set", "Xel.Mute", "on"});
    EXPECT_EQ(set.exitCode, 0) << set.describe();
    EXPECT_TRUE(sim.dump().muted);
    XelctlResult load = runXelctl({"--server", url, "load", dir.file("direct.xel")});
    EXPECT_EQ(load.exitCode, 0) << load.describe();
    std::ofstream(dir.file("bad.xel")) << std::string(352, 'x');
    load = runXelctl({"--server", url, "load", dir.file("bad.xel")});
    EXPECT_EQ(load.exitCode, 3) << load.describe();
    const XelctlResult call = runXelctl({"--server", url, "call", "Format.GetTrimsAndDelays", "2"});
    EXPECT_EQ(call.exitCode, 0) << call.describe();
    EXPECT_EQ(call.out.substr(0, 24), "InputTrim 0\nOutputTrim 0") << call.describe();  // the loaded setup's

    const XelctlResult watch = runXelctl({"--server", url, "--json", "watch", "--seconds", "2"});
    EXPECT_EQ(watch.exitCode, 0) << watch.describe();
    EXPECT_NE(watch.out.find("{\"event\":\"Levels\",\"Left\":"), std::string::npos) << watch.describe();
    EXPECT_EQ(watch.out.find("State"), std::string::npos) << watch.describe();

    const XelctlResult both = runXelctl({"-a", sim.address(), "--server", url, "query"});
    EXPECT_EQ(both.exitCode, 2) << both.describe();
    const XelctlResult firmware = runXelctl({"--server", url, "firmware", "x.hex"});
    EXPECT_EQ(firmware.exitCode, 2) << firmware.describe();
    const XelctlResult nobody = runXelctl({"--server", "http://127.0.0.1:1", "query"});
    EXPECT_EQ(nobody.exitCode, 1) << nobody.describe();

    const Run& setip = runs.back();
    const XelctlResult remote = runXelctl({"--server", url, "--json", "setip", "10.0.0.9", "255.255.255.0", "10.0.0.1"});
    EXPECT_EQ(remote.exitCode, setip.direct.exitCode) << remote.describe() << setip.direct.describe();
    EXPECT_EQ(remote.out, setip.direct.out);
}

}  // namespace
