// The connection's side of a reply: the bytes a link delivers, in reads of any
// size, collected up to the prompt, turned into text, judged as a refusal or not,
// read as TAB-separated hexadecimal values, and taken from the unit's numbering
// to ours.
//
// Input: [count][4 read sizes][the bytes the unit sends].
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/connection/Reply.h"
#include "core/protocol/UnitNumbering.h"
#include "fuzz/FuzzSupport.h"
#include "platform/codepage/CodePage.h"

namespace {

using namespace xel::core;
using xel::fuzz::Chunker;
using xel::fuzz::Input;

constexpr LONG kUntouched = 0x5A5A5A5A;

// Reads `count` values into an array with a guard on either side; the guards
// must survive and the call must not read or write past the array.
std::vector<LONG> parseGuarded(std::u16string_view reply, int count) {
    std::vector<LONG> slots(static_cast<size_t>(count) + 2, kUntouched);
    parseHexValues(reply, count, slots.data() + 1);
    FUZZ_CHECK(slots.front() == kUntouched);
    FUZZ_CHECK(slots.back() == kUntouched);
    return {slots.begin() + 1, slots.end() - 1};
}

// The first value must be what the C library's "%X" makes of the same text.
void checkFirstFieldAgainstScanf(std::u16string_view reply) {
    const std::u16string_view text = trimReply(reply);
    std::string narrow;
    for (char16_t c : text) {
        if (c == 0 || c >= 0x80) return;  // the C library's scanner sees bytes, and stops at a NUL
        narrow.push_back(static_cast<char>(c));
    }
    unsigned expected = 0;
    const int matched = std::sscanf(narrow.c_str(), "%X", &expected);
    const std::vector<LONG> got = parseGuarded(reply, 1);
    if (matched == 1)
        FUZZ_CHECK(static_cast<unsigned>(got[0]) == expected);
    else
        FUZZ_CHECK(got[0] == kUntouched);
}

void checkReply(std::u16string_view reply, int count) {
    const std::u16string_view trimmed = trimReply(reply);
    FUZZ_CHECK(trimmed.size() <= reply.size());
    FUZZ_CHECK(isRefusal(reply) == (trimmed == u"?"));
    const std::vector<LONG> values = parseGuarded(reply, count);
    // No value can come out of a text without a hexadecimal digit in it.
    bool anyDigit = false;
    for (char16_t c : trimmed)
        anyDigit = anyDigit || (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    if (!anyDigit)
        for (LONG v : values) FUZZ_CHECK(v == kUntouched);
    // Any value a unit sends steps between its numbering and ours and back
    // unchanged (a signed overflow there aborts this build), and names a format
    // only when it is one of the unit's eight buttons.
    for (LONG v : values) {
        FUZZ_CHECK(unitNumber(ourNumber(v)) == v);
        const std::optional<int32_t> format = formatOfButton(v);
        FUZZ_CHECK(format.has_value() == (v >= 1 && v <= 8));
        if (format) FUZZ_CHECK(*format >= 0 && *format <= 7 && unitNumber(*format) == v);
    }
    checkFirstFieldAgainstScanf(reply);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const int count = in.byte() % 17;
    Chunker reads(in.take(4));
    const std::span<const uint8_t> stream = in.rest();

    // The read loop of a connection: reads as large as the link hands over, up
    // to the room left, until the last byte held is the prompt or no room is left.
    ReplyCollector collector;
    size_t delivered = 0;
    bool complete = false;
    while (delivered < stream.size() && !collector.full()) {
        const size_t n = std::min({reads.next(), collector.freeSize(), stream.size() - delivered});
        std::memcpy(collector.freeSpace(), stream.data() + delivered, n);
        collector.added(n);
        delivered += n;

        const std::string_view held = collector.bytes();
        FUZZ_CHECK(held.size() == delivered);
        FUZZ_CHECK(held.size() + collector.freeSize() == kReplyMax);
        FUZZ_CHECK(held == xel::fuzz::asText(stream.first(delivered)));
        FUZZ_CHECK(collector.complete() == (!held.empty() && held.back() == kPrompt));
        FUZZ_CHECK(!(collector.complete() && collector.full()));
        if (collector.complete()) {
            complete = true;
            break;
        }
    }
    FUZZ_CHECK(collector.bytes().size() <= kReplyMax);
    if (complete) checkReply(xel::cp::toUtf16(collector.bytes()), count);

    // Text that never went through the code page: any UTF-16, lone surrogates too.
    std::u16string wide(stream.size() / 2, u'\0');
    std::memcpy(wide.data(), stream.data(), wide.size() * 2);
    checkReply(wide, count);
    return 0;
}
