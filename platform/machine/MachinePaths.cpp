#include "platform/machine/MachinePaths.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdlib>

namespace xel::machine {

std::string systemPath(std::string_view absolute) {
  const char* root = std::getenv("XELOR_SYSTEM_ROOT");
  std::string path = (root != nullptr) ? root : "";
  while (!path.empty() && path.back() == '/') path.pop_back();
  path += absolute;
  return path;
}

std::string registryDir() { return systemPath("/var/lib/xelor"); }

std::string portsDir() { return systemPath("/etc/xelor/ports"); }

std::string findPortEntry(const std::string& folder, std::string_view name) {
  // A name that could leave the folder is never a mapping.
  if (folder.empty() || name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) {
    return {};
  }
  const std::string text(name);
  struct stat st {};
  if (::lstat((folder + "/" + text).c_str(), &st) == 0) return folder + "/" + text;
  std::string found;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(dir)) {
      if (::strcasecmp(e->d_name, text.c_str()) == 0) {
        found = folder + "/" + e->d_name;
        break;
      }
    }
    ::closedir(dir);
  }
  return found;
}

std::string mappedPort(const std::string& userStateDir, std::string_view name) {
  if (!userStateDir.empty()) {
    if (std::string mine = findPortEntry(userStateDir + "/ports", name); !mine.empty()) return mine;
  }
  return findPortEntry(portsDir(), name);
}

}  // namespace xel::machine
