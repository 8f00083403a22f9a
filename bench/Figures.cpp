#include "bench/Figures.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "bench/CoreSession.h"
#include "bench/EchoPeer.h"
#include "bench/LogTail.h"
#include "tests/support/Loopback.h"
#include "tests/support/XelsimProcess.h"

extern char** environ;

namespace xelbench {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using xeltest::XelsimProcess;

constexpr double kBaud = 38400;
constexpr double kBitsPerByte = 10;  // start, eight data, stop
constexpr auto kSplitGap = 20ms;     // long enough that later pieces arrive after the read began
constexpr const char* kSerialName = "COM7";

// The exchange goals: median within 1.2x its floor, no 99th percentile above 2x.
constexpr Goal kExchangeGoal{1.2, 2.0, std::nullopt, std::nullopt};

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double cpuMs() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
    return ms(u.ru_utime) + ms(u.ru_stime);
}

double wireMs(size_t bytes) { return static_cast<double>(bytes) * kBitsPerByte / kBaud * 1e3; }

std::string fmt(double v, int decimals = 2) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

void progress(const std::string& line) { std::fprintf(stderr, "xelbench: %s\n", line.c_str()); }

Figure figure(std::string name, std::string unit, const std::vector<double>& samples) {
    Figure f;
    f.name = std::move(name);
    f.unit = std::move(unit);
    f.summary = summarize(samples);
    return f;
}

std::string logPath(const XelsimProcess& sim) { return sim.folder() + "/xelsim.log"; }

// The frame and the reply of the last exchange xelsim logged.
struct Exchange {
    std::string frame;
    std::string reply;
};

std::vector<Exchange> exchangesIn(const std::vector<LogEntry>& entries) {
    std::vector<Exchange> out;
    for (const LogEntry& e : entries) {
        if (e.dir == "rx") out.push_back({e.bytes, {}});
        else if (e.dir == "tx" && !out.empty() && out.back().reply.empty()) out.back().reply = e.bytes;
    }
    std::erase_if(out, [](const Exchange& x) { return x.reply.empty(); });
    return out;
}

std::string stateDir() {
    const char* home = std::getenv("XDG_CONFIG_HOME");
    if (!home || !*home) throw std::runtime_error("XDG_CONFIG_HOME is not set");
    return std::string(home) + "/xelor";
}

// <state>/ports/COM7 -> the pty xelsim keeps its line behind.
void mapSerialPort(const std::string& target) {
    const std::filesystem::path ports = std::filesystem::path(stateDir()) / "ports";
    std::filesystem::create_directories(ports);
    const auto link = ports / kSerialName;
    std::error_code ignored;
    std::filesystem::remove(link, ignored);
    std::filesystem::create_symlink(target, link);
}

class Bench {
public:
    explicit Bench(const Options& options) : options_(options) {}

    std::vector<Figure> run() {
        floors();
        if (wanted("tcp")) tcpSection();
        if (wanted("split")) splitSection(XelsimProcess::Link::Tcp);
        if (wanted("pty")) ptySection();
        if (wanted("split")) splitSection(XelsimProcess::Link::Pty);
        if (wanted("paced")) pacedSection();
        if (wanted("xelctl")) xelctlSection();
        return std::move(figures_);
    }

private:
    bool wanted(const std::string& section) const {
        return options_.only.empty() || section.find(options_.only) != std::string::npos;
    }
    int samples(int n) const { return std::max(5, static_cast<int>(n * options_.scale)); }

    CoreSession& core() {
        if (!core_) core_ = std::make_unique<CoreSession>();
        return *core_;
    }

    // The fixed pauses as this machine sleeps them: 10 ms, then 1 ms.
    void floors() {
        progress("the protocol's fixed pauses");
        std::vector<double> slept;
        for (int i = 0, n = samples(200); i < n; ++i) {
            const auto start = Clock::now();
            std::this_thread::sleep_for(10ms);
            std::this_thread::sleep_for(1ms);
            slept.push_back(msSince(start));
        }
        Figure f = figure("floor: fixed pauses 10 ms + 1 ms, as slept", "ms", slept);
        f.floorIs = "nominal 11 ms";
        f.floor = 11.0;
        pauses_ = f.summary.median;
        figures_.push_back(f);
    }

    // The exchange floor: the later of the pauses and the bare transfer.
    double exchangeFloor(double transfer) const { return std::max(pauses_, transfer); }
    std::string floorText(const std::string& transferName, double transfer) const {
        return "max(pauses " + fmt(pauses_) + ", " + transferName + " " + fmt(transfer, 3) + ")";
    }

    std::vector<double> timeExchanges(int count) {
        for (int i = 0; i < 10; ++i) core().exchangeMute();  // warm the path up
        std::vector<double> out;
        for (int i = 0; i < count; ++i) {
            const auto start = Clock::now();
            core().exchangeMute();
            out.push_back(msSince(start));
        }
        return out;
    }

    // Adds the bare echo of the last exchange as a floor row; returns its median.
    double echoFloor(const std::string& name, EchoLink& link, const Exchange& x, std::chrono::microseconds gap,
                     int rounds) {
        EchoScript script{x.frame, gap.count() > 0 ? splitReply(x.reply, 3) : std::vector<std::string>{x.reply},
                          gap};
        Figure f = figure(name, "ms", link.roundTrips(script, rounds));
        f.floorIs = "(a floor)";
        figures_.push_back(f);
        return f.summary.median;
    }

    void tcpSection() {
        XelsimProcess sim({"--seed", "1"});
        LogTail log(logPath(sim));
        progress("TCP: connecting to xelsim at " + sim.address() + " (3 s settle)");
        core().connect(sim.address());

        progress("TCP: one exchange");
        const double cpuBefore = cpuMs();
        const std::vector<double> times = timeExchanges(samples(400));
        cpuPerExchange_ = (cpuMs() - cpuBefore) / static_cast<double>(times.size() + 10);
        const auto logged = exchangesIn(log.poll());
        if (logged.empty()) throw std::runtime_error("xelsim logged no exchange\n" + sim.diagnostics());
        auto echo = EchoLink::tcp();
        const double bare = echoFloor("floor: bare TCP echo, mute", *echo, logged.back(), 0us, samples(2000));
        tcpExchangeFloor_ = exchangeFloor(bare);
        Figure f = figure("exchange mute, TCP", "ms", times);
        f.floor = tcpExchangeFloor_;
        f.floorIs = floorText("TCP echo", bare);
        f.goal = kExchangeGoal;
        figures_.push_back(f);

        querySamples(sim, log, *echo);
        pinSamples(sim, log);
        idleSamples(log);
        core().disconnect();
    }

    // Query right after connecting, with the monitor quiet: the first sample
    // comes before the monitor ever polled, later ones just after its status
    // triple, when no poll of its own is due while the Query runs (a sample
    // that crossed one anyway is dropped).
    void querySamples(XelsimProcess& sim, LogTail& log, EchoLink& echo) {
        progress("TCP: Query");
        std::vector<double> times;
        std::vector<Exchange> queryExchanges;
        std::vector<std::string> expected;
        int crossed = 0;
        for (int i = 0, n = samples(20); i < n; ++i) {
            if (i > 0) {
                if (!log.waitFor([](const LogEntry& e) { return e.dir == "rx" && e.text == "digitalenable"; }, 5s) ||
                    !log.waitFor([](const LogEntry& e) { return e.dir == "tx"; }, 5s))
                    throw std::runtime_error("the monitor did not read the status after a Query\n" +
                                             sim.diagnostics());
                std::this_thread::sleep_for(3ms);
            }
            (void)log.poll();
            const auto start = Clock::now();
            core().query();
            const double took = msSince(start);
            const auto entries = log.poll();
            // The Query's frames end with its last EEPROM read; the first sample,
            // taken before the monitor ever ran, shows the sequence undisturbed.
            size_t lastQueryFrame = 0;
            for (size_t k = 0; k < entries.size(); ++k)
                if (entries[k].dir == "rx" && entries[k].text.rfind("rdeep", 0) == 0) lastQueryFrame = k;
            std::vector<std::string> sent;
            for (size_t k = 0; k <= lastQueryFrame && k < entries.size(); ++k)
                if (entries[k].dir == "rx") sent.push_back(entries[k].text);
            if (expected.empty()) expected = sent;
            if (sent != expected) {
                ++crossed;
                continue;
            }
            if (queryExchanges.empty()) {
                // The Query's own frames: up to the reply of its last read.
                const size_t end = std::min(entries.size(), lastQueryFrame + 2);
                queryExchanges = exchangesIn(std::vector<LogEntry>(entries.begin(), entries.begin() + static_cast<long>(end)));
            }
            times.push_back(took);
        }
        if (queryExchanges.empty()) throw std::runtime_error("no Query ran undisturbed\n" + sim.diagnostics());
        if (crossed) progress("TCP: " + std::to_string(crossed) + " Query samples crossed a monitor poll, dropped");

        // The sum of its exchanges' floors, each replayed bare with its own bytes.
        double floor = 0;
        for (const Exchange& x : queryExchanges) {
            const auto trips = echo.roundTrips({x.frame, {x.reply}, 0us}, samples(20));
            floor += exchangeFloor(summarize(trips).median);
        }
        Figure f = figure("Query after connecting, TCP", "ms", times);
        f.floor = floor;
        f.floorIs = "sum of its " + std::to_string(queryExchanges.size()) + " exchanges' floors";
        f.goal = kExchangeGoal;
        figures_.push_back(f);
    }

    // A Pin put at a random moment of the monitor's rhythm, until xelsim takes
    // its "pin" frame off the line.
    void pinSamples(XelsimProcess& sim, LogTail& log) {
        progress("TCP: Pin put until its frame reaches the unit");
        std::mt19937 random(12);
        std::uniform_int_distribution<int> pause(0, 250);
        std::vector<double> times;
        for (int i = 0, n = samples(150); i < n; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
            const LONG pin = i % 2 == 0 ? 2 : 3;
            const std::string expected = "pin " + std::to_string(pin);
            (void)log.poll();
            const auto start = Clock::now();
            core().format()->put_Pin(pin);
            const auto seen = log.waitFor([&](const LogEntry& e) { return e.dir == "rx" && e.text == expected; }, 3s);
            if (!seen) throw std::runtime_error("\"" + expected + "\" never reached xelsim\n" + sim.diagnostics());
            times.push_back(std::chrono::duration<double, std::milli>(seen->at - start).count());
        }
        Figure f = figure("Pin put until its frame reaches the unit, TCP", "ms", times);
        f.floor = 3 * tcpExchangeFloor_ + 1;
        f.floorIs = "bound: 3 exchange floors + 1 ms";
        f.goal.p99RatioMax = 1.0;
        figures_.push_back(f);
    }

    // A connected, queried core left alone: its CPU per second, and the spacing
    // of its level reads as xelsim's own clock saw them.
    void idleSamples(LogTail& log) {
        progress("TCP: idle core (CPU and level cadence)");
        std::this_thread::sleep_for(1s);
        (void)log.poll();
        std::vector<double> cpu;
        const auto start = Clock::now();
        for (int i = 0, n = samples(15); i < n; ++i) {
            const double before = cpuMs();
            const auto t0 = Clock::now();
            std::this_thread::sleep_for(1s);
            cpu.push_back((cpuMs() - before) / (msSince(t0) / 1e3));
        }
        const double seconds = msSince(start) / 1e3;
        std::vector<double> levelTimes;
        size_t exchanges = 0;
        for (const LogEntry& e : log.poll()) {
            if (e.dir != "rx") continue;
            ++exchanges;
            if (e.text == "vu") levelTimes.push_back(e.timeMs);
        }
        std::vector<double> cadence;
        for (size_t k = 1; k < levelTimes.size(); ++k) cadence.push_back(levelTimes[k] - levelTimes[k - 1]);
        if (cadence.empty()) throw std::runtime_error("the idle core read no levels");

        const double perSecond = static_cast<double>(exchanges) / seconds;
        Figure c = figure("CPU of a connected idle core", "ms/s", cpu);
        c.floor = cpuPerExchange_ * perSecond;
        c.floorIs = fmt(perSecond, 1) + " exchanges/s x " + fmt(cpuPerExchange_ * 1e3, 0) + " us CPU each";
        c.goal.medianMax = 10;  // 1 % of one core
        c.goal.p99Max = 10;
        figures_.push_back(c);

        Figure l = figure("level read cadence, idle", "ms", cadence);
        l.floor = 200;
        l.floorIs = "the 200 ms level interval";
        figures_.push_back(l);
    }

    void splitSection(XelsimProcess::Link link) {
        const bool tcp = link == XelsimProcess::Link::Tcp;
        const std::string where = tcp ? "TCP" : "pty";
        XelsimProcess sim({"--seed", "1", "--split", "--split-ms", std::to_string(kSplitGap.count())}, link);
        LogTail log(logPath(sim));
        progress(where + ": replies in three pieces " + std::to_string(kSplitGap.count()) + " ms apart");
        if (tcp) {
            core().connect(sim.address());
        } else {
            mapSerialPort(sim.linkPath());
            core().connect(kSerialName);
        }
        const std::vector<double> times = timeExchanges(samples(150));
        const auto logged = exchangesIn(log.poll());
        if (logged.empty()) throw std::runtime_error("xelsim logged no exchange\n" + sim.diagnostics());
        auto echo = tcp ? EchoLink::tcp() : EchoLink::pty();
        const double bare = echoFloor("floor: bare " + where + " echo, mute in three pieces", *echo, logged.back(),
                                      kSplitGap, samples(100));
        Figure f = figure("exchange mute, " + where + ", reply in three pieces", "ms", times);
        f.floor = exchangeFloor(bare);
        f.floorIs = floorText(where + " echo in pieces", bare);
        f.goal = kExchangeGoal;
        figures_.push_back(f);
        core().disconnect();
    }

    void ptySection() {
        XelsimProcess sim({"--seed", "1"}, XelsimProcess::Link::Pty);
        LogTail log(logPath(sim));
        progress("pty: one exchange, unpaced");
        mapSerialPort(sim.linkPath());
        core().connect(kSerialName);
        const std::vector<double> times = timeExchanges(samples(400));
        const auto logged = exchangesIn(log.poll());
        if (logged.empty()) throw std::runtime_error("xelsim logged no exchange\n" + sim.diagnostics());
        auto echo = EchoLink::pty();
        const double bare = echoFloor("floor: bare pty echo, mute", *echo, logged.back(), 0us, samples(2000));
        Figure f = figure("exchange mute, pty unpaced", "ms", times);
        f.floor = exchangeFloor(bare);
        f.floorIs = floorText("pty echo", bare);
        f.goal = kExchangeGoal;
        figures_.push_back(f);
        core().disconnect();
    }

    void pacedSection() {
        XelsimProcess sim({"--seed", "1", "--baud", "38400"}, XelsimProcess::Link::Pty);
        LogTail log(logPath(sim));
        progress("pty: one exchange, paced at 38400 baud");
        mapSerialPort(sim.linkPath());
        core().connect(kSerialName);
        const std::vector<double> times = timeExchanges(samples(400));
        const auto logged = exchangesIn(log.poll());
        if (logged.empty()) throw std::runtime_error("xelsim logged no exchange\n" + sim.diagnostics());
        const Exchange& x = logged.back();
        const double wire = wireMs(x.frame.size() + x.reply.size());
        Figure w = figure("floor: wire time at 38400 baud, mute frame and reply", "ms", {wire});
        w.floorIs = std::to_string(x.frame.size() + x.reply.size()) + " bytes x 10 bits";
        figures_.push_back(w);
        Figure f = figure("exchange mute, pty paced 38400 baud", "ms", times);
        f.floor = exchangeFloor(wire);
        f.floorIs = floorText("wire time", wire);
        f.goal = kExchangeGoal;
        figures_.push_back(f);
        core().disconnect();
    }

    // "xelctl query" as a whole process, its wall time and peak resident memory
    // (wait4's rusage).
    void xelctlSection() {
        XelsimProcess sim({"--seed", "1"});
        progress("xelctl query as a process (3 s settle and 1 s close each)");
        const std::string program = xeltest::binDir() + "/xelctl";
        const std::string output = sim.folder() + "/xelctl.out";
        std::vector<double> wall, memory;
        for (int i = 0, n = samples(8); i < n; ++i) {
            std::vector<std::string> args = {program, "-a", sim.address(), "query"};
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                             0644);
            posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
            pid_t pid = -1;
            const auto start = Clock::now();
            const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
            posix_spawn_file_actions_destroy(&actions);
            if (rc != 0) throw std::runtime_error("cannot start " + program);
            int status = 0;
            rusage usage{};
            while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
            }
            const double took = msSince(start);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                std::ifstream in(output);
                std::stringstream text;
                text << in.rdbuf();
                throw std::runtime_error("xelctl query failed (status " + std::to_string(status) + "):\n" +
                                         text.str());
            }
            wall.push_back(took);
            memory.push_back(static_cast<double>(usage.ru_maxrss) / 1024.0);  // KiB to MiB
        }
        Figure t = figure("xelctl query, whole process, TCP", "ms", wall);
        t.floorIs = "- (3000 ms settle and 1000 ms close included)";
        figures_.push_back(t);
        Figure m = figure("xelctl query, peak memory", "MiB", memory);
        m.floorIs = "-";
        figures_.push_back(m);
    }

    Options options_;
    std::vector<Figure> figures_;
    std::unique_ptr<CoreSession> core_;
    double pauses_ = 11;
    double cpuPerExchange_ = 0;
    double tcpExchangeFloor_ = 11;
};

}  // namespace

std::vector<Figure> runBench(const Options& options) { return Bench(options).run(); }

}  // namespace xelbench
