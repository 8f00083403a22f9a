// The format object: its default definition, what its puts store and queue,
// late-bound use by name, and Query against xelsim and a scripted unit.
#include <gtest/gtest.h>

#include <cstring>

#include "core/model/CFormat.h"
#include "tests/core/connection/ScriptedPeer.h"
#include "tests/core/model/ModelSupport.h"
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

TEST(FormatObject, StartsWithTheDefaultDefinitionAndQueuesNothing) {
    auto f = make<CFormat>();
    EXPECT_EQ(processorName(f.get()), u"Default");
    LONG count = 0, mode = 0;
    f->get_Count(&count), f->get_ModePin(&mode);
    EXPECT_EQ(count, 8);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(f->pin(), 1);
    EXPECT_EQ(f->film(), 0);
    const char16_t* names[] = {
        u"Analog 2ch", u"Analog 6ch", u"Digital 8ch", u"Toslink", u"S/PDIF 1", u"S/PDIF 2", u"", u""};
    const uint16_t flags[] = {0x1103, 0x2105, 0x3109, 0x4111, 0x5121, 0x6141, 0, 0};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(nameOf(f.get(), i), padded(names[i], 17)) << "record " << i;
        EXPECT_EQ(recordOf(f.get(), i).flags(), flags[i]) << "record " << i;
    }
    EXPECT_TRUE(f->pending().entries().empty());
}

// No connection in the slot: puts change the object and queue nothing.
TEST(FormatObject, PutsStoreTheirLowBitsRenamesClearAndModePinSpansSevenRecords) {
    auto f = make<CFormat>();
    f->put_InputTrim(1, 300), f->put_OutputTrim(1, -1), f->put_InputDelay(1, 70000);
    LONG t[4] = {};
    ASSERT_EQ(f->GetTrimsAndDelays(1, &t[0], &t[1], &t[2], &t[3]), S_OK);
    EXPECT_EQ(std::vector<LONG>(t, t + 4), (std::vector<LONG>{44, 255, 4464, 0}));

    ASSERT_EQ(f->put_ProcessorName(Bstr(std::u16string(40, u'x')).get()), S_OK);
    EXPECT_EQ(processorName(f.get()), std::u16string(32, u'x'));
    ASSERT_EQ(f->put_ProcessorName(Bstr(u"Booth").get()), S_OK);
    EXPECT_EQ(processorName(f.get()), padded(u"Booth", 32));

    ASSERT_EQ(f->put_FormatName(1, Bstr(u"A name longer than sixteen").get()), S_OK);
    EXPECT_EQ(recordOf(f.get(), 1).name(), "A name longer th");
    EXPECT_EQ(recordOf(f.get(), 1).inputTrim(), 0) << "a rename clears trims, delays and flags";
    EXPECT_EQ(recordOf(f.get(), 1).flags(), 0);

    const FormatRecord before7 = recordOf(f.get(), 7);
    ASSERT_EQ(f->put_ModePin(0x13), S_OK);
    EXPECT_EQ(recordOf(f.get(), 0).flags(), 0x1303) << "only bits 8-11 change";
    for (int i = 2; i < 7; ++i) EXPECT_EQ(recordOf(f.get(), i).modePin(), 3) << "record " << i;
    EXPECT_EQ(std::memcmp(recordOf(f.get(), 7).bytes, before7.bytes, 24), 0);

    f->put_Film(VARIANT_TRUE);
    EXPECT_EQ(f->film(), 1);
    f->put_Film(static_cast<VARIANT_BOOL>(1));
    EXPECT_EQ(f->film(), 0) << "only all bits set is true";
    EXPECT_TRUE(f->pending().entries().empty());
}

// A format index outside 0-7 is refused and nothing is read or written.
TEST(FormatObject, RefusesBadIndexesAndNullPointers) {
    auto f = make<CFormat>();
    const FormatRecord before = recordOf(f.get(), 0);
    LONG v = 0;
    BSTR b = nullptr;
    for (LONG bad : {-1L, 8L, 0x10000L}) {
        EXPECT_EQ(f->put_InputTrim(bad, 1), E_INVALIDARG);
        EXPECT_EQ(f->put_FormatName(bad, Bstr(u"x").get()), E_INVALIDARG);
        EXPECT_EQ(f->get_FormatName(bad, &b), E_INVALIDARG);
        EXPECT_EQ(f->GetTrimsAndDelays(bad, &v, &v, &v, &v), E_INVALIDARG);
        EXPECT_EQ(f->SetFormatRecord(static_cast<int>(bad), before.bytes), E_INVALIDARG);
    }
    EXPECT_EQ(std::memcmp(recordOf(f.get(), 0).bytes, before.bytes, 24), 0);
    EXPECT_EQ(f->put_ProcessorName(nullptr), E_POINTER);
    EXPECT_EQ(f->put_ProcessorGUID(nullptr), E_POINTER);
    EXPECT_EQ(f->get_InputDelay(0, nullptr), E_POINTER);
    EXPECT_EQ(f->GetTrimsAndDelays(0, &v, nullptr, &v, &v), E_POINTER);
}

TEST(FormatObject, LateBoundByNameAccessorFormAndParameterName) {
    auto f = make<CFormat>();
    IDispatch* d = static_cast<xel::IFormat*>(f.get());
    Variant r;
    ASSERT_EQ(call(d, u"formatname", DISPATCH_PROPERTYGET, {Variant(LONG(2))}, r.put()), S_OK);
    ASSERT_EQ(r.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(r.bstrVal, SysStringLen(r.bstrVal)), padded(u"Digital 8ch", 17));
    const Variant text(std::u16string_view(u"300"));
    ASSERT_EQ(call(d, u"PUT_INPUTTRIM", DISPATCH_PROPERTYPUT, {Variant(LONG(3)), text}), S_OK);
    ASSERT_EQ(call(d, u"Film", DISPATCH_PROPERTYPUT, {Variant(LONG(1))}), S_OK);
    EXPECT_EQ(f->film(), 1) << "a late-bound non-zero number becomes automation true";
    LONG t[4] = {-1, -1, -1, -1};
    ASSERT_EQ(call(d, u"GetTrimsAndDelays", DISPATCH_METHOD,
                   {Variant(LONG(3)), refTo(t[0]), refTo(t[1]), refTo(t[2]), refTo(t[3])}),
              S_OK);
    EXPECT_EQ(std::vector<LONG>(t, t + 4), (std::vector<LONG>{44, 0, 0, 0}));

    LPOLESTR names[] = {const_cast<LPOLESTR>(u"get_InputDelay"), const_cast<LPOLESTR>(u"FORMAT")};
    DISPID ids[2] = {};
    ASSERT_EQ(d->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids), S_OK);
    EXPECT_EQ(ids[0], 6);
    EXPECT_EQ(ids[1], 0);
    EXPECT_EQ(call(d, u"InputTrim", DISPATCH_PROPERTYGET, {Variant(LONG(9))}, r.put()), E_INVALIDARG);

    CFormat* concrete = xel::core::concreteOf<CFormat>(d);
    EXPECT_EQ(concrete, static_cast<CFormat*>(f.get())) << "the private id answers with the object";
    xel::core::releaseConcrete(concrete);
}

// ---- against xelsim ----------------------------------------------------------------

class FormatOnUnit : public ::testing::Test {
protected:
    xeltest::XelsimProcess sim;
    SharedLink link{sim.address()};
    ComPtr<Object<CFormat>> f = make<CFormat>();
    void SetUp() override { ASSERT_TRUE(link.connected()) << sim.diagnostics(); }
};

TEST_F(FormatOnUnit, QueryReadsTheDefinitionInOrderAndSkipsRecordSeven) {
    sim.panel("poke 4 55 6E 69 74 E9 80 0");  // processor name "Unité€"
    sim.panel("poke 7F 25");                  // record 0, flags high byte: mode pin 5
    sim.panel("poke 110 52 37");              // record 7 named "R7" on the unit
    sim.panel("button 4"), sim.panel("pin 9"), sim.panel("film on");
    f->put_ModePin(0x13);

    ASSERT_EQ(f->Query(), S_OK) << sim.diagnostics();
    std::vector<std::string> want{"checksum 1", "picver",        "rdeep 1F 4",  "button",
                                  "pin",        "digitalenable", "rdeep 23 1E8"};
    for (const char* a : {"68", "80", "98", "B0", "C8", "E0", "F8"}) want.push_back(std::string("rdeep 17 ") + a);
    EXPECT_EQ(sim.receivedTexts(), want);
    EXPECT_EQ(processorName(f.get()), padded(u"Unité€", 32));
    EXPECT_EQ(f->currentFormat(), 3);
    EXPECT_EQ(f->pin(), 9);
    EXPECT_EQ(f->film(), 1);
    LONG mode = 0;
    f->get_ModePin(&mode);
    EXPECT_EQ(mode, 5) << "read back from record 0";
    EXPECT_EQ(nameOf(f.get(), 7), padded(u"", 17)) << "record 7 is never read";
}

// Puts queue their bytes in the unit's code page; written, they come back alike.
TEST_F(FormatOnUnit, WhatIsQueuedReachesTheUnitAndComesBack) {
    ASSERT_EQ(f->put_Count(5), S_OK);
    EXPECT_EQ(queued(f->pending(), 0x003, 1), std::vector<int>{8});
    f->put_ProcessorName(Bstr(u"Old").get());
    f->put_ProcessorName(Bstr(u"Ciné €").get());
    EXPECT_EQ(queued(f->pending(), 0x004, 32), bytesOf("Cin\xE9 \x80", 32)) << "the latest value only";
    f->put_InputTrim(5, 9);
    f->put_FormatName(5, Bstr(u"Ünïcode Ω").get());
    EXPECT_EQ(queued(f->pending(), 0x0E0, 24), bytesOf("\xDCn\xEF"
                                                       "code ?",
                                                       24))
        << "all 24 bytes, trim cleared";
    f->put_InputDelay(5, 0x1234);
    ASSERT_EQ(f->put_ModePin(0x13), S_OK);
    EXPECT_EQ(queued(f->pending(), 0x068, 24)[23], 0x13) << "mode pin 3 beside input number 1";
    EXPECT_EQ(queued(f->pending(), 0x110, 24), std::vector<int>(24, -1)) << "record 7 untouched";
    EXPECT_EQ(sim.receivedTexts().size(), 2u) << "puts send nothing themselves";

    flush(f->pending());
    auto g = make<CFormat>();
    ASSERT_EQ(g->Query(), S_OK) << sim.diagnostics();
    EXPECT_EQ(processorName(g.get()), padded(u"Ciné €", 32));
    EXPECT_EQ(nameOf(g.get(), 5), padded(u"Ünïcode ?", 17));
    EXPECT_EQ(recordOf(g.get(), 5).inputDelay(), 0x1234);
    LONG mode = 0;
    g->get_ModePin(&mode);
    EXPECT_EQ(mode, 3);
}

// The unit drops the link after record 0: what was read stays, the rest is as it was.
TEST(FormatQueryFailure, KeepsWhatWasReadBeforeTheFailure) {
    xeltest::XelsimProcess sim({"--drop-after", "8"});
    sim.panel("poke 68 4E 65 77 0");  // record 0 "New"
    sim.panel("poke 80 4E 65 77 0");  // record 1 "New" too, never reached
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
        {"3", "7", "1", S_OK, 2, 7, 0}, {"0", "7", "0", S_OK, 4, 7, 1},  // button 0 keeps the format
        {"9", "", "1", S_OK, 4, 1, 0},  // so does 9; a pin reply without a value keeps the pin
        {"", "?", "?", S_OK, 4, 1, 1},  // refused pin keeps it; refused digitalenable is film
        {"?", "7", "1", 1, 4, 1, 0},    // a refused button ends the query
    };
    for (const Case& c : cases) {
        xeltest::ScriptedPeer peer([&](const std::string& cmd) -> std::vector<xeltest::Piece> {
            const std::string v = cmd == "button"              ? c.button
                                  : cmd == "pin"               ? c.pin
                                  : cmd == "digitalenable"     ? c.digital
                                  : cmd.rfind("rdeep", 0) == 0 ? "41"
                                                               : "";
            return {{v + "\r\n>", 0}};
        });
        SharedLink link(peer.address());
        ASSERT_TRUE(link.connected());
        auto f = make<CFormat>();
        ASSERT_EQ(f->put_CurrentFormat(4), S_OK);
        EXPECT_EQ(f->Query(), c.status) << "button " << c.button;
        EXPECT_EQ(f->currentFormat(), c.currentFormat) << "button " << c.button;
        EXPECT_EQ(f->pin(), c.pin_) << "pin " << c.pin;
        EXPECT_EQ(f->film(), c.film) << "digitalenable " << c.digital;
    }
}

}  // namespace
