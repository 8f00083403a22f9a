// A connection object made directly from the core archive, and short calls on
// it in the test's own terms (UTF-16 literals in, std::u16string out).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/connection/CComm.h"
#include "platform/objrt/Ptr.h"

namespace xeltest {

using xel::CommErr;
using xel::core::CComm;
using CommObject = xel::objrt::Object<CComm>;

class CommHandle {
public:
    CommHandle() { EXPECT_EQ(CommObject::create(obj_), S_OK); }
    ~CommHandle() {
        if (obj_) obj_->Disconnect();
    }
    CComm* operator->() const { return obj_.get(); }
    xel::IComm* comm() const { return obj_.get(); }

    void setAddress(const std::u16string& a) { obj_->put_Address(xel::objrt::Bstr(a).get()); }
    void setAddress(const std::string& a) { setAddress(std::u16string(a.begin(), a.end())); }
    CommErr connect(HRESULT* status = nullptr) {
        CommErr e = xel::CommErrCheck;
        const HRESULT hr = obj_->Connect(&e);
        if (status) *status = hr;
        return e;
    }
    HRESULT write(const std::u16string& cmd, CommErr* err = nullptr) {
        CommErr e = xel::CommErrCheck;
        const HRESULT hr = obj_->Write(xel::objrt::Bstr(cmd).get(), &e);
        if (err) *err = e;
        return hr;
    }
    HRESULT read(std::u16string& reply, CommErr* err = nullptr) {
        CommErr e = xel::CommErrCheck;
        BSTR r = nullptr;
        const HRESULT hr = obj_->Read(&r, &e);
        if (r) reply.assign(r, SysStringLen(r));
        SysFreeString(r);
        if (err) *err = e;
        return hr;
    }
    HRESULT query(const std::u16string& cmd, std::vector<LONG>& values) {
        return obj_->WriteAndReturnHex(xel::objrt::Bstr(cmd).get(), static_cast<SHORT>(values.size()), values.data());
    }
    HRESULT command(const std::u16string& cmd) { return obj_->WriteAndWaitForResponse(xel::objrt::Bstr(cmd).get()); }
    bool connected() {
        VARIANT_BOOL b = VARIANT_FALSE;
        obj_->IsConnected(&b);
        return b == VARIANT_TRUE;
    }

private:
    xel::objrt::ComPtr<CommObject> obj_;
};

// Bytes as a readable hexadecimal list, for failure messages and comparisons.
inline std::string hexBytes(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

}  // namespace xeltest
