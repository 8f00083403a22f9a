// Shared pieces of the model objects' tests: objects made straight from the core
// archive, a connection to a real peer placed in the library's shared slot, a
// stand-in for the monitor's flush, and late-bound calls by name.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/connection/CComm.h"
#include "core/model/ConnectionSlot.h"
#include "core/model/UnitMemory.h"
#include "platform/objrt/Object.h"

namespace modeltest {

using xel::objrt::Bstr;
using xel::objrt::ComPtr;
using xel::objrt::Object;
using xel::objrt::Variant;

template <class T>
ComPtr<Object<T>> make() {
    ComPtr<Object<T>> p;
    EXPECT_EQ(Object<T>::create(p), S_OK);
    return p;
}

// A text handed out by a get, whole (zero characters kept); frees it.
inline std::u16string take(BSTR b) {
    std::u16string s = b ? std::u16string(b, SysStringLen(b)) : std::u16string();
    SysFreeString(b);
    return s;
}
inline std::u16string padded(std::u16string s, size_t width) {
    s.resize(width, u'\0');
    return s;
}

// The queued bytes of [address, address + count); -1 where nothing is pending.
inline std::vector<int> queued(const xel::core::PendingEepromWrites& table, uint16_t address, int count) {
    std::vector<int> out(static_cast<size_t>(count), -1);
    for (auto [a, v] : table.entries())
        if (v < 0 && a >= address && a < address + count) out[a - address] = v & 0xFF;
    return out;
}
inline std::vector<int> bytesOf(const std::string& s, size_t width) {
    std::vector<int> out(width, 0);
    for (size_t i = 0; i < s.size() && i < width; ++i) out[i] = static_cast<unsigned char>(s[i]);
    return out;
}

// What the monitor does with a table: every pending run written with "wreep".
inline void flush(xel::core::PendingEepromWrites& table) {
    while (auto run = table.takeRun())
        ASSERT_EQ(xel::core::WriteEeprom(run->address, static_cast<int>(run->values.size()), run->values.data()), 0);
}

// A connection to `address`, in the shared slot for the object's life.
class SharedLink {
public:
    explicit SharedLink(const std::string& address) {
        EXPECT_EQ(Object<xel::core::CComm>::create(comm_), S_OK);
        comm_->put_Address(Bstr(std::u16string(address.begin(), address.end())).get());
        xel::CommErr err = xel::CommErrCheck;
        comm_->Connect(&err);
        connected_ = err == xel::CommErrNone;
        xel::core::setSharedComm(comm_.get());
    }
    ~SharedLink() {
        xel::core::setSharedComm(nullptr);
        comm_->Disconnect();
    }
    bool connected() const { return connected_; }

private:
    ComPtr<Object<xel::core::CComm>> comm_;
    bool connected_ = false;
};

// A late-bound call by name; args in the caller's order, a put's value last.
inline HRESULT call(IDispatch* d, const char16_t* name, WORD flags, std::vector<Variant> args,
                    VARIANT* result = nullptr) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());  // borrowed from args
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS dp{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (flags == DISPATCH_PROPERTYPUT) dp.rgdispidNamedArgs = &put, dp.cNamedArgs = 1;
    return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &dp, result, nullptr, nullptr);
}
inline Variant refTo(LONG& x) {
    Variant v;
    v.vt = VT_I4 | VT_BYREF;
    v.plVal = &x;
    return v;
}

}  // namespace modeltest
