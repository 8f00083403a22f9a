// VARIANT ownership and conversion between the types the system's members use.
#include <cstdint>
#include <cstdio>
#include <optional>

#include "platform/objrt/objrt.h"

namespace {

bool knownValueType(VARTYPE vt) noexcept {
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_I2:
        case VT_I4:
        case VT_UI4:
        case VT_BOOL:
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_UNKNOWN:
        case VT_ERROR: return true;
        default: return false;
    }
}

bool knownType(VARTYPE vt) noexcept {
    if (!(vt & VT_BYREF)) return knownValueType(vt);
    VARTYPE base = static_cast<VARTYPE>(vt & ~VT_BYREF);
    return base == VT_VARIANT || (knownValueType(base) && base != VT_EMPTY && base != VT_NULL);
}

// A shallow view of the value a VARIANT holds or refers to (owning nothing).
HRESULT deref(const VARIANT& src, VARIANT& view, int depth = 0) noexcept {
    if (!(src.vt & VT_BYREF)) {
        view = src;
        return S_OK;
    }
    if (!src.byref) return E_INVALIDARG;
    VARIANT v{};
    v.vt = static_cast<VARTYPE>(src.vt & ~VT_BYREF);
    switch (v.vt) {
        case VT_VARIANT:
            // One level of reference to a VARIANT that itself refers to a value is
            // what script-style callers hand out; deeper chains are refused.
            if (depth > 0 || (src.pvarVal->vt == (VT_VARIANT | VT_BYREF))) return E_INVALIDARG;
            if (!knownType(src.pvarVal->vt)) return DISP_E_BADVARTYPE;
            return deref(*src.pvarVal, view, depth + 1);
        case VT_I2: v.iVal = *src.piVal; break;
        case VT_I4: v.lVal = *src.plVal; break;
        case VT_UI4: v.ulVal = *src.pulVal; break;
        case VT_BOOL: v.boolVal = *src.pboolVal; break;
        case VT_ERROR: v.scode = *src.pscode; break;
        case VT_BSTR: v.bstrVal = *src.pbstrVal; break;
        case VT_DISPATCH: v.pdispVal = *src.ppdispVal; break;
        case VT_UNKNOWN: v.punkVal = *src.ppunkVal; break;
        default: return DISP_E_BADVARTYPE;
    }
    view = v;
    return S_OK;
}

// Deep copy of a value (by-reference values copy as references).
HRESULT copyValue(VARIANT& dest, const VARIANT& src) noexcept {
    VARIANT v = src;
    switch (src.vt) {
        case VT_BSTR:
            if (src.bstrVal) {
                v.bstrVal = SysAllocStringLen(src.bstrVal, SysStringLen(src.bstrVal));
                if (!v.bstrVal) return E_OUTOFMEMORY;
            }
            break;
        case VT_DISPATCH:
            if (src.pdispVal) src.pdispVal->AddRef();
            break;
        case VT_UNKNOWN:
            if (src.punkVal) src.punkVal->AddRef();
            break;
        default: break;
    }
    dest = v;
    return S_OK;
}

BSTR asciiBstr(const char* s) noexcept {
    OLECHAR w[32];
    size_t n = 0;
    while (s[n] && n < 31) {
        w[n] = static_cast<OLECHAR>(s[n]);
        ++n;
    }
    return SysAllocStringLen(w, static_cast<UINT>(n));
}

bool isBlank(OLECHAR c) noexcept { return c == u' ' || c == u'\t'; }

OLECHAR lower(OLECHAR c) noexcept { return (c >= u'A' && c <= u'Z') ? static_cast<OLECHAR>(c + 32) : c; }

bool equalsIgnoringCase(const OLECHAR* s, size_t n, const char* word) noexcept {
    size_t i = 0;
    for (; i < n && word[i]; ++i)
        if (lower(s[i]) != static_cast<OLECHAR>(word[i])) return false;
    return i == n && !word[i];
}

struct ParsedNumber {
    enum { Decimal, Hex } form;
    bool negative;
    uint64_t magnitude;
};

// Blanks, an optional sign, then decimal digits; or "&H" and hexadecimal digits.
HRESULT parseNumber(BSTR text, ParsedNumber& out) noexcept {
    size_t n = SysStringLen(text), b = 0, e = n;
    while (b < e && isBlank(text[b])) ++b;
    while (e > b && isBlank(text[e - 1])) --e;
    if (b == e) return DISP_E_TYPEMISMATCH;
    ParsedNumber p{ParsedNumber::Decimal, false, 0};
    if (e - b >= 2 && text[b] == u'&' && lower(text[b + 1]) == u'h') {
        p.form = ParsedNumber::Hex;
        b += 2;
        if (b == e) return DISP_E_TYPEMISMATCH;
        bool overflow = false;
        for (size_t i = b; i < e; ++i) {
            int d = text[i] < 0x80 ? xel::objrt::detail::hexDigit(static_cast<char>(text[i])) : -1;
            if (d < 0) return DISP_E_TYPEMISMATCH;
            if (p.magnitude >> 60) overflow = true;
            p.magnitude = (p.magnitude << 4) | static_cast<unsigned>(d);
        }
        out = p;
        return overflow ? DISP_E_OVERFLOW : S_OK;
    }
    if (text[b] == u'+' || text[b] == u'-') {
        p.negative = text[b] == u'-';
        ++b;
    }
    if (b == e) return DISP_E_TYPEMISMATCH;
    bool overflow = false;
    for (size_t i = b; i < e; ++i) {
        if (text[i] < u'0' || text[i] > u'9') return DISP_E_TYPEMISMATCH;
        unsigned d = static_cast<unsigned>(text[i] - u'0');
        if (p.magnitude > (UINT64_MAX - d) / 10) overflow = true;
        p.magnitude = p.magnitude * 10 + d;
    }
    out = p;
    return overflow ? DISP_E_OVERFLOW : S_OK;
}

// The value a number in text stands for in an integer type of the given width.
// Hexadecimal digits give the bit pattern (so "&HFFFF" is -1 as VT_I2).
HRESULT textToInteger(BSTR text, VARTYPE vt, int64_t& out) noexcept {
    ParsedNumber p{};
    HRESULT hr = parseNumber(text, p);
    if (FAILED(hr)) return hr;
    if (p.form == ParsedNumber::Hex) {
        switch (vt) {
            case VT_I2:
                if (p.magnitude > 0xFFFF) return DISP_E_OVERFLOW;
                out = static_cast<int16_t>(static_cast<uint16_t>(p.magnitude));
                return S_OK;
            case VT_I4:
                if (p.magnitude > 0xFFFFFFFFu) return DISP_E_OVERFLOW;
                out = static_cast<int32_t>(static_cast<uint32_t>(p.magnitude));
                return S_OK;
            default:
                if (p.magnitude > 0xFFFFFFFFu) return DISP_E_OVERFLOW;
                out = static_cast<int64_t>(p.magnitude);
                return S_OK;
        }
    }
    if (p.magnitude > (uint64_t(1) << 62)) return DISP_E_OVERFLOW;
    out = p.negative ? -static_cast<int64_t>(p.magnitude) : static_cast<int64_t>(p.magnitude);
    return S_OK;
}

std::optional<int64_t> integerOf(const VARIANT& v) noexcept {
    switch (v.vt) {
        case VT_EMPTY: return 0;
        case VT_I2: return v.iVal;
        case VT_I4: return v.lVal;
        case VT_UI4: return v.ulVal;
        case VT_BOOL: return static_cast<int16_t>(v.boolVal);
        default: return std::nullopt;
    }
}

HRESULT integerTo(int64_t n, VARTYPE vt, VARIANT& out) noexcept {
    VARIANT v{};
    v.vt = vt;
    switch (vt) {
        case VT_I2:
            if (n < INT16_MIN || n > INT16_MAX) return DISP_E_OVERFLOW;
            v.iVal = static_cast<SHORT>(n);
            break;
        case VT_I4:
            if (n < INT32_MIN || n > INT32_MAX) return DISP_E_OVERFLOW;
            v.lVal = static_cast<LONG>(n);
            break;
        case VT_UI4:
            if (n < 0 || n > int64_t(UINT32_MAX)) return DISP_E_OVERFLOW;
            v.ulVal = static_cast<ULONG>(n);
            break;
        case VT_BOOL:
            // Any non-zero number is true, and true is all bits set.
            v.boolVal = n != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        default: return DISP_E_TYPEMISMATCH;
    }
    out = v;
    return S_OK;
}

HRESULT convert(const VARIANT& src, VARTYPE vt, USHORT flags, VARIANT& out) noexcept {
    if (src.vt == vt) return copyValue(out, src);
    if (src.vt == VT_NULL || src.vt == VT_ERROR) return DISP_E_TYPEMISMATCH;
    switch (vt) {
        case VT_I2:
        case VT_I4:
        case VT_UI4:
        case VT_BOOL: {
            if (auto n = integerOf(src)) return integerTo(*n, vt, out);
            if (src.vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
            UINT len = SysStringLen(src.bstrVal);
            if (vt == VT_BOOL) {
                // Words first, ignoring case and surrounding blanks.
                size_t b = 0, e = len;
                while (b < e && isBlank(src.bstrVal[b])) ++b;
                while (e > b && isBlank(src.bstrVal[e - 1])) --e;
                if (equalsIgnoringCase(src.bstrVal + b, e - b, "true")) return integerTo(1, vt, out);
                if (equalsIgnoringCase(src.bstrVal + b, e - b, "false")) return integerTo(0, vt, out);
            }
            int64_t n = 0;
            HRESULT hr = textToInteger(src.bstrVal, vt, n);
            if (FAILED(hr)) return hr;
            return integerTo(n, vt, out);
        }
        case VT_BSTR: {
            char text[24];
            if (src.vt == VT_EMPTY) {
                text[0] = '\0';
            } else if (src.vt == VT_BOOL) {
                bool t = src.boolVal != VARIANT_FALSE;
                std::snprintf(text, sizeof text, "%s",
                              (flags & VARIANT_ALPHABOOL) ? (t ? "True" : "False") : (t ? "-1" : "0"));
            } else if (auto n = integerOf(src)) {
                std::snprintf(text, sizeof text, "%lld", static_cast<long long>(*n));
            } else {
                return DISP_E_TYPEMISMATCH;
            }
            VARIANT v{};
            v.vt = VT_BSTR;
            v.bstrVal = asciiBstr(text);
            if (!v.bstrVal) return E_OUTOFMEMORY;
            out = v;
            return S_OK;
        }
        case VT_UNKNOWN:
        case VT_DISPATCH: {
            if (src.vt != VT_UNKNOWN && src.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
            IUnknown* from = src.vt == VT_DISPATCH ? src.pdispVal : src.punkVal;
            VARIANT v{};
            v.vt = vt;
            if (from) {
                void* p = nullptr;
                if (FAILED(from->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &p)) || !p)
                    return DISP_E_TYPEMISMATCH;
                if (vt == VT_DISPATCH)
                    v.pdispVal = static_cast<IDispatch*>(p);
                else
                    v.punkVal = static_cast<IUnknown*>(p);
            }
            out = v;
            return S_OK;
        }
        default: return DISP_E_TYPEMISMATCH;
    }
}

}  // namespace

extern "C" {

void VariantInit(VARIANT* pvarg) noexcept {
    if (!pvarg) return;
    pvarg->vt = VT_EMPTY;
    pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
    pvarg->brecVal.pvRecord = nullptr;
    pvarg->brecVal.pRecInfo = nullptr;
}

HRESULT VariantClear(VARIANT* pvarg) noexcept {
    if (!pvarg) return E_INVALIDARG;
    if (!knownType(pvarg->vt)) return DISP_E_BADVARTYPE;
    switch (pvarg->vt) {
        case VT_BSTR: SysFreeString(pvarg->bstrVal); break;
        case VT_DISPATCH:
            if (pvarg->pdispVal) pvarg->pdispVal->Release();
            break;
        case VT_UNKNOWN:
            if (pvarg->punkVal) pvarg->punkVal->Release();
            break;
        default: break;
    }
    VariantInit(pvarg);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc) noexcept {
    if (!pvargDest || !pvargSrc) return E_INVALIDARG;
    if (pvargDest == pvargSrc) return S_OK;
    if (!knownType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
    VARIANT copy{};
    HRESULT hr = copyValue(copy, *pvargSrc);
    if (FAILED(hr)) return hr;
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *pvargDest = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANT* pvargSrc) noexcept {
    if (!pvarDest || !pvargSrc) return E_INVALIDARG;
    if (!knownType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
    VARIANT view{}, copy{};
    HRESULT hr = deref(*pvargSrc, view);
    if (SUCCEEDED(hr)) hr = copyValue(copy, view);
    if (FAILED(hr)) return hr;
    hr = VariantClear(pvarDest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *pvarDest = copy;
    return S_OK;
}

HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT wFlags, VARTYPE vt) noexcept {
    if (!pvargDest || !pvarSrc) return E_INVALIDARG;
    if (!knownValueType(vt) || !knownType(pvarSrc->vt)) return DISP_E_BADVARTYPE;
    VARIANT view{}, result{};
    HRESULT hr = deref(*pvarSrc, view);
    if (SUCCEEDED(hr)) hr = convert(view, vt, wFlags, result);
    if (FAILED(hr)) return hr;
    // The result is complete before the destination (which may be the source) is freed.
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *pvargDest = result;
    return S_OK;
}

}  // extern "C"
