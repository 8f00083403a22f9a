// Owning handles for interface references, BSTRs and VARIANTs.
//
// ComPtr<T> holds one reference; put() hands out the slot for an out-parameter
// (releasing what was held), detach() hands the reference over. Bstr and
// Variant free what they own. All three are header-only, live in the library
// that uses them, and are no safer across threads than the pointer they hold.
#pragma once

#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "platform/objrt/objrt.h"

namespace xel::objrt {

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Adds a reference to p.
    explicit ComPtr(T* p) noexcept : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& o) noexcept : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~ComPtr() { reset(); }
    ComPtr& operator=(const ComPtr& o) noexcept {
        ComPtr(o).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& o) noexcept {
        ComPtr(std::move(o)).swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) noexcept {
        reset();
        return *this;
    }

    // Takes over a reference the caller already owns.
    static ComPtr adopt(T* p) noexcept {
        ComPtr c;
        c.p_ = p;
        return c;
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // The slot for an out-parameter; whatever was held is released first.
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

    // Hands the reference over to the caller.
    T* detach() noexcept { return std::exchange(p_, nullptr); }
    void reset() noexcept {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    void swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

    // QueryInterface into another smart pointer.
    template <class U>
    HRESULT as(ComPtr<U>& out) const noexcept {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(U::kIID, out.putVoid());
    }
    // Copies the reference into an out-parameter (with a reference added).
    HRESULT copyTo(T** out) const noexcept {
        if (!out) return E_POINTER;
        *out = p_;
        if (p_) p_->AddRef();
        return S_OK;
    }

private:
    T* p_ = nullptr;
};

// An owned BSTR.
class Bstr {
public:
    Bstr() noexcept = default;
    explicit Bstr(std::u16string_view text) noexcept
        : s_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    // Copies a NUL-terminated wide text (null gives the null BSTR).
    explicit Bstr(const OLECHAR* text) noexcept : s_(SysAllocString(text)) {}
    static Bstr fromUtf8(std::string_view utf8) noexcept { return adopt(ObjBstrFromUtf8(utf8.data(), utf8.size())); }
    static Bstr adopt(BSTR s) noexcept {
        Bstr b;
        b.s_ = s;
        return b;
    }
    Bstr(const Bstr& o) noexcept : s_(o.s_ ? SysAllocStringLen(o.s_, SysStringLen(o.s_)) : nullptr) {}
    Bstr(Bstr&& o) noexcept : s_(std::exchange(o.s_, nullptr)) {}
    Bstr& operator=(Bstr o) noexcept {
        std::swap(s_, o.s_);
        return *this;
    }
    ~Bstr() { SysFreeString(s_); }

    BSTR get() const noexcept { return s_; }
    UINT length() const noexcept { return SysStringLen(s_); }
    std::u16string_view view() const noexcept { return s_ ? std::u16string_view(s_, length()) : std::u16string_view(); }
    std::string utf8() const { return toUtf8(s_); }
    // The slot for a BSTR out-parameter; the old text is freed first.
    BSTR* put() noexcept {
        SysFreeString(std::exchange(s_, nullptr));
        return &s_;
    }
    BSTR detach() noexcept { return std::exchange(s_, nullptr); }

    static std::string toUtf8(BSTR s) {
        std::string out(ObjBstrToUtf8(s, nullptr, 0), '\0');
        if (!out.empty()) ObjBstrToUtf8(s, out.data(), out.size() + 1);
        return out;
    }

private:
    BSTR s_ = nullptr;
};

// An owned VARIANT (the layout is VARIANT's, so a Variant* may be passed where
// a VARIANT* is expected).
struct Variant : VARIANT {
    Variant() noexcept { VariantInit(this); }
    explicit Variant(LONG v) noexcept : Variant() { vt = VT_I4, lVal = v; }
    explicit Variant(SHORT v) noexcept : Variant() { vt = VT_I2, iVal = v; }
    explicit Variant(ULONG v) noexcept : Variant() { vt = VT_UI4, ulVal = v; }
    explicit Variant(VARIANT_BOOL v) noexcept : Variant() { vt = VT_BOOL, boolVal = v; }
    explicit Variant(bool v) noexcept : Variant(v ? VARIANT_TRUE : VARIANT_FALSE) {}
    explicit Variant(std::u16string_view s) noexcept : Variant() {
        vt = VT_BSTR;
        bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    }
    // Takes over the BSTR.
    explicit Variant(Bstr&& s) noexcept : Variant() { vt = VT_BSTR, bstrVal = s.detach(); }
    // Adds a reference.
    explicit Variant(IDispatch* p) noexcept : Variant() {
        vt = VT_DISPATCH, pdispVal = p;
        if (p) p->AddRef();
    }
    // A by-reference argument pointing at another VARIANT (an out-parameter slot).
    static Variant refTo(VARIANT* target) noexcept {
        Variant v;
        v.vt = VT_VARIANT | VT_BYREF;
        v.pvarVal = target;
        return v;
    }
    Variant(const Variant& o) noexcept : Variant() { VariantCopy(this, &o); }
    Variant(Variant&& o) noexcept : VARIANT(o) { VariantInit(&o); }
    Variant& operator=(const Variant& o) noexcept {
        if (this != &o) VariantCopy(this, &o);
        return *this;
    }
    Variant& operator=(Variant&& o) noexcept {
        if (this != &o) {
            VariantClear(this);
            static_cast<VARIANT&>(*this) = o;
            VariantInit(&o);
        }
        return *this;
    }
    ~Variant() { VariantClear(this); }

    void clear() noexcept { VariantClear(this); }
    // The out-slot for a call's result; the old value is freed first.
    VARIANT* put() noexcept {
        VariantClear(this);
        return this;
    }
};
static_assert(sizeof(Variant) == sizeof(VARIANT));

}  // namespace xel::objrt
