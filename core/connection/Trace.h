// The byte trace of the link: every frame sent and every reply received, one
// line each on stderr, for field diagnosis ("xelctl -v" switches it on).
//
//   14:02:07.315 > picver\r\x89
//   14:02:07.342 < 1A\r\n>
//
// Off unless XELOR_TRACE is set to a non-empty value other than "0" when the
// library loads. Printable ASCII is written as it is; other bytes as \r, \n,
// \t, \\ or \xHH, so a line never carries a raw control byte.
//
// Thread contract: any thread; each line goes out in one write(2), so lines
// of the client's thread and the monitor never mix.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace xel::core {

bool traceEnabled() noexcept;

// The escaped form of bytes, as a trace line shows them.
std::string traceEscape(std::string_view bytes);

// '>' for a frame sent, '<' for bytes received. `note` (may be empty) follows
// the bytes in parentheses, e.g. "no complete reply".
void traceBytes(char direction, std::string_view bytes, std::string_view note = {}) noexcept;

}  // namespace xel::core
