#include "platform/registry/RegistryFile.h"

#include "xelsys/Retry.h"
#include "xelsys/StateFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <utility>
#include <vector>

namespace xel::registry {
namespace detail {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const char* const kFileName = "registry.json";
const char* const kLockName = "registry.lock";
const char* const kRootNames[] = {"HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT"};

std::string osError(int err) {
    char buf[256];
    // The GNU strerror_r may return a static string instead of filling buf.
    return strerror_r(err, buf, sizeof buf);
}

// A failure a retry may cure (the process ran out of descriptors or memory):
// never a reason to move the user's file aside.
bool isTransient(int err) { return err == EMFILE || err == ENFILE || err == ENOMEM || err == EAGAIN || err == EINTR; }

struct WarningSlot {
    std::mutex mutex;
    std::string text;
};

WarningSlot& warningSlot() {
    // Never destroyed: a warning may be raised while the process exits.
    static WarningSlot* slot = new WarningSlot;
    return *slot;
}

// mkdir -p with `mode` for every folder it creates.
bool makeDirs(const fs::path& dir, std::string& why, mode_t mode = 0700) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        why = dir.string() + " is not a folder";
        return false;
    }
    if (dir.has_parent_path() && dir.parent_path() != dir && !makeDirs(dir.parent_path(), why, mode)) {
        return false;
    }
    if (::mkdir(dir.c_str(), mode) == 0) {
        // The umask must not take the machine folder away from other users.
        (void)::chmod(dir.c_str(), mode);
    } else if (errno != EEXIST) {
        why = "cannot create " + dir.string() + ": " + osError(errno);
        return false;
    }
    return true;
}

fs::path stateDirPath() { return fs::path(sys::stateFolder()); }

std::string stamp() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
    return buf;
}

// Renames from to to unless to exists.
int renameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // The file system cannot refuse for us; the exclusive lock keeps our own
    // processes out of the gap.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.c_str(), to.c_str());
}

// Moves a file we cannot use out of the way, under a name a person finds
// beside it. Returns the new name, or "" with why filled in.
fs::path moveAside(const fs::path& file, std::string& why) {
    const std::string base = file.string() + ".corrupt-" + stamp();
    for (int n = 1; n < 1000; ++n) {
        const fs::path target = n == 1 ? fs::path(base) : fs::path(base + "-" + std::to_string(n));
        if (renameNoReplace(file, target) == 0) return target;
        if (errno != EEXIST) {
            why = osError(errno);
            return {};
        }
    }
    why = "too many earlier copies";
    return {};
}

void fsyncDir(const fs::path& dir) {
    const int fd = sys::retryOnSignal([&] { return ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) return;
    if (::fsync(fd) != 0 && errno != EINVAL) {
        warn("the registry folder " + dir.string() + " could not be flushed to disk: " + osError(errno));
    }
    ::close(fd);
}

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = sys::retryOnSignal([&] { return ::write(fd, data.data() + done, data.size() - done); });
        if (n < 0) return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

enum class ReadResult { Ok, Missing, Unreadable, Transient };

ReadResult readFile(const fs::path& file, std::string& out, int& err) {
    const int fd = sys::retryOnSignal([&] { return ::open(file.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0) {
        err = errno;
        if (err == ENOENT) return ReadResult::Missing;
        return isTransient(err) ? ReadResult::Transient : ReadResult::Unreadable;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return ReadResult::Unreadable;
    }
    out.clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = sys::retryOnSignal([&] { return ::read(fd, buf, sizeof buf); });
        if (n < 0) {
            err = errno;
            ::close(fd);
            return isTransient(err) ? ReadResult::Transient : ReadResult::Unreadable;
        }
        if (n == 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ReadResult::Ok;
}

// A writer that died between creating its temporary file and renaming it
// leaves the file behind; under the exclusive lock no other writer is busy.
void removeStaleTemporaries(const fs::path& dir) {
    const std::string prefix = std::string(kFileName) + ".tmp-";
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename().string().rfind(prefix, 0) == 0) ::unlink(it->path().c_str());
    }
}

bool isBlank(const std::string& text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

}  // namespace

json emptyDocument() {
    json doc = json::object();
    doc["version"] = kFormatVersion;
    for (const char* root : kRootNames) {
        doc[root] = json{{"name", root}, {"values", json::array()}, {"keys", json::array()}};
    }
    return doc;
}

bool checkShape(const json& doc, std::string& why) {
    if (!doc.is_object()) {
        why = "the top level is not a JSON object";
        return false;
    }
    const auto version = doc.find("version");
    if (version == doc.end() || !version->is_number_unsigned()) {
        why = "it has no format version";
        return false;
    }
    // Writing and copying a document recurse, so a hand-made file nested deeper
    // than any key path may be is refused here. Walked with an explicit stack.
    std::vector<std::pair<const json*, std::size_t>> nested{{&doc, 1}};
    while (!nested.empty()) {
        const auto [node, depth] = nested.back();
        nested.pop_back();
        if (depth > kMaxJsonDepth) {
            why = "it is nested too deeply";
            return false;
        }
        if (node->is_structured()) {
            for (const json& child : *node) nested.emplace_back(&child, depth + 1);
        }
    }
    std::vector<const json*> pending;
    for (const char* root : kRootNames) {
        const auto it = doc.find(root);
        if (it != doc.end()) pending.push_back(&*it);
    }
    while (!pending.empty()) {
        const json& key = *pending.back();
        pending.pop_back();
        if (!key.is_object()) {
            why = "a key is not a JSON object";
            return false;
        }
        const auto name = key.find("name");
        if (name == key.end() || !name->is_string()) {
            why = "a key has no name";
            return false;
        }
        const auto values = key.find("values");
        if (values != key.end()) {
            if (!values->is_array()) {
                why = "the values of key \"" + name->get<std::string>() + "\" are not a list";
                return false;
            }
            for (const json& v : *values) {
                const auto vname = v.is_object() ? v.find("name") : v.end();
                if (!v.is_object() || vname == v.end() || !vname->is_string()) {
                    why = "a value of key \"" + name->get<std::string>() + "\" has no name";
                    return false;
                }
            }
        }
        const auto keys = key.find("keys");
        if (keys != key.end()) {
            if (!keys->is_array()) {
                why = "the subkeys of key \"" + name->get<std::string>() + "\" are not a list";
                return false;
            }
            for (const json& k : *keys) pending.push_back(&k);
        }
    }
    return true;
}

void warn(const std::string& text) {
    WarningSlot& slot = warningSlot();
    {
        std::lock_guard<std::mutex> lock(slot.mutex);
        slot.text = text;
    }
    // One write per line, so warnings of several threads do not interleave.
    const std::string line = "xelor: warning: " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

FileSession::~FileSession() { unlock(); }

void FileSession::unlock() {
    if (lockFd_ >= 0) {
        ::close(lockFd_);  // closing the last descriptor releases the flock
        lockFd_ = -1;
    }
}

FileSession::Open FileSession::open(Mode mode) {
    unlock();
    needExclusive_ = false;
    newer_ = false;
    const bool machine = layer_ == Layer::Machine;
    dir_ = machine ? fs::path(sys::machineRegistryDir()) : stateDirPath();
    if (dir_.empty()) {
        warn("no folder for the registry: neither XDG_CONFIG_HOME nor HOME names an absolute folder");
        return Open::Failed;
    }
    std::string why;
    // Every user reads the machine folder; only its writer may change it.
    if (!makeDirs(dir_, why, machine ? 0755 : 0700)) {
        warn("the registry folder is not usable: " + why);
        return Open::Failed;
    }
    const fs::path lockPath = dir_ / kLockName;
    lockFd_ = sys::retryOnSignal(
        [&] { return ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, machine ? 0644 : 0600); });
    if (lockFd_ < 0 && mode == Mode::Shared) {
        lockFd_ = sys::retryOnSignal([&] { return ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC); });
    }
    if (lockFd_ < 0) {
        const int err = errno;
        // A reader in a folder it may not write still reads: replacing the file
        // is atomic, so it never sees half of one.
        if (mode == Mode::Shared && !isTransient(err)) {
            return load(mode) ? Open::Ok : (needExclusive_ ? Open::NeedExclusive : Open::Failed);
        }
        warn("cannot open the registry lock " + lockPath.string() + ": " + osError(err));
        return Open::Failed;
    }
    const int op = mode == Mode::Exclusive ? LOCK_EX : LOCK_SH;
    if (sys::retryOnSignal([&] { return ::flock(lockFd_, op); }) != 0) {
        warn("cannot lock the registry " + lockPath.string() + ": " + osError(errno));
        unlock();
        return Open::Failed;
    }
    if (load(mode)) return Open::Ok;
    unlock();
    return needExclusive_ ? Open::NeedExclusive : Open::Failed;
}

bool FileSession::load(Mode mode) {
    const fs::path file = dir_ / kFileName;
    std::string text;
    int err = 0;
    std::string why;
    switch (readFile(file, text, err)) {
        case ReadResult::Missing: doc_ = emptyDocument(); return true;
        case ReadResult::Transient:
            warn("cannot read the registry " + file.string() + ": " + osError(err));
            return false;
        case ReadResult::Unreadable: why = osError(err); break;
        case ReadResult::Ok:
            // An empty file holds nothing that could be lost.
            if (isBlank(text)) {
                doc_ = emptyDocument();
                return true;
            }
            doc_ = json::parse(text, nullptr, /*allow_exceptions=*/false);
            if (doc_.is_discarded()) {
                why = "it is not valid JSON (truncated or damaged)";
            } else if (checkShape(doc_, why)) {
                newer_ = doc_["version"].get<std::uint64_t>() > kFormatVersion;
                for (const char* root : kRootNames) {
                    if (!doc_.contains(root)) doc_[root] = json{{"name", root}};
                }
                return true;
            }
            break;
    }
    if (mode == Mode::Shared) {
        needExclusive_ = true;
        return false;
    }
    std::string moveWhy;
    const fs::path aside = moveAside(file, moveWhy);
    if (aside.empty()) {
        warn("the registry " + file.string() + " cannot be used (" + why + ") and could not be moved aside (" +
             moveWhy + "); it is left as it is and nothing is written to it");
        return false;
    }
    fsyncDir(dir_);
    warn("the registry " + file.string() + " cannot be used (" + why + "); it was kept as " + aside.string() +
         " and the registry starts empty");
    doc_ = emptyDocument();
    return true;
}

Status FileSession::save() {
    if (lockFd_ < 0) return Status::IoError;
    const fs::path file = dir_ / kFileName;
    if (newer_) {
        warn("the registry " + file.string() + " was written by a newer version of this software; it is not changed");
        return Status::IoError;
    }
    std::string text;
    try {
        text = doc_.dump(2, ' ', false, json::error_handler_t::strict);
    } catch (const json::exception& e) {
        warn(std::string("the registry could not be encoded: ") + e.what());
        return Status::IoError;
    }
    text += '\n';
    removeStaleTemporaries(dir_);
    std::string tmp = (dir_ / kFileName).string() + ".tmp-XXXXXX";
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        warn("cannot write the registry in " + dir_.string() + ": " + osError(errno));
        return Status::IoError;
    }
    // The machine file is read by every user; mkostemp made it private.
    if (layer_ == Layer::Machine && ::fchmod(fd, 0644) != 0) {
        const std::string reason = osError(errno);
        ::close(fd);
        ::unlink(tmp.c_str());
        warn("cannot write the registry " + file.string() + ": " + reason + "; the previous file is unchanged");
        return Status::IoError;
    }
    const auto fail = [&](const char* what) {
        const std::string reason = osError(errno);
        ::unlink(tmp.c_str());
        warn(std::string("cannot ") + what + " the registry " + file.string() + ": " + reason +
             "; the previous file is unchanged");
        return Status::IoError;
    };
    if (!writeAll(fd, text) || ::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return fail("write");
    }
    if (::close(fd) != 0) return fail("write");
    if (::rename(tmp.c_str(), file.c_str()) != 0) return fail("replace");
    fsyncDir(dir_);
    return Status::Ok;
}

namespace {

// The machine file last read, known by the identity of the file it came from:
// a writer replaces the file whole, so a new version is a new inode.
struct MachineCache {
    std::mutex mutex;
    bool known = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    std::shared_ptr<json> doc;
};

MachineCache& machineCache() {
    // Never destroyed: a lookup may run while the process exits.
    static MachineCache* cache = new MachineCache;
    return *cache;
}

bool sameFile(const MachineCache& c, const struct stat& st) {
    return c.known && c.dev == st.st_dev && c.ino == st.st_ino && c.size == st.st_size &&
           c.mtime.tv_sec == st.st_mtim.tv_sec && c.mtime.tv_nsec == st.st_mtim.tv_nsec;
}

std::shared_ptr<json> emptyShared() {
    static const std::shared_ptr<json> empty = std::make_shared<json>(emptyDocument());
    return empty;
}

}  // namespace

std::shared_ptr<json> machineDocument() {
    const fs::path file = fs::path(sys::machineRegistryDir()) / kFileName;
    MachineCache& cache = machineCache();
    const int fd = sys::retryOnSignal([&] { return ::open(file.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) return emptyShared();
        std::lock_guard<std::mutex> lock(cache.mutex);
        // Reported once until the file changes, not at every lookup.
        if (cache.known || cache.doc == nullptr) {
            cache.known = false;
            cache.doc = emptyShared();
            warn("the machine registry " + file.string() + " cannot be read (" + osError(err) + "); it is ignored");
        }
        return cache.doc;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return emptyShared();
    }
    {
        std::lock_guard<std::mutex> lock(cache.mutex);
        if (sameFile(cache, st)) {
            ::close(fd);
            return cache.doc;
        }
    }
    std::string text;
    std::string why;
    bool readable = S_ISREG(st.st_mode);
    if (readable) {
        char buf[65536];
        for (;;) {
            const ssize_t n = sys::retryOnSignal([&] { return ::read(fd, buf, sizeof buf); });
            if (n < 0) {
                why = osError(errno);
                readable = false;
                break;
            }
            if (n == 0) break;
            text.append(buf, static_cast<std::size_t>(n));
        }
    } else {
        why = "it is not a file";
    }
    ::close(fd);
    auto doc = std::make_shared<json>();
    if (readable && isBlank(text)) {
        *doc = emptyDocument();
    } else if (readable) {
        *doc = json::parse(text, nullptr, /*allow_exceptions=*/false);
        if (doc->is_discarded()) {
            why = "it is not valid JSON (truncated or damaged)";
            readable = false;
        } else if (!checkShape(*doc, why)) {
            readable = false;
        } else if (!doc->contains("HKEY_CLASSES_ROOT")) {
            (*doc)["HKEY_CLASSES_ROOT"] = json{{"name", "HKEY_CLASSES_ROOT"}};
        }
    }
    if (!readable) doc = emptyShared();
    std::lock_guard<std::mutex> lock(cache.mutex);
    const bool reported = sameFile(cache, st);
    cache.known = true;
    cache.dev = st.st_dev;
    cache.ino = st.st_ino;
    cache.size = st.st_size;
    cache.mtime = st.st_mtim;
    cache.doc = doc;
    if (!readable && !reported) {
        warn("the machine registry " + file.string() + " cannot be used (" + why +
             "); it is ignored and left as it is");
    }
    return doc;
}

}  // namespace detail

std::filesystem::path machineStateDir() {
    try {
        return sys::machineRegistryDir();
    } catch (...) {
        return {};
    }
}

std::filesystem::path userStateDir() {
    try {
        const std::filesystem::path dir = detail::stateDirPath();
        std::string why;
        if (!dir.empty()) (void)detail::makeDirs(dir, why);
        return dir;
    } catch (...) {
        return {};
    }
}

std::string lastWarning() {
    try {
        detail::WarningSlot& slot = detail::warningSlot();
        std::lock_guard<std::mutex> lock(slot.mutex);
        return slot.text;
    } catch (...) {
        return {};
    }
}

}  // namespace xel::registry
