// What an in-process server library needs besides its classes: its class
// objects for DllGetClassObject, and registration of its classes, its type
// library and its AppID in the registry's classes root.
//
//   inline constexpr ClassRegistration kSamplerReg{kSamplerClsid, "Sampler.Sampler.1", "Sampler.Sampler",
//                                                  "CSampler Object", "apartment", &kAppId, &kLibId};
//   ClassObjects<1> gClasses{{ClassEntry{&kSamplerReg, &createClassFactory<CSampler>}}};
//
//   extern "C" XEL_EXPORT HRESULT DllGetClassObject(REFCLSID c, REFIID i, void** p) noexcept {
//     return gClasses.get(c, i, p);
//   }
//   extern "C" XEL_EXPORT HRESULT DllCanUnloadNow() noexcept { return canUnloadNow(); }
//
// Thread contract: every function may be called from any thread. Registration
// functions each change the registry in one atomic edit; ClassObjects::get
// creates a class object at most once, under its own lock.
#pragma once

#include <array>
#include <mutex>

#include "platform/objrt/Describe.h"
#include "platform/objrt/Object.h"

namespace xel::objrt {

// The registry entries of one creatable class.
struct ClassRegistration {
    GUID clsid{};
    const char* progId = nullptr;                    // "Lib.Class.1"
    const char* versionIndependentProgId = nullptr;  // "Lib.Class"
    const char* friendlyName = nullptr;              // "CClass Object"
    const char* threadingModel = "apartment";
    const GUID* appId = nullptr;    // written as the class's "AppID" value when given
    const GUID* typeLib = nullptr;  // written as the class's "TypeLib" subkey when given
};

}  // namespace xel::objrt

extern "C" {
// Writes, in one edit of the classes root (GUIDs in braces):
//   <progId> = friendly name, with CLSID = {clsid}
//   <versionIndependentProgId> = friendly name, with CLSID = {clsid}, CurVer = progId
//   CLSID\{clsid} (replaced whole) = friendly name, with ProgID, VersionIndependentProgID,
//     Programmable, InprocServer32 = modulePath (ThreadingModel value), AppID value, TypeLib
// REGDB_E_WRITEREGDB when the registry cannot be written, E_INVALIDARG for a
// missing name or path.
XEL_EXPORT HRESULT ObjRegisterClass(const xel::objrt::ClassRegistration* reg, const char* modulePath) noexcept;
// Removes CLSID\{clsid} whole (the CLSID key itself stays) and the two ProgID
// keys when they still name this class (a ProgID another server has taken
// over is left alone). Entries already gone are not an error.
XEL_EXPORT HRESULT ObjUnregisterClass(const xel::objrt::ClassRegistration* reg) noexcept;
// TypeLib\{libid}\<major>.<minor> = help text, with FLAGS, HELPDIR and
// 0\linux64 = modulePath; Interface\{iid} = name, with TypeLib = {libid}
// (value Version) for every interface of the library.
XEL_EXPORT HRESULT ObjRegisterTypeLib(const xel::objrt::TypeLibDesc* lib, const char* modulePath) noexcept;
// Removes the version's key (and TypeLib\{libid} when no version is left) and
// the Interface keys that name this library.
XEL_EXPORT HRESULT ObjUnregisterTypeLib(const xel::objrt::TypeLibDesc* lib) noexcept;
// AppID\{appId} = name; AppID\<moduleFileName> with value AppID = {appId}.
// The AppID key itself is never removed.
XEL_EXPORT HRESULT ObjRegisterAppId(const GUID* appId, const char* name, const char* moduleFileName) noexcept;
XEL_EXPORT HRESULT ObjUnregisterAppId(const GUID* appId, const char* moduleFileName) noexcept;
// Sends the registration calls above (of every library in this process) to the
// machine-wide registry instead of the user's: the registration tool calls it
// before a library's DllRegisterServer runs. The registry lives inside this
// runtime, so the choice must be made through it.
XEL_EXPORT void ObjUseMachineRegistry() noexcept;
// The full path of the shared library (or program) containing address,
// copied into buf (cap bytes, the NUL included); returns the full length, 0
// when unknown.
XEL_EXPORT size_t ObjModulePath(const void* address, char* buf, size_t cap) noexcept;
}

namespace xel::objrt {

struct ClassEntry {
    const ClassRegistration* reg = nullptr;
    HRESULT (*createFactory)(IClassFactory**) noexcept = nullptr;
};

// The library's class objects, created on first request and kept until the
// library is unloaded (they do not count as live objects).
template <size_t N>
class ClassObjects {
public:
    explicit ClassObjects(const std::array<ClassEntry, N>& entries) noexcept : entries_(entries) {}
    ~ClassObjects() {
        for (IClassFactory*& f : cache_)
            if (f) std::exchange(f, nullptr)->Release();
    }
    ClassObjects(const ClassObjects&) = delete;
    ClassObjects& operator=(const ClassObjects&) = delete;

    // DllGetClassObject: E_POINTER, CLASS_E_CLASSNOTAVAILABLE for a class not in
    // the table, the factory's creation failure, or its QueryInterface result.
    HRESULT get(REFCLSID clsid, REFIID riid, void** ppv) noexcept {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        for (size_t i = 0; i < N; ++i) {
            if (entries_[i].reg->clsid != clsid) continue;
            IClassFactory* f = nullptr;
            {
                std::lock_guard lock(mutex_);
                if (!cache_[i]) {
                    HRESULT hr = entries_[i].createFactory(&cache_[i]);
                    if (FAILED(hr)) return hr;
                }
                f = cache_[i];
            }
            return f->QueryInterface(riid, ppv);
        }
        return CLASS_E_CLASSNOTAVAILABLE;
    }

    // Registers every class in order, stopping at the first failure.
    HRESULT registerAll(const char* modulePath) const noexcept {
        for (const ClassEntry& e : entries_) {
            HRESULT hr = ObjRegisterClass(e.reg, modulePath);
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }
    HRESULT unregisterAll() const noexcept {
        for (const ClassEntry& e : entries_) {
            HRESULT hr = ObjUnregisterClass(e.reg);
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }

private:
    std::array<ClassEntry, N> entries_;
    std::mutex mutex_;
    IClassFactory* cache_[N] = {};
};

}  // namespace xel::objrt
