// xeld seen by the monitoring side: its exposition passes promtool, the
// fleet examples are valid, and a real Prometheus server scrapes it.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "tests/support/CoreRegistration.h"
#include "tests/tools/xeld/XeldProcess.h"

using namespace xeltest;

namespace {

constexpr const char* kPromtool = "/usr/bin/promtool";
constexpr const char* kPrometheus = "/usr/bin/prometheus";

// Runs a shell command; its exit status, its output in `out`.
int shell(const std::string& command, std::string* out = nullptr) {
    std::FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    std::string text;
    while (size_t n = std::fread(buf, 1, sizeof buf, p)) text.append(buf, n);
    const int st = ::pclose(p);
    if (out) *out = text;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

TEST(XeldFleet, ExpositionAndExamplesPassPromtool) {
    if (::access(kPromtool, X_OK) != 0) GTEST_SKIP() << kPromtool << " is missing (Debian package prometheus)";
    ASSERT_TRUE(registerCore());
    XelsimProcess sim;
    XeldProcess xeld(sim.address(), {"--name", "booth 7"});
    ASSERT_TRUE(xeld.waitForState("connected")) << xeld.stderrText();
    ASSERT_EQ(xeld.client()->Put("/v1/members/Xel.Mute", R"({"value":true})", "application/json")->status, 200);
    auto metrics = xeld.client()->Get("/metrics");
    ASSERT_TRUE(metrics);
    const std::string file = xeld.dir().file("metrics.txt");
    std::ofstream(file) << metrics->body;
    std::string out;
    EXPECT_EQ(shell(std::string(kPromtool) + " check metrics < " + file, &out), 0) << out << metrics->body;
    EXPECT_EQ(out, "") << metrics->body;
    EXPECT_NE(metrics->body.find("unit=\"booth 7\""), std::string::npos);

    const std::string fleet = std::string(XELOR_SOURCE_DIR) + "/docs/fleet";
    EXPECT_EQ(shell(std::string(kPromtool) + " check config " + fleet + "/prometheus.yml", &out), 0) << out;
    EXPECT_EQ(shell(std::string(kPromtool) + " check rules " + fleet + "/xelor-alerts.yml", &out), 0) << out;
}

TEST(XeldFleet, APrometheusServerScrapesTheUnit) {
    if (::access(kPrometheus, X_OK) != 0) GTEST_SKIP() << kPrometheus << " is missing (Debian package prometheus)";
    ASSERT_TRUE(registerCore());
    XelsimProcess sim;
    XeldProcess xeld(sim.address(), {"--name", "booth1"});
    ASSERT_TRUE(xeld.waitForState("connected")) << xeld.stderrText();

    ScratchDir dir;
    const int port = freeLoopbackPort();
    std::ofstream(dir.file("prometheus.yml")) << "global:\n  scrape_interval: 1s\nscrape_configs:\n"
                                                 "  - job_name: xelor\n    static_configs:\n      - targets: ['"
                                              << xeld.listen() << "']\n";
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const std::string config = "--config.file=" + dir.file("prometheus.yml");
        const std::string data = "--storage.tsdb.path=" + dir.file("data");
        const std::string listen = "--web.listen-address=127.0.0.1:" + std::to_string(port);
        std::freopen(dir.file("prometheus.log").c_str(), "w", stderr);
        ::execl(kPrometheus, kPrometheus, config.c_str(), data.c_str(), listen.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    httplib::Client prom("127.0.0.1", port);
    prom.set_connection_timeout(2);
    prom.set_read_timeout(5);
    auto query = [&](const std::string& q) -> nlohmann::json {
        auto r = prom.Get("/api/v1/query", httplib::Params{{"query", q}}, httplib::Headers{});
        if (!r || r->status != 200) return nullptr;
        return nlohmann::json::parse(r->body, nullptr, false);
    };
    bool up = false;
    size_t levelSeries = 0;
    for (int i = 0; i < 120 && !(up && levelSeries == 8); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const auto u = query("xelor_up{unit=\"booth1\"}");
        up = u.is_object() && u["data"]["result"].size() == 1 && u["data"]["result"][0]["value"][1] == "1";
        const auto l = query("xelor_output_level{unit=\"booth1\"}");
        levelSeries = l.is_object() ? l["data"]["result"].size() : 0;
    }
    ::kill(pid, SIGTERM);
    int st = 0;
    for (int i = 0; i < 200 && ::waitpid(pid, &st, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (::waitpid(pid, &st, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &st, 0);
    }
    std::ifstream log(dir.file("prometheus.log"));
    const std::string logText((std::istreambuf_iterator<char>(log)), {});
    EXPECT_TRUE(up) << logText.substr(logText.size() > 3000 ? logText.size() - 3000 : 0);
    EXPECT_EQ(levelSeries, 8u);
}

}  // namespace
