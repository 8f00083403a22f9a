// Helper process for the concurrency tests: writes COUNT values into KEY of the
// current user's registry, one change per call, as another program would.
// Usage: registry_writer KEY COUNT. Exit status 0 when every write said Ok.
#include "platform/registry/Registry.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: registry_writer KEY COUNT\n");
        return 2;
    }
    const std::string key = argv[1];
    const long count = std::strtol(argv[2], nullptr, 10);
    for (long i = 0; i < count; ++i) {
        const auto s = xel::registry::setDword(xel::registry::Root::CurrentUser, key, "v" + std::to_string(i),
                                               static_cast<uint32_t>(i));
        if (s != xel::registry::Status::Ok) {
            std::fprintf(stderr, "write %ld failed: %s\n", i, xel::registry::toString(s));
            return 1;
        }
    }
    return 0;
}
