// Memory-image files as the download reads them: written by the conversion, but
// read back from a folder anyone may have edited.
//
// Input: the image file's text.
#include <cstdio>
#include <string>

#include "core/control/HexImage.h"
#include "fuzz/FuzzSupport.h"

namespace {

using namespace xel::core;

// A row as the images lay it out: address, sixteen bytes, CR LF.
std::string render(const ImageRow& row) {
    char line[64];
    int n = std::snprintf(line, sizeof line, "%06X", static_cast<unsigned>(row.address));
    for (uint8_t b : row.bytes) n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), " %02X", b);
    return std::string(line, static_cast<size_t>(n)) + "\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = xel::fuzz::asText({data, size});
    const ImageReadResult r = ParseMemoryImage(text);
    if (!r.ok) {
        // A refusal says where, and hands out no rows.
        FUZZ_CHECK(r.rows.empty());
        FUZZ_CHECK(r.error.rfind("line ", 0) == 0);
        return 0;
    }
    FUZZ_CHECK(r.error.empty());
    // One row per line: every line is exactly one row, so the rows re-rendered
    // are the text again apart from letter case and line ends.
    std::string again;
    for (const ImageRow& row : r.rows) {
        FUZZ_CHECK(row.address <= 0xFFFFFF);
        again += render(row);
    }
    // Lines end at LF; a CR before it (or at the very end) belongs to the line end.
    std::string normal;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        for (char c : line) normal.push_back(c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c);
        normal += "\r\n";
        start = end + 1;
    }
    FUZZ_CHECK(again == normal);
    FUZZ_CHECK(ParseMemoryImage(again).rows == r.rows);
    return 0;
}
