// xelctl --server: the same output and exit codes as the direct path, the
// direct runs made first on the same unit (it takes one host at a time).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/CoreRegistration.h"
#include "tests/tools/xelctl/XelctlRun.h"
#include "tests/tools/xeld/XeldProcess.h"

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
    const XelctlResult remote =
        runXelctl({"--server", url, "--json", "setip", "10.0.0.9", "255.255.255.0", "10.0.0.1"});
    EXPECT_EQ(remote.exitCode, setip.direct.exitCode) << remote.describe() << setip.direct.describe();
    EXPECT_EQ(remote.out, setip.direct.out);
}

}  // namespace

namespace {

// A loopback listener that answers every connection with `reply` once the
// request's head has arrived, then closes: a server that is not xeld.
class FakeServer {
public:
    explicit FakeServer(std::vector<std::string> replies) : replies_(std::move(replies)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(fd_, 4), 0);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            for (const std::string& reply : replies_) {
                const int c = ::accept(fd_, nullptr, nullptr);
                if (c < 0) return;
                std::string head;
                char b[1024];
                while (head.find("\r\n\r\n") == std::string::npos) {
                    const ssize_t n = ::recv(c, b, sizeof b, 0);
                    if (n <= 0) break;
                    head.append(b, static_cast<size_t>(n));
                }
                (void)!::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
                ::close(c);
            }
        });
    }
    ~FakeServer() {
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    std::vector<std::string> replies_;
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace

// Whatever answers at the URL, xelctl ends with the unit's exit code and says
// what it met, never a crash or a JSON error of its own.
TEST(XelctlServer, FailsCleanlyOnAServerThatIsNotXeld) {
    FakeServer fake({"SSH-2.0-OpenSSH\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello",
                     "HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n{\"value\":", "HTTP/1.1 200 OK\r\n\r\n[1,2]"});
    const std::pair<const char*, const char*> expected[] = {{"get", "not an HTTP answer"},
                                                            {"get", "not xeld's JSON"},
                                                            {"get", "closed the connection"},
                                                            {"query", "not xeld's JSON"}};
    for (const auto& [command, why] : expected) {
        std::vector<std::string> args = {"--server", fake.url(), command};
        if (std::string(command) == "get") args.push_back("Format.Pin");
        const XelctlResult r = runXelctl(args);
        EXPECT_EQ(r.exitCode, 1) << r.describe();
        EXPECT_NE(r.err.find(why), std::string::npos) << r.describe();
    }
}
