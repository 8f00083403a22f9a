// The core object's own members: Query and what it makes of the unit's bytes,
// SetIP's line, late binding and class information, the one-core rule, the
// monitor's life (Cleanup, a release from inside an event), the firmware entry.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/core/control/CoreFixture.h"
#include "tests/core/control/ScriptedUnit.h"

namespace {

using namespace xeltest;
using namespace std::chrono_literals;
using xel::objrt::Variant;

LONG getLong(HRESULT (xel::IXel::*get)(LONG*) noexcept, xel::IXel* x) {
    LONG v = -12345;
    EXPECT_EQ((x->*get)(&v), S_OK);
    return v;
}

bool muted(xel::IXel* x) {
    VARIANT_BOOL b = VARIANT_FALSE;
    EXPECT_EQ(x->get_Mute(&b), S_OK);
    return b == VARIANT_TRUE;
}

constexpr LONG ipv4(int a, int b, int c, int d) {
    return static_cast<LONG>((static_cast<uint32_t>(a) << 24) | (b << 16) | (c << 8) | d);
}

TEST_F(CoreTest, QueryReadsSettingsFromTheUnitsBytes) {
    startSim();
    ASSERT_EQ(sim->panel("poke 1 85"), "ok");
    ASSERT_EQ(sim->panel("poke 2 3"), "ok");
    ASSERT_EQ(sim->panel("poke 20C 6"), "ok");
    ASSERT_EQ(sim->panel("mute on"), "ok");
    connect();
    const size_t m = mark();
    ASSERT_EQ(xel->Query(), S_OK);
    const auto sent = sentSince(m);
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + 4),
              (std::vector<std::string>{"rdeep 0 1", "rdeep 0 2", "rdeep 0 20C", "mute"}));
    EXPECT_EQ(getLong(&xel::IXel::get_PowerOnFormat, xel.get()), 4);
    EXPECT_EQ(getLong(&xel::IXel::get_PowerOnMode, xel.get()), 0) << "bit 7 set";
    EXPECT_EQ(getLong(&xel::IXel::get_AESEBUFallback, xel.get()), 2);
    EXPECT_EQ(getLong(&xel::IXel::get_FilmReturnFormat, xel.get()), 6);
    EXPECT_TRUE(muted(xel.get())) << "\"mute\" answered 0";
    EXPECT_EQ(waitSettled(), xel::SettleAllAnswered);
    EXPECT_TRUE(sim->dump().muted) << "the unit's own mute state is what goes back to it";

    ASSERT_EQ(sim->panel("poke 1 0"), "ok");
    ASSERT_EQ(sim->panel("mute off"), "ok");
    ASSERT_EQ(xel->Query(), S_OK);
    EXPECT_EQ(getLong(&xel::IXel::get_PowerOnFormat, xel.get()), -1);
    EXPECT_EQ(getLong(&xel::IXel::get_PowerOnMode, xel.get()), 1);
    EXPECT_FALSE(muted(xel.get()));
}

TEST_F(CoreTest, QueryFailingPartWayKeepsWhatItReadAndLeavesTheMonitorIdle) {
    ScriptedUnit unit;
    unit.setReply("rdeep", "85\r\n>");
    unit.setReply("mute", "");  // no answer
    connect(unit.address());
    EXPECT_EQ(xel->Query(), 1);
    EXPECT_EQ(getLong(&xel::IXel::get_PowerOnFormat, xel.get()), 4) << "read before the failure";
    EXPECT_EQ(getLong(&xel::IXel::get_FilmReturnFormat, xel.get()), 0x85);
    EXPECT_EQ(waitSettled(), xel::SettleSomeFailed) << "not queried: nothing can settle";
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(unit.sawCommand("vu")) << "nothing is polled";
    EXPECT_TRUE(sink->events().empty()) << describe(sink->events());
}

TEST_F(CoreTest, SetIPSendsItsLineAndReturnsTheConnectionsStatus) {
    ScriptedUnit unit;
    connect(unit.address());
    EXPECT_EQ(xel->SetIP(ipv4(10, 0, 0, 1), 8, ipv4(10, 0, 0, 254)), S_OK);
    EXPECT_EQ(xel->SetIP(ipv4(192, 168, 1, 50), 24, ipv4(192, 168, 1, 1)), S_OK);
    EXPECT_TRUE(unit.sawCommand("setip A 0 0 1 8 A 0 0 FE 2711")) << "no leading zeros";
    EXPECT_TRUE(unit.sawCommand("setip C0 A8 1 32 18 C0 A8 1 1 2711"));
    unit.setReply("setip", "?\r\n>");
    EXPECT_EQ(xel->SetIP(ipv4(10, 0, 0, 2), 8, ipv4(10, 0, 0, 254)), 1) << "refused";
    comm->Disconnect();
    EXPECT_EQ(xel->SetIP(ipv4(10, 0, 0, 3), 8, ipv4(10, 0, 0, 254)), 1) << "not connected";
}

TEST_F(CoreTest, MutePutStoresOnlyAndTakesAllBitsAsTrue) {
    EXPECT_EQ(xel->put_Mute(VARIANT_TRUE), S_OK);
    EXPECT_TRUE(muted(xel.get()));
    EXPECT_EQ(xel->put_Mute(static_cast<VARIANT_BOOL>(1)), S_OK);
    EXPECT_FALSE(muted(xel.get())) << "only all bits set is true";
    // Late bound, any non-zero number becomes true.
    Variant arg(LONG{5});
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{&arg, &putId, 1, 1};
    EXPECT_EQ(xel->Invoke(9, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_TRUE(muted(xel.get()));
}

TEST_F(CoreTest, LateBoundNamesIdsAndErrors) {
    const std::pair<const char16_t*, DISPID> names[] = {
        {u"Comm", 1},
        {u"profile", 2},
        {u"FORMAT", 3},
        {u"VU", 4},
        {u"PowerOnFormat", 5},
        {u"aesebufallback", 6},
        {u"Load", 7},
        {u"Save", 8},
        {u"get_Mute", 9},
        {u"Query", 10},
        {u"Cleanup", 11},
        {u"SetIP", 12},
        {u"put_PowerOnMode", 13},
        {u"ParseHexFile", 14},
        {u"DownloadToPIC", 15},
        {u"FilmReturnFormat", 16},
    };
    for (const auto& [name, id] : names) {
        LPOLESTR n = const_cast<LPOLESTR>(name);
        DISPID got = -7;
        EXPECT_EQ(xel->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &got), S_OK);
        EXPECT_EQ(got, id);
    }
    LPOLESTR setIp[] = {const_cast<LPOLESTR>(u"setip"), const_cast<LPOLESTR>(u"gateway")};
    DISPID ids[2] = {};
    EXPECT_EQ(xel->GetIDsOfNames(IID_NULL, setIp, 2, LOCALE_USER_DEFAULT, ids), S_OK);
    EXPECT_EQ(ids[1], 2) << "parameter names give their positions";

    Variant result;
    UINT argErr = 99;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(xel->Invoke(17, IID_NULL, 0, DISPATCH_METHOD, &none, result.put(), nullptr, &argErr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(xel->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &none, result.put(), nullptr, &argErr),
              DISP_E_MEMBERNOTFOUND);

    Variant two[2] = {Variant(LONG{8}), Variant(LONG{1})};
    DISPPARAMS twoArgs{two, nullptr, 2, 0};
    EXPECT_EQ(xel->Invoke(12, IID_NULL, 0, DISPATCH_METHOD, &twoArgs, result.put(), nullptr, &argErr),
              DISP_E_BADPARAMCOUNT);

    Variant file(std::u16string_view(u"/nonexistent/unit.xel"));
    DISPPARAMS positional{&file, nullptr, 1, 0};
    EXPECT_EQ(xel->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &positional, result.put(), nullptr, &argErr), 110)
        << "the member's own status passes through";

    DISPPARAMS getNone{nullptr, nullptr, 0, 0};
    EXPECT_EQ(xel->Invoke(3, IID_NULL, 0, DISPATCH_PROPERTYGET, &getNone, result.put(), nullptr, &argErr), S_OK);
    EXPECT_EQ(result.vt, VT_DISPATCH) << "sub-objects come out as dispatch references";
}

TEST_F(CoreTest, StatusInterfaceClassInfoAndConnectionPoints) {
    LPOLESTR wait = const_cast<LPOLESTR>(u"waitsettled");
    LPOLESTR progress = const_cast<LPOLESTR>(u"DownloadProgress");
    DISPID id = 0;
    EXPECT_EQ(status->GetIDsOfNames(IID_NULL, &wait, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 1);
    EXPECT_EQ(status->GetIDsOfNames(IID_NULL, &progress, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 2);
    LONG p = 0;
    EXPECT_EQ(status->get_DownloadProgress(&p), S_OK);
    EXPECT_EQ(p, -1) << "no download";
    EXPECT_EQ(status->WaitSettled(10, nullptr), E_POINTER);

    ComPtr<IProvideClassInfo2> info;
    ASSERT_EQ(xel->QueryInterface(IID_IProvideClassInfo2, info.putVoid()), S_OK);
    GUID source{};
    EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
    EXPECT_TRUE(source == xel::DIID__IXelEvents);
    ComPtr<ITypeInfo> type;
    ASSERT_EQ(info->GetClassInfo(type.put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(type->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(attr->guid == xel::CLSID_Xel);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    type->ReleaseTypeAttr(attr);

    ComPtr<IConnectionPointContainer> points;
    ASSERT_EQ(xel->QueryInterface(IID_IConnectionPointContainer, points.putVoid()), S_OK);
    for (const IID& iid : {xel::DIID__IXelEvents, IID_IPropertyNotifySink, xel::DIID__IXelStatusEvents}) {
        ComPtr<IConnectionPoint> point;
        EXPECT_EQ(points->FindConnectionPoint(iid, point.put()), S_OK);
    }
    ComPtr<IConnectionPoint> none;
    EXPECT_EQ(points->FindConnectionPoint(xel::IID_IXel, none.put()), CONNECT_E_NOCONNECTION);

    EXPECT_EQ(xel->get_Comm(nullptr), E_POINTER);
    EXPECT_EQ(xel->get_Profile(nullptr), E_POINTER);
    EXPECT_EQ(xel->get_Format(nullptr), E_POINTER);
    EXPECT_EQ(xel->get_VU(nullptr), E_POINTER);
    ComPtr<xel::IComm> again;
    ASSERT_EQ(xel->get_Comm(again.put()), S_OK);
    EXPECT_EQ(again.get(), comm.get()) << "one shared connection";
}

TEST_F(CoreTest, OneCoreObjectPerProcess) {
    ComPtr<xel::IXel> second;
    EXPECT_EQ(createCore(second), E_ACCESSDENIED);
    EXPECT_FALSE(second);
    TearDown();  // every reference to the first one goes
    CoInitialize(nullptr);
    EXPECT_EQ(createCore(second), S_OK);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->Cleanup(), S_OK);
    EXPECT_EQ(second->Cleanup(), S_OK) << "a second Cleanup finds the monitor gone";
    second = nullptr;
}

// Format and profile objects outlive their core when a client holds them: puts
// racing its final release and puts after it have no core left to tell. One
// created on its own by ProgID takes puts without a core just the same.
TEST_F(CoreTest, SubObjectsTakePutsWithoutTheirCore) {
    ComPtr<xel::IFormat> heldFormat = format;
    ComPtr<xel::IProfile> heldProfile = profile;
    std::atomic<int> rounds{0};
    std::atomic<bool> stop{false};
    std::thread client([&] {
        for (LONG i = 0; !stop; ++i, ++rounds) {
            // Not connected: switches and dropped writes go to the core, while there is one.
            EXPECT_EQ(heldFormat->put_Pin(i % 16 + 1), S_OK);
            EXPECT_EQ(heldFormat->put_InputTrim(1, i & 0xFF), S_OK);
            EXPECT_EQ(heldProfile->put_TheaterName(Bstr(u"Held").get()), S_OK);
        }
    });
    while (rounds < 50) std::this_thread::yield();
    releaseCore();
    const int atRelease = rounds;
    while (rounds < atRelease + 50) std::this_thread::yield();
    stop = true;
    client.join();
    EXPECT_EQ(heldFormat->put_Film(VARIANT_TRUE), S_OK);

    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"Xelor.Format", &clsid), S_OK);
    ComPtr<xel::IFormat> alone;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, xel::IID_IFormat, alone.putVoid()), S_OK);
    EXPECT_EQ(alone->put_Pin(7), S_OK);
    EXPECT_EQ(alone->put_FormatName(2, Bstr(u"Alone").get()), S_OK);
    LONG pin = 0;
    EXPECT_EQ(alone->get_Pin(&pin), S_OK);
    EXPECT_EQ(pin, 7);
}

TEST_F(CoreTest, SinksMayUnadviseAndTheCoreMayGoFromInsideAnEvent) {
    startSim();
    connectAndQuery();
    auto quitter = EventSink::make();
    DWORD quitterCookie = 0;
    ASSERT_EQ(xel::objrt::advise(xel.get(), xel::DIID__IXelEvents, quitter.get(), &quitterCookie), S_OK);
    xel::IXel* raw = xel.get();
    quitter->setHandler(
        [&, raw](const CoreEvent&) { xel::objrt::unadvise(raw, xel::DIID__IXelEvents, quitterCookie); });
    ASSERT_EQ(format->put_Pin(4), S_OK);
    ASSERT_TRUE(sink->waitForCount(xel::DISPID_AutomationChange, 1));
    ASSERT_EQ(format->put_Pin(5), S_OK);
    ASSERT_TRUE(sink->waitForCount(xel::DISPID_AutomationChange, 2));
    EXPECT_EQ(quitter->eventsOf(xel::DISPID_AutomationChange).size(), 1u) << "gone after its first event";

    // The last reference goes inside a handler, on the monitor thread.
    std::atomic<bool> released{false};
    sink->setHandler([&](const CoreEvent& e) {
        if (e.id != xel::DISPID_AutomationChange || released) return;
        releaseCore();
        cookie = 0;
        released = true;
    });
    ComPtr<xel::IFormat> f = format;
    ASSERT_EQ(f->put_Pin(6), S_OK);
    ASSERT_TRUE(sink->waitFor([&](const auto&) { return released.load(); }));
    f = nullptr;  // now the core's own reference to its format object is the last
    ComPtr<xel::IXel> next;
    HRESULT hr = E_ACCESSDENIED;
    for (int i = 0; i < 500 && hr == E_ACCESSDENIED; ++i) {
        hr = createCore(next);
        if (hr == E_ACCESSDENIED) std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(hr, S_OK) << "the released core gave up the process's slot";
    next = nullptr;
}

TEST_F(CoreTest, CleanupFromInsideAnEventStopsTheMonitor) {
    startSim();
    connectAndQuery();
    sink->setHandler([&](const CoreEvent&) { xel->Cleanup(); });
    ASSERT_EQ(format->put_Pin(8), S_OK);
    ASSERT_TRUE(sink->waitForCount(xel::DISPID_AutomationChange, 1));
    sink->setHandler(nullptr);
    const size_t m = mark();
    std::this_thread::sleep_for(400ms);
    EXPECT_TRUE(sentSince(m).empty()) << "no more readings";
    EXPECT_EQ(waitSettled(), xel::SettleSomeFailed) << "no monitor: nothing can settle";
    EXPECT_EQ(xel->Query(), S_OK) << "the object itself still works";
}

TEST_F(CoreTest, ParseHexFileConvertsBesideTheFile) {
    ScratchDir dir;
    const std::string hex = dir.file("fw.hex");
    std::ofstream(hex) << ":020000040000FA\r\n:0400000001020304F2\r\n:00000001FF\r\n";
    EXPECT_EQ(xel->ParseHexFile(Bstr(u16(hex)).get()), S_OK);
    std::ifstream image(dir.file("PROGMEM.MCP"));
    std::string line;
    std::getline(image, line);
    EXPECT_EQ(line, "000000 01 02 03 04 00 00 00 00 00 00 00 00 00 00 00 00\r");

    const std::string bad = dir.file("bad.hex");
    std::ofstream(bad) << ":0400000001020304F3\r\n";  // checksum off by one
    EXPECT_EQ(xel->ParseHexFile(Bstr(u16(bad)).get()), 1);
    EXPECT_EQ(xel->ParseHexFile(nullptr), 1);
}

}  // namespace
