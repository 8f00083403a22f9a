// The format object: its default definition, what its puts store and queue,
// late-bound use by name, and Query against a real unit and a scripted one.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "core/model/CFormat.h"
#include "tests/connection/ScriptedPeer.h"
#include "tests/model/ModelSupport.h"
#include "tests/support/XelsimProcess.h"

namespace {

using namespace modeltest;
using xel::core::CFormat;
using xel::core::FormatRecord;

FormatRecord recordOf(CFormat* f, int i) {
    FormatRecord r;
    EXPECT_EQ(f->GetFormatRecord(i, r.bytes), S_OK);
    return r;
}
std::u16string nameOf(CFormat* f, int i) {
    BSTR b = nullptr;
    EXPECT_EQ(f->get_FormatName(i, &b), S_OK);
    return take(b);
}
std::u16string processorName(CFormat* f) {
    BSTR b = nullptr;
    EXPECT_EQ(f->get_ProcessorName(&b), S_OK);
    return take(b);
}
LONG value(HRESULT (CFormat::*get)(LONG*) noexcept, CFormat* f) {
    LONG v = -12345;
    EXPECT_EQ((f->*get)(&v), S_OK);
    return v;
}

TEST(FormatObject, StartsWithTheDefaultDefinitionAndQueuesNothing) {
    auto f = make<CFormat>();
    EXPECT_EQ(processorName(f.get()), u"Default");
    BSTR guid = nullptr;
    ASSERT_EQ(f->get_ProcessorGUID(&guid), S_OK);
    EXPECT_EQ(take(guid), u"5B1E7C3A-42D9-4f0e-A6C2-9D83E1F04A27");
    EXPECT_EQ(value(&CFormat::get_Count, f.get()), 8);
    EXPECT_EQ(value(&CFormat::get_CurrentFormat, f.get()), 0);
    EXPECT_EQ(value(&CFormat::get_Pin, f.get()), 1);
    EXPECT_EQ(value(&CFormat::get_ModePin, f.get()), 1);
    VARIANT_BOOL film = VARIANT_TRUE;
    EXPECT_EQ(f->get_Film(&film), S_OK);
    EXPECT_EQ(film, VARIANT_FALSE);

    const char16_t* names[] = {u"Analog 2ch", u"Analog 6ch", u"Digital 8ch", u"Toslink",
                               u"S/PDIF 1",   u"S/PDIF 2",   u"",            u""};
    const uint16_t flags[] = {0x1103, 0x2105, 0x3109, 0x4111, 0x5121, 0x6141, 0, 0};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(nameOf(f.get(), i), padded(names[i], 17)) << "record " << i;
        const FormatRecord r = recordOf(f.get(), i);
        EXPECT_EQ(r.flags(), flags[i]) << "record " << i;
        for (int b = 16; b < 22; ++b) EXPECT_EQ(r.bytes[b], 0) << "record " << i << " byte " << b;
    }
    EXPECT_TRUE(f->pending().entries().empty());
}

TEST(FormatObject, PutsKeepTheLowBitsAndWholeTexts) {
    auto f = make<CFormat>();  // no connection in the slot: nothing may be queued
    ASSERT_EQ(f->put_InputTrim(1, 300), S_OK);
    ASSERT_EQ(f->put_OutputTrim(1, -1), S_OK);
    ASSERT_EQ(f->put_InputDelay(1, 70000), S_OK);
    ASSERT_EQ(f->put_SurroundDelay(1, 0x1FFFF), S_OK);
    LONG t[4] = {};
    ASSERT_EQ(f->GetTrimsAndDelays(1, &t[0], &t[1], &t[2], &t[3]), S_OK);
    EXPECT_EQ(std::vector<LONG>(t, t + 4), (std::vector<LONG>{44, 255, 4464, 0xFFFF}));

    ASSERT_EQ(f->put_ProcessorName(Bstr(u"Booth 2").get()), S_OK);
    EXPECT_EQ(processorName(f.get()), padded(u"Booth 2", 32));
    const std::u16string forty(40, u'x');
    ASSERT_EQ(f->put_ProcessorName(Bstr(forty).get()), S_OK);
    EXPECT_EQ(processorName(f.get()), forty.substr(0, 32));

    ASSERT_EQ(f->put_Count(5), S_OK);
    EXPECT_EQ(value(&CFormat::get_Count, f.get()), 8);

    // Only the automation "true" (all bits set) switches film on.
    ASSERT_EQ(f->put_Film(VARIANT_TRUE), S_OK);
    EXPECT_EQ(f->film(), 1);
    ASSERT_EQ(f->put_Film(static_cast<VARIANT_BOOL>(1)), S_OK);
    EXPECT_EQ(f->film(), 0);
    EXPECT_TRUE(f->pending().entries().empty()) << "not connected: puts queue nothing";
}

TEST(FormatObject, RenameClearsTheWholeRecordAndModePinSpansSevenRecords) {
    auto f = make<CFormat>();
    ASSERT_EQ(f->put_InputTrim(2, 7), S_OK);
    ASSERT_EQ(f->put_FormatName(2, Bstr(u"A name longer than sixteen").get()), S_OK);
    const FormatRecord r2 = recordOf(f.get(), 2);
    EXPECT_EQ(r2.name(), "A name longer th");
    EXPECT_EQ(r2.inputTrim(), 0);
    EXPECT_EQ(r2.flags(), 0) << "a rename clears the flag word too";

    const FormatRecord before7 = recordOf(f.get(), 7);
    ASSERT_EQ(f->put_ModePin(0x13), S_OK);
    EXPECT_EQ(value(&CFormat::get_ModePin, f.get()), 0x13);
    EXPECT_EQ(recordOf(f.get(), 0).flags(), 0x1303) << "other flag bits kept";
    for (int i = 0; i < 7; ++i) EXPECT_EQ(recordOf(f.get(), i).modePin(), 3) << "record " << i;
    EXPECT_EQ(std::memcmp(recordOf(f.get(), 7).bytes, before7.bytes, 24), 0);
}

// A format index outside 0-7 is refused and nothing is read or written.
TEST(FormatObject, RefusesBadIndexesAndNullPointers) {
    auto f = make<CFormat>();
    FormatRecord all[8];
    for (int i = 0; i < 8; ++i) all[i] = recordOf(f.get(), i);
    LONG v = 0;
    BSTR b = nullptr;
    for (LONG bad : {-1L, 8L, 0x10000L}) {
        EXPECT_EQ(f->put_InputTrim(bad, 1), E_INVALIDARG);
        EXPECT_EQ(f->put_SurroundDelay(bad, 1), E_INVALIDARG);
        EXPECT_EQ(f->put_FormatName(bad, Bstr(u"x").get()), E_INVALIDARG);
        EXPECT_EQ(f->get_OutputTrim(bad, &v), E_INVALIDARG);
        EXPECT_EQ(f->get_FormatName(bad, &b), E_INVALIDARG);
        EXPECT_EQ(f->GetTrimsAndDelays(bad, &v, &v, &v, &v), E_INVALIDARG);
        EXPECT_EQ(f->SetFormatRecord(static_cast<int>(bad), all[0].bytes), E_INVALIDARG);
    }
    for (int i = 0; i < 8; ++i) EXPECT_EQ(std::memcmp(recordOf(f.get(), i).bytes, all[i].bytes, 24), 0);

    EXPECT_EQ(f->put_ProcessorName(nullptr), E_POINTER);
    EXPECT_EQ(f->put_ProcessorGUID(nullptr), E_POINTER);
    EXPECT_EQ(f->get_ProcessorGUID(nullptr), E_POINTER);
    EXPECT_EQ(f->get_InputDelay(0, nullptr), E_POINTER);
    EXPECT_EQ(f->GetTrimsAndDelays(0, &v, nullptr, &v, &v), E_POINTER);
    EXPECT_EQ(processorName(f.get()), u"Default");
}

TEST(FormatObject, LateBoundByNameAccessorFormAndParameterName) {
    auto f = make<CFormat>();
    IDispatch* d = static_cast<xel::IFormat*>(f.get());
    Variant r;
    ASSERT_EQ(call(d, u"formatname", DISPATCH_PROPERTYGET, {Variant(LONG(2))}, r.put()), S_OK);
    ASSERT_EQ(r.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(r.bstrVal, SysStringLen(r.bstrVal)), padded(u"Digital 8ch", 17));

    ASSERT_EQ(call(d, u"PUT_INPUTTRIM", DISPATCH_PROPERTYPUT, {Variant(LONG(3)), Variant(std::u16string_view(u"300"))}), S_OK);
    ASSERT_EQ(call(d, u"Film", DISPATCH_PROPERTYPUT, {Variant(LONG(1))}), S_OK);
    EXPECT_EQ(f->film(), 1) << "a late-bound non-zero number becomes automation true";

    LONG t[4] = {-1, -1, -1, -1};
    std::vector<Variant> outs;
    for (LONG& x : t) {
        Variant v;
        v.vt = VT_I4 | VT_BYREF;
        v.plVal = &x;
        outs.push_back(v);
    }
    std::vector<Variant> args{Variant(LONG(3))};
    args.insert(args.end(), outs.begin(), outs.end());
    ASSERT_EQ(call(d, u"GetTrimsAndDelays", DISPATCH_METHOD, args), S_OK);
    EXPECT_EQ(t[0], 44);
    EXPECT_EQ(t[2], 0);

    LPOLESTR names[] = {const_cast<LPOLESTR>(u"get_InputDelay"), const_cast<LPOLESTR>(u"FORMAT")};
    DISPID ids[2] = {};
    ASSERT_EQ(d->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids), S_OK);
    EXPECT_EQ(ids[0], 6);
    EXPECT_EQ(ids[1], 0);
    EXPECT_EQ(call(d, u"InputTrim", DISPATCH_PROPERTYGET, {Variant(LONG(9))}, r.put()), E_INVALIDARG);
    EXPECT_EQ(call(d, u"Count", DISPATCH_PROPERTYGET, {Variant(LONG(9))}, r.put()), DISP_E_BADPARAMCOUNT);
}

TEST(FormatObject, AnswersItsPrivateIdWithItself) {
    auto f = make<CFormat>();
    CFormat* concrete = xel::core::concreteOf<CFormat>(static_cast<xel::IFormat*>(f.get()));
    EXPECT_EQ(concrete, static_cast<CFormat*>(f.get()));
    xel::core::releaseConcrete(concrete);
}

// ---- against xelsim ----------------------------------------------------------------

class FormatOnUnit : public ::testing::Test {
protected:
    xeltest::XelsimProcess sim;
    SharedLink link{sim.address()};
    ComPtr<Object<CFormat>> f = make<CFormat>();

    void SetUp() override { ASSERT_TRUE(link.connected()) << sim.diagnostics(); }
    std::vector<std::string> commandsAfterHandshake() const {
        auto all = sim.receivedTexts();
        return std::vector<std::string>(all.begin() + std::min<size_t>(2, all.size()), all.end());
    }
};

TEST_F(FormatOnUnit, PutsQueueTheirBytesTheLatestValueWinning) {
    ASSERT_EQ(f->put_Count(5), S_OK);
    EXPECT_EQ(queued(f->pending(), 0x003, 1), std::vector<int>{8});

    ASSERT_EQ(f->put_ProcessorName(Bstr(u"Old").get()), S_OK);
    ASSERT_EQ(f->put_ProcessorName(Bstr(u"Salle é €").get()), S_OK);
    EXPECT_EQ(queued(f->pending(), 0x004, 32), bytesOf("Salle \xE9 \x80", 32));

    ASSERT_EQ(f->put_InputTrim(2, 9), S_OK);
    ASSERT_EQ(f->put_FormatName(2, Bstr(u"Dolby Ω").get()), S_OK);
    EXPECT_EQ(queued(f->pending(), 0x098, 24), bytesOf("Dolby ?", 24)) << "all 24 bytes, trims cleared";

    ASSERT_EQ(f->put_ModePin(0x13), S_OK);
    const auto rec0 = queued(f->pending(), 0x068, 24);
    EXPECT_EQ(rec0[23], 0x13) << "mode pin 3 beside input number 1";
    EXPECT_EQ(queued(f->pending(), 0x110, 24), std::vector<int>(24, -1)) << "record 7 untouched";
    EXPECT_EQ(sim.receivedTexts().size(), 2u) << "puts send nothing themselves";
}

TEST_F(FormatOnUnit, QueryReadsTheDefinitionInOrderAndSkipsRecordSeven) {
    sim.panel("poke 4 55 6E 69 74 E9 80 0");      // processor name "Unité€"
    sim.panel("poke 7F 25");                       // record 0's flags high byte: mode pin 5
    sim.panel("poke 110 52 37");                   // record 7 named "R7" on the unit
    sim.panel("button 4");
    sim.panel("pin 9");
    sim.panel("film on");
    ASSERT_EQ(f->put_ModePin(0x13), S_OK);         // not written: no monitor runs here
    f->pending().discardAll();

    ASSERT_EQ(f->Query(), S_OK) << sim.diagnostics();
    std::vector<std::string> want{"rdeep 1F 4", "button", "pin", "digitalenable", "rdeep 23 1E8"};
    for (const char* a : {"68", "80", "98", "B0", "C8", "E0", "F8"}) want.push_back(std::string("rdeep 17 ") + a);
    EXPECT_EQ(commandsAfterHandshake(), want);

    EXPECT_EQ(processorName(f.get()), padded(u"Unité€", 32));
    EXPECT_EQ(value(&CFormat::get_CurrentFormat, f.get()), 3);
    EXPECT_EQ(value(&CFormat::get_Pin, f.get()), 9);
    EXPECT_EQ(f->film(), 1);
    EXPECT_EQ(value(&CFormat::get_ModePin, f.get()), 5) << "read back from record 0";
    EXPECT_EQ(nameOf(f.get(), 7), padded(u"", 17)) << "record 7 is never read";
    EXPECT_EQ(pendingCount(f->pending()), 0) << "a query queues nothing";
}

TEST_F(FormatOnUnit, WhatIsQueuedReachesTheUnitAndComesBack) {
    ASSERT_EQ(f->put_ProcessorName(Bstr(u"Ciné €").get()), S_OK);
    ASSERT_EQ(f->put_FormatName(5, Bstr(u"Ünïcode").get()), S_OK);
    ASSERT_EQ(f->put_InputDelay(5, 0x1234), S_OK);
    ASSERT_EQ(f->put_ModePin(0x13), S_OK);
    flush(f->pending());
    auto g = make<CFormat>();
    ASSERT_EQ(g->Query(), S_OK) << sim.diagnostics();
    EXPECT_EQ(processorName(g.get()), padded(u"Ciné €", 32));
    EXPECT_EQ(nameOf(g.get(), 5), padded(u"Ünïcode", 17));
    EXPECT_EQ(recordOf(g.get(), 5).inputDelay(), 0x1234);
    EXPECT_EQ(value(&CFormat::get_ModePin, g.get()), 3);
    EXPECT_EQ(sim.dump().eeprom[0x068 + 23], 0x13);
}

// The unit drops the link after the name, the status and the GUID and record 0:
// what was read stays, the rest keeps its old values.
TEST(FormatQueryFailure, KeepsWhatWasReadBeforeTheFailure) {
    xeltest::XelsimProcess sim({"--drop-after", "8"});
    sim.panel("poke 68 4E 65 77 0"); // record 0 "New"
    sim.panel("poke 80 4E 65 77 0"); // record 1 "New" too, but never reached
    sim.panel("button 6");
    SharedLink link(sim.address());
    ASSERT_TRUE(link.connected()) << sim.diagnostics();
    auto f = make<CFormat>();
    EXPECT_EQ(f->Query(), 1);
    EXPECT_EQ(nameOf(f.get(), 0), padded(u"New", 17));
    EXPECT_EQ(nameOf(f.get(), 1), padded(u"Analog 6ch", 17));
    EXPECT_EQ(f->currentFormat(), 5);
}

// Replies xelsim never gives: a button out of range or missing, refused requests.
TEST(FormatQueryReplies, ButtonPinAndDigitalEnableRules) {
    struct Case {
        std::string button, pin, digital;
        HRESULT status;
        int currentFormat, pin_, film;
    } cases[] = {
        {"3", "7", "1", S_OK, 2, 7, 0},
        {"0", "7", "0", S_OK, 4, 7, 1},  // button 0 keeps the format
        {"9", "", "1", S_OK, 4, 1, 0},   // 9 keeps it too; a pin reply without a value keeps the pin
        {"", "?", "?", S_OK, 4, 1, 1},   // refused pin keeps it; refused digitalenable means film
        {"?", "7", "1", 1, 4, 1, 0},     // a refused button ends the query
    };
    for (const Case& c : cases) {
        xeltest::ScriptedPeer peer([&](const std::string& cmd) -> std::vector<xeltest::Piece> {
            std::string v;
            if (cmd == "button") v = c.button;
            if (cmd == "pin") v = c.pin;
            if (cmd == "digitalenable") v = c.digital;
            if (cmd.rfind("rdeep", 0) == 0) v = "41";
            return {{v + "\r\n>", 0}};
        });
        SharedLink link(peer.address());
        ASSERT_TRUE(link.connected());
        auto f = make<CFormat>();
        f->setCurrentFormat(4);
        EXPECT_EQ(f->Query(), c.status) << "button " << c.button;
        EXPECT_EQ(f->currentFormat(), c.currentFormat) << "button " << c.button;
        EXPECT_EQ(f->pin(), c.pin_) << "pin " << c.pin;
        if (c.status == S_OK) {
            EXPECT_EQ(f->film(), c.film) << "digitalenable " << c.digital;
        }
    }
}

}  // namespace
