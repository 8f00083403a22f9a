// INI files as a person may have edited them (the processor library, xel.ini):
// any bytes, any line ends, brackets and "=" anywhere. Reading keeps the file
// as it is; a change touches one key and keeps every other line.
//
// Input: [section choice][key choice][value length][value][the file].
#include <climits>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/codepage/CodePage.h"
#include "platform/inifile/IniDocument.h"
#include "platform/inifile/IniFile.h"

namespace {

namespace fs = std::filesystem;
using namespace xel::ini;
using detail::IniDocument;

const fs::path& folder() {
    static const fs::path f = [] {
        fs::path p = xel::fuzz::scratchFolder() / "ini";
        fs::create_directories(p);
        return p;
    }();
    return f;
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// The key names a section's lines hold, in file order (what a reader of the
// file would call its keys).
std::vector<std::string> keysOf(std::string_view section, std::string_view file) {
    std::vector<std::string> keys;
    bool inside = false, seenHeader = false;
    size_t pos = 0;
    while (pos < file.size()) {
        size_t nl = file.find('\n', pos);
        if (nl == std::string_view::npos) nl = file.size();
        std::string_view line = file.substr(pos, nl - pos);
        pos = nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (const auto header = detail::sectionHeaderName(line)) {
            // Only the first section of a name counts.
            if (inside) break;
            inside = !seenHeader && detail::equalsIgnoringCase(*header, section);
            seenHeader = seenHeader || inside;
            continue;
        }
        if (inside)
            if (const auto key = detail::keyOf(line)) keys.emplace_back(*key);
    }
    return keys;
}

using Snapshot = std::map<std::pair<std::string, std::string>, std::string>;

// Every value a reader can reach: the first key of each name in the first
// section of each name.
Snapshot snapshot(const IniDocument& doc, std::string_view file) {
    Snapshot all;
    for (const std::string& s : doc.sectionNames())
        for (const std::string& k : keysOf(s, file)) {
            const auto v = doc.value(s, k);
            FUZZ_CHECK(v.has_value());
            all.emplace(std::make_pair(s, k), *v);
        }
    return all;
}

bool sameSection(const std::pair<std::string, std::string>& at, std::string_view s, std::string_view k) {
    return detail::equalsIgnoringCase(at.first, s) && detail::equalsIgnoringCase(at.second, k);
}

// What readInt makes of a value: the C library's reading of a leading decimal
// number, held to 32 bits.
int32_t expectedInt(const std::string& v) {
    if (v.empty() || !(v[0] == '+' || v[0] == '-' || (v[0] >= '0' && v[0] <= '9'))) return 0;
    const long long n = std::strtoll(v.c_str(), nullptr, 10);
    if (n < INT32_MIN) return INT32_MIN;
    if (n > INT32_MAX) return INT32_MAX;
    return static_cast<int32_t>(n);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    (void)folder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    xel::fuzz::Input in(data, size);
    const uint8_t sectionChoice = in.byte();
    const uint8_t keyChoice = in.byte();
    std::string value(xel::fuzz::asText(in.take(in.byte() % 48)));
    const std::string file(xel::fuzz::asText(in.rest()));

    // Parsing keeps every byte.
    const IniDocument doc = IniDocument::parse(file);
    FUZZ_CHECK(doc.serialize() == file);
    const std::vector<std::string> sections = doc.sectionNames();
    for (size_t i = 0; i < sections.size(); ++i) {
        FUZZ_CHECK(doc.hasSection(sections[i]));
        for (size_t j = 0; j < i; ++j) FUZZ_CHECK(!detail::equalsIgnoringCase(sections[i], sections[j]));
    }
    const Snapshot before = snapshot(doc, file);

    // The key to change: an existing one, a new one, or names of any bytes.
    std::string section = "Fuzz Section";
    if (sectionChoice >= 240)
        section = value;
    else if (!sections.empty() && sectionChoice < 224)
        section = sections[sectionChoice % sections.size()];
    std::string key = "Fuzz Key";
    const std::vector<std::string> keys = keysOf(trimBlanks(section), file);
    if (keyChoice >= 240)
        key = value;
    else if (!keys.empty() && keyChoice < 224)
        key = keys[keyChoice % keys.size()];
    const bool namesFromFile = sectionChoice < 240 && keyChoice < 240;

    const fs::path path = folder() / "library.ini";
    xel::fuzz::writeFile(path, file);
    IniFile ini(path);
    const std::u16string wSection = xel::cp::toUtf16(section);
    const std::u16string wKey = xel::cp::toUtf16(key);

    // Reading through the file gives what the document holds.
    const auto held = doc.value(trimBlanks(section), trimBlanks(key));
    const std::u16string read = ini.readString(wSection, wKey, u"(none)");
    FUZZ_CHECK(read == (held ? xel::cp::toUtf16(*held) : u"(none)"));
    if (held && !held->empty()) FUZZ_CHECK(ini.readInt(wSection, wKey, -7) == expectedInt(*held));

    const Status st = ini.writeString(wSection, wKey, xel::cp::toUtf16(value));
    const bool valueBreaks = value.find_first_of("\r\n") != std::string::npos;
    FUZZ_CHECK(st == Status::Ok || st == Status::InvalidName || st == Status::InvalidValue);
    if (st != Status::Ok) {
        // A refused change leaves the file alone.
        FUZZ_CHECK(xel::fuzz::readFile(path) == file);
        if (st == Status::InvalidValue) FUZZ_CHECK(valueBreaks);
        // Names the file itself holds can be written back, unless a lone CR hides in one.
        if (st == Status::InvalidName && namesFromFile)
            FUZZ_CHECK(section.find('\r') != std::string::npos || key.find('\r') != std::string::npos);
        return 0;
    }
    FUZZ_CHECK(!valueBreaks);
    FUZZ_CHECK(ini.readString(wSection, wKey, u"(none)") == xel::cp::toUtf16(trimBlanks(value)));

    // Every other value is as it was, and no section was lost.
    const std::string afterText = xel::fuzz::readFile(path);
    const IniDocument after = IniDocument::parse(afterText);
    const Snapshot now = snapshot(after, afterText);
    for (const auto& [at, v] : before) {
        if (sameSection(at, section, key)) continue;
        const auto it = now.find(at);
        FUZZ_CHECK(it != now.end());
        FUZZ_CHECK(it->second == v);
    }
    for (const std::string& s : sections) FUZZ_CHECK(after.hasSection(s));

    // Deleting the section takes it and nothing else.
    FUZZ_CHECK(ini.deleteSection(wSection) == Status::Ok);
    FUZZ_CHECK(!ini.hasSection(wSection));
    const std::string finalText = xel::fuzz::readFile(path);
    const IniDocument last = IniDocument::parse(finalText);
    const Snapshot remaining = snapshot(last, finalText);
    for (const auto& [at, v] : before) {
        if (detail::equalsIgnoringCase(at.first, section)) continue;
        const auto it = remaining.find(at);
        FUZZ_CHECK(it != remaining.end());
        FUZZ_CHECK(it->second == v);
    }
    return 0;
}
