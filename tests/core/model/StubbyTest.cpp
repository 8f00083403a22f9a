// The placeholder class: it refuses every late-bound call in its own way, keeps
// subscriptions on its two connection points and names its event interface.
#include <gtest/gtest.h>

#include "core/model/CStubby.h"
#include "tests/core/model/ModelSupport.h"

namespace {

using namespace modeltest;
using xel::core::CStubby;

// A subscriber for either point (its Invoke and OnChanged must never run).
struct Sink : xel::core::StubbyEvents, IPropertyNotifySink {
    HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override {
        *ppv = riid == IID_IPropertyNotifySink ? static_cast<IPropertyNotifySink*>(this)
                                               : static_cast<void*>(static_cast<IDispatch*>(this));
        return ++refs, S_OK;
    }
    ULONG AddRef() noexcept override { return ++refs; }
    ULONG Release() noexcept override { return --refs; }
    HRESULT GetTypeInfoCount(UINT*) noexcept override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) noexcept override {
        return ++calls, S_OK;
    }
    HRESULT OnChanged(DISPID) noexcept override { return ++calls, S_OK; }
    HRESULT OnRequestEdit(DISPID) noexcept override { return ++calls, S_OK; }
    int refs = 1, calls = 0;
};

TEST(Stubby, EveryLateBoundCallIsRefused) {
    auto s = make<CStubby>();
    IDispatch* d = static_cast<xel::IStubby*>(s.get());
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"Anything")};
    DISPID id = 0;
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
    EXPECT_EQ(d->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), DISP_E_BADVARTYPE);
    Variant arg(LONG(1));
    DISPPARAMS one{&arg, nullptr, 1, 0}, none{};
    EXPECT_EQ(d->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr), DISP_E_BADPARAMCOUNT);
    Variant result(std::u16string_view(u"left over"));
    EXPECT_EQ(d->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(result.vt, VT_EMPTY);
}

TEST(Stubby, ConnectionPointsKeepSubscribersWithoutCallingThem) {
    auto s = make<CStubby>();
    IUnknown* source = static_cast<xel::IStubby*>(s.get());
    Sink sink;
    for (const IID& iid : {IID_IPropertyNotifySink, xel::DIID__IStubbyEvents}) {
        DWORD cookie = 0;
        ASSERT_EQ(xel::objrt::advise(source, iid, static_cast<IDispatch*>(&sink), &cookie), S_OK);
        EXPECT_GT(sink.refs, 1) << "the point holds its subscriber";
        EXPECT_EQ(xel::objrt::unadvise(source, iid, cookie), S_OK);
        EXPECT_EQ(xel::objrt::unadvise(source, iid, cookie), CONNECT_E_NOCONNECTION);
    }
    EXPECT_EQ(sink.refs, 1);
    EXPECT_EQ(sink.calls, 0);

    ComPtr<IProvideClassInfo2> info;
    ASSERT_EQ(source->QueryInterface(IID_IProvideClassInfo2, info.putVoid()), S_OK);
    GUID g{};
    EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &g), S_OK);
    EXPECT_EQ(g, xel::DIID__IStubbyEvents);
    EXPECT_EQ(info->GetGUID(2, &g), E_FAIL);
    EXPECT_EQ(g, GUID_NULL);
}

}  // namespace
