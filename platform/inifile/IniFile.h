// Initialisation (INI) files with private-profile behaviour: the console's
// processor library and "xel.ini".
//
// The file is text in Windows-1252, one byte per character, so a file written on
// Windows reads the same here and one written here reads the same there. Lines
// may end in CRLF or LF; lines this code writes end in CRLF.
//
//   [Section]          a section starts only with "[" at the start of a line
//   Key=Value          (after blanks); its name runs to the last "]" of the line
//   ; comment          lines that are neither are kept as they are
//
// Section and key names compare ignoring case (Windows-1252 letters). Names and
// values are trimmed of surrounding blanks, also the names a caller passes; a
// value may hold any other character, "[" and "=" included. A section may be
// named "" ("[]"). Before the first section nothing is a key.
//
// Every call reads the file afresh. A change rewrites the whole file through a
// temporary file in the same folder that is renamed over the old one, so a write
// that fails never destroys the old file, and the rest of the file (its order,
// comments, blank lines and line ends) stays as it was.
//
// Thread safety: an IniFile holds only its path; calls on the same file from
// several threads or processes are not serialised with each other (the console
// reaches its files from the window thread only).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace xel::ini {

enum class [[nodiscard]] Status{
    Ok,
    InvalidName,   // a line break in a name, a key that is empty or would not read back as one
    InvalidValue,  // a line break in a value: it would start a line of its own
    IoError,       // the file could not be read or replaced; the old file is intact
};

// A short English phrase for a status, for messages.
const char* toString(Status s);

struct Entry {
    std::u16string key;
    std::u16string value;
};

class IniFile {
public:
    explicit IniFile(std::filesystem::path path);

    const std::filesystem::path& path() const noexcept { return path_; }

    // The value of the first such key in the first such section; defaultValue when
    // the file, the section or the key is missing.
    std::u16string readString(std::u16string_view section, std::u16string_view key,
                              std::u16string_view defaultValue = {}) const;

    // The value as a decimal number (optional sign, digits up to the first other
    // character, saturated to 32 bits); a value that is not a number reads as 0,
    // a missing or empty one as defaultValue.
    int32_t readInt(std::u16string_view section, std::u16string_view key, int32_t defaultValue) const;

    // The section names in file order, each once (the first spelling seen wins).
    std::vector<std::u16string> sectionNames() const;
    bool hasSection(std::u16string_view section) const;

    // Sets a key: in place when it exists, else after the last line of its section,
    // else in a new section appended to the file. Creates the file if missing.
    Status writeString(std::u16string_view section, std::u16string_view key, std::u16string_view value);
    // The same for several keys of one section, in order, in one rewrite.
    Status writeStrings(std::u16string_view section, const std::vector<Entry>& entries);

    // Removes a key from its section. Ok when there was nothing to remove.
    Status deleteKey(std::u16string_view section, std::u16string_view key);
    // Removes every section of that name with all its lines. Ok when there was none.
    Status deleteSection(std::u16string_view section);

    // Text of the last failure of this object (the system's message), for reports.
    const std::string& lastError() const noexcept { return lastError_; }

private:
    std::filesystem::path path_;
    mutable std::string lastError_;
};

// Reads a whole file (a folder or an unreadable file is an error, not an empty file).
Status readFile(const std::filesystem::path& path, std::string& bytes, std::string* errorText = nullptr);

// Replaces a file's contents in one step: a temporary file in the same folder,
// flushed to disk, then renamed over the old one (through a symbolic link to its
// target). The old file keeps its permission bits. On failure the old file is
// untouched and errorText (if given) says why.
Status replaceFile(const std::filesystem::path& path, std::string_view bytes, std::string* errorText = nullptr);

}  // namespace xel::ini
