#include "core/module/ClassTable.h"

#include <locale.h>

#include <mutex>
#include <string>
#include <vector>

#include "core/connection/CComm.h"
#include "core/control/CXel.h"
#include "core/model/CFormat.h"
#include "core/model/CProfile.h"
#include "core/model/CStubby.h"
#include "core/model/CVU.h"

namespace xel::core {

namespace {

// One row per creatable class, in registration order.
const ClassRow kClassTable[] = {
    classRow<CComm>(CLSID_Comm, "Xelor.Comm.1", "Xelor.Comm", "CComm Object", kCommClass),
    classRow<CProfile>(CLSID_Profile, "Xelor.Profile.1", "Xelor.Profile", "CProfile Object", kProfileClass),
    classRow<CFormat>(CLSID_Format, "Xelor.Format.1", "Xelor.Format", "CFormat Object", kFormatClass),
    classRow<CVU>(CLSID_VU, "Xelor.VU.1", "Xelor.VU", "CVU Object", kVUClass),
    classRow<CXel>(CLSID_Xel, "Xelor.Xel.1", "Xelor.Xel", "CXel Object", kXelClass),
    classRow<CStubby>(CLSID_Stubby, "Xelor.Stubby.1", "Xelor.Stubby", "CStubby Object", kStubbyClass),
};
constexpr size_t kClassCount = std::size(kClassTable);

// The module lock guards the creation of class objects; they live until unload.
std::mutex g_moduleLock;
IClassFactory* g_classObjects[kClassCount] = {};

const objrt::EnumDesc* const kEnums[] = {&kCommErrEnum};

// The type library as the rows describe it. Built for each (un)registration:
// the descriptions it points to are constants of this library.
struct TypeLibrary {
    std::vector<const objrt::InterfaceDesc*> interfaces;
    std::vector<const objrt::CoClassDesc*> coclasses;
    objrt::TypeLibDesc desc{};
};

void describe(TypeLibrary& lib) {
    for (const ClassRow& row : kClassTable) {
        lib.coclasses.push_back(row.coclass);
        for (size_t i = 0; i < row.coclass->implCount; ++i) {
            const objrt::InterfaceDesc* iface = row.coclass->impls[i].iface;
            bool known = false;
            for (const objrt::InterfaceDesc* k : lib.interfaces) known = known || k->iid == iface->iid;
            if (iface && !known) lib.interfaces.push_back(iface);
        }
    }
    lib.desc.libid = LIBID_Xelor;
    lib.desc.name = "Xelor";
    lib.desc.help = "Xelor 1.0 Type Library";
    lib.desc.major = 1;
    lib.desc.minor = 0;
    lib.desc.interfaces = lib.interfaces.data();
    lib.desc.interfaceCount = lib.interfaces.size();
    lib.desc.coclasses = lib.coclasses.data();
    lib.desc.coclassCount = lib.coclasses.size();
    lib.desc.enums = kEnums;
    lib.desc.enumCount = std::size(kEnums);
}

// Registration runs in the system's default locale and hands the caller's
// thread back its own, whatever happens in between.
class DefaultLocaleScope {
public:
    DefaultLocaleScope() noexcept
        : saved_(uselocale(locale_t(nullptr))), c_(newlocale(LC_ALL_MASK, "C", locale_t(nullptr))) {
        if (c_) uselocale(c_);
    }
    ~DefaultLocaleScope() {
        uselocale(saved_);
        if (c_) freelocale(c_);
    }
    DefaultLocaleScope(const DefaultLocaleScope&) = delete;
    DefaultLocaleScope& operator=(const DefaultLocaleScope&) = delete;

private:
    locale_t saved_;
    locale_t c_;
};

std::string libraryPath() {
    char buf[4096];
    const size_t n = ObjModulePath(reinterpret_cast<const void*>(&DllGetClassObject), buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return {};
    return std::string(buf, n);
}

HRESULT registerServer() {
    const std::string path = libraryPath();
    if (path.empty()) return E_UNEXPECTED;
    HRESULT hr = ObjRegisterAppId(&APPID_Xelor, kAppIdName, kAppIdModule);
    if (FAILED(hr)) return hr;
    for (const ClassRow& row : kClassTable) {
        hr = ObjRegisterClass(&row.reg, path.c_str());
        if (FAILED(hr)) return hr;
    }
    TypeLibrary lib;
    describe(lib);
    return ObjRegisterTypeLib(&lib.desc, path.c_str());
}

HRESULT unregisterServer() {
    HRESULT hr = S_OK;
    for (const ClassRow& row : kClassTable) {
        hr = ObjUnregisterClass(&row.reg);
        if (FAILED(hr)) return hr;
    }
    TypeLibrary lib;
    describe(lib);
    hr = ObjUnregisterTypeLib(&lib.desc);
    if (FAILED(hr)) return hr;
    return ObjUnregisterAppId(&APPID_Xelor, kAppIdModule);
}

// The unload hook: the cached class objects go with the library.
__attribute__((destructor)) void releaseClassObjects() {
    std::lock_guard lock(g_moduleLock);
    for (IClassFactory*& f : g_classObjects)
        if (f) std::exchange(f, nullptr)->Release();
}

}  // namespace

std::span<const ClassRow> classTable() noexcept { return kClassTable; }

}  // namespace xel::core

using namespace xel::core;

extern "C" {

XEL_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    try {
        for (size_t i = 0; i < kClassCount; ++i) {
            if (kClassTable[i].reg.clsid != rclsid) continue;
            IClassFactory* factory = nullptr;
            {
                std::lock_guard lock(g_moduleLock);
                if (!g_classObjects[i]) {
                    const HRESULT hr = kClassTable[i].createFactory(&g_classObjects[i]);
                    if (FAILED(hr)) return hr;
                }
                factory = g_classObjects[i];
                factory->AddRef();
            }
            const HRESULT hr = factory->QueryInterface(riid, ppv);
            factory->Release();
            return hr;
        }
        return CLASS_E_CLASSNOTAVAILABLE;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

XEL_EXPORT HRESULT DllCanUnloadNow() noexcept { return xel::objrt::canUnloadNow(); }

XEL_EXPORT HRESULT DllRegisterServer() noexcept {
    try {
        DefaultLocaleScope scope;
        return registerServer();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

XEL_EXPORT HRESULT DllUnregisterServer() noexcept {
    try {
        DefaultLocaleScope scope;
        return unregisterServer();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // extern "C"
