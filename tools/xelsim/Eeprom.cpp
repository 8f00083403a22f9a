#include "tools/xelsim/Eeprom.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace xelsim {

namespace {

struct DefaultRecord {
    std::string_view name;
    std::uint16_t flags;
};

// The default processor definition: six inputs, records 6 and 7 unused.
constexpr DefaultRecord kDefaultRecords[] = {
    {"Analog 2ch", 0x1103}, {"Analog 6ch", 0x2105}, {"Digital 8ch", 0x3109},
    {"Toslink", 0x4111},    {"S/PDIF 1", 0x5121},   {"S/PDIF 2", 0x6141},
};

void putText(EepromImage& image, std::size_t address, std::size_t width, std::string_view text) {
    for (std::size_t i = 0; i < width; ++i)
        image[address + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0;
}

std::string osError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

std::int32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
                                     static_cast<std::uint32_t>(b[at + 2]) << 16 |
                                     static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// A text record of the configuration file ends at its first zero byte or at its width;
// the unit holds the characters and zeros after them, as the host's setters queue them.
void copyFileText(EepromImage& image, std::size_t address, std::size_t width, const std::vector<std::uint8_t>& file,
                  std::size_t offset, std::size_t fileWidth) {
    bool ended = false;
    for (std::size_t i = 0; i < width; ++i) {
        std::uint8_t c = i < fileWidth ? file[offset + i] : 0;
        if (c == 0) ended = true;
        image[address + i] = ended ? 0 : c;
    }
}

}  // namespace

EepromImage factoryEeprom() {
    EepromImage image;
    image.fill(0xFF);
    image[ee::kPowerOn] = 0x01;   // power-on format 0, power-on mode 1 (digital)
    image[ee::kFallback] = 0x01;  // fallback to format 0
    image[ee::kFormatCount] = 8;
    putText(image, ee::kProcessorName, 32, "Default");
    putText(image, ee::kTheaterNumber, 32, "");
    putText(image, ee::kTheaterName, 32, "");
    putText(image, ee::kScreenNumber, 4, "");
    for (std::size_t i = 0; i < 8; ++i) {
        const std::size_t at = ee::kFormatRecords + i * ee::kFormatRecordSize;
        std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(at), ee::kFormatRecordSize, 0);
        if (i < std::size(kDefaultRecords)) {
            putText(image, at, 16, kDefaultRecords[i].name);
            image[at + 22] = static_cast<std::uint8_t>(kDefaultRecords[i].flags & 0xFF);
            image[at + 23] = static_cast<std::uint8_t>(kDefaultRecords[i].flags >> 8);
        }
    }
    putText(image, ee::kProcessorGuid, 36, kDefaultProcessorGuid);
    image[ee::kFilmReturn] = 0;
    return image;
}

bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
    bytes.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = osError("cannot open", path);
        return false;
    }
    std::uint8_t buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = osError("cannot read", path);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        bytes.insert(bytes.end(), buf, buf + n);
    }
    ::close(fd);
    return true;
}

bool replaceFile(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error) {
    const std::string temp = path + ".tmp." + std::to_string(::getpid());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = osError("cannot create", temp);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = osError("cannot write", temp);
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    // The data must be on disk before the name points at it, or a power cut could
    // leave an empty image behind the new name.
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = osError("cannot write", temp);
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        error = osError("cannot replace", path);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool loadEeprom(const std::string& path, EepromImage& image, std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!readFile(path, bytes, error)) return false;
    if (bytes.size() != kEepromSize) {
        error = "EEPROM image " + path + " holds " + std::to_string(bytes.size()) + " bytes; an image holds exactly " +
                std::to_string(kEepromSize);
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), image.begin());
    return true;
}

bool saveEeprom(const std::string& path, const EepromImage& image, std::string& error) {
    return replaceFile(path, std::vector<std::uint8_t>(image.begin(), image.end()), error);
}

bool seedFromConfig(const std::string& path, EepromImage& image, std::string& error) {
    constexpr std::size_t kConfigSize = 352;
    static constexpr std::uint8_t kSignature[7] = {0x4B, 0x00, 0x52, 0x00, 0x56, 0x00, 0x58};
    std::vector<std::uint8_t> file;
    if (!readFile(path, file, error)) return false;
    if (file.size() < kConfigSize) {
        error = "configuration file " + path + " holds " + std::to_string(file.size()) +
                " bytes; a configuration holds " + std::to_string(kConfigSize);
        return false;
    }
    if (!std::equal(std::begin(kSignature), std::end(kSignature), file.begin())) {
        error = "configuration file " + path + " does not start with the configuration signature";
        return false;
    }
    const std::int32_t powerOnFormat = le32(file, 7);
    const std::int32_t fallback = le32(file, 11);
    const std::int32_t powerOnMode = le32(file, 348);
    // The host stores exactly these bytes when it loads the file into a unit.
    image[ee::kPowerOn] =
        static_cast<std::uint8_t>((static_cast<std::uint32_t>(powerOnFormat) + 1) | (powerOnMode == 0 ? 0x80u : 0u));
    image[ee::kFallback] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(fallback) + 1);
    image[ee::kFormatCount] = 8;  // the host always stores 8, whatever the file says
    std::copy_n(file.begin() + 19, 8 * ee::kFormatRecordSize, image.begin() + ee::kFormatRecords);
    copyFileText(image, ee::kProcessorName, 32, file, 211, 32);
    copyFileText(image, ee::kTheaterNumber, 32, file, 243, 32);
    copyFileText(image, ee::kTheaterName, 32, file, 275, 32);
    copyFileText(image, ee::kScreenNumber, 4, file, 307, 4);
    copyFileText(image, ee::kProcessorGuid, 36, file, 311, 37);
    return true;
}

}  // namespace xelsim
