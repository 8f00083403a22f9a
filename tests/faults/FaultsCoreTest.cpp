// The core against a unit that misbehaves: every fault xelsim injects, over TCP and
// over a pseudo-terminal, struck while a batch of the client's EEPROM changes is
// going out. For each: nothing hangs or crashes; a failed exchange raises one
// CommFail and leaves the monitor idle; no "wreep" lands in part; WaitSettled never
// calls a change answered that did not reach the unit; and Disconnect, Connect,
// Query bring the core back to a unit that works again.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "tests/core/control/CoreFixture.h"

namespace {

using namespace xeltest;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Link = XelsimProcess::Link;

// What the client sees of a fault.
enum class Outcome {
    Survives,  // not a failure: every change settles, no CommFail
    Fails,     // the exchange it strikes fails: one CommFail
    Either,    // the protocol may absorb it (a retry the restarted unit answers,
               // junk that ends in a prompt like any reply)
};

struct Fault {
    const char* name;
    std::vector<std::string> flags;  // "N" stands for the session's quota of good commands
    Outcome tcp;
    Outcome pty;
};

// Names the case in failure messages instead of its bytes.
void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

const Fault kFaults[] = {
    {"Silence", {"--silent-after", "N"}, Outcome::Fails, Outcome::Fails},
    // Within the read window (ten empty polls of a tenth of the unit's timing).
    {"SlowReplies", {"--delay-ms", "60"}, Outcome::Survives, Outcome::Survives},
    {"SplitReplies", {"--split", "--split-ms", "30"}, Outcome::Survives, Outcome::Survives},
    {"Garbage", {"--garbage-after", "N", "--seed", "11"}, Outcome::Either, Outcome::Either},
    {"NoPrompt", {"--no-prompt-after", "N"}, Outcome::Fails, Outcome::Fails},
    {"Drop", {"--drop-after", "N"}, Outcome::Fails, Outcome::Fails},
    // A restarted serial unit answers the retry of the command it lost.
    {"UnitReset", {"--reset-after", "N"}, Outcome::Fails, Outcome::Either},
    {"PeerReset", {"--rst-after", "N"}, Outcome::Fails, Outcome::Fails},
};

// Good commands a session gets beyond those of a connect and a Query: the
// monitor's first readings (a level reading, perhaps a status read), the pin
// change that releases the batch, and some of the batch's runs.
constexpr int kQuotaAfterQuery = 8;
constexpr size_t kBatchRuns = 10;
constexpr LONG kTriggerPin = 7;
// Long enough for a monitor that had not gone idle to start another reading.
constexpr auto kDust = 500ms;
constexpr auto kCaseLimit = 60s;

// Ends the process when a case outlives its bound: a hang fails the run instead of
// holding it up.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit) {
        thread_ = std::thread([this, limit] {
            std::unique_lock lock(mutex_);
            if (!changed_.wait_for(lock, limit, [&] { return done_; })) {
                std::fprintf(stderr, "hung: still in \"%s\" after %lld s\n", phase_.c_str(),
                             static_cast<long long>(limit.count()));
                std::_Exit(3);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void phase(std::string name) {
        std::lock_guard lock(mutex_);
        phase_ = std::move(name);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::string phase_ = "set-up";
    std::thread thread_;
};

// One "wreep" the unit received: its address and the bytes it carries.
struct Wreep {
    unsigned address = 0;
    std::vector<unsigned> values;
    std::string text;
};

std::vector<Wreep> parseWreeps(const std::vector<std::string>& texts) {
    std::vector<Wreep> out;
    for (const std::string& t : texts) {
        if (t.rfind("wreep ", 0) != 0) continue;
        Wreep w;
        w.text = t;
        std::istringstream in(t.substr(6));
        in >> std::hex >> w.address;
        for (unsigned v; in >> v;) w.values.push_back(v);
        out.push_back(std::move(w));
    }
    return out;
}

// Checks that every byte of the EEPROM is its old value unless a received "wreep"
// covering it landed whole, and that no "wreep" landed in part. Returns the
// distinct runs that landed.
std::set<std::string> expectWholeRuns(const std::vector<std::uint8_t>& before, const std::vector<std::uint8_t>& after,
                                      const std::vector<Wreep>& runs) {
    std::set<std::string> landed;
    std::vector<bool> explained(after.size(), false);
    for (const Wreep& w : runs) {
        bool allNew = true, allOld = true;
        for (size_t i = 0; i < w.values.size(); ++i) {
            const size_t a = w.address + i;
            if (a >= after.size()) {
                ADD_FAILURE() << "a write beyond the EEPROM: " << w.text;
                return landed;
            }
            allNew = allNew && after[a] == w.values[i];
            allOld = allOld && after[a] == before[a];
        }
        EXPECT_TRUE(allNew || allOld) << "a mix of old and new bytes inside " << w.text;
        if (!allNew) continue;
        landed.insert(w.text);
        for (size_t i = 0; i < w.values.size(); ++i) explained[w.address + i] = true;
    }
    for (size_t a = 0; a < after.size(); ++a)
        EXPECT_TRUE(after[a] == before[a] || explained[a])
            << "byte " << std::hex << a << " changed to " << unsigned(after[a]) << " without a whole write";
    return landed;
}

std::string bytesAt(const std::vector<std::uint8_t>& eeprom, size_t address, size_t n) {
    std::string s;
    for (size_t i = 0; i < n && eeprom[address + i] != 0; ++i) s.push_back(static_cast<char>(eeprom[address + i]));
    return s;
}

class FaultTest : public CoreTest, public ::testing::WithParamInterface<std::tuple<Fault, Link>> {
protected:
    void SetUp() override {
        watchdog_ = std::make_unique<Watchdog>(std::chrono::duration_cast<std::chrono::seconds>(kCaseLimit));
        CoreTest::SetUp();
    }
    void TearDown() override {
        phase("tear-down");
        CoreTest::TearDown();
    }

    const Fault& fault() const { return std::get<0>(GetParam()); }
    Link link() const { return std::get<1>(GetParam()); }
    Outcome expected() const { return link() == Link::Tcp ? fault().tcp : fault().pty; }
    void phase(const std::string& name) { watchdog_->phase(fault().name + std::string(": ") + name); }

    int setupCommands() {
        phase("counting the set-up commands");
        return countSetupCommands();
    }

    void startFaultySim(int quota) {
        std::vector<std::string> args;
        for (const std::string& a : fault().flags) args.push_back(a == "N" ? std::to_string(quota) : a);
        sim = std::make_unique<XelsimProcess>(std::move(args), link());
        if (link() == Link::Pty) {
            // The core reaches a serial unit by port name: COM4 leads to xelsim's line
            // (which follows the line when xelsim re-makes it).
            const char* home = std::getenv("XDG_CONFIG_HOME");
            ASSERT_NE(home, nullptr) << "run under ctest, or set XDG_CONFIG_HOME";
            const fs::path ports = fs::path(home) / "xelor" / "ports";
            fs::create_directories(ports);
            fs::remove(ports / "COM4");
            fs::create_symlink(sim->linkPath(), ports / "COM4");
        }
    }
    std::string address() const { return link() == Link::Tcp ? sim->address() : "COM4"; }

    // Ten runs in three tables, all pending at once: core (power-on byte with the
    // fallback, the film return format), profile (theatre number with name, screen
    // number), format (processor name; records 0, 2, 4 and 6; processor GUID). They
    // are queued on the monitor thread, inside the event its pin change raises, so
    // they follow that change back to back.
    void queueBatch() {
        onMonitorThread(kTriggerPin, [this] {
            xel->put_PowerOnFormat(5);
            xel->put_AESEBUFallback(3);
            xel->put_FilmReturnFormat(6);
            profile->put_TheaterNumber(Bstr(u"T-042").get());
            profile->put_TheaterName(Bstr(u"Fault Theatre").get());
            profile->put_ScreenNumber(Bstr(u"9").get());
            format->put_ProcessorName(Bstr(u"Fault Rig").get());
            for (int f : {0, 2, 4, 6}) format->put_FormatName(f, Bstr(u16("Fault " + std::to_string(f))).get());
            format->put_ProcessorGUID(Bstr(u"0f0e0d0c-0b0a-4908-8706-050403020100").get());
        });
    }

    std::string diagnostics() const { return describe(sink->events()) + "\n" + sim->diagnostics(); }

private:
    std::unique_ptr<Watchdog> watchdog_;
};

TEST_P(FaultTest, ChangesInFlightLandWholeOrFailOnceAndRecover) {
    const int quota = setupCommands() + kQuotaAfterQuery;
    ASSERT_GT(quota, kQuotaAfterQuery) << "no set-up commands counted";
    phase("connect and query");
    startFaultySim(quota);
    connectAndQuery(address());
    const std::vector<std::uint8_t> before = sim->dump().eeprom;
    sink->clear();
    const size_t m = mark();

    phase("batch");
    queueBatch();
    const LONG settled = waitSettled(5000);

    // After the dust settles: one CommFail per failure, and nothing more is sent
    // until the next Query.
    phase("settling");
    if (settled != xel::SettleAllAnswered) {
        EXPECT_TRUE(sink->waitForCount(xel::DISPID_CommFail, 1)) << "WaitSettled " << settled << ": " << diagnostics();
    }
    const size_t atFailure = mark();
    std::this_thread::sleep_for(kDust);
    const size_t fails = commFails();
    EXPECT_LE(fails, 1u) << diagnostics();
    EXPECT_EQ(settled == xel::SettleAllAnswered, fails == 0) << "WaitSettled " << settled << ", " << diagnostics();
    if (fails > 0) {
        const auto polled = sentSince(atFailure);
        EXPECT_TRUE(polled.empty()) << "the monitor went on after a failure, first: " << polled.front();
    }
    switch (expected()) {
        case Outcome::Survives:
            EXPECT_EQ(settled, xel::SettleAllAnswered) << diagnostics();
            EXPECT_EQ(fails, 0u) << diagnostics();
            break;
        case Outcome::Fails:
            EXPECT_TRUE(settled == xel::SettleSomeFailed || settled == xel::SettleTimedOut)
                << "WaitSettled " << settled << " after a failed exchange";
            EXPECT_EQ(fails, 1u) << diagnostics();
            break;
        case Outcome::Either: break;
    }

    // A change made while the monitor idles after the failure is not answered.
    const LONG unsentCount = before[3] == 5 ? 6 : 5;
    if (fails > 0) {
        phase("a change after the failure");
        ASSERT_EQ(format->put_Count(unsentCount), S_OK);
        const LONG r = waitSettled(1000);
        EXPECT_TRUE(r == xel::SettleSomeFailed || r == xel::SettleTimedOut) << "WaitSettled " << r;
    }

    // What the unit holds: whole runs or nothing of them.
    phase("eeprom");
    const std::vector<std::uint8_t> after = sim->dump().eeprom;
    const std::vector<Wreep> received = parseWreeps(sentSince(m));
    const std::set<std::string> landed = expectWholeRuns(before, after, received);
    std::set<std::string> distinct;
    for (const Wreep& w : received) distinct.insert(w.text);
    if (settled == xel::SettleAllAnswered) {
        EXPECT_EQ(landed.size(), kBatchRuns) << sim->diagnostics();
        EXPECT_EQ(bytesAt(after, 0x44, 32), "Fault Theatre");
        EXPECT_EQ(bytesAt(after, 0x68 + 24 * 6, 16), "Fault 6");
        EXPECT_EQ(after[1] & 0x7F, 6) << "power-on format 5";
    }
    if (fails == 0) return;
    EXPECT_GE(landed.size(), 1u) << "the fault struck before the batch\n" << sim->diagnostics();
    EXPECT_LT(distinct.size(), kBatchRuns) << "the fault struck after the batch\n" << sim->diagnostics();

    // Recovery: a unit that works again (a new connection is a new session; a
    // serial line that stayed up needs the unit restarted), then Disconnect,
    // Connect, Query.
    phase("recovery");
    if (link() == Link::Pty) {
        ASSERT_EQ(sim->panel("reset"), "ok");
    }
    EXPECT_EQ(comm->Disconnect(), S_OK);
    connect(address());
    ASSERT_EQ(xel->Query(), S_OK) << diagnostics();
    const LONG owed = waitSettled();
    EXPECT_TRUE(owed == xel::SettleAllAnswered || owed == xel::SettleSomeFailed)
        << "WaitSettled " << owed << ": at most the change made after the failure is reported lost";
    ASSERT_EQ(format->put_InputTrim(1, 0x33), S_OK);
    EXPECT_EQ(waitSettled(), xel::SettleAllAnswered) << diagnostics();
    EXPECT_EQ(commFails(), 1u) << diagnostics();
    const std::vector<std::uint8_t> recovered = sim->dump().eeprom;
    EXPECT_EQ(recovered[0x68 + 24 + 20], 0x33) << "record 1's input trim";
    EXPECT_EQ(recovered[3], before[3]) << "the change made while idle was never sent";
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<Fault, Link>>& info) {
    return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) == Link::Tcp ? "OverTcp" : "OverPty");
}

INSTANTIATE_TEST_SUITE_P(EveryFault, FaultTest,
                         ::testing::Combine(::testing::ValuesIn(kFaults), ::testing::Values(Link::Tcp, Link::Pty)),
                         caseName);

}  // namespace
