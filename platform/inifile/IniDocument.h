// The text of an INI file as lines, with the lookups and edits of IniFile on
// Windows-1252 bytes. Private to platform/inifile.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xel::ini::detail {

// Windows-1252 letters compare ignoring case, as the private-profile calls do.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

class IniDocument {
public:
    static IniDocument parse(std::string_view bytes);
    std::string serialize() const;

    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    // Each section name once, first spelling, in file order.
    std::vector<std::string> sectionNames() const;
    bool hasSection(std::string_view section) const;

    void set(std::string_view section, std::string_view key, std::string_view value);
    bool removeKey(std::string_view section, std::string_view key);
    bool removeSection(std::string_view section);

private:
    struct Line {
        std::string text;  // without its line end
        std::string end;   // "\r\n", "\n" or "" (the last line of a file without one)
    };
    // One section's extent in lines_: its header and the lines up to the next one.
    struct Span {
        size_t header;
        size_t end;  // one past its last line
    };

    std::optional<Span> findSection(std::string_view section) const;
    std::optional<size_t> findKey(const Span& span, std::string_view key) const;
    void insertLine(size_t at, std::string text);

    std::vector<Line> lines_;
};

// The parts of one line, as the file's reader sees them.
std::optional<std::string_view> sectionHeaderName(std::string_view line);
// The key of a "Key=Value" line (trimmed); nullopt for a comment or a line without "=".
std::optional<std::string_view> keyOf(std::string_view line);
// The trimmed value of a key line.
std::string_view valueOf(std::string_view line);

}  // namespace xel::ini::detail
