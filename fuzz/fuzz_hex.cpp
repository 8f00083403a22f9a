// Firmware images as an operator picks them: any file is validated as Intel HEX
// and converted into the four memory images beside it, which the download then
// reads back.
//
// Input: the HEX file.
#include <set>
#include <string>
#include <system_error>

#include "core/control/HexImage.h"
#include "fuzz/FuzzSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace xel::core;

constexpr std::string_view kEarlier = "an earlier image\r\n";

const fs::path& folder() {
    static const fs::path f = [] {
        fs::path p = xel::fuzz::scratchFolder() / "hex";
        fs::create_directories(p);
        return p;
    }();
    return f;
}

// The range of row addresses each image may hold.
struct Range {
    uint32_t from, to;  // [from, to)
};
Range rangeOf(MemoryImage image) {
    switch (image) {
        case MemoryImage::ProgramMemory: return {0x000000, 0x200000};
        case MemoryImage::UserId: return {0x200000, 0x210000};
        case MemoryImage::Config: return {0x300000, 0x310000};
        case MemoryImage::DataEeprom: return {0x0000, 0x10000};
    }
    return {0, 0};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    (void)folder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    xel::fuzz::clearFolder(folder());
    const fs::path hex = folder() / "firmware.hex";
    xel::fuzz::writeFile(hex, {data, size});
    for (int i = 0; i < kMemoryImageCount; ++i)
        xel::fuzz::writeFile(folder() / memoryImageFileName(static_cast<MemoryImage>(i)), kEarlier);

    const int valid = ValidateHexFile(hex);
    MemoryImagePaths out;
    out.paths[0] = "untouched";
    const int converted = ParseHexFile(hex, out);
    FUZZ_CHECK(valid == 0 || valid == 1);
    // Nothing can stop the images being written here, so only validity decides.
    FUZZ_CHECK(converted == valid);

    // No temporary file is left behind, whatever happened.
    size_t files = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(folder())) {
        (void)e;
        ++files;
    }
    FUZZ_CHECK(files == 1 + kMemoryImageCount);

    if (converted != 0) {
        // A refused file changes nothing.
        FUZZ_CHECK(out.paths[0] == "untouched");
        for (int i = 0; i < kMemoryImageCount; ++i)
            FUZZ_CHECK(xel::fuzz::readFile(folder() / memoryImageFileName(static_cast<MemoryImage>(i))) == kEarlier);
        return 0;
    }

    for (int i = 0; i < kMemoryImageCount; ++i) {
        const auto image = static_cast<MemoryImage>(i);
        FUZZ_CHECK(out[image] == folder() / memoryImageFileName(image));
        // What the conversion writes, the download must be able to read.
        const ImageReadResult read = ReadMemoryImage(out[image]);
        FUZZ_CHECK(read.ok);
        FUZZ_CHECK(read.error.empty());
        const Range range = rangeOf(image);
        std::set<uint32_t> seen;
        for (const ImageRow& row : read.rows) {
            FUZZ_CHECK(row.address % 16 == 0);
            FUZZ_CHECK(row.address >= range.from && row.address < range.to);
            FUZZ_CHECK(seen.insert(row.address).second);  // one row per address, bytes merged
        }
    }
    return 0;
}
