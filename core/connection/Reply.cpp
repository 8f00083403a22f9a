#include "core/connection/Reply.h"

namespace xel::core {

namespace {

bool isTrimmed(char16_t c) { return c == u'\r' || c == u' ' || c == u'\n' || c == u'>'; }

// The blanks a "%X" conversion skips before its field.
bool isBlank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

int hexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// One "%X" field at the start of text: true and the value when it holds a
// hexadecimal digit. Like the C library, a value beyond 64 bits saturates and
// the result is cut to 32 bits; a minus sign negates.
bool scanHex(std::u16string_view text, uint32_t& out) {
    size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    // "0x" counts as a prefix only when a digit follows; otherwise the 0 is the value.
    if (i + 2 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X') &&
        hexValue(text[i + 2]) >= 0)
        i += 2;
    uint64_t value = 0;
    bool digits = false, overflow = false;
    for (; i < text.size(); ++i) {
        const int d = hexValue(text[i]);
        if (d < 0) break;
        digits = true;
        if (value > (UINT64_MAX >> 4)) overflow = true;
        value = (value << 4) | static_cast<uint64_t>(d);
    }
    if (!digits) return false;
    if (overflow)
        value = UINT64_MAX;
    else if (negative)
        value = ~value + 1;
    out = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

void ReplyCollector::added(size_t n) noexcept {
    if (n > freeSize()) n = freeSize();
    held_ += n;
}

std::u16string_view trimReply(std::u16string_view reply) noexcept {
    while (!reply.empty() && isTrimmed(reply.front())) reply.remove_prefix(1);
    while (!reply.empty() && isTrimmed(reply.back())) reply.remove_suffix(1);
    return reply;
}

bool isRefusal(std::u16string_view reply) noexcept { return trimReply(reply) == u"?"; }

void parseHexValues(std::u16string_view reply, int count, LONG* values) noexcept {
    if (!values) return;
    std::u16string_view text = trimReply(reply);
    for (int k = 0; k < count; ++k) {
        if (text.empty()) return;
        uint32_t v;
        if (scanHex(text, v)) values[k] = static_cast<LONG>(v);
        const size_t tab = text.find(u'\t');
        if (tab != std::u16string_view::npos) {
            text.remove_prefix(tab);
            while (!text.empty() && text.front() == u'\t') text.remove_prefix(1);
        }
    }
}

}  // namespace xel::core
