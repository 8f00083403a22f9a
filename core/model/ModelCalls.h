// Small helpers the model objects' automation members share: nothing thrown
// inside a member may leave it, and texts are handed out as new BSTRs.
#pragma once

#include <new>
#include <string_view>

#include "platform/objrt/objrt.h"

namespace xel::core {

// Runs f() and turns anything it throws into a status.
template <class F>
HRESULT guarded(F&& f) noexcept {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// A new BSTR holding `text` (embedded zero characters kept) in *out.
inline HRESULT copyText(std::u16string_view text, BSTR* out) noexcept {
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace xel::core
