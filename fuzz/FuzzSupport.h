// What every harness shares: checks that end the run like a crash, a reader for
// the harness's own choices at the front of an input, and a scratch folder for
// the parsers that only take files.
//
// A harness is one LLVMFuzzerTestOneInput (plus, when it needs one, an
// LLVMFuzzerInitialize). The same source builds the libFuzzer target and the
// replay test of the plain build (ReplayMain.cpp), so every input kept under
// fuzz/corpus and fuzz/regressions is checked on every test run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace xel::fuzz {

// A broken property is a finding like a crash: say which, then abort so that
// libFuzzer keeps the input and the replay test fails.
[[noreturn]] void fail(const char* what, const char* file, int line);

#define FUZZ_CHECK(cond)                                           \
    do {                                                           \
        if (!(cond)) ::xel::fuzz::fail(#cond, __FILE__, __LINE__); \
    } while (0)

// Takes the harness's choices from the front of the input; once it runs dry
// every choice is 0, so any input is usable.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() {
        if (pos_ == size_) return 0;
        return data_[pos_++];
    }
    // Up to n bytes.
    std::span<const uint8_t> take(size_t n) {
        if (n > size_ - pos_) n = size_ - pos_;
        std::span<const uint8_t> s(data_ + pos_, n);
        pos_ += n;
        return s;
    }
    std::span<const uint8_t> rest() { return take(size_ - pos_); }
    bool empty() const { return pos_ == size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

inline std::string_view asText(std::span<const uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Read sizes for a stream split the way a link might deliver it: `pattern`
// cycles through sizes 1..64 taken from the input.
class Chunker {
public:
    explicit Chunker(std::span<const uint8_t> pattern) : pattern_(pattern) {}
    size_t next() {
        if (pattern_.empty()) return 64;
        const size_t n = 1 + pattern_[i_ % pattern_.size()] % 64;
        ++i_;
        return n;
    }

private:
    std::span<const uint8_t> pattern_;
    size_t i_ = 0;
};

// A private folder for this process (in memory where the system offers it),
// removed when the process ends normally.
const std::filesystem::path& scratchFolder();

// Empties a folder without removing it.
void clearFolder(const std::filesystem::path& folder);

// Writes a whole file, replacing it; aborts on failure (the harness cannot go on).
void writeFile(const std::filesystem::path& path, std::span<const uint8_t> bytes);
void writeFile(const std::filesystem::path& path, std::string_view text);
std::string readFile(const std::filesystem::path& path);

}  // namespace xel::fuzz
