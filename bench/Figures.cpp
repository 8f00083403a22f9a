#include "bench/Figures.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <httplib.h>

#include "bench/CoreSession.h"
#include "bench/EchoPeer.h"
#include "bench/LogTail.h"
#include "tests/support/Loopback.h"
#include "tests/support/XelsimProcess.h"
#include "xelsys/Retry.h"
#include "xelsys/StateFolder.h"

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
    auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
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
    if (std::getenv("XELBENCH_DUMP")) {
        std::vector<double> sorted = samples;
        std::sort(sorted.begin(), sorted.end());
        std::string line = f.name + ":";
        for (double v : sorted) line += " " + fmt(v, 1);
        progress(line);
    }
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
        if (e.dir == "rx")
            out.push_back({e.bytes, {}});
        else if (e.dir == "tx" && !out.empty() && out.back().reply.empty())
            out.back().reply = e.bytes;
    }
    std::erase_if(out, [](const Exchange& x) { return x.reply.empty(); });
    return out;
}

std::string stateDir() {
    // main() gives the benchmark a private folder; never the user's own.
    if (!std::getenv("XDG_CONFIG_HOME")) throw std::runtime_error("XDG_CONFIG_HOME is not set");
    return xel::sys::stateFolder();
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

// Bytes a process has read and written through system calls (/proc/PID/io).
struct ProcessIo {
    long long read = 0;
    long long written = 0;
};

ProcessIo processIo(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/io");
    ProcessIo io;
    for (std::string key; in >> key;) {
        long long value = 0;
        in >> value;
        if (key == "rchar:") io.read = value;
        if (key == "wchar:") io.written = value;
    }
    if (!in.eof()) throw std::runtime_error("cannot read /proc/" + std::to_string(pid) + "/io");
    return io;
}

long long fileSize(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<long long>(size);
}

// An Intel HEX file holding `size` bytes of program from 0x000400 (just above
// the protected boot block), 16 bytes a record, in 64 KB segments.
void writeProgramHex(const std::string& path, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    auto record = [&](unsigned type, unsigned address, const std::vector<uint8_t>& data) {
        char text[16];
        std::snprintf(text, sizeof text, ":%02X%04X%02X", static_cast<unsigned>(data.size()), address & 0xFFFF, type);
        out << text;
        unsigned sum = static_cast<unsigned>(data.size()) + ((address >> 8) & 0xFF) + (address & 0xFF) + type;
        for (uint8_t b : data) {
            std::snprintf(text, sizeof text, "%02X", b);
            out << text;
            sum += b;
        }
        std::snprintf(text, sizeof text, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        out << text;
    };
    unsigned segment = 0;
    for (size_t at = 0; at < size; at += 16) {
        const unsigned address = 0x400 + static_cast<unsigned>(at);
        if (address >> 16 != segment) {
            segment = address >> 16;
            record(4, 0, {static_cast<uint8_t>(segment >> 8), static_cast<uint8_t>(segment)});
        }
        std::vector<uint8_t> data(16);
        for (size_t k = 0; k < data.size(); ++k) data[k] = static_cast<uint8_t>((at + k) * 7 + 3);
        record(0, address, data);
    }
    record(1, 0, {});
    if (!out) throw std::runtime_error("cannot write " + path);
}

// A steady_clock time on the machine's monotonic clock, in ms: the clock
// xelsim stamps its frames with ("mono").
double monoMs(Clock::time_point t) { return std::chrono::duration<double, std::milli>(t.time_since_epoch()).count(); }

// CPU time of every thread of a process, in ms (/proc/PID/task/*/schedstat, ns).
double processCpuMs(pid_t pid) {
    double ns = 0;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        std::ifstream in(task.path() / "schedstat");
        double onCpu = 0;
        if (in >> onCpu) ns += onCpu;
    }
    return ns / 1e6;
}

// One of xeld's event streams, read on a thread of its own: when each
// AutomationChange arrived.
class EventStream {
public:
    explicit EventStream(int port) : client_("127.0.0.1", port) {
        client_.set_read_timeout(2);
        thread_ = std::thread([this] { run(); });
    }
    ~EventStream() {
        stop_ = true;
        thread_.join();
    }
    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;

    // True once the stream delivers (xeld sends a level reading every 200 ms).
    bool waitOpen(long limitMs) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(limitMs), [&] { return open_; });
    }
    size_t automationEvents() {
        std::lock_guard lock(mutex_);
        return automation_.size();
    }
    std::optional<Clock::time_point> automationEventAt(size_t count, long limitMs) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::milliseconds(limitMs), [&] { return automation_.size() >= count; }))
            return std::nullopt;
        return automation_[count - 1];
    }

private:
    void run() {
        std::string buffer;
        while (!stop_) {
            client_.Get("/v1/events", [&](const char* data, size_t n) {
                const auto now = Clock::now();
                buffer.append(data, n);
                for (size_t end; (end = buffer.find("\n\n")) != std::string::npos;) {
                    const bool automation = buffer.compare(0, 24, "event: AutomationChange\n") == 0;
                    buffer.erase(0, end + 2);
                    std::lock_guard lock(mutex_);
                    open_ = true;
                    if (automation) automation_.push_back(now);
                    changed_.notify_all();
                }
                return !stop_.load();
            });
            if (!stop_) std::this_thread::sleep_for(50ms);
        }
    }

    httplib::Client client_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    std::vector<Clock::time_point> automation_;
    std::thread thread_;
};

// Moves the unit's automation pin from xelsim's front panel and times the
// event it causes: from xelsim sending the reply that carried the new pin (its
// frame log, monotonic clock) to the event's arrival at a client.
class PinProbe {
public:
    explicit PinProbe(XelsimProcess& sim) : sim_(sim), log_(logPath(sim)) {}

    // `arrived(k)`: when the k-th event (from 1) reached the client, or none.
    std::vector<double> run(int n, const std::function<std::optional<Clock::time_point>(size_t)>& arrived,
                            size_t already) {
        std::vector<double> out;
        for (int i = 0; i < n; ++i) {
            pin_ = pin_ == 3 ? 4 : 3;
            scan(-1);  // what came before the change only sets the last reply
            const double changedAt = monoMs(Clock::now());
            if (sim_.panel("pin " + std::to_string(pin_)) != "ok") throw std::runtime_error("xelsim refused \"pin\"");
            const auto at = arrived(already + static_cast<size_t>(i) + 1);
            if (!at) throw std::runtime_error("no AutomationChange within 5 s of a pin change");
            std::optional<double> reply;
            for (int tries = 0; tries < 50 && !(reply = scan(changedAt)); ++tries) std::this_thread::sleep_for(10ms);
            if (!reply) throw std::runtime_error("xelsim's log shows no changed pin reply");
            out.push_back(monoMs(*at) - *reply);
        }
        return out;
    }

private:
    // The first "pin" reply sent after `since` that differs from the one before.
    std::optional<double> scan(double since) {
        std::optional<double> found;
        for (const LogEntry& e : log_.poll()) {
            if (e.dir == "rx") {
                afterPin_ = e.text == "pin";
            } else if (e.dir == "tx" && afterPin_) {
                if (!found && since >= 0 && e.monoMs >= since && e.text != lastReply_) found = e.monoMs;
                lastReply_ = e.text;
                afterPin_ = false;
            }
        }
        return found;
    }

    XelsimProcess& sim_;
    LogTail log_;
    int pin_ = 3;
    bool afterPin_ = false;
    std::string lastReply_;
};

// The unit's exchanges per second from xelsim's frame log, one sample every
// 3 s (a second holds only a few exchanges: one more or less is not a change).
std::vector<double> exchangeRate(LogTail& log, int samples) {
    std::this_thread::sleep_for(1s);
    (void)log.poll();
    std::vector<double> rate;
    for (int i = 0; i < samples; ++i) {
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(3s);
        const auto entries = log.poll();
        const auto rx = std::count_if(entries.begin(), entries.end(), [](const LogEntry& e) { return e.dir == "rx"; });
        rate.push_back(static_cast<double>(rx) / (msSince(t0) / 1e3));
    }
    return rate;
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
        if (wanted("server")) serverSection();
        if (wanted("firmware")) firmwareSection();
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
        for (int i = 0, n = samples(200); i < n; ++i) slept.push_back(pauseSample());
        Figure f = figure("floor: fixed pauses 10 ms + 1 ms, as slept", "ms", slept);
        f.floorIs = "nominal 11 ms (each exchange figure uses the pauses slept beside it)";
        f.floor = 11.0;
        figures_.push_back(f);
    }

    // One pause sample: the 10 ms and 1 ms sleeps an exchange must take.
    static double pauseSample() {
        const auto start = Clock::now();
        std::this_thread::sleep_for(10ms);
        std::this_thread::sleep_for(1ms);
        return msSince(start);
    }

    // The exchange floor: the later of the pauses and the bare transfer.
    static double exchangeFloor(double pauses, double transfer) { return std::max(pauses, transfer); }
    static std::string floorText(double pauses, const std::string& transferName, double transfer) {
        return "max(pauses " + fmt(pauses) + ", " + transferName + " " + fmt(transfer, 3) + ")";
    }

    // Exchanges, each followed by a pause sample: on a shared machine the load
    // changes by the second, and the pauses slept beside the exchanges are the
    // fair floor for them.
    struct Timed {
        std::vector<double> exchanges;
        double pauses = 0;  // median of the pause samples taken between them
    };
    Timed timeExchanges(int count) {
        for (int i = 0; i < 10; ++i) core().exchangeMute();  // warm the path up
        Timed t;
        std::vector<double> pauses;
        for (int i = 0; i < count; ++i) {
            const auto start = Clock::now();
            core().exchangeMute();
            t.exchanges.push_back(msSince(start));
            pauses.push_back(pauseSample());
        }
        t.pauses = summarize(pauses).median;
        return t;
    }

    // Adds the bare echo of the last exchange as a floor row; returns its median.
    double echoFloor(const std::string& name, EchoLink& link, const Exchange& x, std::chrono::microseconds gap,
                     int rounds) {
        EchoScript script{x.frame, gap.count() > 0 ? splitReply(x.reply, 3) : std::vector<std::string>{x.reply}, gap};
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
        const Timed timed = timeExchanges(samples(300));
        // The pause samples sleep, so the CPU is the exchanges' own.
        cpuPerExchange_ = (cpuMs() - cpuBefore) / static_cast<double>(timed.exchanges.size() + 10);
        const auto logged = exchangesIn(log.poll());
        if (logged.empty()) throw std::runtime_error("xelsim logged no exchange\n" + sim.diagnostics());
        auto echo = EchoLink::tcp();
        const double bare = echoFloor("floor: bare TCP echo, mute", *echo, logged.back(), 0us, samples(2000));
        tcpExchangeFloor_ = exchangeFloor(timed.pauses, bare);
        Figure f = figure("exchange mute, TCP", "ms", timed.exchanges);
        f.floor = tcpExchangeFloor_;
        f.floorIs = floorText(timed.pauses, "TCP echo", bare);
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
        std::vector<double> pauses;  // slept beside the samples
        int crossed = 0;
        for (int i = 0, n = samples(20); i < n; ++i) {
            if (i > 0) {
                if (!log.waitFor([](const LogEntry& e) { return e.dir == "rx" && e.text == "digitalenable"; }, 5s) ||
                    !log.waitFor([](const LogEntry& e) { return e.dir == "tx"; }, 5s))
                    throw std::runtime_error("the monitor did not read the status after a Query\n" + sim.diagnostics());
                std::this_thread::sleep_for(3ms);
            }
            (void)log.poll();
            const auto start = Clock::now();
            core().query();
            const double took = msSince(start);
            const auto entries = log.poll();
            for (int k = 0; k < 5; ++k) pauses.push_back(pauseSample());
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
                queryExchanges =
                    exchangesIn(std::vector<LogEntry>(entries.begin(), entries.begin() + static_cast<long>(end)));
            }
            times.push_back(took);
        }
        if (queryExchanges.empty()) throw std::runtime_error("no Query ran undisturbed\n" + sim.diagnostics());
        if (crossed) progress("TCP: " + std::to_string(crossed) + " Query samples crossed a monitor poll, dropped");

        // The sum of its exchanges' floors, each replayed bare with its own bytes.
        // A sum of many exchanges grows with the pauses' mean, not their median:
        // on a loaded machine the slow wake-ups add up.
        const double paused = summarize(pauses).mean;
        double floor = 0;
        for (const Exchange& x : queryExchanges) {
            const auto trips = echo.roundTrips({x.frame, {x.reply}, 0us}, samples(20));
            floor += exchangeFloor(paused, summarize(trips).median);
        }
        Figure f = figure("Query after connecting, TCP", "ms", times);
        f.floor = floor;
        f.floorIs = "sum of its " + std::to_string(queryExchanges.size()) + " exchanges' floors (mean pauses " +
                    fmt(paused) + ")";
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

        // The interval counts from the end of the previous reading.
        Figure l = figure("level read cadence, idle", "ms", cadence);
        l.floor = 200 + tcpExchangeFloor_;
        l.floorIs = "200 ms after the last reading ended: 200 + one exchange floor";
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
        const Timed timed = timeExchanges(samples(150));
        const auto logged = exchangesIn(log.poll());
        if (logged.empty()) throw std::runtime_error("xelsim logged no exchange\n" + sim.diagnostics());
        auto echo = tcp ? EchoLink::tcp() : EchoLink::pty();
        const double bare = echoFloor("floor: bare " + where + " echo, mute in three pieces", *echo, logged.back(),
                                      kSplitGap, samples(100));
        Figure f = figure("exchange mute, " + where + ", reply in three pieces", "ms", timed.exchanges);
        f.floor = exchangeFloor(timed.pauses, bare);
        f.floorIs = floorText(timed.pauses, where + " echo in pieces", bare);
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
        const Timed timed = timeExchanges(samples(300));
        const auto logged = exchangesIn(log.poll());
        if (logged.empty()) throw std::runtime_error("xelsim logged no exchange\n" + sim.diagnostics());
        auto echo = EchoLink::pty();
        const double bare = echoFloor("floor: bare pty echo, mute", *echo, logged.back(), 0us, samples(2000));
        Figure f = figure("exchange mute, pty unpaced", "ms", timed.exchanges);
        f.floor = exchangeFloor(timed.pauses, bare);
        f.floorIs = floorText(timed.pauses, "pty echo", bare);
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
        const Timed timed = timeExchanges(samples(300));
        const auto logged = exchangesIn(log.poll());
        if (logged.empty()) throw std::runtime_error("xelsim logged no exchange\n" + sim.diagnostics());
        const Exchange& x = logged.back();
        const double wire = wireMs(x.frame.size() + x.reply.size());
        Figure w = figure("floor: wire time at 38400 baud, mute frame and reply", "ms", {wire});
        w.floorIs = std::to_string(x.frame.size() + x.reply.size()) + " bytes x 10 bits";
        figures_.push_back(w);
        Figure f = figure("exchange mute, pty paced 38400 baud", "ms", timed.exchanges);
        f.floor = exchangeFloor(timed.pauses, wire);
        f.floorIs = floorText(timed.pauses, "wire time", wire);
        f.goal = kExchangeGoal;
        figures_.push_back(f);
        core().disconnect();
    }

    // One program run to its end: wall time in ms, peak resident memory in MiB
    // (wait4's rusage). A failure carries the program's output.
    std::pair<double, double> timedRun(std::vector<std::string> args, const std::string& output) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        pid_t pid = -1;
        const auto start = Clock::now();
        const int rc = ::posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
        int status = 0;
        rusage usage{};
        (void)xel::sys::retryOnSignal([&] { return ::wait4(pid, &status, 0, &usage); });
        const double took = msSince(start);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::ifstream in(output);
            std::stringstream text;
            text << in.rdbuf();
            throw std::runtime_error(args[0] + " " + args.back() + " failed (status " + std::to_string(status) +
                                     "):\n" + text.str());
        }
        return {took, static_cast<double>(usage.ru_maxrss) / 1024.0};  // KiB to MiB
    }

    // "xelctl query" as a whole process, its wall time and peak resident memory.
    void xelctlSection() {
        XelsimProcess sim({"--seed", "1"});
        progress("xelctl query as a process (3 s settle and 1 s close each)");
        const std::string program = xeltest::binDir() + "/xelctl";
        std::vector<double> wall, memory;
        for (int i = 0, n = samples(8); i < n; ++i) {
            const auto [took, mib] = timedRun({program, "-a", sim.address(), "query"}, sim.folder() + "/xelctl.out");
            wall.push_back(took);
            memory.push_back(mib);
        }
        Figure t = figure("xelctl query, whole process, TCP", "ms", wall);
        t.floorIs = "- (3000 ms settle and 1000 ms close included)";
        figures_.push_back(t);
        Figure m = figure("xelctl query, peak memory", "MiB", memory);
        m.floorIs = "-";
        figures_.push_back(m);
    }

    // The same commands through a running xeld (which holds the link), a
    // /metrics scrape, and xeld's resident memory while it serves.
    void serverSection() {
        XelsimProcess sim({"--seed", "1"});
        progress("xelctl through xeld, /metrics and xeld's memory");
        const int port = xeltest::freeLoopbackPort();
        const std::string listen = "127.0.0.1:" + std::to_string(port);
        const std::string server = xeltest::binDir() + "/xeld";
        const std::string log = sim.folder() + "/xeld.err";
        std::vector<std::string> args = {server, "--address", sim.address(), "--listen", listen};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        const int rc = ::posix_spawn(&pid, server.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) throw std::runtime_error("cannot start " + server);
        struct Stop {
            pid_t pid;
            ~Stop() {
                ::kill(pid, SIGTERM);
                int st = 0;
                ::waitpid(pid, &st, 0);
            }
        } stop{pid};
        httplib::Client client("127.0.0.1", port);
        client.set_connection_timeout(2);
        bool up = false;
        for (int i = 0; i < 300 && !up; ++i) {
            auto r = client.Get("/healthz");
            up = r && r->status == 200;
            if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!up) throw std::runtime_error("xeld did not connect to xelsim");

        const std::string program = xeltest::binDir() + "/xelctl";
        const std::string url = "http://" + listen;
        std::vector<double> query, get, scrape;
        for (int i = 0, n = samples(40); i < n; ++i) {
            query.push_back(timedRun({program, "--server", url, "query"}, sim.folder() + "/q.out").first);
            get.push_back(
                timedRun({program, "--server", url, "get", "Format.InputTrim", "2"}, sim.folder() + "/g.out").first);
        }
        for (int i = 0, n = samples(200); i < n; ++i) {
            const auto start = Clock::now();
            auto r = client.Get("/metrics");
            if (!r || r->status != 200) throw std::runtime_error("/metrics failed");
            scrape.push_back(msSince(start));
        }
        Figure q = figure("xelctl --server query, whole process", "ms", query);
        q.floorIs = "- (beside the direct query above)";
        q.goal.medianMax = 50;
        figures_.push_back(q);
        Figure g = figure("xelctl --server get, whole process", "ms", get);
        g.floorIs = "-";
        g.goal.medianMax = 10;
        figures_.push_back(g);
        Figure m = figure("/metrics scrape", "ms", scrape);
        m.floorIs = "-";
        m.goal.medianMax = 5;
        figures_.push_back(m);
        serverEvents(sim, pid, port);

        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        double rss = 0;
        while (std::getline(status, line))
            if (line.rfind("VmRSS:", 0) == 0) rss = std::atof(line.c_str() + 6) / 1024.0;
        Figure r = figure("xeld resident memory, serving", "MiB", {rss});
        r.floorIs = "-";
        r.goal.medianMax = 20;
        figures_.push_back(r);
    }

    // Events, the unit's exchange rate and idle CPU, each beside the direct
    // path measured here in the same run: the core in this process on a unit of
    // its own.
    void serverEvents(XelsimProcess& sim, pid_t server, int port) {
        progress("events through xeld beside the core's own, exchange rate with 1 and 48 streams, idle CPU");
        const int n = samples(60);
        std::vector<double> direct;
        // The direct core stays connected to a unit of its own to the end, so
        // its idle CPU is measured in the same minutes as xeld's, window by window.
        XelsimProcess own({"--seed", "1"});
        core().connect(own.address());
        core().query();
        {
            PinProbe probe(own);
            const size_t before = core().automationEvents();
            direct = probe.run(
                n, [&](size_t k) { return core().automationEventAt(k, 5000); }, before);
        }
        Figure d = figure("event: unit's reply -> core's sink, direct", "ms", direct);
        d.floorIs = "- (the core's read pause included)";
        figures_.push_back(d);
        const Summary directSummary = summarize(direct);

        // What xeld adds to an event: at most 5 ms at the 99th percentile. With
        // 48 streams the goal is the unit's unchanged exchange rate (below); the
        // event's time is shown beside the direct path without one, since here
        // it includes the 48 readers of this process waking on the same two
        // cores at every level reading.
        auto eventFigure = [&](const std::string& name, const std::vector<double>& samples, bool goal) {
            Figure f = figure(name, "ms", samples);
            f.floor = directSummary.median;
            f.floorIs = goal ? "the direct path's median; goal p99 within 5 ms of the direct p99"
                             : "the direct path's median; 48 readers in this process";
            if (goal) f.goal.p99Max = directSummary.p99 + 5;
            figures_.push_back(f);
        };
        LogTail log(logPath(sim));
        PinProbe probe(sim);
        std::vector<std::unique_ptr<EventStream>> streams;
        streams.push_back(std::make_unique<EventStream>(port));
        if (!streams[0]->waitOpen(5000)) throw std::runtime_error("xeld's event stream did not open");
        const std::vector<double> rateOne = exchangeRate(log, samples(5));
        EventStream& first = *streams[0];
        eventFigure("event: unit's reply -> SSE client, 1 stream",
                    probe.run(
                        n, [&](size_t k) { return first.automationEventAt(k, 5000); }, first.automationEvents()),
                    true);
        while (streams.size() < 48) streams.push_back(std::make_unique<EventStream>(port));
        for (const auto& st : streams)
            if (!st->waitOpen(5000)) throw std::runtime_error("not every one of 48 event streams opened");
        const std::vector<double> rateMany = exchangeRate(log, samples(5));
        eventFigure("event: unit's reply -> SSE client, 48 streams",
                    probe.run(
                        n, [&](size_t k) { return first.automationEventAt(k, 5000); }, first.automationEvents()),
                    false);
        streams.clear();
        // The closed streams' server threads notice at their next write: the idle
        // figure below starts once xeld counts no stream.
        httplib::Client metrics("127.0.0.1", port);
        for (int i = 0; i < 50; ++i) {
            auto r = metrics.Get("/metrics");
            if (r && r->status == 200 && r->body.find("xelor_clients{unit=\"xelor\"} 0\n") != std::string::npos) break;
            std::this_thread::sleep_for(100ms);
        }

        Figure r1 = figure("unit exchanges/s, 1 event stream (xelsim's log)", "1/s", rateOne);
        r1.floorIs = "-";
        figures_.push_back(r1);
        Figure r48 = figure("unit exchanges/s, 48 event streams", "1/s", rateMany);
        r48.floor = summarize(rateOne).median;
        r48.floorIs = "the rate with 1 stream: the same, whatever the clients";
        r48.goal.medianRatioMax = 1.05;
        figures_.push_back(r48);

        // One second of the core in this process, then one of xeld, in turn: the
        // machine's own drift (other load, a virtual CPU's steal) falls on both.
        std::this_thread::sleep_for(1s);
        std::vector<double> idleCore, idleServer;
        for (int i = 0, m = samples(10); i < m; ++i) {
            double c0 = cpuMs();
            auto t0 = Clock::now();
            std::this_thread::sleep_for(1s);
            idleCore.push_back((cpuMs() - c0) / (msSince(t0) / 1e3));
            c0 = processCpuMs(server);
            t0 = Clock::now();
            std::this_thread::sleep_for(1s);
            idleServer.push_back((processCpuMs(server) - c0) / (msSince(t0) / 1e3));
        }
        core().disconnect();
        // What the level cadence costs on this machine by itself: a thread that
        // does nothing but wake every 200 ms, as xeld's owner does to read the
        // levels. A virtual CPU's wake-up is most of an idle reading's cost.
        std::vector<double> bareWake;
        std::thread([&] {
            auto threadCpuMs = [] {
                timespec t{};
                ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
                return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
            };
            for (int i = 0, m = samples(10); i < m; ++i) {
                const double c0 = threadCpuMs();
                const auto t0 = Clock::now();
                for (int k = 0; k < 5; ++k) ::poll(nullptr, 0, 200);
                bareWake.push_back((threadCpuMs() - c0) / (msSince(t0) / 1e3));
            }
        }).join();
        Figure c = figure("CPU of a connected idle core, direct", "ms/s", idleCore);
        c.floorIs = "-";
        figures_.push_back(c);
        // The machine's idle CPU cost moves between two levels by the minute (a
        // virtual CPU woken from halt costs more), so the medians of the two
        // series may fall on different levels; each pair of neighbouring
        // windows shares one, and their ratio is the comparison that holds.
        std::vector<double> ratios;
        for (size_t i = 0; i < idleCore.size(); ++i) {
            if (std::getenv("XELBENCH_DUMP"))
                progress("idle window " + std::to_string(i) + ": core " + fmt(idleCore[i]) + ", xeld " +
                         fmt(idleServer[i]));
            if (idleCore[i] > 0) ratios.push_back(idleServer[i] / idleCore[i]);
        }
        Figure pr = figure("CPU of xeld / the idle core, neighbouring windows", "x", ratios);
        pr.floor = 1;
        pr.floorIs = "the core's own idle CPU; goal median <= 1.2";
        pr.goal.medianRatioMax = 1.2;
        figures_.push_back(pr);
        Figure x = figure("CPU of xeld, connected, no client", "ms/s", idleServer);
        x.floor = summarize(idleCore).median;
        x.floorIs = "the idle core's median (direct, above)";
        figures_.push_back(x);
        Figure w = figure("CPU of a bare thread waking every 200 ms", "ms/s", bareWake);
        w.floorIs = "- (what xeld's five readings a second cost here at the least)";
        figures_.push_back(w);
    }

    // A 32 KB program image into xelsim's bootloader on a line paced at 38400
    // baud, from DownloadToPIC to the Complete event. xelsim paces what it sends;
    // the host's requests cross the pseudo-terminal at once. The floor is the
    // wire time of the bytes the line paces, counted from xelsim's own reads
    // and writes (less its log).
    void firmwareSection() {
        XelsimProcess sim({"--seed", "1", "--baud", "38400", "--bootloader"}, XelsimProcess::Link::Pty);
        progress("firmware: a 32 KB program image at 38400 baud (about 20 s each)");
        mapSerialPort(sim.linkPath());
        core().comm()->put_Address(xel::objrt::Bstr(std::u16string(u"COM7")).get());
        const std::string hex = sim.folder() + "/program.hex";
        writeProgramHex(hex, 32 * 1024);
        core().convertHex(hex);
        std::vector<double> times, paced, unpaced;
        for (int i = 0, n = std::max(1, static_cast<int>(2 * options_.scale)); i < n; ++i) {
            const ProcessIo before = processIo(sim.pid());
            const long long logBefore = fileSize(logPath(sim));
            const auto start = Clock::now();
            const LONG end = core().downloadAndWait(300'000);
            times.push_back(msSince(start));
            if (end != xel::PICDownloadComplete)
                throw std::runtime_error("the download ended in state " + std::to_string(end) + "\n" +
                                         sim.diagnostics());
            const ProcessIo after = processIo(sim.pid());
            paced.push_back(
                wireMs(static_cast<size_t>(after.written - before.written - (fileSize(logPath(sim)) - logBefore))));
            unpaced.push_back(static_cast<double>(after.read - before.read));
        }
        const double wire = summarize(paced).median;
        Figure w = figure("floor: wire time at 38400 baud, the unit's download replies", "ms", paced);
        w.floorIs = "(a floor; the host's " + fmt(summarize(unpaced).median / 1024, 1) +
                    " KiB of requests cross the pty unpaced)";
        figures_.push_back(w);
        Figure f = figure("firmware download, 32 KB program, pty paced 38400 baud", "ms", times);
        f.floor = wire;
        f.floorIs = "wire time of the bytes the line paces";
        f.goal.medianRatioMax = 1.3;
        figures_.push_back(f);
    }

    Options options_;
    std::vector<Figure> figures_;
    std::unique_ptr<CoreSession> core_;
    double cpuPerExchange_ = 0;
    double tcpExchangeFloor_ = 11;
};

}  // namespace

std::vector<Figure> runBench(const Options& options) { return Bench(options).run(); }

}  // namespace xelbench
