#include "tests/support/HexRecord.h"

#include <cstdio>

namespace xeltest {

std::string hexRecord(int type, unsigned address, const std::vector<std::uint8_t>& data) {
    char buf[16];
    std::snprintf(buf, sizeof buf, ":%02X%04X%02X", static_cast<unsigned>(data.size()), address & 0xFFFF,
                  static_cast<unsigned>(type));
    std::string line = buf;
    unsigned sum =
        static_cast<unsigned>(data.size()) + ((address >> 8) & 0xFF) + (address & 0xFF) + static_cast<unsigned>(type);
    for (std::uint8_t b : data) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        line += buf;
        sum += b;
    }
    std::snprintf(buf, sizeof buf, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + buf;
}

}  // namespace xeltest
