// Creation of objects by class id or ProgID: the registry names the server
// library, which is loaded once and asked for its class object.
#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/codepage/CodePage.h"
#include "platform/objrt/objrt.h"
#include "platform/registry/Registry.h"

namespace {

using xel::registry::Root;

thread_local int tlsInitCount = 0;
thread_local std::string tlsLoadError;

struct Library {
    std::string path;
    void* handle = nullptr;
    PFN_DllGetClassObject getClassObject = nullptr;
    PFN_DllCanUnloadNow canUnloadNow = nullptr;  // absent: the library stays loaded
    int activations = 0;                         // calls into the library in progress; it is not unloaded meanwhile
};

// Loaded server libraries. Entries are stable (held by pointer) and removed
// only by CoFreeUnusedLibraries.
struct Libraries {
    std::mutex mutex;
    std::vector<std::unique_ptr<Library>> loaded;
};
Libraries& libraries() {
    static Libraries* libs = new Libraries;  // never destroyed: servers may be released during exit
    return *libs;
}

std::string guidText(REFGUID g) {
    char text[kGuidTextSize];
    ObjGuidToString(&g, GUIDFMT_BRACES, text);
    return text;
}

// Loads (or finds) the library and counts one activation in progress.
HRESULT acquire(const std::string& path, Library*& out) noexcept {
    out = nullptr;
    try {
        Libraries& libs = libraries();
        std::lock_guard lock(libs.mutex);
        for (auto& l : libs.loaded) {
            if (l->path == path) {
                ++l->activations;
                out = l.get();
                return S_OK;
            }
        }
        dlerror();
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            tlsLoadError = why ? why : path + ": cannot be loaded";
            return CO_E_DLLNOTFOUND;
        }
        auto get = reinterpret_cast<PFN_DllGetClassObject>(dlsym(handle, "DllGetClassObject"));
        if (!get) {
            tlsLoadError = path + ": no DllGetClassObject entry point";
            dlclose(handle);
            return CO_E_ERRORINDLL;
        }
        auto lib = std::make_unique<Library>();
        lib->path = path;
        lib->handle = handle;
        lib->getClassObject = get;
        lib->canUnloadNow = reinterpret_cast<PFN_DllCanUnloadNow>(dlsym(handle, "DllCanUnloadNow"));
        lib->activations = 1;
        out = lib.get();
        libs.loaded.push_back(std::move(lib));
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

void releaseActivation(Library* lib) noexcept {
    Libraries& libs = libraries();
    std::lock_guard lock(libs.mutex);
    --lib->activations;
}

// The registered library of a class and one activation on it.
HRESULT libraryOf(REFCLSID rclsid, DWORD context, Library*& lib) noexcept {
    lib = nullptr;
    if (tlsInitCount == 0) return CO_E_NOTINITIALIZED;
    if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    std::optional<std::string> path;
    try {
        path = xel::registry::getString(Root::ClassesRoot, "CLSID\\" + guidText(rclsid) + "\\InprocServer32", "");
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    if (!path || path->empty()) return REGDB_E_CLASSNOTREG;
    return acquire(*path, lib);
}

// A ProgID is one registry key name; a backslash would walk elsewhere.
bool validProgId(const std::string& s) noexcept {
    return !s.empty() && s.size() <= 255 && s.find('\\') == std::string::npos;
}

HRESULT resolveProgId(const std::string& progId, int depth, CLSID& out) {
    if (depth > 8 || !validProgId(progId)) return CO_E_CLASSSTRING;
    // A version-independent ProgID names its current version; follow it first.
    if (auto cur = xel::registry::getString(Root::ClassesRoot, progId + "\\CurVer", "")) {
        if (!cur->empty() && SUCCEEDED(resolveProgId(*cur, depth + 1, out))) return S_OK;
    }
    auto text = xel::registry::getString(Root::ClassesRoot, progId + "\\CLSID", "");
    if (!text) return CO_E_CLASSSTRING;
    GUID g{};
    if (FAILED(ObjGuidFromString(text->c_str(), &g))) return CO_E_CLASSSTRING;
    out = g;
    return S_OK;
}

}  // namespace

extern "C" {

HRESULT CoInitialize(void* pvReserved) noexcept { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(void*, DWORD) noexcept { return ++tlsInitCount == 1 ? S_OK : S_FALSE; }

void CoUninitialize() noexcept {
    if (tlsInitCount > 0) --tlsInitCount;
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid) noexcept {
    if (!lpszProgID || !lpclsid) return E_INVALIDARG;
    try {
        std::string progId = xel::cp::utf16ToUtf8(std::u16string_view(lpszProgID, ObjWideLen(lpszProgID)));
        return resolveProgId(progId, 0, *lpclsid);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void*, REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    Library* lib = nullptr;
    HRESULT hr = libraryOf(rclsid, dwClsContext, lib);
    if (FAILED(hr)) return hr;
    hr = lib->getClassObject(rclsid, riid, ppv);
    releaseActivation(lib);
    return hr;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    Library* lib = nullptr;
    HRESULT hr = libraryOf(rclsid, dwClsContext, lib);
    if (FAILED(hr)) return hr;
    // The activation stays counted until the new object holds the library's lock.
    IClassFactory* factory = nullptr;
    hr = lib->getClassObject(rclsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr) && !factory) hr = E_UNEXPECTED;
    if (SUCCEEDED(hr)) {
        hr = factory->CreateInstance(pUnkOuter, riid, ppv);
        factory->Release();
    }
    releaseActivation(lib);
    return hr;
}

void CoFreeUnusedLibraries() noexcept {
    Libraries& libs = libraries();
    std::lock_guard lock(libs.mutex);
    for (size_t i = 0; i < libs.loaded.size();) {
        Library& l = *libs.loaded[i];
        if (l.activations == 0 && l.canUnloadNow && l.canUnloadNow() == S_OK) {
            dlclose(l.handle);
            libs.loaded.erase(libs.loaded.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

BOOL ObjIsLibraryLoaded(const char* path) noexcept {
    if (!path) return 0;
    Libraries& libs = libraries();
    std::lock_guard lock(libs.mutex);
    for (auto& l : libs.loaded)
        if (l->path == path) return 1;
    return 0;
}

size_t ObjLastLoadError(char* buf, size_t cap) noexcept {
    const std::string& s = tlsLoadError;
    if (buf && cap > 0) {
        size_t n = s.size() < cap - 1 ? s.size() : cap - 1;
        std::memcpy(buf, s.data(), n);
        buf[n] = '\0';
    }
    return s.size();
}

}  // extern "C"
