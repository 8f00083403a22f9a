#include "platform/inifile/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <system_error>

#include "platform/codepage/CodePage.h"
#include "platform/inifile/IniDocument.h"
#include "xelsys/Retry.h"

namespace xel::ini {

using detail::IniDocument;

namespace {

std::string_view trimmed(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// Names are trimmed as the reader trims them; one that still would not read back
// as itself is refused rather than written. A section may be named "" ("[]").
bool validSection(std::string_view s) { return !hasLineBreak(s); }

bool validKey(std::string_view k) {
    return !k.empty() && !hasLineBreak(k) && k.find('=') == std::string_view::npos && k.front() != ';' &&
           k.front() != '[';
}

using sys::retryOnSignal;

// A section or key name as the file holds it: Windows-1252, without surrounding blanks.
std::string name(std::u16string_view text) { return std::string(trimmed(cp::fromUtf16(text))); }

std::string systemText(const char* what, const std::filesystem::path& p, int err) {
    return std::string(what) + " " + p.string() + ": " + std::strerror(err);
}

}  // namespace

const char* toString(Status s) {
    switch (s) {
        case Status::Ok: return "ok";
        case Status::InvalidName: return "invalid section or key name";
        case Status::InvalidValue: return "invalid value";
        case Status::IoError: return "file could not be read or written";
    }
    return "unknown status";
}

IniFile::IniFile(std::filesystem::path path) : path_(std::move(path)) {}

namespace {

// The document of a file; a missing file is an empty document.
std::optional<IniDocument> load(const std::filesystem::path& path, std::string& error) {
    std::string bytes;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return IniDocument::parse({});
    if (readFile(path, bytes, &error) != Status::Ok) return std::nullopt;
    return IniDocument::parse(bytes);
}

}  // namespace

std::u16string IniFile::readString(std::u16string_view section, std::u16string_view key,
                                   std::u16string_view defaultValue) const {
    const auto doc = load(path_, lastError_);
    if (!doc) return std::u16string(defaultValue);
    const auto v = doc->value(name(section), name(key));
    return v ? cp::toUtf16(*v) : std::u16string(defaultValue);
}

int32_t IniFile::readInt(std::u16string_view section, std::u16string_view key, int32_t defaultValue) const {
    const auto doc = load(path_, lastError_);
    if (!doc) return defaultValue;
    const auto v = doc->value(name(section), name(key));
    if (!v || v->empty()) return defaultValue;
    size_t i = 0;
    bool negative = false;
    if ((*v)[i] == '+' || (*v)[i] == '-') negative = (*v)[i++] == '-';
    // Accumulate as a negative number so INT32_MIN fits; saturate beyond.
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    int64_t n = 0;
    for (; i < v->size() && (*v)[i] >= '0' && (*v)[i] <= '9'; ++i) {
        n = n * 10 - ((*v)[i] - '0');
        if (n < kMin) n = kMin;
    }
    if (!negative) n = -n;
    if (n > std::numeric_limits<int32_t>::max()) n = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(n);
}

std::vector<std::u16string> IniFile::sectionNames() const {
    std::vector<std::u16string> names;
    const auto doc = load(path_, lastError_);
    if (!doc) return names;
    for (const std::string& n : doc->sectionNames()) names.push_back(cp::toUtf16(n));
    return names;
}

bool IniFile::hasSection(std::u16string_view section) const {
    const auto doc = load(path_, lastError_);
    return doc && doc->hasSection(name(section));
}

Status IniFile::writeString(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
    return writeStrings(section, {Entry{std::u16string(key), std::u16string(value)}});
}

Status IniFile::writeStrings(std::u16string_view section, const std::vector<Entry>& entries) {
    const std::string s = name(section);
    if (!validSection(s)) return Status::InvalidName;
    std::vector<std::pair<std::string, std::string>> bytes;
    for (const Entry& e : entries) {
        std::string k = name(e.key);
        std::string v = cp::fromUtf16(e.value);
        if (!validKey(k)) return Status::InvalidName;
        if (hasLineBreak(v)) return Status::InvalidValue;
        bytes.emplace_back(std::move(k), std::move(v));
    }
    auto doc = load(path_, lastError_);
    if (!doc) return Status::IoError;
    for (const auto& [k, v] : bytes) doc->set(s, k, v);
    return replaceFile(path_, doc->serialize(), &lastError_);
}

Status IniFile::deleteKey(std::u16string_view section, std::u16string_view key) {
    auto doc = load(path_, lastError_);
    if (!doc) return Status::IoError;
    if (!doc->removeKey(name(section), name(key))) return Status::Ok;
    return replaceFile(path_, doc->serialize(), &lastError_);
}

Status IniFile::deleteSection(std::u16string_view section) {
    auto doc = load(path_, lastError_);
    if (!doc) return Status::IoError;
    if (!doc->removeSection(name(section))) return Status::Ok;
    return replaceFile(path_, doc->serialize(), &lastError_);
}

Status readFile(const std::filesystem::path& path, std::string& bytes, std::string* errorText) {
    bytes.clear();
    auto fail = [&](int err) {
        if (errorText) *errorText = systemText("cannot read", path, err);
        return Status::IoError;
    };
    const int fd = retryOnSignal([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0) return fail(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        return fail(err);
    }
    char buf[16384];
    for (;;) {
        const ssize_t n = retryOnSignal([&] { return ::read(fd, buf, sizeof buf); });
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            bytes.clear();
            return fail(err);
        }
        if (n == 0) break;
        bytes.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return Status::Ok;
}

Status replaceFile(const std::filesystem::path& path, std::string_view bytes, std::string* errorText) {
    auto fail = [&](const char* what, const std::filesystem::path& p, int err) {
        if (errorText) *errorText = systemText(what, p, err);
        return Status::IoError;
    };
    // Replace the file a symbolic link points at, not the link.
    std::error_code ec;
    std::filesystem::path target = path;
    if (std::filesystem::is_symlink(path, ec)) {
        target = std::filesystem::weakly_canonical(path, ec);
        if (ec) return fail("cannot resolve", path, ec.value());
    }
    std::filesystem::path dir = target.parent_path();
    if (dir.empty()) dir = ".";

    std::string tmpl = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) return fail("cannot create a temporary file for", target, errno);
    const std::filesystem::path tmp = tmpl;
    auto abandon = [&](const char* what, int err) {
        ::close(fd);
        ::unlink(tmp.c_str());
        return fail(what, target, err);
    };

    struct stat old {};
    const mode_t mode = ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    if (::fchmod(fd, mode) != 0) return abandon("cannot set the mode of", errno);

    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = retryOnSignal([&] { return ::write(fd, bytes.data() + done, bytes.size() - done); });
        if (n < 0) return abandon("cannot write", errno);
        done += static_cast<size_t>(n);
    }
    if (retryOnSignal([&] { return ::fsync(fd); }) != 0) return abandon("cannot flush", errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        return fail("cannot close", target, err);
    }
    if (::rename(tmp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        return fail("cannot replace", target, err);
    }
    // Make the rename itself durable; a failure here no longer endangers the data.
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
    }
    return Status::Ok;
}

}  // namespace xel::ini
