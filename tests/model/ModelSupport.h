// Shared pieces of the model objects' tests: objects made straight from the core
// archive, a connection to a real peer placed in the library's shared slot, a
// stand-in for the monitor's flush, and late-bound calls by name.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/connection/CComm.h"
#include "core/control/UnitMemory.h"
#include "platform/objrt/Object.h"
#include "platform/objrt/Ptr.h"

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

// A text handed out by a get, whole (embedded zero characters kept); frees it.
inline std::u16string take(BSTR b) {
    std::u16string s = b ? std::u16string(b, SysStringLen(b)) : std::u16string();
    SysFreeString(b);
    return s;
}
inline std::u16string padded(std::u16string s, size_t width) {
    s.resize(width, u'\0');
    return s;
}

// The queued bytes of addresses [address, address + count): the byte of each
// pending entry, -1 where nothing is pending.
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
inline int pendingCount(const xel::core::PendingEepromWrites& table) {
    int n = 0;
    for (auto [a, v] : table.entries()) n += v < 0;
    return n;
}

// What the monitor does with a table: every pending run written with "wreep".
inline void flush(xel::core::PendingEepromWrites& table) {
    while (auto run = table.takeRun())
        ASSERT_EQ(xel::core::WriteEeprom(run->address, static_cast<int>(run->values.size()), run->values.data()), 0);
}

// A connection object connected to `address` and placed in the shared slot for
// the object's life (the slot is emptied again at the end).
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
    xel::IComm* comm() const { return comm_.get(); }

private:
    ComPtr<Object<xel::core::CComm>> comm_;
    bool connected_ = false;
};

// Late-bound calls by name, as a script would make them.
inline DISPID idOf(IDispatch* d, const char16_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << "no member for the name";
    return id;
}
// args in the caller's order; a put passes its value last as DISPID_PROPERTYPUT.
inline HRESULT call(IDispatch* d, const char16_t* name, WORD flags, std::vector<Variant> args,
                    VARIANT* result = nullptr) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS dp{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (flags == DISPATCH_PROPERTYPUT) dp.rgdispidNamedArgs = &put, dp.cNamedArgs = 1;
    return d->Invoke(idOf(d, name), IID_NULL, LOCALE_USER_DEFAULT, flags, &dp, result, nullptr, nullptr);
}

}  // namespace modeltest
