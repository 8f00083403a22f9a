// Registry entries of in-process servers: classes, type libraries, AppIDs.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/objrt/Server.h"
#include "platform/registry/Registry.h"

namespace {

using xel::objrt::ClassRegistration;
using xel::objrt::TypeLibDesc;
using xel::registry::Editor;
using xel::registry::Root;
using xel::registry::Status;

constexpr Root kClasses = Root::ClassesRoot;

std::string braced(const GUID& g) {
    char text[kGuidTextSize];
    ObjGuidToString(&g, GUIDFMT_BRACES, text);
    return text;
}

HRESULT toHresult(Status s) noexcept {
    switch (s) {
        case Status::Ok: return S_OK;
        case Status::NotFound: return REGDB_E_KEYMISSING;
        case Status::InvalidName:
        case Status::InvalidData: return E_INVALIDARG;
        case Status::WrongType: return REGDB_E_INVALIDVALUE;
        case Status::IoError: return REGDB_E_WRITEREGDB;
    }
    return E_FAIL;
}

// A name that becomes one key (no path separator, not empty).
bool oneKeyName(const char* s) noexcept { return s && *s && !std::strchr(s, '\\'); }

// Runs the edit and turns its status and any exception into an HRESULT.
template <class F>
HRESULT editRegistry(F&& fn) noexcept {
    try {
        return toHresult(xel::registry::edit([&](Editor& e) -> Status { return fn(e); }));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// Deletes a key if it is there.
Status removeKey(Editor& e, const std::string& key) {
    if (!e.keyExists(kClasses, key)) return Status::Ok;
    return e.deleteKey(kClasses, key);
}

// True when the key's value (default of subkey) names the GUID g.
bool names(const Editor& e, const std::string& key, const char* name, const GUID& g) {
    auto text = e.getString(kClasses, key, name);
    GUID found{};
    return text && SUCCEEDED(ObjGuidFromString(text->c_str(), &found)) && found == g;
}

#define TRY_STATUS(expr)                           \
    do {                                           \
        Status status_ = (expr);                   \
        if (status_ != Status::Ok) return status_; \
    } while (0)

}  // namespace

extern "C" {

HRESULT ObjRegisterClass(const ClassRegistration* reg, const char* modulePath) noexcept {
    if (!reg || !modulePath || !*modulePath || !oneKeyName(reg->progId) || !oneKeyName(reg->versionIndependentProgId) ||
        !reg->friendlyName)
        return E_INVALIDARG;
    return editRegistry([&](Editor& e) -> Status {
        const std::string clsid = braced(reg->clsid);
        const std::string progId = reg->progId, vi = reg->versionIndependentProgId;
        TRY_STATUS(e.setString(kClasses, progId, "", reg->friendlyName));
        TRY_STATUS(e.setString(kClasses, progId + "\\CLSID", "", clsid));
        TRY_STATUS(e.setString(kClasses, vi, "", reg->friendlyName));
        TRY_STATUS(e.setString(kClasses, vi + "\\CLSID", "", clsid));
        TRY_STATUS(e.setString(kClasses, vi + "\\CurVer", "", progId));
        const std::string key = "CLSID\\" + clsid;
        TRY_STATUS(removeKey(e, key));  // replaced whole
        TRY_STATUS(e.setString(kClasses, key, "", reg->friendlyName));
        TRY_STATUS(e.setString(kClasses, key + "\\ProgID", "", progId));
        TRY_STATUS(e.setString(kClasses, key + "\\VersionIndependentProgID", "", vi));
        TRY_STATUS(e.createKey(kClasses, key + "\\Programmable"));
        TRY_STATUS(e.setString(kClasses, key + "\\InprocServer32", "", modulePath));
        if (reg->threadingModel)
            TRY_STATUS(e.setString(kClasses, key + "\\InprocServer32", "ThreadingModel", reg->threadingModel));
        if (reg->appId) TRY_STATUS(e.setString(kClasses, key, "AppID", braced(*reg->appId)));
        if (reg->typeLib) TRY_STATUS(e.setString(kClasses, key + "\\TypeLib", "", braced(*reg->typeLib)));
        return Status::Ok;
    });
}

HRESULT ObjUnregisterClass(const ClassRegistration* reg) noexcept {
    if (!reg || !oneKeyName(reg->progId) || !oneKeyName(reg->versionIndependentProgId)) return E_INVALIDARG;
    return editRegistry([&](Editor& e) -> Status {
        TRY_STATUS(removeKey(e, "CLSID\\" + braced(reg->clsid)));
        for (const char* p : {reg->progId, reg->versionIndependentProgId}) {
            const std::string key = p;
            if (!e.keyExists(kClasses, key)) continue;
            // A ProgID that now names another class belongs to another server.
            if (e.keyExists(kClasses, key + "\\CLSID") && !names(e, key + "\\CLSID", "", reg->clsid)) continue;
            TRY_STATUS(e.deleteKey(kClasses, key));
        }
        return Status::Ok;
    });
}

HRESULT ObjRegisterTypeLib(const TypeLibDesc* lib, const char* modulePath) noexcept {
    if (!lib || !lib->name || !modulePath || !*modulePath) return E_INVALIDARG;
    return editRegistry([&](Editor& e) -> Status {
        const std::string libid = braced(lib->libid);
        char version[16];
        std::snprintf(version, sizeof version, "%x.%x", lib->major, lib->minor);
        const std::string key = "TypeLib\\" + libid + "\\" + version;
        TRY_STATUS(removeKey(e, key));
        TRY_STATUS(e.setString(kClasses, key, "", lib->help ? lib->help : lib->name));
        TRY_STATUS(e.setString(kClasses, key + "\\FLAGS", "", "0"));
        TRY_STATUS(
            e.setString(kClasses, key + "\\HELPDIR", "", std::filesystem::path(modulePath).parent_path().string()));
        TRY_STATUS(e.setString(kClasses, key + "\\0\\linux64", "", modulePath));
        for (size_t i = 0; i < lib->interfaceCount; ++i) {
            const xel::objrt::InterfaceDesc* d = lib->interfaces[i];
            if (!d || !d->name) return Status::InvalidName;
            const std::string ikey = "Interface\\" + braced(d->iid);
            TRY_STATUS(removeKey(e, ikey));
            TRY_STATUS(e.setString(kClasses, ikey, "", d->name));
            TRY_STATUS(e.setString(kClasses, ikey + "\\TypeLib", "", libid));
            TRY_STATUS(e.setString(kClasses, ikey + "\\TypeLib", "Version", version));
        }
        return Status::Ok;
    });
}

HRESULT ObjUnregisterTypeLib(const TypeLibDesc* lib) noexcept {
    if (!lib) return E_INVALIDARG;
    return editRegistry([&](Editor& e) -> Status {
        const std::string libKey = "TypeLib\\" + braced(lib->libid);
        char version[16];
        std::snprintf(version, sizeof version, "%x.%x", lib->major, lib->minor);
        TRY_STATUS(removeKey(e, libKey + "\\" + version));
        if (e.keyExists(kClasses, libKey) && e.subkeys(kClasses, libKey).empty())
            TRY_STATUS(e.deleteKey(kClasses, libKey));
        for (size_t i = 0; i < lib->interfaceCount; ++i) {
            if (!lib->interfaces[i]) continue;
            const std::string ikey = "Interface\\" + braced(lib->interfaces[i]->iid);
            if (e.keyExists(kClasses, ikey) && names(e, ikey + "\\TypeLib", "", lib->libid))
                TRY_STATUS(e.deleteKey(kClasses, ikey));
        }
        return Status::Ok;
    });
}

HRESULT ObjRegisterAppId(const GUID* appId, const char* name, const char* moduleFileName) noexcept {
    if (!appId || !name || !oneKeyName(moduleFileName)) return E_INVALIDARG;
    return editRegistry([&](Editor& e) -> Status {
        const std::string id = braced(*appId);
        TRY_STATUS(e.setString(kClasses, "AppID\\" + id, "", name));
        TRY_STATUS(e.setString(kClasses, std::string("AppID\\") + moduleFileName, "AppID", id));
        return Status::Ok;
    });
}

HRESULT ObjUnregisterAppId(const GUID* appId, const char* moduleFileName) noexcept {
    if (!appId || !oneKeyName(moduleFileName)) return E_INVALIDARG;
    return editRegistry([&](Editor& e) -> Status {
        TRY_STATUS(removeKey(e, "AppID\\" + braced(*appId)));
        const std::string fileKey = std::string("AppID\\") + moduleFileName;
        if (e.keyExists(kClasses, fileKey) && names(e, fileKey, "AppID", *appId))
            TRY_STATUS(e.deleteKey(kClasses, fileKey));
        return Status::Ok;
    });
}

void ObjUseMachineRegistry() noexcept { xel::registry::selectLayer(xel::registry::Layer::Machine); }

size_t ObjModulePath(const void* address, char* buf, size_t cap) noexcept {
    Dl_info info{};
    if (!address || !dladdr(address, &info) || !info.dli_fname) {
        if (buf && cap > 0) buf[0] = '\0';
        return 0;
    }
    // The loader keeps the name it was given; registration needs it absolute.
    char resolved[PATH_MAX];
    const char* path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
    size_t len = std::strlen(path);
    if (buf && cap > 0) {
        size_t n = len < cap - 1 ? len : cap - 1;
        std::memcpy(buf, path, n);
        buf[n] = '\0';
    }
    return len;
}

}  // extern "C"
