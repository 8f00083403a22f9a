#include "ConsoleTestSupport.h"

#include <algorithm>
#include <vector>

#include <QDir>

#include <fstream>
#include <iterator>

#include "platform/registry/Registry.h"

namespace contest {

std::filesystem::path stateDir() { return xel::registry::userStateDir(); }

std::string readBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

void clearStateDir() {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(stateDir(), ec)) std::filesystem::remove_all(e.path(), ec);
}

bool saveScreenshot(const QImage& image, const QString& name) {
    const QString dir = QStringLiteral(XELOR_BUILD_DIR "/screenshots");
    return QDir().mkpath(dir) && image.save(dir + u'/' + name + QStringLiteral(".png"));
}

}  // namespace contest

namespace contest {

namespace {
struct Registered {
    std::string file;
    Runner run;
};
std::vector<Registered>& runners() {
    static std::vector<Registered> list;
    return list;
}
}  // namespace

bool registerRunner(const char* file, Runner run) {
    runners().push_back({file, run});
    return true;
}

int runAll(int argc, char** argv) {
    auto list = runners();
    std::sort(list.begin(), list.end(), [](const Registered& a, const Registered& b) { return a.file < b.file; });
    int failed = 0;
    for (const auto& r : list) failed += r.run(argc, argv);
    return failed;
}

}  // namespace contest
