// xelbench: the link and the core against the wire limit. See docs/performance.md.
//
//   xelbench [--out FILE] [--scale F] [--only SECTION]
//
// Prints the table of figures and writes FILE (bench/results.json by make bench).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "bench/Figures.h"
#include "bench/Report.h"
#include "tests/support/CoreRegistration.h"
#include "tests/support/Loopback.h"

namespace {

int usage(const char* why) {
    std::fprintf(stderr,
                 "xelbench: %s\n"
                 "usage: xelbench [--out FILE] [--scale F] [--only tcp|split|pty|paced|xelctl|server|firmware]\n",
                 why);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    xelbench::Options options;
    std::string out;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return usage(("missing value after " + a).c_str());
        if (a == "--out") {
            out = argv[++i];
        } else if (a == "--scale") {
            options.scale = std::atof(argv[++i]);
            if (!(options.scale > 0)) return usage("--scale needs a positive number");
        } else if (a == "--only") {
            options.only = argv[++i];
        } else {
            return usage(("unknown argument " + a).c_str());
        }
    }
    // The pauses are what is measured: the shortened test timing would measure nothing.
    if (const char* timing = std::getenv("XELOR_TEST_TIMING"); timing && *timing)
        return usage("XELOR_TEST_TIMING must not be set for a benchmark");
    // A private state folder (registry, port mapping) beside the build, never the user's own.
    if (!std::getenv("XDG_CONFIG_HOME")) {
        const auto home = std::filesystem::path(xeltest::binDir()).parent_path() / "bench-home";
        std::filesystem::create_directories(home);
        ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    }

    try {
        if (const auto registered = xeltest::registerCore(); !registered)
            throw std::runtime_error(registered.message());
        const auto figures = xelbench::runBench(options);
        std::fputs(xelbench::formatTable(figures).c_str(), stdout);
        if (!out.empty()) {
            if (!xelbench::writeJson(figures, out)) throw std::runtime_error("cannot write " + out);
            std::printf("\nwritten: %s\n", out.c_str());
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "xelbench: %s\n", e.what());
        return 1;
    }
}
