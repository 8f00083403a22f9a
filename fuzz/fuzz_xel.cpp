// Configuration files (.xel) from anywhere: the core's reader, and xelsim's
// reader of the same files (written apart from the core's, for seeding a unit),
// must agree on every file, and what the core reads it writes back the same.
//
// Input: the file.
#include <algorithm>
#include <string>
#include <vector>

#include "core/protocol/ConfigFile.h"
#include "fuzz/FuzzSupport.h"
#include "platform/codepage/CodePage.h"
#include "tools/xelsim/Eeprom.h"

namespace {

namespace fs = std::filesystem;
using namespace xel::core;

const fs::path& folder() {
    static const fs::path f = [] {
        fs::path p = xel::fuzz::scratchFolder() / "xel";
        fs::create_directories(p);
        return p;
    }();
    return f;
}

bool sameSetup(const UnitSetup& a, const UnitSetup& b) {
    for (size_t i = 0; i < kFormatCount; ++i)
        if (!std::equal(a.records[i].bytes, a.records[i].bytes + kFormatRecordSize, b.records[i].bytes)) return false;
    return a.powerOnFormat == b.powerOnFormat && a.aesEbuFallback == b.aesEbuFallback &&
           a.formatCount == b.formatCount && a.processorName == b.processorName && a.theaterNumber == b.theaterNumber &&
           a.theaterName == b.theaterName && a.screenNumber == b.screenNumber && a.processorGuid == b.processorGuid &&
           a.powerOnMode == b.powerOnMode;
}

// A text as the unit's EEPROM holds it: the characters, then zeros to its width.
void checkEepromText(const xelsim::EepromImage& image, size_t address, size_t width, const std::u16string& text) {
    const std::string ansi = xel::cp::fromUtf16(text);
    FUZZ_CHECK(ansi.size() <= width);
    for (size_t i = 0; i < width; ++i)
        FUZZ_CHECK(image[address + i] == (i < ansi.size() ? static_cast<uint8_t>(ansi[i]) : 0));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    (void)folder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path path = folder() / "setup.xel";
    xel::fuzz::writeFile(path, {data, size});

    // The core reads only the start of a file, as Load does.
    const auto start = readFileStart(path, kConfigFileSize);
    FUZZ_CHECK(start.has_value());
    FUZZ_CHECK(start->size() == std::min(size, kConfigFileSize));
    const std::optional<UnitSetup> setup = decodeConfig(*start);

    xelsim::EepromImage image = xelsim::factoryEeprom();
    std::string error;
    const bool seeded = xelsim::seedFromConfig(path.string(), image, error);
    FUZZ_CHECK(seeded == setup.has_value());
    FUZZ_CHECK(seeded == error.empty());
    if (!setup) return 0;

    // Every text ends at its first zero or its width.
    FUZZ_CHECK(setup->processorName.size() <= ConfigLayout::kProcessorNameWidth);
    FUZZ_CHECK(setup->screenNumber.size() <= ConfigLayout::kScreenNumberWidth);
    FUZZ_CHECK(setup->processorGuid.size() <= ConfigLayout::kProcessorGuidWidth);
    FUZZ_CHECK(setup->theaterName.find(u'\0') == std::u16string::npos);

    // Saved again, the file reads back as the same setup, and its bytes differ
    // from the original only where a text had ended.
    const ConfigBytes again = encodeConfig(*setup);
    const std::optional<UnitSetup> reread = decodeConfig(again);
    FUZZ_CHECK(reread.has_value());
    FUZZ_CHECK(sameSetup(*reread, *setup));
    for (size_t i = 0; i < kConfigFileSize; ++i)
        if (again[i] != (*start)[i]) FUZZ_CHECK(again[i] == 0);

    // xelsim seeded its EEPROM with what the core would have stored.
    using L = ConfigLayout;
    for (size_t i = 0; i < kFormatCount; ++i)
        FUZZ_CHECK(std::equal(setup->records[i].bytes, setup->records[i].bytes + kFormatRecordSize,
                              image.begin() + xelsim::ee::kFormatRecords + i * kFormatRecordSize));
    checkEepromText(image, xelsim::ee::kProcessorName, L::kProcessorNameWidth, setup->processorName);
    checkEepromText(image, xelsim::ee::kTheaterNumber, L::kTheaterNumberWidth, setup->theaterNumber);
    checkEepromText(image, xelsim::ee::kTheaterName, L::kTheaterNameWidth, setup->theaterName);
    checkEepromText(image, xelsim::ee::kScreenNumber, L::kScreenNumberWidth, setup->screenNumber);
    // The unit keeps 36 characters of the GUID, the file has room for 37.
    checkEepromText(image, xelsim::ee::kProcessorGuid, 36, setup->processorGuid.substr(0, 36));
    return 0;
}
