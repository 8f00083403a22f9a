// regsvr [--machine] [-u] LIBRARY
//
// Loads an in-process server library and calls its DllRegisterServer (or, with
// -u, DllUnregisterServer), which write (or remove) its entries in the
// registry of R = $XDG_CONFIG_HOME/xelor, or with --machine in the machine
// registry every user reads (/var/lib/xelor; needs write access there).
// Reports the outcome in words.
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

#include "platform/objrt/Server.h"
#include "platform/objrt/objrt.h"
#include "xelor/version.h"

namespace {

enum Exit { kDone = 0, kFailed = 1, kUsage = 2, kLoad = 3, kEntry = 4 };

struct Options {
    bool unregister = false;
    bool machine = false;
    const char* library = nullptr;
};

// One row per switch: its spellings, what it sets, its line of help.
struct Switch {
    const char* names[2];
    bool Options::*flag;
    const char* help;
};

constexpr Switch kSwitches[] = {
    {{"-u", "/u"}, &Options::unregister, "  -u         unregisters it instead (calls its DllUnregisterServer)\n"},
    {{"--machine", nullptr},
     &Options::machine,
     "  --machine  in the registry of every user of this machine (/var/lib/xelor),\n"
     "             not the caller's own; needs write access there\n"},
};

int usage(std::FILE* to, int code) {
    std::fprintf(to,
                 "usage: regsvr [--machine] [-u] LIBRARY\n"
                 "  registers the in-process server LIBRARY (calls its DllRegisterServer)\n");
    for (const Switch& s : kSwitches) std::fputs(s.help, to);
    std::fputs("  --version  shows the suite's version\n", to);
    return code;
}

const Switch* findSwitch(const char* arg) {
    for (const Switch& s : kSwitches) {
        for (const char* name : s.names) {
            if (name && !std::strcmp(arg, name)) return &s;
        }
    }
    return nullptr;
}

std::string statusText(HRESULT hr) {
    std::string text(ObjStatusText(hr, nullptr, 0), '\0');
    ObjStatusText(hr, text.data(), text.size() + 1);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!std::strcmp(a, "-h") || !std::strcmp(a, "--help")) return usage(stdout, kDone);
        if (!std::strcmp(a, "--version")) {
            // Installed as xelor-regsvr, built as regsvr: the name it was started by.
            const char* slash = std::strrchr(argv[0], '/');
            std::printf("%s %s\n", slash ? slash + 1 : argv[0], XELOR_VERSION);
            return kDone;
        }
        if (const Switch* s = findSwitch(a)) {
            opt.*(s->flag) = true;
        } else if (a[0] == '-' && a[1] != '\0') {
            std::fprintf(stderr, "regsvr: unknown option %s\n", a);
            return usage(stderr, kUsage);
        } else if (opt.library) {
            std::fprintf(stderr, "regsvr: one library at a time\n");
            return usage(stderr, kUsage);
        } else {
            opt.library = a;
        }
    }
    if (!opt.library) return usage(stderr, kUsage);
    const bool unregister = opt.unregister;
    const char* library = opt.library;

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
    // Before the entry point runs: its registration calls go through the runtime.
    if (opt.machine) ObjUseMachineRegistry();
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
