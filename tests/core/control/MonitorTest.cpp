// The monitor against xelsim: client changes reach the unit one per pass, the
// unit's own changes come back as events, pending EEPROM writes go out in runs
// and table order, and failures raise CommFail exactly once.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/core/control/CoreFixture.h"
#include "tests/core/control/ScriptedUnit.h"

namespace {

using namespace xeltest;
using namespace std::chrono_literals;

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST_F(CoreTest, ClientFormatGoesOutThenStatusAtOnceWithoutInputChange) {
    const size_t m = startQueried();
    ASSERT_EQ(format->put_CurrentFormat(3), S_OK);
    ASSERT_EQ(waitSettled(), xel::SettleAllAnswered);
    ASSERT_TRUE(sim->waitForLog([&](const auto&) {
        const auto sent = sentSince(m);
        const auto b = std::find(sent.begin(), sent.end(), "button 4");
        return b != sent.end() && std::find(b, sent.end(), "digitalenable") != sent.end();
    })) << sim->diagnostics();
    const auto sent = sentSince(m);
    const auto b = std::find(sent.begin(), sent.end(), "button 4");
    // The forced status read follows at once (a level reading may come first).
    std::vector<std::string> next(b + 1, sent.end());
    next.erase(std::remove(next.begin(), next.end(), "vu"), next.end());
    ASSERT_GE(next.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(next.begin(), next.begin() + 3),
              (std::vector<std::string>{"button", "pin", "digitalenable"}));
    EXPECT_EQ(sim->dump().button, 4);
    EXPECT_TRUE(sink->eventsOf(xel::DISPID_InputChange).empty()) << describe(sink->events());
}

TEST_F(CoreTest, ClientPinIsSentThenAnnounced) {
    const size_t m = startQueried();
    ASSERT_EQ(format->put_Pin(5), S_OK);
    ASSERT_TRUE(sink->waitForCount(xel::DISPID_AutomationChange, 1)) << describe(sink->events());
    EXPECT_EQ(sink->eventsOf(xel::DISPID_AutomationChange)[0].args, std::vector<LONG>{5});
    EXPECT_NE(sink->events()[0].thread, std::this_thread::get_id()) << "events come on the monitor thread";
    EXPECT_TRUE(contains(sentSince(m), "pin 5"));
    EXPECT_EQ(sim->dump().pin, 5);
}

TEST_F(CoreTest, ClientMuteAndFilmReachTheUnit) {
    startSim();
    connectAndQuery();
    const size_t m = mark();
    ASSERT_EQ(xel->put_Mute(VARIANT_TRUE), S_OK);
    ASSERT_EQ(format->put_Film(VARIANT_TRUE), S_OK);
    ASSERT_EQ(waitSettled(), xel::SettleAllAnswered);
    const auto sent = sentSince(m);
    EXPECT_TRUE(contains(sent, "mute 0")) << "muted: the unit's audio off";
    EXPECT_TRUE(contains(sent, "digitalenable 0")) << "film: digital off";
    const auto d = sim->dump();
    EXPECT_TRUE(d.muted);
    EXPECT_TRUE(d.film);
    EXPECT_TRUE(sink->eventsOf(xel::DISPID_ModeChange).empty()) << "the client's own change is not an event";
    EXPECT_TRUE(sink->eventsOf(xel::DISPID_MuteChange).empty());
}

TEST_F(CoreTest, UnitChangesComeBackAsEvents) {
    startQueried();
    ASSERT_EQ(sim->panel("button 6"), "ok");
    ASSERT_EQ(sim->panel("pin 9"), "ok");
    ASSERT_EQ(sim->panel("film on"), "ok");
    ASSERT_EQ(sim->panel("mute on"), "ok");
    ASSERT_TRUE(sink->waitForCount(xel::DISPID_ModeChange, 1)) << describe(sink->events());
    EXPECT_EQ(sink->eventsOf(xel::DISPID_InputChange), (std::vector<CoreEvent>{{xel::DISPID_InputChange, {5}}}));
    EXPECT_EQ(sink->eventsOf(xel::DISPID_AutomationChange),
              (std::vector<CoreEvent>{{xel::DISPID_AutomationChange, {9}}}));
    EXPECT_EQ(sink->eventsOf(xel::DISPID_ModeChange)[0].args, std::vector<LONG>{0}) << "film";
    LONG current = -1, pin = -1;
    VARIANT_BOOL film = VARIANT_FALSE;
    format->get_CurrentFormat(&current);
    format->get_Pin(&pin);
    format->get_Film(&film);
    EXPECT_EQ(current, 5);
    EXPECT_EQ(pin, 9);
    EXPECT_EQ(film, VARIANT_TRUE);

    ASSERT_EQ(sim->panel("film off"), "ok");
    ASSERT_TRUE(sink->waitForCount(xel::DISPID_ModeChange, 2)) << describe(sink->events());
    EXPECT_EQ(sink->eventsOf(xel::DISPID_ModeChange)[1].args, std::vector<LONG>{1}) << "digital";
    EXPECT_TRUE(sink->eventsOf(xel::DISPID_MuteChange).empty()) << "the unit's mute is never reported";
    EXPECT_EQ(waitSettled(), xel::SettleAllAnswered) << "nothing of the client's was outstanding";
    EXPECT_EQ(sim->dump().button, 6) << "the unit's own choice was not sent back";
}

TEST_F(CoreTest, FormatRecordGoesOutAsOneRunOf24) {
    startSim();
    connectAndQuery();
    const size_t m = mark();
    ASSERT_EQ(format->put_InputTrim(0, 0x2A), S_OK);
    ASSERT_EQ(waitSettled(), xel::SettleAllAnswered);
    const auto writes = writesSince(m);
    ASSERT_EQ(writes.size(), 1u) << sim->diagnostics();
    EXPECT_EQ(writes[0].rfind("wreep 68 ", 0), 0u) << writes[0];
    EXPECT_EQ(std::count(writes[0].begin(), writes[0].end(), ' '), 25) << "address and 24 values: " << writes[0];
    EXPECT_EQ(sim->dump().eeprom[0x68 + 20], 0x2A);
}

TEST_F(CoreTest, PendingRunsAscendingAndTablesInOrder) {
    startSim();
    connectAndQuery();
    const size_t m = mark();
    // Queued format first, then profile, then core, all while the monitor waits.
    onMonitorThread(5, [&] {
        format->put_Count(8);                         // format table, address 3
        profile->put_ScreenNumber(Bstr(u"7").get());  // profile, 0x64-0x67
        xel->put_FilmReturnFormat(4);                 // core, 0x20C
        xel->put_PowerOnMode(0);                      // core, 1 (bit 7)
        xel->put_PowerOnFormat(2);                    // core, 1 again: one entry
        xel->put_AESEBUFallback(1);                   // core, 2: follows 1 at once
    });
    ASSERT_EQ(waitSettled(), xel::SettleAllAnswered);
    EXPECT_EQ(writesSince(m),
              (std::vector<std::string>{"wreep 1 83 2", "wreep 20C 4", "wreep 64 37 0 0 0", "wreep 3 8"}))
        << sim->diagnostics();
    const auto d = sim->dump();
    EXPECT_EQ(d.eeprom[1], 0x83);
    EXPECT_EQ(d.eeprom[2], 2);
    EXPECT_EQ(d.eeprom[0x20C], 4);
    EXPECT_EQ(d.eeprom[0x64], '7');
}

TEST_F(CoreTest, TwoPutsBeforeAFlushMakeOneWriteWithTheSecond) {
    startSim();
    connectAndQuery();
    const size_t m = mark();
    onMonitorThread(6, [&] {
        xel->put_PowerOnMode(1);
        xel->put_PowerOnFormat(1);
        xel->put_PowerOnFormat(2);
    });
    ASSERT_EQ(waitSettled(), xel::SettleAllAnswered);
    EXPECT_EQ(writesSince(m), std::vector<std::string>{"wreep 1 3"}) << "mode 1: bit 7 clear";
    ASSERT_EQ(xel->put_PowerOnMode(0), S_OK);
    ASSERT_EQ(waitSettled(), xel::SettleAllAnswered);
    EXPECT_EQ(writesSince(m).back(), "wreep 1 83");
    EXPECT_EQ(sim->dump().eeprom[1], 0x83);
}

TEST_F(CoreTest, WritesQueuedBeforeTheFirstQueryAreDiscarded) {
    startSim();
    connect();
    ASSERT_EQ(xel->put_PowerOnFormat(5), S_OK);  // queued: the link is up
    ASSERT_EQ(format->put_InputTrim(1, 9), S_OK);
    const size_t m = mark();
    ASSERT_EQ(xel->Query(), S_OK);
    ASSERT_EQ(waitSettled(), xel::SettleSomeFailed) << "the resync discarded them";
    EXPECT_TRUE(writesSince(m).empty()) << sim->diagnostics();
    EXPECT_EQ(waitSettled(), xel::SettleAllAnswered) << "nothing owed any more";
}

TEST_F(CoreTest, PutsWhileDisconnectedQueueNothing) {
    startSim();
    ASSERT_EQ(xel->put_PowerOnFormat(3), S_OK);
    LONG value = -1;
    xel->get_PowerOnFormat(&value);
    EXPECT_EQ(value, 3) << "the field keeps the new value";
    EXPECT_EQ(waitSettled(), xel::SettleSomeFailed) << "not connected: dropped";

    ASSERT_EQ(xel->put_AESEBUFallback(4), S_OK);  // dropped too, reported after the Query
    const size_t m = mark();
    connect();
    ASSERT_EQ(xel->Query(), S_OK);
    EXPECT_EQ(waitSettled(), xel::SettleSomeFailed);
    EXPECT_EQ(waitSettled(), xel::SettleAllAnswered);
    EXPECT_TRUE(writesSince(m).empty());
}

// Changes that can never reach the unit: the client recovers (Connect, Query)
// before it asks, and the Query reloads the unit's old values over the changes,
// so WaitSettled is the only one left to say that they never went out.
class LostChangeTest : public CoreTest {
protected:
    // For each put in turn: `lose` takes the link away, the put is made, `after`
    // runs, the client connects and queries. WaitSettled then reports the change
    // once, nothing of it is sent, and the unit's EEPROM is as it was.
    void expectEachReported(const std::vector<std::function<void()>>& puts, const std::function<void()>& lose,
                            const std::function<void()>& after) {
        const auto before = sim->dump().eeprom;
        for (size_t i = 0; i < puts.size(); ++i) {
            SCOPED_TRACE("put " + std::to_string(i));
            sink->clear();
            lose();
            puts[i]();
            after();
            if (HasFatalFailure()) return;
            const size_t m = mark();
            connect();
            ASSERT_EQ(xel->Query(), S_OK) << sim->diagnostics();
            EXPECT_EQ(waitSettled(), xel::SettleSomeFailed) << "the change never reached the unit";
            EXPECT_EQ(waitSettled(), xel::SettleAllAnswered) << "reported once";
            EXPECT_TRUE(writesSince(m).empty());
            for (const char* sent : {"pin 9", "digitalenable 0", "button 7", "mute 0"})
                EXPECT_FALSE(contains(sentSince(m), sent)) << sent;
        }
        EXPECT_EQ(sim->dump().eeprom, before);
    }
};

// The format and profile objects drop their writes while the link is down just
// as the core does, and a switch stored then can never go out.
TEST_F(LostChangeTest, ModelChangesWhileDisconnectedAreReportedAfterReconnecting) {
    startSim();
    connectAndQuery();
    expectEachReported(
        {
            [&] { ASSERT_EQ(format->put_InputTrim(2, 0x5A), S_OK); },
            [&] { ASSERT_EQ(format->put_FormatName(3, Bstr(u"Dropped").get()), S_OK); },
            [&] { ASSERT_EQ(format->put_ProcessorName(Bstr(u"Lost").get()), S_OK); },
            [&] { ASSERT_EQ(profile->put_TheaterName(Bstr(u"Gone").get()), S_OK); },
            [&] { ASSERT_EQ(format->put_Pin(9), S_OK); },
            [&] { ASSERT_EQ(format->put_Film(VARIANT_TRUE), S_OK); },
            [&] { ASSERT_EQ(format->put_CurrentFormat(6), S_OK); },
            [&] { ASSERT_EQ(xel->put_Mute(VARIANT_TRUE), S_OK); },
        },
        [&] { ASSERT_EQ(comm->Disconnect(), S_OK); }, [] {});
}

// The link dies under a connected core. Whether the change meets the failure
// (its own exchange fails) or comes after it (the monitor idles), a client that
// recovers before it asks still hears that the change was lost.
TEST_F(LostChangeTest, ChangesLostToAFailedLinkAreReportedAfterTheRecovery) {
    startSim();
    connectAndQuery();
    const std::vector<std::function<void()>> puts = {
        [&] { ASSERT_EQ(format->put_Pin(9), S_OK); },
        [&] { ASSERT_EQ(format->put_Film(VARIANT_TRUE), S_OK); },
        [&] { ASSERT_EQ(xel->put_Mute(VARIANT_TRUE), S_OK); },
        [&] { ASSERT_EQ(format->put_InputTrim(2, 0x5A), S_OK); },
    };
    const auto failed = [&] { ASSERT_TRUE(sink->waitForCount(xel::DISPID_CommFail, 1)) << describe(sink->events()); };
    {
        SCOPED_TRACE("the change meets the dead link");
        expectEachReported(
            puts, [&] { ASSERT_EQ(sim->panel("drop"), "ok"); },
            [&] {
                failed();
                ASSERT_EQ(comm->Disconnect(), S_OK);
            });
    }
    {
        SCOPED_TRACE("the change comes while the monitor idles after the failure");
        expectEachReported(
            puts,
            [&] {
                ASSERT_EQ(sim->panel("drop"), "ok");
                failed();
            },
            [&] { ASSERT_EQ(comm->Disconnect(), S_OK); });
    }
    const auto d = sim->dump();
    EXPECT_FALSE(d.muted);
    EXPECT_FALSE(d.film);
}

TEST_F(CoreTest, LinkDropIsSilentAndIdle) {
    startSim();
    connectAndQuery();
    waitForQuiet();
    ASSERT_EQ(comm->Disconnect(), S_OK);
    const size_t m = mark();
    std::this_thread::sleep_for(400ms);
    EXPECT_TRUE(sink->eventsOf(xel::DISPID_CommFail).empty()) << describe(sink->events());
    EXPECT_TRUE(sentSince(m).empty());
    ASSERT_EQ(format->put_Pin(3), S_OK);
    EXPECT_EQ(waitSettled(), xel::SettleSomeFailed);

    // Back: nothing is polled before the next Query, everything after it.
    connect();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sentSince(m), (std::vector<std::string>{"checksum 1", "picver"})) << "only the handshake";
    ASSERT_EQ(xel->Query(), S_OK);
    EXPECT_EQ(waitSettled(), xel::SettleAllAnswered);
    EXPECT_TRUE(sim->waitForLog([&](const auto&) { return contains(sentSince(m), "vu"); }));
}

TEST_F(CoreTest, FailedExchangeRaisesCommFailOnceThenIdles) {
    // A unit that stops prompting right after a connect and a Query: the
    // monitor's first exchange fails.
    const int setupCommands = countSetupCommands();
    ASSERT_GT(setupCommands, 0) << "no set-up commands counted";
    startSim({"--no-prompt-after", std::to_string(setupCommands)});
    sink->clear();
    connect();
    ASSERT_EQ(xel->Query(), S_OK) << sim->diagnostics();
    ASSERT_TRUE(sink->waitForCount(xel::DISPID_CommFail, 1)) << sim->diagnostics();
    EXPECT_EQ(waitSettled(), xel::SettleSomeFailed) << "the monitor is idle after a failure";
    const size_t m = mark();
    std::this_thread::sleep_for(1200ms);  // a level and a status reading would be due by now
    EXPECT_EQ(commFails(), 1u) << describe(sink->events());
    EXPECT_TRUE(sentSince(m).empty()) << "idle until the next Query";
}

// A unit that refuses "wreep" three times: the operator's change did not arrive,
// and a lost change must not pass for success.
TEST_F(CoreTest, RefusedWreepIsALostChangeThatNeverPassesForSuccess) {
    ScriptedUnit unit;
    unit.setReply("wreep", "?\r\n>");
    connectAndQuery(unit.address());
    ASSERT_EQ(xel->put_PowerOnFormat(2), S_OK);
    EXPECT_EQ(waitSettled(), xel::SettleSomeFailed) << "a refused wreep passed for success";
    EXPECT_TRUE(sink->waitForCount(xel::DISPID_CommFail, 1)) << "a refused wreep passed for success\n"
                                                             << describe(sink->events());
    EXPECT_EQ(unit.commandCount("wreep 1 3"), 3) << "format 2 + 1 with the unit's mode 1, three attempts";
}

TEST_F(CoreTest, OutOfRangeOrEmptyStatusRepliesChangeNothing) {
    ScriptedUnit unit;
    connectAndQuery(unit.address());
    sink->clear();
    struct Replies {
        const char* button;
        const char* pin;
    };
    const Replies rows[] = {
        {"9\r\n>", "11\r\n>"},  // beyond eight buttons and sixteen pins (17)
        {"\r\n>", "0\r\n>"},
        // The most negative LONG: a signed overflow on the way from the unit's
        // button number to ours aborts the UBSan build.
        {"80000000\r\n>", "80000000\r\n>"},
    };
    for (const Replies& r : rows) {
        SCOPED_TRACE(std::string(r.button) + " / " + r.pin);
        unit.setReply("button", r.button);
        unit.setReply("pin", r.pin);
        ASSERT_TRUE(unit.waitForCommandCount("digitalenable", unit.commandCount("digitalenable") + 2));
        LONG current = -1, pin = -1;
        format->get_CurrentFormat(&current);
        format->get_Pin(&pin);
        EXPECT_EQ(current, 0);
        EXPECT_EQ(pin, 1);
    }
    EXPECT_TRUE(sink->events().empty()) << describe(sink->events());
    EXPECT_EQ(unit.commandCount("button 1"), 0) << "nothing was sent back to the unit";
}

// A CurrentFormat of 2147483647 goes to the unit as button 80000000 (the unit
// refuses it, which is the unit's business), and a unit that answers 80000000
// for the AES/EBU fallback byte reads as 0x7FFFFFFF: both steps between the
// unit's numbering and ours wrap instead of overflowing.
TEST_F(CoreTest, ExtremeNumbersFromClientsAndUnitsWrapWithoutSignedOverflow) {
    ScriptedUnit unit;
    connectAndQuery(unit.address());
    ASSERT_EQ(format->put_CurrentFormat(2147483647), S_OK);
    EXPECT_TRUE(unit.waitForCommandCount("button 80000000", 1)) << "signed overflow on a CurrentFormat put";
    // The status read that follows starts from the sent value, 2147483647 + 1 on
    // the unit's side; the unit answers button 1.
    EXPECT_TRUE(sink->waitFor([](const auto& events) {
        return std::find(events.begin(), events.end(), CoreEvent(xel::DISPID_InputChange, {0})) != events.end();
    })) << describe(sink->events());
    EXPECT_EQ(waitSettled(), xel::SettleAllAnswered);

    unit.setReply("rdeep 0 2", "80000000\r\n>");
    ASSERT_EQ(xel->Query(), S_OK);
    LONG fallback = 0;
    ASSERT_EQ(xel->get_AESEBUFallback(&fallback), S_OK);
    EXPECT_EQ(fallback, 0x7FFFFFFF) << "a unit answering 80000000 for the fallback byte";
}

// A change the client stores while the status read's first exchange runs is
// the client's, not a value the read may replace with the unit's old one: it
// goes out on the next pass, and no event reports the unit's old state.
TEST_F(CoreTest, ChangesStoredDuringTheStatusReadGoOutAfterIt) {
    ScriptedUnit unit;
    connectAndQuery(unit.address());
    sink->clear();
    unit.setReply("button", "1\r\n>", 150);  // holds the read in its "button" exchange
    ASSERT_TRUE(unit.waitForCommandCount("button", unit.commandCount("button") + 1));
    ASSERT_EQ(format->put_Pin(5), S_OK);
    ASSERT_EQ(format->put_Film(VARIANT_TRUE), S_OK);
    EXPECT_TRUE(unit.waitForCommandCount("pin 5", 1)) << "the pin change was lost";
    EXPECT_TRUE(unit.waitForCommandCount("digitalenable 0", 1)) << "the film change was lost";
    LONG pin = 0;
    VARIANT_BOOL film = VARIANT_FALSE;
    format->get_Pin(&pin);
    format->get_Film(&film);
    EXPECT_EQ(pin, 5);
    EXPECT_EQ(film, VARIANT_TRUE);
    EXPECT_TRUE(sink->eventsOf(xel::DISPID_ModeChange).empty()) << describe(sink->events());
    for (const CoreEvent& e : sink->eventsOf(xel::DISPID_AutomationChange))
        EXPECT_EQ(e.args, std::vector<LONG>{5}) << describe(sink->events());
}

// The status race: the unit's own switch change and a client's put meet in one
// status read, the put landing while xelsim holds back its reply to the read's
// exchange for that switch. The client's change is the later one and must reach
// the unit; lost, WaitSettled would take it as superseded by the unit's value and
// answer 0 although it never went out.
TEST_F(CoreTest, StatusReadNeverLosesAClientSwitchChange) {
    startSim({"--delay-ms", "150"});
    connectAndQuery();
    struct Row {
        const char* query;  // the status read's exchange the put lands in
        const char* panel;  // the unit's own change before it
        std::function<HRESULT()> put;
        int XelsimDump::*unitField;
        int want;
    };
    const Row rows[] = {
        {"button", "button 3", [&] { return format->put_CurrentFormat(5); }, &XelsimDump::button, 6},
        {"pin", "pin 7", [&] { return format->put_Pin(9); }, &XelsimDump::pin, 9},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.query);
        ASSERT_EQ(sim->panel(r.panel), "ok");
        const size_t m = mark();
        ASSERT_TRUE(sim->waitForLog([&](const auto&) { return contains(sentSince(m), r.query); }))
            << sim->diagnostics();
        ASSERT_EQ(r.put(), S_OK);
        EXPECT_EQ(waitSettled(), xel::SettleAllAnswered) << sim->diagnostics();
        EXPECT_EQ(sim->dump().*r.unitField, r.want) << "the status read lost a client's switch change\n"
                                                    << sim->diagnostics();
    }
}

TEST_F(CoreTest, LevelsLandInTheMeters) {
    startSim();
    ASSERT_EQ(sim->panel("vu 1 2 3 4 5 6 7 4095"), "ok");
    connectAndQuery();
    const size_t m = mark();
    ASSERT_TRUE(sim->waitForLog([&](const auto&) { return contains(sentSince(m), "vu"); }));
    ASSERT_EQ(waitSettled(), xel::SettleAllAnswered);  // a pass has ended since
    LONG l[8] = {};
    ASSERT_EQ(vu->ReadLevels(&l[0], &l[1], &l[2], &l[3], &l[4], &l[5], &l[6], &l[7]), S_OK);
    EXPECT_EQ(std::vector<LONG>(l, l + 8), (std::vector<LONG>{1, 2, 3, 4, 5, 6, 7, 4095}));
}

}  // namespace
