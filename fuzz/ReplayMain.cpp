// Runs a harness over every file of the folders named on the command line, the
// way libFuzzer runs one input, without libFuzzer: the plain build's regression
// test for the checked-in corpus and for every crash input kept. Without
// arguments it replays the folders it was built for.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    namespace fs = std::filesystem;
    std::vector<fs::path> folders(argv + 1, argv + argc);
#if defined(FUZZ_CORPUS_DIR) && defined(FUZZ_REGRESSIONS_DIR)
    if (folders.empty()) folders = {FUZZ_CORPUS_DIR, FUZZ_REGRESSIONS_DIR};
#endif
    std::vector<fs::path> inputs;
    for (const fs::path& folder : folders) {
        std::error_code ec;
        if (!fs::is_directory(folder, ec)) continue;  // a target without kept crashes has no folder
        for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_regular_file()) inputs.push_back(it->path());
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "replay: no inputs in the folders given\n");
        return 1;
    }
    for (const fs::path& p : inputs) {
        std::ifstream in(p, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        std::fprintf(stderr, "replay: %s (%zu bytes)\n", p.c_str(), bytes.size());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::fprintf(stderr, "replay: %zu inputs, all passed\n", inputs.size());
    return 0;
}
