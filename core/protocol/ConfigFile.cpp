#include "core/protocol/ConfigFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

#include "platform/codepage/CodePage.h"
#include "xelsys/Retry.h"

namespace xel::core {

namespace {

void putInt(ConfigBytes& out, size_t offset, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (size_t i = 0; i < 4; ++i) out[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

int32_t getInt(std::span<const uint8_t> in, size_t offset) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v |= static_cast<uint32_t>(in[offset + i]) << (8 * i);
    return static_cast<int32_t>(v);
}

// The text up to its first zero character, in the code page, cut at `width`;
// the rest of the field stays zero.
void putText(ConfigBytes& out, size_t offset, size_t width, const std::u16string& text) {
    const std::u16string_view upToNul(text.data(), std::min(text.size(), text.find(u'\0')));
    const std::string ansi = cp::fromUtf16(upToNul);
    std::memcpy(out.data() + offset, ansi.data(), std::min(ansi.size(), width));
}

std::u16string getText(std::span<const uint8_t> in, size_t offset, size_t width) {
    size_t n = 0;
    while (n < width && in[offset + n] != 0) ++n;
    return cp::toUtf16(std::string_view(reinterpret_cast<const char*>(in.data() + offset), n));
}

using sys::retryOnSignal;

bool writeAll(int fd, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = retryOnSignal([&] { return ::write(fd, bytes.data() + done, bytes.size() - done); });
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The file a save lands in: `path` with symbolic links in its last component
// followed, so that a link stays a link and the file it leads to is replaced in
// that file's own folder. A link to a file not made yet leads to where it will
// be. Nothing for a loop of links.
std::optional<std::filesystem::path> saveTarget(const std::filesystem::path& path) {
    std::filesystem::path p = path;
    for (int hops = 0; hops < 40; ++hops) {  // the kernel's own bound on a chain of links
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::error_code ec;
        const std::filesystem::path next = std::filesystem::read_symlink(p, ec);
        if (ec || next.empty()) return std::nullopt;
        p = next.is_absolute() ? next : p.parent_path() / next;
    }
    return std::nullopt;
}

// Writes `bytes` over an existing file, which is cut to their length first. Only
// for a file that cannot be replaced: a failure part-way leaves it short, so a
// load refuses it instead of taking a mix of two setups.
bool writeInPlace(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
    const int fd = retryOnSignal([&] { return ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC); });
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes);
    if (ok) ok = retryOnSignal([&] { return ::fsync(fd); }) == 0;
    return (::close(fd) == 0) && ok;
}

// A name for the temporary file beside the target that no other save uses.
std::filesystem::path temporaryBeside(const std::filesystem::path& target) {
    static std::atomic<unsigned> counter{0};
    // Static thread storage, as in CXel.cpp: the library is unloaded at run time.
    [[gnu::tls_model("initial-exec")]] thread_local std::minstd_rand random(
        static_cast<unsigned>(std::random_device{}()));
    std::string name = "." + target.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                       std::to_string(counter.fetch_add(1)) + "-" + std::to_string(random());
    return target.parent_path() / name;
}

}  // namespace

ConfigBytes encodeConfig(const UnitSetup& s) {
    using L = ConfigLayout;
    ConfigBytes out{};
    std::copy(kConfigSignature.begin(), kConfigSignature.end(), out.begin());
    putInt(out, L::kPowerOnFormat, s.powerOnFormat);
    putInt(out, L::kAesEbuFallback, s.aesEbuFallback);
    putInt(out, L::kFormatCount, s.formatCount);
    for (int i = 0; i < kFormatCount; ++i)
        std::memcpy(out.data() + L::kRecords + static_cast<size_t>(i) * kFormatRecordSize, s.records[i].bytes,
                    kFormatRecordSize);
    putText(out, L::kProcessorName, L::kProcessorNameWidth, s.processorName);
    putText(out, L::kTheaterNumber, L::kTheaterNumberWidth, s.theaterNumber);
    putText(out, L::kTheaterName, L::kTheaterNameWidth, s.theaterName);
    putText(out, L::kScreenNumber, L::kScreenNumberWidth, s.screenNumber);
    putText(out, L::kProcessorGuid, L::kProcessorGuidWidth, s.processorGuid);
    putInt(out, L::kPowerOnMode, s.powerOnMode);
    return out;
}

std::optional<UnitSetup> decodeConfig(std::span<const uint8_t> in) {
    using L = ConfigLayout;
    if (in.size() < kConfigFileSize) return std::nullopt;
    if (!std::equal(kConfigSignature.begin(), kConfigSignature.end(), in.begin())) return std::nullopt;
    UnitSetup s;
    s.powerOnFormat = getInt(in, L::kPowerOnFormat);
    s.aesEbuFallback = getInt(in, L::kAesEbuFallback);
    s.formatCount = getInt(in, L::kFormatCount);
    for (int i = 0; i < kFormatCount; ++i)
        std::memcpy(s.records[i].bytes, in.data() + L::kRecords + static_cast<size_t>(i) * kFormatRecordSize,
                    kFormatRecordSize);
    s.processorName = getText(in, L::kProcessorName, L::kProcessorNameWidth);
    s.theaterNumber = getText(in, L::kTheaterNumber, L::kTheaterNumberWidth);
    s.theaterName = getText(in, L::kTheaterName, L::kTheaterNameWidth);
    s.screenNumber = getText(in, L::kScreenNumber, L::kScreenNumberWidth);
    s.processorGuid = getText(in, L::kProcessorGuid, L::kProcessorGuidWidth);
    s.powerOnMode = getInt(in, L::kPowerOnMode);
    return s;
}

bool writeFileReplacing(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
    if (path.empty() || !path.has_filename()) return false;
    const auto target = saveTarget(path);
    if (!target || !target->has_filename()) return false;
    // An existing file we may not write stays as it is, as an in-place save would;
    // otherwise the new file takes over its permission bits.
    struct stat old {};
    const bool exists = ::stat(target->c_str(), &old) == 0;
    if (exists && (!S_ISREG(old.st_mode) || ::access(target->c_str(), W_OK) != 0)) return false;

    const std::filesystem::path temp = temporaryBeside(*target);
    const int fd = retryOnSignal([&] { return ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
    // The folder takes no second file (read-only to us, or the temporary's longer
    // name does not fit): a file we may write is still written, where it is. Other
    // failures (no space, no descriptors) would hit the in-place write as well.
    if (fd < 0) {
        const bool folderRefuses = errno == EACCES || errno == EPERM || errno == ENAMETOOLONG;
        return exists && folderRefuses && writeInPlace(*target, bytes);
    }
    bool ok = writeAll(fd, bytes);
    if (ok && exists) ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    if (ok) ok = retryOnSignal([&] { return ::fsync(fd); }) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temp.c_str(), target->c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

std::optional<std::vector<uint8_t>> readFileStart(const std::filesystem::path& path, size_t maxBytes) {
    const int fd = retryOnSignal([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0) return std::nullopt;
    std::vector<uint8_t> out(maxBytes);
    size_t done = 0;
    bool ok = true;
    while (done < maxBytes) {
        const ssize_t n = retryOnSignal([&] { return ::read(fd, out.data() + done, maxBytes - done); });
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    out.resize(done);
    return out;
}

}  // namespace xel::core
