#include "core/control/HexImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string_view>
#include <system_error>
#include <unordered_map>

#include "xelsys/Retry.h"

namespace xel::core {

namespace fs = std::filesystem;

namespace {

constexpr uint8_t kRecordData = 0x00;
constexpr uint8_t kRecordExtendedLinear = 0x04;

// Upper 16 bits of a byte's address (the extended linear address) per image.
constexpr uint32_t kLastProgramSegment = 0x001F;
constexpr uint32_t kUserIdSegment = 0x0020;
constexpr uint32_t kConfigSegment = 0x0030;
constexpr uint32_t kDataEepromSegment = 0x00F0;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Two hex digits at `pos`, or -1.
int hexByte(std::string_view s, size_t pos) {
    if (pos + 2 > s.size()) return -1;
    const int hi = hexDigit(s[pos]);
    const int lo = hexDigit(s[pos + 1]);
    return (hi < 0 || lo < 0) ? -1 : hi * 16 + lo;
}

struct HexRecord {
    uint8_t type = 0;
    uint16_t address = 0;
    std::vector<uint8_t> data;
};

// Decodes one HEX line: ':' count address(2) type data(count) checksum, all as
// hex pairs. Anything after the checksum (a CR, trailing text) is not examined.
bool decodeRecord(std::string_view line, HexRecord& rec) {
    if (line.empty() || line[0] != ':') return false;
    const int count = hexByte(line, 1);
    if (count < 0) return false;
    // Byte count, two address bytes, type, data, checksum.
    const size_t total = static_cast<size_t>(count) + 5;
    if (line.size() < 1 + 2 * total) return false;
    uint8_t raw[260];
    unsigned sum = 0;
    for (size_t i = 0; i < total; ++i) {
        const int b = hexByte(line, 1 + 2 * i);
        if (b < 0) return false;
        raw[i] = static_cast<uint8_t>(b);
        sum += static_cast<unsigned>(b);
    }
    if ((sum & 0xFF) != 0) return false;
    rec.address = static_cast<uint16_t>(raw[1] << 8 | raw[2]);
    rec.type = raw[3];
    rec.data.assign(raw + 4, raw + 4 + count);
    // An extended linear address carries exactly the upper 16 address bits;
    // any other length would leave the address undefined.
    if (rec.type == kRecordExtendedLinear && count != 2) return false;
    return true;
}

// Splits at LF; the CR of a CR LF stays with its line. Text after the last LF
// is a line of its own only when it is not empty.
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, lf - start));
        start = lf + 1;
    }
    return lines;
}

bool readWhole(const fs::path& path, std::string& out) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Validates and decodes every record; false on the first bad line.
bool decodeHexText(std::string_view text, std::vector<HexRecord>& records) {
    if (text.empty()) return false;
    for (std::string_view line : splitLines(text)) {
        HexRecord rec;
        if (!decodeRecord(line, rec)) return false;
        records.push_back(std::move(rec));
    }
    return true;
}

// The rows of one image, in the order they first appear, each holding every
// byte any record put into it.
class ImageBuilder {
public:
    void put(uint32_t rowAddress, unsigned offset, uint8_t value) {
        auto [it, inserted] = index_.try_emplace(rowAddress, rows_.size());
        if (inserted) {
            rows_.push_back(ImageRow{rowAddress, {}});
        }
        rows_[it->second].bytes[offset] = value;
    }

    std::string text() const {
        std::string out;
        out.reserve(rows_.size() * 56);
        char line[64];
        for (const ImageRow& row : rows_) {
            int n = std::snprintf(line, sizeof line, "%06X", static_cast<unsigned>(row.address & 0xFFFFFF));
            for (uint8_t b : row.bytes) {
                n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), " %02X", b);
            }
            out.append(line, static_cast<size_t>(n));
            out += "\r\n";
        }
        return out;
    }

private:
    std::vector<ImageRow> rows_;
    std::unordered_map<uint32_t, size_t> index_;
};

// Every data byte goes to the image its own address belongs to, so a record
// that crosses rows (or even a 64 KB segment) loses nothing.
void convert(const std::vector<HexRecord>& records, ImageBuilder (&images)[kMemoryImageCount]) {
    uint64_t ext = 0;
    for (const HexRecord& rec : records) {
        if (rec.type == kRecordExtendedLinear) {
            ext = static_cast<uint64_t>(rec.data[0]) << 8 | rec.data[1];
            continue;
        }
        if (rec.type != kRecordData) continue;  // end of file, segment and start addresses
        for (size_t k = 0; k < rec.data.size(); ++k) {
            const uint64_t full = (ext << 16) + rec.address + k;
            const uint64_t segment = full >> 16;
            const unsigned offset = static_cast<unsigned>(full & 0xF);
            MemoryImage image;
            uint32_t row;
            if (segment <= kLastProgramSegment) {
                image = MemoryImage::ProgramMemory;
                row = static_cast<uint32_t>(full & ~uint64_t{0xF});
            } else if (segment == kUserIdSegment) {
                image = MemoryImage::UserId;
                row = static_cast<uint32_t>(full & ~uint64_t{0xF});
            } else if (segment == kConfigSegment) {
                image = MemoryImage::Config;
                row = static_cast<uint32_t>(full & ~uint64_t{0xF});
            } else if (segment == kDataEepromSegment) {
                image = MemoryImage::DataEeprom;
                row = static_cast<uint32_t>(full & 0xFFF0);
            } else {
                continue;
            }
            images[static_cast<int>(image)].put(row, offset, rec.data[k]);
        }
    }
}

bool writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = sys::retryOnSignal([&] { return ::write(fd, data.data() + done, data.size() - done); });
        if (n < 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::atomic<unsigned> g_tempCounter{0};

// Creates a new temporary file in `folder` holding `data`; empty path on failure.
fs::path writeTemporary(const fs::path& folder, const char* name, const std::string& data) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const fs::path tmp = folder / ("." + std::string(name) + "." + std::to_string(::getpid()) + "." +
                                       std::to_string(g_tempCounter.fetch_add(1)) + ".tmp");
        const int fd =
            sys::retryOnSignal([&] { return ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return {};
        }
        bool ok = writeAll(fd, data) && ::fsync(fd) == 0;
        ok = (::close(fd) == 0) && ok;
        if (!ok) {
            ::unlink(tmp.c_str());
            return {};
        }
        return tmp;
    }
    return {};
}

}  // namespace

const char* memoryImageFileName(MemoryImage image) {
    switch (image) {
        case MemoryImage::ProgramMemory: return "PROGMEM.MCP";
        case MemoryImage::DataEeprom: return "EEDATA.MCP";
        case MemoryImage::UserId: return "USERID.MCP";
        case MemoryImage::Config: return "CONFIG.MCP";
    }
    return "";
}

int ValidateHexFile(const fs::path& hexPath) {
    try {
        std::string text;
        if (!readWhole(hexPath, text)) return 1;
        std::vector<HexRecord> records;
        return decodeHexText(text, records) ? 0 : 1;
    } catch (...) {
        return 1;
    }
}

int ParseHexFile(const fs::path& hexPath, MemoryImagePaths& out) {
    try {
        std::string text;
        if (!readWhole(hexPath, text)) return 1;
        std::vector<HexRecord> records;
        if (!decodeHexText(text, records)) return 1;

        ImageBuilder images[kMemoryImageCount];
        convert(records, images);

        std::error_code ec;
        fs::path folder = hexPath.parent_path();
        if (folder.empty()) folder = ".";
        folder = fs::absolute(folder, ec).lexically_normal();
        if (ec) return 1;

        MemoryImagePaths paths;
        for (int i = 0; i < kMemoryImageCount; ++i) {
            paths.paths[i] = folder / memoryImageFileName(static_cast<MemoryImage>(i));
            // A folder in the way would fail the rename after others were replaced.
            if (fs::is_directory(fs::symlink_status(paths.paths[i], ec))) return 1;
        }

        fs::path temps[kMemoryImageCount];
        auto discard = [&temps](int from) {
            for (int i = from; i < kMemoryImageCount; ++i) {
                if (!temps[i].empty()) ::unlink(temps[i].c_str());
            }
        };
        for (int i = 0; i < kMemoryImageCount; ++i) {
            temps[i] = writeTemporary(folder, memoryImageFileName(static_cast<MemoryImage>(i)), images[i].text());
            if (temps[i].empty()) {
                discard(0);
                return 1;
            }
        }
        for (int i = 0; i < kMemoryImageCount; ++i) {
            if (::rename(temps[i].c_str(), paths.paths[i].c_str()) != 0) {
                discard(i);
                return 1;
            }
        }
        out = paths;
        return 0;
    } catch (...) {
        return 1;
    }
}

ImageReadResult ParseMemoryImage(std::string_view text) {
    ImageReadResult result;
    auto fail = [&result](size_t lineNo, const std::string& what) {
        result.ok = false;
        result.rows.clear();
        result.error = "line " + std::to_string(lineNo) + ": " + what;
        return std::move(result);
    };
    size_t lineNo = 0;
    for (std::string_view line : splitLines(text)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ImageRow row;
        uint32_t address = 0;
        for (size_t i = 0; i < 6; ++i) {
            const int d = i < line.size() ? hexDigit(line[i]) : -1;
            if (d < 0) return fail(lineNo, "expected six hex digits of the row address");
            address = address << 4 | static_cast<uint32_t>(d);
        }
        row.address = address;
        for (size_t k = 0; k < 16; ++k) {
            const size_t pos = 6 + 3 * k;
            const int b = hexByte(line, pos + 1);
            if (pos >= line.size() || line[pos] != ' ' || b < 0) {
                return fail(lineNo, "expected a space and two hex digits for byte " + std::to_string(k));
            }
            row.bytes[k] = static_cast<uint8_t>(b);
        }
        if (line.size() != 54) return fail(lineNo, "unexpected text after the sixteenth byte");
        result.rows.push_back(row);
    }
    result.ok = true;
    return result;
}

ImageReadResult ReadMemoryImage(const fs::path& imagePath) {
    try {
        std::string text;
        if (!readWhole(imagePath, text)) {
            ImageReadResult r;
            r.error = "cannot open " + imagePath.string();
            return r;
        }
        ImageReadResult r = ParseMemoryImage(text);
        if (!r.ok) r.error = imagePath.string() + ", " + r.error;
        return r;
    } catch (const std::exception& e) {
        ImageReadResult r;
        r.error = e.what();
        return r;
    }
}

}  // namespace xel::core
