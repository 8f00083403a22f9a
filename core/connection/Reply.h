// Replies from the unit: collecting the bytes of one reply up to its prompt,
// and reading hexadecimal values out of its text. Pure; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/objrt/objrt.h"

namespace xel::core {

// A reply is complete when the last byte received so far is the prompt.
inline constexpr char kPrompt = '>';
inline constexpr size_t kReplyMax = 250;

// Collects one reply in a fixed buffer. The steps: waiting (nothing or part of
// a reply held), complete (the last byte held is the prompt), full (no room
// left and no prompt: this reply can never complete).
class ReplyCollector {
public:
    // Where the next bytes go and how many fit.
    char* freeSpace() noexcept { return bytes_ + held_; }
    size_t freeSize() const noexcept { return kReplyMax - held_; }
    // Takes n bytes just written at freeSpace() (more than fits is ignored).
    void added(size_t n) noexcept;

    bool complete() const noexcept { return held_ > 0 && bytes_[held_ - 1] == kPrompt; }
    bool full() const noexcept { return held_ == kReplyMax && !complete(); }
    std::string_view bytes() const noexcept { return {bytes_, held_}; }

private:
    char bytes_[kReplyMax] = {};
    size_t held_ = 0;
};

// The reply text without the carriage returns, spaces, line feeds and prompts
// at either end.
std::u16string_view trimReply(std::u16string_view reply) noexcept;

// True for a reply whose text is only "?": the unit refused the command (bad
// checksum or a command it does not know).
bool isRefusal(std::u16string_view reply) noexcept;

// Reads up to `count` TAB-separated hexadecimal values from the trimmed reply
// into values[0..count). Each field is scanned as "%X" scans it (leading blanks
// skipped, either letter case, an optional sign and 0x prefix); a field without
// a hexadecimal digit leaves its element unchanged. When the text holds no more
// TABs, the remaining elements get the last field again; an empty text stops.
void parseHexValues(std::u16string_view reply, int count, LONG* values) noexcept;

}  // namespace xel::core
