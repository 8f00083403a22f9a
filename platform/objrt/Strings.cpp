// Counted strings and GUID texts.
#include <sys/random.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/codepage/CodePage.h"
#include "platform/objrt/objrt.h"
#include "xelsys/Retry.h"

namespace {

// Longer texts are refused: the byte length must fit the 32-bit prefix with
// room to spare, and no caller of this system needs anything near it.
constexpr UINT kMaxChars = 1u << 30;

// Layout: [uint32_t byte length][characters][16-bit NUL]; the BSTR points at
// the characters. The prefix sits at offset 4 of an 8-byte aligned block, so the
// characters are 4-byte aligned.
BSTR allocBytes(const void* src, UINT bytes) noexcept {
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(uint32_t) + size_t(bytes) + 2 * sizeof(OLECHAR)));
    if (!block) return nullptr;
    uint32_t len = bytes;
    std::memcpy(block, &len, sizeof len);
    unsigned char* data = block + sizeof(uint32_t);
    if (src)
        std::memcpy(data, src, bytes);
    else
        std::memset(data, 0, bytes);
    // Two NUL bytes end a text of whole characters; a third covers an odd byte length.
    data[bytes] = 0;
    data[bytes + 1] = 0;
    data[bytes + 2] = 0;
    data[bytes + 3] = 0;
    return reinterpret_cast<BSTR>(data);
}

uint32_t byteLen(BSTR s) noexcept {
    uint32_t len;
    std::memcpy(&len, reinterpret_cast<const unsigned char*>(s) - sizeof(uint32_t), sizeof len);
    return len;
}

}  // namespace

extern "C" {

size_t ObjWideLen(const OLECHAR* psz) noexcept {
    size_t n = 0;
    if (psz)
        while (psz[n]) ++n;
    return n;
}

BSTR SysAllocString(const OLECHAR* psz) noexcept {
    if (!psz) return nullptr;
    size_t n = ObjWideLen(psz);
    if (n > kMaxChars) return nullptr;
    return SysAllocStringLen(psz, static_cast<UINT>(n));
}

BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) noexcept {
    if (cch > kMaxChars) return nullptr;
    return allocBytes(pch, cch * UINT(sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(const char* psz, UINT len) noexcept {
    if (len > 2 * kMaxChars) return nullptr;
    return allocBytes(psz, len);
}

BOOL SysReAllocString(BSTR* pbstr, const OLECHAR* psz) noexcept {
    if (!pbstr) return 0;
    size_t n = ObjWideLen(psz);
    if (n > kMaxChars) return 0;
    return SysReAllocStringLen(pbstr, psz, static_cast<UINT>(n));
}

BOOL SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) noexcept {
    if (!pbstr) return 0;
    // The source may lie inside the old string: copy before freeing.
    BSTR fresh = SysAllocStringLen(psz, len);
    if (!fresh) return 0;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return 1;
}

void SysFreeString(BSTR bstr) noexcept {
    if (bstr) std::free(reinterpret_cast<unsigned char*>(bstr) - sizeof(uint32_t));
}

UINT SysStringLen(BSTR bstr) noexcept { return bstr ? byteLen(bstr) / UINT(sizeof(OLECHAR)) : 0; }

UINT SysStringByteLen(BSTR bstr) noexcept { return bstr ? byteLen(bstr) : 0; }

BSTR ObjBstrFromUtf8(const char* utf8, size_t len) noexcept {
    try {
        std::u16string w = xel::cp::utf8ToUtf16(std::string_view(utf8 ? utf8 : "", utf8 ? len : 0));
        if (w.size() > kMaxChars) return nullptr;
        return SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
    } catch (...) {
        return nullptr;
    }
}

size_t ObjBstrToUtf8(BSTR bstr, char* buf, size_t cap) noexcept {
    try {
        std::string s = xel::cp::utf16ToUtf8(std::u16string_view(bstr ? bstr : u"", SysStringLen(bstr)));
        if (buf && cap > 0) {
            size_t n = s.size() < cap - 1 ? s.size() : cap - 1;
            std::memcpy(buf, s.data(), n);
            buf[n] = '\0';
        }
        return s.size();
    } catch (...) {
        if (buf && cap > 0) buf[0] = '\0';
        return 0;
    }
}

size_t ObjGuidToString(const GUID* guid, unsigned flags, char* buf) noexcept {
    if (!guid || !buf) return 0;
    const char* digits = (flags & GUIDFMT_LOWERCASE) ? "0123456789abcdef" : "0123456789ABCDEF";
    unsigned char bytes[16] = {
        static_cast<unsigned char>(guid->Data1 >> 24), static_cast<unsigned char>(guid->Data1 >> 16),
        static_cast<unsigned char>(guid->Data1 >> 8),  static_cast<unsigned char>(guid->Data1),
        static_cast<unsigned char>(guid->Data2 >> 8),  static_cast<unsigned char>(guid->Data2),
        static_cast<unsigned char>(guid->Data3 >> 8),  static_cast<unsigned char>(guid->Data3)};
    std::memcpy(bytes + 8, guid->Data4, 8);
    size_t n = 0;
    if (flags & GUIDFMT_BRACES) buf[n++] = '{';
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) buf[n++] = '-';
        buf[n++] = digits[bytes[i] >> 4];
        buf[n++] = digits[bytes[i] & 0xF];
    }
    if (flags & GUIDFMT_BRACES) buf[n++] = '}';
    buf[n] = '\0';
    return n;
}

HRESULT ObjGuidFromString(const char* text, GUID* out) noexcept {
    if (!text || !out) return E_POINTER;
    GUID g{};
    if (!xel::objrt::detail::parseGuid(text, std::strlen(text), g)) return CO_E_CLASSSTRING;
    *out = g;
    return S_OK;
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) noexcept {
    if (!lpsz || cchMax < int(kGuidTextSize)) return 0;
    char text[kGuidTextSize];
    size_t n = ObjGuidToString(&rguid, GUIDFMT_BRACES, text);
    for (size_t i = 0; i <= n; ++i) lpsz[i] = static_cast<OLECHAR>(text[i]);
    return static_cast<int>(n + 1);
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) noexcept {
    if (!lpsz || !pclsid) return E_POINTER;
    GUID g{};
    if (!xel::objrt::detail::parseGuid(lpsz, ObjWideLen(lpsz), g)) return CO_E_CLASSSTRING;
    *pclsid = g;
    return S_OK;
}

HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid) noexcept {
    HRESULT hr = CLSIDFromString(lpsz, lpiid);
    return hr == CO_E_CLASSSTRING ? E_INVALIDARG : hr;
}

HRESULT CoCreateGuid(GUID* pguid) noexcept {
    if (!pguid) return E_POINTER;
    unsigned char b[16];
    size_t got = 0;
    while (got < sizeof b) {
        const ssize_t n = xel::sys::retryOnSignal([&] { return getrandom(b + got, sizeof b - got, 0); });
        if (n < 0) return E_FAIL;
        got += static_cast<size_t>(n);
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4: random
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // the standard variant
    GUID g{};
    g.Data1 = (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
    g.Data2 = static_cast<uint16_t>((b[4] << 8) | b[5]);
    g.Data3 = static_cast<uint16_t>((b[6] << 8) | b[7]);
    std::memcpy(g.Data4, b + 8, 8);
    *pguid = g;
    return S_OK;
}

}  // extern "C"
