// Intel HEX records for tests that build firmware files of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace xeltest {

// One record, ":LLAAAATT" then the data and the checksum, in upper-case hex and
// without a line end. `address` is taken modulo 0x10000.
std::string hexRecord(int type, unsigned address, const std::vector<std::uint8_t>& data);

}  // namespace xeltest
