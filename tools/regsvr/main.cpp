// regsvr [-u] LIBRARY
//
// Loads an in-process server library and calls its DllRegisterServer (or, with
// -u, DllUnregisterServer), which write (or remove) its entries in the
// registry of R = $XDG_CONFIG_HOME/xelor. Reports the outcome in words.
//
// Exit codes: 0 done; 1 the entry point reported a failure; 2 usage; 3 the
// library cannot be loaded; 4 the library lacks the entry point.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/objrt/objrt.h"
#include "xelor/version.h"

namespace {

enum Exit { kDone = 0, kFailed = 1, kUsage = 2, kLoad = 3, kEntry = 4 };

int usage(std::FILE* to, int code) {
  std::fprintf(to,
               "usage: regsvr [-u] LIBRARY\n"
               "  registers the in-process server LIBRARY (calls its DllRegisterServer)\n"
               "  -u  unregisters it instead (calls its DllUnregisterServer)\n"
               "  --version  shows the suite's version\n");
  return code;
}

std::string statusText(HRESULT hr) {
  std::string text(ObjStatusText(hr, nullptr, 0), '\0');
  ObjStatusText(hr, text.data(), text.size() + 1);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false;
  const char* library = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strcmp(a, "-h") || !std::strcmp(a, "--help")) return usage(stdout, kDone);
    if (!std::strcmp(a, "--version")) {
      // Installed as xelor-regsvr, built as regsvr: the name it was started by.
      const char* slash = std::strrchr(argv[0], '/');
      std::printf("%s %s\n", slash ? slash + 1 : argv[0], XELOR_VERSION);
      return kDone;
    }
    if (!std::strcmp(a, "-u") || !std::strcmp(a, "/u")) {
      unregister = true;
    } else if (a[0] == '-' && a[1] != '\0') {
      std::fprintf(stderr, "regsvr: unknown option %s\n", a);
      return usage(stderr, kUsage);
    } else if (library) {
      std::fprintf(stderr, "regsvr: one library at a time\n");
      return usage(stderr, kUsage);
    } else {
      library = a;
    }
  }
  if (!library) return usage(stderr, kUsage);

  // The library registers the path it was loaded from: make it absolute, and
  // never let a bare name go searching the loader's path.
  char resolved[PATH_MAX];
  if (!realpath(library, resolved)) {
    std::fprintf(stderr, "regsvr: %s: %s\n", library, std::strerror(errno));
    return kLoad;
  }
  void* handle = dlopen(resolved, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    std::fprintf(stderr, "regsvr: cannot load %s: %s\n", resolved, why ? why : "unknown reason");
    return kLoad;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto fn = reinterpret_cast<PFN_DllRegisterServer>(dlsym(handle, entry));
  if (!fn) {
    std::fprintf(stderr, "regsvr: %s has no entry point %s; it is not an in-process server\n", resolved, entry);
    dlclose(handle);
    return kEntry;
  }
  CoInitialize(nullptr);
  HRESULT hr = fn();
  CoUninitialize();
  int code;
  if (SUCCEEDED(hr)) {
    std::printf("%s in %s succeeded.\n", entry, resolved);
    code = kDone;
  } else {
    std::fprintf(stderr, "regsvr: %s in %s failed: %s\n", entry, resolved, statusText(hr).c_str());
    code = kFailed;
  }
  dlclose(handle);
  return code;
}
