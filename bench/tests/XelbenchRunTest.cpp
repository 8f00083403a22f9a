// xelbench as make bench runs it: a short real run against xelsim on a
// pseudo-terminal (no TCP settle, so it stays quick) and its refusals.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/support/Loopback.h"
#include "tests/support/XelsimProcess.h"
#include "xelsys/Retry.h"

extern char** environ;

namespace {

struct Outcome {
    int status = -1;
    std::string output;
};

// Runs the build's xelbench with `args`; `extraEnv` entries are added to this
// process's environment.
Outcome xelbench(std::vector<std::string> args, const std::vector<std::string>& extraEnv = {}) {
    xeltest::ScratchDir dir;
    const std::string out = dir.file("output");
    std::vector<std::string> argv = {xeltest::binDir() + "/xelbench"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    std::vector<std::string> env(extraEnv);
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    std::vector<char*> cenv;
    for (std::string& e : env) cenv.push_back(e.data());
    cenv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    Outcome run;
    if (::posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), cenv.data()) == 0) {
        int status = 0;
        (void)xel::sys::retryOnSignal([&] { return ::waitpid(pid, &status, 0); });
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    run.output = text.str();
    return run;
}

TEST(Xelbench, RefusesToMeasureWithTheShortenedTestTiming) {
    // With the pauses divided by ten every figure would beat its floor.
    const Outcome run = xelbench({"--only", "pty"}, {"XELOR_TEST_TIMING=fast"});
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_NE(run.output.find("XELOR_TEST_TIMING"), std::string::npos) << run.output;

    for (const auto& args : std::vector<std::vector<std::string>>{{"--bogus", "1"}, {"--scale", "0"}, {"--out"}}) {
        const Outcome bad = xelbench(args);
        EXPECT_EQ(bad.status, 2) << args[0] << ":\n" << bad.output;
        EXPECT_NE(bad.output.find("usage:"), std::string::npos) << bad.output;
    }
}

TEST(Xelbench, ShortRunWritesEachFigureWithItsFloor) {
    xeltest::ScratchDir dir;
    const std::string results = dir.file("results.json");
    const Outcome run = xelbench({"--scale", "0.05", "--only", "pty", "--out", results});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("exchange mute, pty unpaced"), std::string::npos) << run.output;

    std::ifstream in(results);
    const auto list = nlohmann::json::parse(in, nullptr, false);
    ASSERT_TRUE(list.is_array()) << run.output;
    std::map<std::string, nlohmann::json> byName;
    for (const auto& f : list) byName[f.at("name").get<std::string>()] = f;
    ASSERT_TRUE(byName.count("exchange mute, pty unpaced")) << list.dump(1);
    ASSERT_TRUE(byName.count("floor: bare pty echo, mute")) << list.dump(1);

    // An exchange is measured against a floor of at least the pauses it must sleep.
    const auto& exchange = byName["exchange mute, pty unpaced"];
    ASSERT_TRUE(exchange.at("floor").is_number()) << exchange.dump();
    EXPECT_GE(exchange.at("floor").get<double>(), 11.0);
    EXPECT_GT(exchange.at("median").get<double>(), 0);
    EXPECT_LE(exchange.at("median").get<double>(), exchange.at("p99").get<double>());
    EXPECT_TRUE(exchange.at("median_ratio").is_number());
    // The floors themselves have none.
    for (const char* field : {"floor", "median_ratio", "p99_ratio"})
        EXPECT_TRUE(byName["floor: bare pty echo, mute"].at(field).is_null()) << field;
}

}  // namespace
