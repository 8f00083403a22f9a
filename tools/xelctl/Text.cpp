#include "tools/xelctl/Text.h"

#include <cctype>

#include "platform/objrt/Ptr.h"

namespace xelctl {

namespace {

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

std::optional<int64_t> parseInteger(std::string_view text, int64_t min, int64_t max) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.size() > 2 && text[0] == '&' && (text[1] == 'h' || text[1] == 'H')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 18) return std::nullopt;
    int64_t value = 0;
    for (const char c : text) {
        const int d = digitValue(c);
        if (d < 0 || d >= base) return std::nullopt;
        // 18 decimal digits always fit, but 16 hexadecimal ones may not.
        if (value > (INT64_MAX - d) / base) return std::nullopt;
        value = value * base + d;
    }
    if (negative) value = -value;
    if (value < min || value > max) return std::nullopt;
    return value;
}

std::optional<bool> parseSwitch(std::string_view text) {
    for (const char* on : {"on", "true", "yes", "1", "-1"})
        if (equalsIgnoringCase(text, on)) return true;
    for (const char* off : {"off", "false", "no", "0"})
        if (equalsIgnoringCase(text, off)) return false;
    return std::nullopt;
}

std::optional<uint32_t> parseIPv4(std::string_view text) {
    uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text[0] != '.') return std::nullopt;
            text.remove_prefix(1);
        }
        size_t digits = 0;
        unsigned value = 0;
        while (digits < text.size() && digits < 4 && std::isdigit(static_cast<unsigned char>(text[digits]))) {
            value = value * 10 + static_cast<unsigned>(text[digits] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
        text.remove_prefix(digits);
        address = (address << 8) | value;
    }
    if (!text.empty()) return std::nullopt;
    return address;
}

std::string formatIPv4(uint32_t a) {
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." + std::to_string((a >> 8) & 0xFF) +
           "." + std::to_string(a & 0xFF);
}

int hostBitsOfMask(uint32_t mask) {
    if (mask == 0) return 33;
    int bits = 0;
    while ((mask & 1u) == 0) {
        mask >>= 1;
        ++bits;
    }
    return bits;
}

uint32_t canonicalMask(int hostBits) {
    if (hostBits >= 32) return 0;
    if (hostBits <= 0) return 0xFFFFFFFFu;
    return 0xFFFFFFFFu << hostBits;
}

std::string trimText(long tenths) {
    std::string text = std::to_string(tenths);
    text.insert(text.size() - 1, ".");
    if (text[0] == '.') text.insert(0, "0");
    if (text.size() > 1 && text[0] == '-' && text[1] == '.') text.insert(1, "0");
    return text + "dB";
}

std::string cutAtNul(std::u16string_view text) {
    const size_t nul = text.find(u'\0');
    if (nul != std::u16string_view::npos) text = text.substr(0, nul);
    return xel::objrt::Bstr(text).utf8();
}

std::optional<std::vector<std::string>> splitShellLine(std::string_view line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n')) ++i;
        if (i >= line.size() || line[i] == '#') break;
        std::string word;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '\n') {
            const char c = line[i];
            if (c == '\'') {
                const size_t end = line.find('\'', i + 1);
                if (end == std::string_view::npos) return std::nullopt;
                word.append(line.substr(i + 1, end - i - 1));
                i = end + 1;
            } else if (c == '"') {
                ++i;
                bool closed = false;
                while (i < line.size()) {
                    char d = line[i++];
                    if (d == '"') {
                        closed = true;
                        break;
                    }
                    if (d == '\\' && i < line.size()) {
                        const char e = line[i++];
                        switch (e) {
                            case 'n': d = '\n'; break;
                            case 'r': d = '\r'; break;
                            case 't': d = '\t'; break;
                            case '"':
                            case '\\': d = e; break;
                            default: word += '\\'; d = e;
                        }
                    }
                    word += d;
                }
                if (!closed) return std::nullopt;
            } else {
                word += c;
                ++i;
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}

}  // namespace xelctl
