#include "core/connection/CComm.h"

#include <string>

namespace xel::core {

namespace {

std::u16string_view textOf(BSTR s) noexcept {
    return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view();
}

}  // namespace

HRESULT CComm::get_Address(BSTR* pVal) noexcept {
    if (!pVal) return E_POINTER;
    try {
        const std::u16string a = conn_.address();
        *pVal = SysAllocStringLen(a.data(), static_cast<UINT>(a.size()));
        return *pVal ? S_OK : E_OUTOFMEMORY;
    } catch (...) {
        *pVal = nullptr;
        return E_OUTOFMEMORY;
    }
}

HRESULT CComm::put_Address(BSTR newVal) noexcept {
    try {
        conn_.setAddress(textOf(newVal));
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CComm::Connect(CommErr* pErr) noexcept {
    if (!pErr) return E_POINTER;
    const Connection::Result r = conn_.connect();
    *pErr = r.error;
    return r.status;
}

HRESULT CComm::Disconnect() noexcept {
    conn_.disconnect();
    return S_OK;
}

HRESULT CComm::Write(BSTR bstrCmd, CommErr* pErr) noexcept {
    if (!pErr) return E_POINTER;
    const Connection::Result r = conn_.write(textOf(bstrCmd));
    *pErr = r.error;
    return r.status;
}

HRESULT CComm::Read(BSTR* bstrResponse, CommErr* pErr) noexcept {
    if (!bstrResponse || !pErr) return E_POINTER;
    try {
        std::u16string reply;
        const Connection::Result r = conn_.read(reply);
        *pErr = r.error;
        if (r.status == 1) {
            BSTR copy = SysAllocStringLen(reply.data(), static_cast<UINT>(reply.size()));
            if (!copy) return E_OUTOFMEMORY;
            *bstrResponse = copy;
        }
        return r.status;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CComm::IsConnected(VARIANT_BOOL* vbConnected) noexcept {
    if (!vbConnected) return E_POINTER;
    *vbConnected = conn_.isConnected() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT CComm::WriteAndReturnHex(BSTR Cmd, SHORT Length, LONG* Val) noexcept {
    if (Length > 0 && !Val) return E_POINTER;
    return conn_.writeAndReturnHex(textOf(Cmd), Length, Val);
}

HRESULT CComm::WriteAndWaitForResponse(BSTR Cmd) noexcept { return conn_.writeAndReturnHex(textOf(Cmd), 0, nullptr); }

HRESULT CComm::get_uhUsb(ULONG* pVal) noexcept {
    if (!pVal) return E_POINTER;
    *pVal = 0;
    return S_OK;
}

HRESULT CComm::put_uhUsb(ULONG) noexcept { return S_OK; }

}  // namespace xel::core
