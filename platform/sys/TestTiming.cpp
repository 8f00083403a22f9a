#include "xelsys/TestTiming.h"

#include <cstdlib>
#include <cstring>

namespace xel::sys {

bool fastTestTiming() noexcept {
    static const bool fast = [] {
        const char* mode = std::getenv("XELOR_TEST_TIMING");
        return mode != nullptr && std::strcmp(mode, "fast") == 0;
    }();
    return fast;
}

}  // namespace xel::sys
