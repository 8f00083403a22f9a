// The base of the library: its public interfaces (xelor.h) and the private
// face every concrete class shows to the library's other objects. Every object
// of the library raises the library's object count (objrt's module of this
// library), which DllCanUnloadNow reads.
//
// Pure templates; any thread.
#pragma once

#include "core/xelor.h"

namespace xel {

// Private ids: QueryInterface with one of these hands back the library's own
// concrete object (the library's own use: not part of the client contract).
inline constexpr GUID IID_CCommImpl = makeGuid("01b1084d-f18e-469f-863c-ea60ea8eecc3");
inline constexpr GUID IID_CProfileImpl = makeGuid("42e72b14-44e4-424a-8ba6-836220304666");
inline constexpr GUID IID_CFormatImpl = makeGuid("b5bc2ae1-67ad-40f4-9152-8f2ccfceb15c");
inline constexpr GUID IID_CVUImpl = makeGuid("7cbbab10-b7f2-4308-adeb-a8509545f476");
inline constexpr GUID IID_CXelImpl = makeGuid("0d192945-0f4c-45cc-8b8a-ff2a270b5eec");
// The private interface through which the core object attaches its sub-objects.
inline constexpr GUID IID_ICoreAttach = makeGuid("a26ccd6b-6c0d-4d6d-a5da-e46b0ddd0385");

}  // namespace xel

namespace xel::core {

// The private face of a concrete class: QueryInterface with the class's
// private id (IID_CCommImpl, ...) answers with this base of the object, with
// a reference added. Derive from it and list it in the class's interface map;
// concreteOf() turns the answer back into the class.
template <const IID& Id>
struct ImplTag : IUnknown {
    static constexpr IID kIID = Id;
};

// The concrete object behind `unknown` (with a reference added: hand it back
// with releaseConcrete), or null when it is none of ours of class T. T names
// its tag as T::Impl.
template <class T>
T* concreteOf(IUnknown* unknown) noexcept {
    if (!unknown) return nullptr;
    void* pv = nullptr;
    if (FAILED(unknown->QueryInterface(T::Impl::kIID, &pv)) || !pv) return nullptr;
    return static_cast<T*>(static_cast<typename T::Impl*>(static_cast<IUnknown*>(pv)));
}
template <class T>
void releaseConcrete(T* object) noexcept {
    if (object) static_cast<IUnknown*>(static_cast<typename T::Impl*>(object))->Release();
}

class CoreContext;

// How the core object hands a sub-object it created by ProgID its context
// (CoreContext), and takes it back (null) before it goes. Sub-objects whose
// puts the core acts on answer QueryInterface for IID_ICoreAttach.
struct ICoreAttach : IUnknown {
    static constexpr IID kIID = IID_ICoreAttach;
    virtual void attachContext(CoreContext* context) noexcept = 0;
};

}  // namespace xel::core
