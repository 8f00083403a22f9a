// What an operator types to xelctl, on its command line or line by line into
// "xelctl shell" (a script piped in, say): numbers, switches, IPv4 addresses
// and whole shell lines.
//
// Input: [what][range choice][text].
#include <charconv>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "tools/xelctl/Text.h"

namespace {

using xel::fuzz::Input;

// Ranges the commands use, and the widest.
constexpr std::pair<int64_t, int64_t> kRanges[] = {
    {0, 255}, {-128, 127}, {1, 16}, {0, 0x3FF}, {INT32_MIN, INT32_MAX}, {INT64_MIN, INT64_MAX},
};

// The number a text spells, worked out apart from the parser: sign, "0x" or "&H",
// then digits; nullopt where the parser must refuse.
std::optional<int64_t> expectedInteger(std::string_view t, int64_t min, int64_t max) {
    bool negative = false;
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    int base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t.remove_prefix(2);
    } else if (t.size() > 2 && t[0] == '&' && (t[1] == 'h' || t[1] == 'H')) {
        base = 16;
        t.remove_prefix(2);
    }
    if (t.empty() || t.size() > 18 || t[0] == '+' || t[0] == '-') return std::nullopt;
    int64_t v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v, base);
    if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;  // a stray character, or too large
    if (negative) v = -v;
    if (v < min || v > max) return std::nullopt;
    return v;
}

// A word written so that splitShellLine reads it back as it is.
std::string quoted(const std::string& word) {
    std::string out = "\"";
    for (char c : word) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: out += c;
        }
    }
    return out + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint8_t what = in.byte();
    const auto [min, max] = kRanges[in.byte() % std::size(kRanges)];
    const std::string text(xel::fuzz::asText(in.rest()));

    switch (what % 4) {
        case 0: {
            const std::optional<int64_t> n = xelctl::parseInteger(text, min, max);
            FUZZ_CHECK(n == expectedInteger(text, min, max));
            break;
        }
        case 1: {
            const std::optional<bool> s = xelctl::parseSwitch(text);
            // Every spelling of a switch is short and plain.
            if (s) FUZZ_CHECK(text.size() <= 5);
            break;
        }
        case 2: {
            const std::optional<uint32_t> a = xelctl::parseIPv4(text);
            if (!a) break;
            // An address written out reads back the same.
            FUZZ_CHECK(xelctl::parseIPv4(xelctl::formatIPv4(*a)) == a);
            FUZZ_CHECK(text.size() <= 15);
            break;
        }
        case 3: {
            const auto words = xelctl::splitShellLine(text);
            if (!words) break;
            // The words, quoted and joined, split into the same words.
            std::string line;
            for (const std::string& w : *words) line += quoted(w) + " ";
            const auto again = xelctl::splitShellLine(line);
            FUZZ_CHECK(again.has_value());
            FUZZ_CHECK(*again == *words);
            break;
        }
    }
    return 0;
}
