#include "platform/codepage/CodePage.h"

#include <array>
#include <cstdint>

namespace xel::cp {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Bytes 0x80-0x9F; the rest of the code page equals Latin-1. The unassigned
// bytes carry their own C1 code point so they come back unchanged.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

// The byte for a code point, or -1.
int byteFor(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        return static_cast<int>(c);
    }
    for (std::size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] == c) {
            return static_cast<int>(0x80 + i);
        }
    }
    return -1;
}

bool isHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Decodes one code point at text[i] and advances i. A malformed sequence gives
// U+FFFD and advances over its maximal ill-formed part; ok is cleared.
char32_t decodeUtf16(std::u16string_view text, std::size_t& i, bool& ok) {
    char32_t u = text[i++];
    if (isHighSurrogate(u)) {
        if (i < text.size() && isLowSurrogate(text[i])) {
            char32_t lo = text[i++];
            return 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
        }
        ok = false;
        return kReplacement;
    }
    if (isLowSurrogate(u)) {
        ok = false;
        return kReplacement;
    }
    return u;
}

char32_t decodeUtf8(std::string_view text, std::size_t& i, bool& ok) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t need = 0;
    char32_t cp = 0;
    unsigned char lo = 0x80;  // allowed range of the second byte
    unsigned char hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        cp = lead & 0x0F;
        if (lead == 0xE0) lo = 0xA0;  // no overlong forms
        if (lead == 0xED) hi = 0x9F;  // no encoded surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        cp = lead & 0x07;
        if (lead == 0xF0) lo = 0x90;  // no overlong forms
        if (lead == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        ++i;
        ok = false;
        return kReplacement;
    }
    std::size_t k = i + 1;
    for (std::size_t n = 0; n < need; ++n, ++k) {
        const unsigned char min = n == 0 ? lo : 0x80;
        const unsigned char max = n == 0 ? hi : 0xBF;
        if (k >= text.size() || byte(k) < min || byte(k) > max) {
            i = k;  // the bytes accepted so far form one ill-formed part
            ok = false;
            return kReplacement;
        }
        cp = (cp << 6) | (byte(k) & 0x3F);
    }
    i = k;
    return cp;
}

void appendUtf16(std::u16string& out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(c));
    }
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace

char16_t toUtf16(char ansi) {
    const auto b = static_cast<unsigned char>(ansi);
    return (b >= 0x80 && b <= 0x9F) ? kHigh[b - 0x80] : static_cast<char16_t>(b);
}

std::u16string toUtf16(std::string_view ansi) {
    std::u16string out;
    out.reserve(ansi.size());
    for (char c : ansi) {
        out.push_back(toUtf16(c));
    }
    return out;
}

bool isMappable(char32_t c) { return byteFor(c) >= 0; }

char fromCodePoint(char32_t c) {
    const int b = byteFor(c);
    return b < 0 ? '?' : static_cast<char>(b);
}

std::string fromUtf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        bool ok = true;
        const char32_t c = decodeUtf16(text, i, ok);
        out.push_back(ok ? fromCodePoint(c) : '?');
    }
    return out;
}

std::u16string utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        bool ok = true;
        appendUtf16(out, decodeUtf8(utf8, i, ok));
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        bool ok = true;
        appendUtf8(out, decodeUtf16(text, i, ok));
    }
    return out;
}

bool isValidUtf8(std::string_view utf8) {
    bool ok = true;
    for (std::size_t i = 0; i < utf8.size() && ok;) {
        decodeUtf8(utf8, i, ok);
    }
    return ok;
}

std::string ansiToUtf8(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size());
    for (char c : ansi) {
        appendUtf8(out, toUtf16(c));
    }
    return out;
}

std::string utf8ToAnsi(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        bool ok = true;
        const char32_t c = decodeUtf8(utf8, i, ok);
        out.push_back(ok ? fromCodePoint(c) : '?');
    }
    return out;
}

}  // namespace xel::cp
