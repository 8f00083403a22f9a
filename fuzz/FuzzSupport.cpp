#include "fuzz/FuzzSupport.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

namespace xel::fuzz {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPrefix = "xelor-fuzz-";

fs::path scratchParent() {
    // Harnesses write several files per input: memory is much faster than a disk.
    if (::access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
    return "/tmp";
}

// A run that ended without its exit handlers (a crash, a time limit) leaves its
// folder behind; the folder names its process, so a later run can tell.
void removeAbandoned(const fs::path& parent) {
    std::error_code ec;
    for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(kPrefix, 0) != 0) continue;
        const long pid = std::strtol(name.c_str() + kPrefix.size(), nullptr, 10);
        if (pid <= 0 || pid == ::getpid()) continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        std::error_code ignored;
        fs::remove_all(it->path(), ignored);
    }
}

fs::path* g_scratch = nullptr;

void removeScratch() {
    if (!g_scratch) return;
    std::error_code ec;
    fs::remove_all(*g_scratch, ec);
}

}  // namespace

void fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, file, line);
    std::fflush(stderr);
    std::abort();
}

const fs::path& scratchFolder() {
    if (!g_scratch) {
        const fs::path parent = scratchParent();
        removeAbandoned(parent);
        std::string pattern = (parent / (std::string(kPrefix) + std::to_string(::getpid()) + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) fail("a scratch folder can be created", __FILE__, __LINE__);
        g_scratch = new fs::path(pattern);
        std::atexit(removeScratch);
    }
    return *g_scratch;
}

void clearFolder(const fs::path& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        fs::remove_all(it->path(), ignored);
    }
}

void writeFile(const fs::path& path, std::span<const uint8_t> bytes) { writeFile(path, asText(bytes)); }

void writeFile(const fs::path& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) fail("the harness can write its input file", __FILE__, __LINE__);
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace xel::fuzz
