// Connection points of the test server: the sink list's slots and cookies,
// events reaching every sink even when one fails, sinks leaving during an
// event, and firing on several threads while sinks come and go.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "tests/platform/objrt/TestServer.h"

using namespace objrt_test;
using namespace xel::objrt;

namespace {

class Events : public ::testing::Test {
protected:
    void SetUp() override {
        registerServer();
        ASSERT_EQ(CoCreateInstance(CLSID_Sampler, nullptr, CLSCTX_INPROC_SERVER, ISampler::kIID, sampler.putVoid()),
                  S_OK);
        ComPtr<IConnectionPointContainer> cpc;
        ASSERT_EQ(sampler.as(cpc), S_OK);
        ASSERT_EQ(cpc->FindConnectionPoint(ISamplerEvents::kIID, point.put()), S_OK);
    }
    void TearDown() override {
        point = nullptr;
        sampler = nullptr;
        CoFreeUnusedLibraries();
    }
    DWORD advise(IUnknown* sink) {
        DWORD cookie = 0;
        EXPECT_EQ(point->Advise(sink, &cookie), S_OK);
        return cookie;
    }

    RuntimeScope runtime;
    ComPtr<ISampler> sampler;
    ComPtr<IConnectionPoint> point;
};

// Leaves the list from inside its first event.
class Leaver : public Dispatch<ISamplerEvents, kISamplerEventsDesc> {
public:
    using Interfaces = InterfaceMap<ISamplerEvents, Through<IDispatch, ISamplerEvents>>;
    HRESULT LevelChanged(LONG, VARIANT_BOOL) noexcept override {
        ++calls;
        return point ? point->Unadvise(cookie) : S_OK;
    }
    HRESULT LabelChanged(BSTR) noexcept override {
        ++calls;
        return S_OK;
    }
    IConnectionPoint* point = nullptr;
    DWORD cookie = 0;
    int calls = 0;
};

// A refcount that can be read: one AddRef and Release.
ULONG refsOf(IUnknown* p) {
    p->AddRef();
    return p->Release();
}

}  // namespace

TEST_F(Events, EveryEventReachesEverySinkEvenWhenOneFails) {
    ComPtr<Sink> failing = makeSink(E_FAIL), good = makeSink();
    advise(failing.get());  // first in the list, so the good one comes after a failure
    advise(good.get());
    Bstr label(u"Dolby");
    ASSERT_EQ(sampler->put_Level(7), S_OK);
    ASSERT_EQ(sampler->put_Enabled(VARIANT_TRUE), S_OK);
    ASSERT_EQ(sampler->put_Label(label.get()), S_OK);

    EXPECT_EQ(sampler->Announce(), E_FAIL);
    const std::vector<std::string> expected{"LevelChanged 7 -1", "LabelChanged Dolby"};
    EXPECT_EQ(good->events(), expected);
    EXPECT_EQ(failing->events(), expected);
}

TEST_F(Events, TheSinkListStartsWithFourSlotsDoublesAndReusesTheFirstGap) {
    std::vector<ComPtr<Sink>> sinks;
    for (int i = 0; i < 6; ++i) sinks.push_back(makeSink());
    for (DWORD expected = 1; expected <= 5; ++expected) EXPECT_EQ(advise(sinks[expected - 1].get()), expected);
    ASSERT_EQ(point->Unadvise(2), S_OK);
    ASSERT_EQ(point->Unadvise(4), S_OK);
    EXPECT_EQ(advise(sinks[5].get()), 2u);
    EXPECT_EQ(point->Unadvise(4), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(9), CONNECT_E_NOCONNECTION);

    ComPtr<IEnumConnections> list;
    ASSERT_EQ(point->EnumConnections(list.put()), S_OK);
    CONNECTDATA cd[8] = {};
    ULONG fetched = 0;
    EXPECT_EQ(list->Next(8, cd, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 4u);
    std::vector<DWORD> cookies;
    for (ULONG i = 0; i < fetched; ++i) {
        cookies.push_back(cd[i].dwCookie);
        cd[i].pUnk->Release();
    }
    EXPECT_EQ(cookies, (std::vector<DWORD>{1, 2, 3, 5}));

    // Only a sink of the event interface connects.
    DWORD cookie = 7;
    EXPECT_EQ(point->Advise(sampler.get(), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
}

TEST_F(Events, TheContainerOffersBothConnectionPoints) {
    ComPtr<IConnectionPointContainer> cpc;
    ASSERT_EQ(sampler.as(cpc), S_OK);
    ComPtr<IConnectionPoint> notify;
    ASSERT_EQ(cpc->FindConnectionPoint(IID_IPropertyNotifySink, notify.put()), S_OK);
    IID iid{};
    ASSERT_EQ(notify->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, IID_IPropertyNotifySink);
    ComPtr<IConnectionPoint> none;
    EXPECT_EQ(cpc->FindConnectionPoint(ISampler::kIID, none.put()), CONNECT_E_NOCONNECTION);

    ComPtr<IEnumConnectionPoints> all;
    ASSERT_EQ(cpc->EnumConnectionPoints(all.put()), S_OK);
    ASSERT_EQ(all->Skip(1), S_OK);
    ComPtr<IEnumConnectionPoints> copy;
    ASSERT_EQ(all->Clone(copy.put()), S_OK);
    IConnectionPoint* second = nullptr;
    ASSERT_EQ(copy->Next(1, &second, nullptr), S_OK);
    EXPECT_EQ(second, notify.get());
    second->Release();
    EXPECT_EQ(copy->Next(1, &second, nullptr), S_FALSE);
    EXPECT_EQ(all->Skip(2), S_FALSE);

    // A connection point leads back to its container and keeps it alive.
    ComPtr<IConnectionPointContainer> back;
    ASSERT_EQ(point->GetConnectionPointContainer(back.put()), S_OK);
    EXPECT_EQ(back.get(), cpc.get());
}

TEST_F(Events, ASinkMayLeaveDuringAnEvent) {
    ComPtr<Object<Leaver>> leaver;
    ASSERT_EQ(Object<Leaver>::create(leaver), S_OK);
    ComPtr<Sink> after = makeSink();
    leaver->point = point.get();
    leaver->cookie = advise(leaver.get());
    advise(after.get());

    EXPECT_EQ(sampler->Announce(), S_OK);
    EXPECT_EQ(leaver->calls, 1);  // gone before the second event
    EXPECT_EQ(after->count(), 2u);
    EXPECT_EQ(sampler->Announce(), S_OK);
    EXPECT_EQ(leaver->calls, 1);
    EXPECT_EQ(after->count(), 4u);
}

TEST_F(Events, SinksAreReleasedWithTheirSource) {
    ComPtr<Sink> sink = makeSink();
    const ULONG alone = refsOf(sink.get());
    advise(sink.get());
    EXPECT_EQ(refsOf(sink.get()), alone + 1);
    point = nullptr;
    sampler = nullptr;
    EXPECT_EQ(refsOf(sink.get()), alone);
}

TEST_F(Events, FiringOnSeveralThreadsWhileSinksComeAndGo) {
    ComPtr<Sink> steady = makeSink();
    advise(steady.get());
    constexpr int kFirers = 3, kRounds = 200;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kFirers; ++t) {
        threads.emplace_back([&] {
            while (!go) std::this_thread::yield();
            for (int i = 0; i < kRounds; ++i) EXPECT_EQ(sampler->Announce(), S_OK);
        });
    }
    threads.emplace_back([&] {
        while (!go) std::this_thread::yield();
        for (int i = 0; i < kRounds; ++i) {
            ComPtr<Sink> passing = makeSink();
            DWORD cookie = 0;
            ASSERT_EQ(point->Advise(passing.get(), &cookie), S_OK);
            sampler->put_Level(i);
            ASSERT_EQ(point->Unadvise(cookie), S_OK);
        }
    });
    go = true;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(steady->count(), size_t(2 * kFirers * kRounds));
}
