// The core library's module: its class table, the class objects created from
// it, registration, and the way the library reaches its own concrete objects.
//
// Adding a class is one row in the table of ClassTable.cpp:
//   classRow<CFormat>(CLSID_Format, "Xelor.Format.1", "Xelor.Format", "CFormat Object", kFormatClass),
// The type library is made of the rows' class descriptions: every interface a
// class lists (default, other and event interfaces) is described once, in the
// order first met, together with the CommErr enumeration.
//
// Thread contract: the exports and classObject() may be called from any
// thread; class objects are created under the module lock, at most once each.
#pragma once

#include <span>

#include "core/Concrete.h"
#include "core/xelor.h"
#include "platform/objrt/Server.h"

namespace xel::core {

// One row of the class table: what is registered, how the class object is
// made, and the class's description in the type library.
struct ClassRow {
    objrt::ClassRegistration reg;
    HRESULT (*createFactory)(IClassFactory**) noexcept = nullptr;
    const objrt::CoClassDesc* coclass = nullptr;
};

template <class T>
constexpr ClassRow classRow(const CLSID& clsid, const char* progId, const char* versionIndependentProgId,
                            const char* friendlyName, const objrt::CoClassDesc& coclass) {
    return ClassRow{{clsid, progId, versionIndependentProgId, friendlyName, "apartment", &APPID_Xelor, &LIBID_Xelor},
                    &objrt::createClassFactory<T>,
                    &coclass};
}

// The table itself, in registration order.
std::span<const ClassRow> classTable() noexcept;

// The registry names of the library's AppID entries.
inline constexpr char kAppIdName[] = "Xelor";
inline constexpr char kAppIdModule[] = "Xelor.DLL";

}  // namespace xel::core

extern "C" {
XEL_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept;
XEL_EXPORT HRESULT DllCanUnloadNow() noexcept;
XEL_EXPORT HRESULT DllRegisterServer() noexcept;
XEL_EXPORT HRESULT DllUnregisterServer() noexcept;
}
