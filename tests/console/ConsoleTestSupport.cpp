#include "ConsoleTestSupport.h"

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
