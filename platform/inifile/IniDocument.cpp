#include "platform/inifile/IniDocument.h"

namespace xel::ini::detail {

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kNewLine = "\r\n";

std::string_view trim(std::string_view s) {
    const size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const size_t last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

// Windows-1252 lower case: ASCII, the Latin-1 letters (not the multiplication
// sign) and the four pairs the code page adds in 0x80-0x9F.
unsigned char fold(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 0x20);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 0x20);
    switch (c) {
        case 0x8A: return 0x9A;  // S caron
        case 0x8C: return 0x9C;  // OE
        case 0x8E: return 0x9E;  // Z caron
        case 0x9F: return 0xFF;  // Y diaeresis
        default: return c;
    }
}

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

std::optional<std::string_view> sectionHeaderName(std::string_view line) {
    const std::string_view t = trim(line);
    if (t.empty() || t.front() != '[') return std::nullopt;
    std::string_view rest = t.substr(1);
    // The last "]" closes the name, so a name may itself hold brackets.
    const size_t close = rest.rfind(']');
    if (close != std::string_view::npos) rest = rest.substr(0, close);
    return trim(rest);
}

std::optional<std::string_view> keyOf(std::string_view line) {
    const std::string_view t = trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
    const size_t eq = t.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    const std::string_view key = trim(t.substr(0, eq));
    if (key.empty()) return std::nullopt;
    return key;
}

std::string_view valueOf(std::string_view line) {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return {};
    return trim(line.substr(eq + 1));
}

IniDocument IniDocument::parse(std::string_view bytes) {
    IniDocument doc;
    size_t pos = 0;
    while (pos < bytes.size()) {
        const size_t nl = bytes.find('\n', pos);
        Line line;
        if (nl == std::string_view::npos) {
            line.text.assign(bytes.substr(pos));
            pos = bytes.size();
        } else {
            size_t textEnd = nl;
            if (textEnd > pos && bytes[textEnd - 1] == '\r') --textEnd;
            line.text.assign(bytes.substr(pos, textEnd - pos));
            line.end.assign(bytes.substr(textEnd, nl + 1 - textEnd));
            pos = nl + 1;
        }
        doc.lines_.push_back(std::move(line));
    }
    return doc;
}

std::string IniDocument::serialize() const {
    std::string out;
    for (const Line& l : lines_) {
        out += l.text;
        out += l.end;
    }
    return out;
}

std::optional<IniDocument::Span> IniDocument::findSection(std::string_view section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        const auto name = sectionHeaderName(lines_[i].text);
        if (!name || !equalsIgnoringCase(*name, section)) continue;
        size_t end = i + 1;
        while (end < lines_.size() && !sectionHeaderName(lines_[end].text)) ++end;
        return Span{i, end};
    }
    return std::nullopt;
}

std::optional<size_t> IniDocument::findKey(const Span& span, std::string_view key) const {
    for (size_t i = span.header + 1; i < span.end; ++i) {
        const auto k = keyOf(lines_[i].text);
        if (k && equalsIgnoringCase(*k, key)) return i;
    }
    return std::nullopt;
}

std::optional<std::string> IniDocument::value(std::string_view section, std::string_view key) const {
    const auto span = findSection(section);
    if (!span) return std::nullopt;
    const auto at = findKey(*span, key);
    if (!at) return std::nullopt;
    return std::string(valueOf(lines_[*at].text));
}

std::vector<std::string> IniDocument::sectionNames() const {
    std::vector<std::string> names;
    for (const Line& l : lines_) {
        const auto name = sectionHeaderName(l.text);
        if (!name) continue;
        bool seen = false;
        for (const std::string& n : names) seen = seen || equalsIgnoringCase(n, *name);
        if (!seen) names.emplace_back(*name);
    }
    return names;
}

bool IniDocument::hasSection(std::string_view section) const { return findSection(section).has_value(); }

void IniDocument::insertLine(size_t at, std::string text) {
    // The line before may be the file's last one without a line end.
    if (at > 0 && lines_[at - 1].end.empty()) lines_[at - 1].end = kNewLine;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{std::move(text), std::string(kNewLine)});
}

void IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    const auto span = findSection(section);
    if (!span) {
        insertLine(lines_.size(), "[" + std::string(section) + "]");
        insertLine(lines_.size(), std::string(key) + "=" + std::string(value));
        return;
    }
    if (const auto at = findKey(*span, key)) {
        // Keep the key as the file spells it, with its layout up to the "=".
        std::string& text = lines_[*at].text;
        text.erase(text.find('=') + 1);
        text += value;
        return;
    }
    // After the section's last non-blank line, so blank lines between sections stay put.
    size_t at = span->end;
    while (at > span->header + 1 && trim(lines_[at - 1].text).empty()) --at;
    insertLine(at, std::string(key) + "=" + std::string(value));
}

bool IniDocument::removeKey(std::string_view section, std::string_view key) {
    const auto span = findSection(section);
    if (!span) return false;
    const auto at = findKey(*span, key);
    if (!at) return false;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*at));
    return true;
}

bool IniDocument::removeSection(std::string_view section) {
    bool removed = false;
    while (const auto span = findSection(section)) {
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(span->header),
                     lines_.begin() + static_cast<std::ptrdiff_t>(span->end));
        removed = true;
    }
    return removed;
}

}  // namespace xel::ini::detail
