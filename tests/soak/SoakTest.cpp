// The soak: one core against the real xelsim over TCP for a set time (60 s, or
// `--seconds N` on this binary's command line). The client changes the unit
// every few milliseconds and waits for each batch to settle, the unit's front
// panel changes switches now and then, and the link is cut every few seconds;
// after each cut the client sees CommFail and recovers with Disconnect,
// Connect, Query. At the end every acknowledged change is on the unit, every
// other one was reported failed, and threads, descriptors and memory are flat.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "tests/core/control/CoreFixture.h"
#include "tests/soak/SoakOracle.h"

namespace {

using namespace xeltest;
using namespace xeltest::soak;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int g_seconds = 60;

// AddressSanitizer keeps freed memory in quarantine (up to 256 MB), so the
// resident size says nothing about leaks there; its leak check does.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryQuarantined = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMemoryQuarantined = true;
#else
constexpr bool kMemoryQuarantined = false;
#endif
#else
constexpr bool kMemoryQuarantined = false;
#endif

// ---- the unit's EEPROM map, as far as the soak changes it ----------------------

constexpr uint16_t kPowerOn = 0x001;         // format + 1, bit 7 set in mode 0
constexpr uint16_t kAesEbuFallback = 0x002;  // fallback + 1
constexpr uint16_t kFilmReturn = 0x20C;
constexpr uint16_t kRecords = 0x068;
constexpr int kRecordSize = 24;
constexpr int kNameSize = 16;
// A Query reloads the first seven records only (the eighth has no mode pin).
constexpr int kReloadedRecords = 7;

struct TextField {
    uint16_t address;
    int size;
    HRESULT (xel::IProfile::*get)(BSTR*);
    HRESULT (xel::IProfile::*put)(BSTR);
};
const TextField kProfileFields[] = {
    {0x024, 32, &xel::IProfile::get_TheaterNumber, &xel::IProfile::put_TheaterNumber},
    {0x044, 32, &xel::IProfile::get_TheaterName, &xel::IProfile::put_TheaterName},
    {0x064, 4, &xel::IProfile::get_ScreenNumber, &xel::IProfile::put_ScreenNumber},
};

uint16_t recordAddress(int format) { return static_cast<uint16_t>(kRecords + kRecordSize * format); }

// Everything a Query reloads that the soak changes.
std::set<uint16_t> reloadArea() {
    std::set<uint16_t> area{kPowerOn, kAesEbuFallback, kFilmReturn};
    for (const TextField& f : kProfileFields)
        for (int i = 0; i < f.size; ++i) area.insert(static_cast<uint16_t>(f.address + i));
    for (int b = 0; b < kRecordSize * kReloadedRecords; ++b) area.insert(static_cast<uint16_t>(kRecords + b));
    return area;
}

// ---- the process's resources -----------------------------------------------------

struct Resources {
    long threads = 0;
    long fds = 0;
    long rssKb = 0;
};

long entriesOf(const char* folder) {
    DIR* d = opendir(folder);
    if (!d) return -1;
    long n = 0;
    while (const dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n;
}

Resources sampleResources() {
    Resources r;
    r.threads = entriesOf("/proc/self/task");
    r.fds = entriesOf("/proc/self/fd") - 1;  // the listing's own descriptor
    long size = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    r.rssKb = resident * (sysconf(_SC_PAGESIZE) / 1024);
    return r;
}

std::string lines(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& item : items) out += "\n  " + item;
    return out;
}

// ---- the soak ---------------------------------------------------------------------

class Soak : public CoreTest {
protected:
    std::mt19937 rng{20261209};
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }

    std::unique_ptr<EepromOracle> eeprom;
    SwitchOracle switches;

    long changes = 0, acknowledged = 0, failed = 0, batches = 0, drops = 0, recoveries = 0, panelActions = 0,
         strayChanges = 0;
    size_t commFailsHandled = 0;

    // A batch may meet a drop: the read window runs out before it fails.
    LONG settle() { return waitSettled(10000); }

    // ---- EEPROM-backed changes: each tells the oracle what it queues ----

    void putRecordField(int record) {
        std::vector<std::optional<uint8_t>> bytes(kRecordSize);
        switch (pick(0, 3)) {
            case 0: {
                const int v = pick(0, 255);
                ASSERT_EQ(format->put_InputTrim(record, v), S_OK);
                bytes[20] = static_cast<uint8_t>(v);
                break;
            }
            case 1: {
                const int v = pick(0, 255);
                ASSERT_EQ(format->put_OutputTrim(record, v), S_OK);
                bytes[21] = static_cast<uint8_t>(v);
                break;
            }
            default: {
                const bool input = pick(0, 1) == 0;
                const int v = pick(0, 0xFFFF);
                ASSERT_EQ(input ? format->put_InputDelay(record, v) : format->put_SurroundDelay(record, v), S_OK);
                bytes[input ? 16 : 18] = static_cast<uint8_t>(v & 0xFF);
                bytes[input ? 17 : 19] = static_cast<uint8_t>(v >> 8);
                break;
            }
        }
        eeprom->put(recordAddress(record), bytes);
    }

    std::string randomText(int maxLength) {
        static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 -";
        std::string s(static_cast<size_t>(pick(1, maxLength)), ' ');
        for (char& c : s) c = kChars[pick(0, static_cast<int>(sizeof kChars) - 2)];
        s.front() = 'S';  // no leading or trailing blanks: a name reads back as put
        s.back() = 'k';
        return s;
    }

    void putFormatName(int record) {
        // A rename clears the whole record: every byte is known.
        const std::string name = randomText(kNameSize);
        ASSERT_EQ(format->put_FormatName(record, Bstr(u16(name)).get()), S_OK);
        std::vector<std::optional<uint8_t>> bytes(kRecordSize, uint8_t{0});
        for (size_t i = 0; i < name.size(); ++i) bytes[i] = static_cast<uint8_t>(name[i]);
        eeprom->put(recordAddress(record), bytes);
    }

    void putProfileText() {
        const TextField& f = kProfileFields[pick(0, 2)];
        const std::string t = randomText(f.size);
        ASSERT_EQ((profile.get()->*f.put)(Bstr(u16(t)).get()), S_OK);
        std::vector<std::optional<uint8_t>> bytes(static_cast<size_t>(f.size), uint8_t{0});
        for (size_t i = 0; i < t.size(); ++i) bytes[i] = static_cast<uint8_t>(t[i]);
        eeprom->put(f.address, bytes);
    }

    void putPowerOn() {
        const uint8_t now = *eeprom->model(kPowerOn);  // always shown by its getters
        uint8_t b;
        if (pick(0, 1) == 0) {
            const int onFormat = pick(0, 7);
            ASSERT_EQ(xel->put_PowerOnFormat(onFormat), S_OK);
            b = static_cast<uint8_t>(((onFormat + 1) & 0x7F) | (now & 0x80));
        } else {
            const int mode = pick(0, 1);
            ASSERT_EQ(xel->put_PowerOnMode(mode), S_OK);
            b = static_cast<uint8_t>((now & 0x7F) | (mode == 0 ? 0x80 : 0));
        }
        eeprom->put(kPowerOn, {b});
    }

    void putFallbackOrFilmReturn() {
        const int v = pick(0, 7);
        if (pick(0, 1) == 0) {
            ASSERT_EQ(xel->put_AESEBUFallback(v), S_OK);
            eeprom->put(kAesEbuFallback, {static_cast<uint8_t>(v + 1)});
        } else {
            ASSERT_EQ(xel->put_FilmReturnFormat(v), S_OK);
            eeprom->put(kFilmReturn, {static_cast<uint8_t>(v)});
        }
    }

    // ---- live switches ----

    struct SwitchStates {
        std::array<int, SwitchOracle::kKinds> state{};
    };

    SwitchStates readSwitches() {
        SwitchStates s;
        VARIANT_BOOL b = VARIANT_FALSE;
        xel->get_Mute(&b);
        s.state[SwitchOracle::Mute] = b == VARIANT_TRUE ? 1 : 0;
        format->get_Film(&b);
        s.state[SwitchOracle::Film] = b == VARIANT_TRUE ? 1 : 0;
        LONG v = 0;
        format->get_CurrentFormat(&v);
        s.state[SwitchOracle::Button] = v + 1;
        format->get_Pin(&v);
        s.state[SwitchOracle::Pin] = v;
        return s;
    }

    void putSwitch(SwitchStates& wanted) {
        const auto kind = static_cast<SwitchOracle::Kind>(pick(0, 3));
        int& state = wanted.state[kind];
        switch (kind) {
            case SwitchOracle::Mute:
                state = 1 - state;
                ASSERT_EQ(xel->put_Mute(state ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
                break;
            case SwitchOracle::Film:
                state = 1 - state;
                ASSERT_EQ(format->put_Film(state ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
                break;
            case SwitchOracle::Button:
                state = pick(1, 8);
                ASSERT_EQ(format->put_CurrentFormat(state - 1), S_OK);
                break;
            case SwitchOracle::Pin:
                state = pick(1, 16);
                ASSERT_EQ(format->put_Pin(state), S_OK);
                break;
        }
    }

    // One batch of one to three changes, then WaitSettled.
    void batch() {
        const SwitchStates before = readSwitches();
        SwitchStates wanted = before;
        bool switched = false;
        const int n = pick(1, 3);
        for (int i = 0; i < n; ++i) {
            const int what = pick(0, 9);
            if (what < 3)
                putRecordField(pick(0, kReloadedRecords - 1));
            else if (what < 4)
                putFormatName(pick(0, kReloadedRecords - 1));
            else if (what < 5)
                putProfileText();
            else if (what < 6)
                putPowerOn();
            else if (what < 7)
                putFallbackOrFilmReturn();
            else {
                putSwitch(wanted);
                switched = true;
            }
            if (HasFatalFailure()) return;
        }
        const LONG result = settle();
        ++batches;
        changes += n;
        eeprom->settled(result);
        if (result == xel::SettleAllAnswered) {
            acknowledged += n;
            if (switched)
                for (int k = 0; k < SwitchOracle::kKinds; ++k)
                    if (wanted.state[static_cast<size_t>(k)] != before.state[static_cast<size_t>(k)])
                        switches.acknowledged(static_cast<SwitchOracle::Kind>(k), wanted.state[static_cast<size_t>(k)]);
        } else {
            failed += n;
            EXPECT_TRUE(result == xel::SettleSomeFailed || result == xel::SettleTimedOut) << result;
        }
    }

    // ---- the front panel and the link ----

    void panelAction() {
        std::string line;
        switch (pick(0, 3)) {
            case 0: line = "button " + std::to_string(pick(1, 8)); break;
            case 1: line = "pin " + std::to_string(pick(1, 16)); break;
            case 2: line = std::string("film ") + (pick(0, 1) ? "on" : "off"); break;
            default: line = std::string("mute ") + (pick(0, 1) ? "on" : "off"); break;
        }
        ASSERT_EQ(sim->panel(line), "ok") << line;
        ++panelActions;
    }

    // What the getters show of the bytes a Query reloads.
    std::map<uint16_t, uint8_t> shownBytes() {
        std::map<uint16_t, uint8_t> shown;
        LONG onFormat = 0, mode = 0, v = 0;
        xel->get_PowerOnFormat(&onFormat);
        xel->get_PowerOnMode(&mode);
        shown[kPowerOn] = static_cast<uint8_t>(((onFormat + 1) & 0x7F) | (mode == 0 ? 0x80 : 0));
        xel->get_AESEBUFallback(&v);
        shown[kAesEbuFallback] = static_cast<uint8_t>(v + 1);
        xel->get_FilmReturnFormat(&v);
        shown[kFilmReturn] = static_cast<uint8_t>(v);
        for (const TextField& f : kProfileFields) {
            BSTR b = nullptr;
            (profile.get()->*f.get)(&b);
            const std::u16string t = b ? std::u16string(b, SysStringLen(b)) : std::u16string();
            SysFreeString(b);
            for (int i = 0; i < f.size; ++i) {
                const char16_t c = static_cast<size_t>(i) < t.size() ? t[static_cast<size_t>(i)] : u'\0';
                if (c < 0x80) shown[static_cast<uint16_t>(f.address + i)] = static_cast<uint8_t>(c);
            }
        }
        for (int r = 0; r < kReloadedRecords; ++r) {
            const uint16_t at = recordAddress(r);
            LONG in = 0, out = 0, inDelay = 0, surround = 0;
            format->GetTrimsAndDelays(r, &in, &out, &inDelay, &surround);
            shown[static_cast<uint16_t>(at + 16)] = static_cast<uint8_t>(inDelay & 0xFF);
            shown[static_cast<uint16_t>(at + 17)] = static_cast<uint8_t>((inDelay >> 8) & 0xFF);
            shown[static_cast<uint16_t>(at + 18)] = static_cast<uint8_t>(surround & 0xFF);
            shown[static_cast<uint16_t>(at + 19)] = static_cast<uint8_t>((surround >> 8) & 0xFF);
            shown[static_cast<uint16_t>(at + 20)] = static_cast<uint8_t>(in);
            shown[static_cast<uint16_t>(at + 21)] = static_cast<uint8_t>(out);
            // The name up to its first zero byte; the bytes after it do not show.
            BSTR b = nullptr;
            format->get_FormatName(r, &b);
            const std::u16string name = textUpToNul(b);
            bool ascii = true;
            for (size_t i = 0; i < name.size() && i < kNameSize; ++i) {
                ascii = ascii && name[i] < 0x80;
                if (ascii) shown[static_cast<uint16_t>(at + i)] = static_cast<uint8_t>(name[i]);
            }
            if (ascii && name.size() < kNameSize) shown[static_cast<uint16_t>(at + name.size())] = 0;
        }
        return shown;
    }

    void reloaded() {
        const auto wrong = eeprom->reloaded(reloadArea(), shownBytes());
        EXPECT_TRUE(wrong.empty()) << "the Query loaded values the unit cannot hold:" << lines(wrong);
    }

    // After a failure: CommFail once, then Disconnect, Connect, Query, and
    // WaitSettled until the resync's report has been heard.
    void recover(bool afterDrop) {
        if (afterDrop) {
            EXPECT_TRUE(sink->waitForCount(xel::DISPID_CommFail, commFailsHandled + 1, 10s))
                << "a cut link must raise CommFail\n"
                << sim->diagnostics();
        }
        const size_t seen = commFails();
        EXPECT_LE(seen, commFailsHandled + 1) << "one failure, one CommFail: " << describe(sink->events());
        commFailsHandled = seen;
        sink->clear();  // keeps the sink's record from growing over the run
        commFailsHandled = 0;

        comm->Disconnect();
        // Now and then the operator changes something while the link is down:
        // none of it can reach the unit, and all of it must be reported so.
        const int stray = pick(0, 1) == 0 ? pick(1, 3) : 0;
        for (int i = 0; i < stray && !HasFatalFailure(); ++i) strayChange();
        bool queried = false;
        for (int attempt = 0; attempt < 5 && !queried; ++attempt) {
            if (attempt > 0) {
                comm->Disconnect();
                std::this_thread::sleep_for(100ms);
            }
            xel::CommErr err = xel::CommErrCheck;
            queried = comm->Connect(&err) == S_OK && err == xel::CommErrNone && xel->Query() == S_OK;
        }
        ASSERT_TRUE(queried) << sim->diagnostics();
        LONG result = settle();
        if (stray > 0) {
            EXPECT_EQ(result, xel::SettleSomeFailed) << "changes made while the link was down never went out";
            eeprom->settled(result);
            changes += stray;
            failed += stray;
            strayChanges += stray;
        }
        reloaded();
        if (result != xel::SettleAllAnswered) result = settle();  // a failure is reported once
        ASSERT_EQ(result, xel::SettleAllAnswered)
            << "a fresh Query with nothing changed, after one report at most; events: " << describe(sink->events())
            << "\n"
            << sim->diagnostics();
        ++recoveries;
    }

    // A change made while disconnected.
    void strayChange() {
        switch (pick(0, 8)) {
            case 0: putRecordField(pick(0, kReloadedRecords - 1)); break;
            case 1: putFormatName(pick(0, kReloadedRecords - 1)); break;
            case 2: putProfileText(); break;
            case 3: putPowerOn(); break;
            case 4: putFallbackOrFilmReturn(); break;
            case 5: ASSERT_EQ(format->put_Pin(pick(1, 16)), S_OK); break;
            case 6: ASSERT_EQ(format->put_CurrentFormat(pick(0, 7)), S_OK); break;
            case 7: ASSERT_EQ(format->put_Film(pick(0, 1) ? VARIANT_TRUE : VARIANT_FALSE), S_OK); break;
            default: ASSERT_EQ(xel->put_Mute(pick(0, 1) ? VARIANT_TRUE : VARIANT_FALSE), S_OK); break;
        }
    }
};

TEST_F(Soak, AcknowledgedChangesReachTheUnitAndNoneIsSilentlyLost) {
    startSim({"--seed", "11"});
    connectAndQuery();
    eeprom = std::make_unique<EepromOracle>(sim->dump().eeprom);
    // The first Query's model is the unit's EEPROM as dumped.
    reloaded();
    ASSERT_FALSE(HasFailure());
    switches.reserve(static_cast<size_t>(g_seconds) * 500);

    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(g_seconds);
    const auto warmUp = start + std::chrono::seconds(std::max(5, g_seconds / 10));
    auto nextPanel = start + std::chrono::milliseconds(pick(500, 1500));
    auto nextDrop = start + std::chrono::milliseconds(pick(3000, 6000));
    std::optional<Resources> first;
    Resources peak{};
    auto nextSample = warmUp;
    bool dropped = false;

    while (Clock::now() < end && !HasFatalFailure()) {
        const size_t failures = commFails();
        if (dropped || failures > commFailsHandled) {
            recover(dropped);
            dropped = false;
            continue;
        }
        const auto now = Clock::now();
        if (now >= nextSample) {
            // Sampled between batches on a settled, queried link: the same state each time.
            const Resources r = sampleResources();
            if (!first) first = r;
            peak.threads = std::max(peak.threads, r.threads);
            peak.fds = std::max(peak.fds, r.fds);
            peak.rssKb = std::max(peak.rssKb, r.rssKb);
            nextSample = now + 1s;
        }
        if (now >= nextDrop) {
            ASSERT_EQ(sim->panel("drop"), "ok");
            ++drops;
            dropped = true;
            nextDrop = now + std::chrono::milliseconds(pick(3000, 6000));
        } else if (now >= nextPanel) {
            panelAction();
            nextPanel = now + std::chrono::milliseconds(pick(500, 1500));
        }
        batch();
        std::this_thread::sleep_for(std::chrono::milliseconds(pick(1, 4)));
    }
    ASSERT_FALSE(HasFatalFailure());
    if (dropped || commFails() > commFailsHandled) recover(dropped);
    ASSERT_EQ(settle(), xel::SettleAllAnswered);
    const Resources last = sampleResources();
    ASSERT_TRUE(first) << "the run ended before its warm-up";

    // Every byte is one the unit may hold after what WaitSettled said.
    const auto wrong = eeprom->check(sim->dump().eeprom);
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " bytes wrong:" << lines(wrong);
    const std::string logPath = sim->folder() + "/xelsim.log";
    const auto missing = switches.check(logPath);
    EXPECT_TRUE(missing.empty()) << lines(missing);

    // Flat: no thread or descriptor more than after the warm-up (a recovery
    // replaces the connection's own, it does not add to them); memory within
    // 8 MB of it (allocator arenas settle, the soak's own records grow by a
    // few bytes per change).
    EXPECT_LE(last.threads, first->threads);
    EXPECT_LE(peak.threads, first->threads + 1);
    EXPECT_LE(last.fds, first->fds);
    EXPECT_LE(peak.fds, first->fds + 1);
    if (!kMemoryQuarantined) {
        EXPECT_LE(last.rssKb, first->rssKb + 8 * 1024);
    }

    const long seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
    std::printf(
        "soak: %lds, %ld changes in %ld batches, %ld acknowledged, %ld failed (%ld made while disconnected), "
        "%zu switch changes checked, %ld panel actions, %ld drops, %ld recoveries; threads %ld->%ld (peak %ld), "
        "fds %ld->%ld (peak %ld), RSS %ld->%ld kB (peak %ld); xelsim log %ld kB\n",
        seconds, changes, batches, acknowledged, failed, strayChanges, switches.count(), panelActions, drops,
        recoveries, first->threads, last.threads, peak.threads, first->fds, last.fds, peak.fds, first->rssKb,
        last.rssKb, peak.rssKb, static_cast<long>(std::filesystem::file_size(logPath) / 1024));
    std::fflush(stdout);
    EXPECT_EQ(recoveries, drops) << "every cut link was noticed and recovered from";
    EXPECT_GT(acknowledged, 0);
}

}  // namespace

// `--seconds N` sets the run's length; GoogleTest's own flags are taken first.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            g_seconds = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--seconds N] [GoogleTest flags]\n", argv[0]);
            return 2;
        }
    }
    if (g_seconds < 10) {
        std::fprintf(stderr, "--seconds: at least 10\n");
        return 2;
    }
    return RUN_ALL_TESTS();
}
