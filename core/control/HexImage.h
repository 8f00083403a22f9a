// Firmware images: Intel HEX validation, conversion into the four memory-image
// files, and reading a memory-image file back for the download.
//
// A memory-image file is ASCII text, one 56-byte line per 16-byte row:
// six upper-case hex digits of the row address, sixteen times a space and two
// upper-case hex digits, then CR LF. Bytes no HEX record supplies are 00.
//
// Thread contract: the functions keep no state; calls on different files may run
// at the same time. Two conversions into the same folder at once are not
// coordinated (the last one to rename wins per file).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace xel::core {

// The four images in the order they are created and remembered.
enum class MemoryImage { ProgramMemory = 0, DataEeprom = 1, UserId = 2, Config = 3 };
inline constexpr int kMemoryImageCount = 4;

// "PROGMEM.MCP", "EEDATA.MCP", "USERID.MCP", "CONFIG.MCP".
const char* memoryImageFileName(MemoryImage image);

struct MemoryImagePaths {
    std::array<std::filesystem::path, kMemoryImageCount> paths;
    const std::filesystem::path& operator[](MemoryImage image) const { return paths[static_cast<int>(image)]; }
};

// 0 when the file is a well-formed Intel HEX text whose every line checks out,
// 1 otherwise (missing, empty, unreadable, a line without ':', a bad checksum,
// a truncated line, a non-hex character, an extended address record whose
// data is not exactly two bytes).
int ValidateHexFile(const std::filesystem::path& hexPath);

// Validates `hexPath` and converts it into the four images beside it (the folder
// of the path; the current folder when the path has none). Returns 0 and fills
// `out` with the four absolute image paths on success. Returns 1 when the file
// is invalid or an image cannot be written; `out` is then left as it was, and so
// is every existing image file when validation fails. Each image is written to a
// temporary file first and the four are renamed into place only when all are
// complete.
int ParseHexFile(const std::filesystem::path& hexPath, MemoryImagePaths& out);

// One row of a memory image.
struct ImageRow {
    uint32_t address = 0;
    std::array<uint8_t, 16> bytes{};
    bool operator==(const ImageRow&) const = default;
};

struct [[nodiscard]] ImageReadResult {
    bool ok = false;
    std::vector<ImageRow> rows;  // in file order
    std::string error;           // what is wrong and on which line, when !ok
};

// Reads a memory-image file whole. A file of size 0 has no rows. Either letter
// case is accepted; the line end may be LF or CR LF, and the last line may lack it.
ImageReadResult ReadMemoryImage(const std::filesystem::path& imagePath);

// The same, from text already in memory (the download reads the file once).
ImageReadResult ParseMemoryImage(std::string_view text);

}  // namespace xel::core
