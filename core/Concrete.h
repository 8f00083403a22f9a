// The base of the library: its public interfaces (xelor.h) and the private
// face every concrete class shows to the library's other objects. Every object
// of the library raises the library's object count (objrt's module of this
// library), which DllCanUnloadNow reads.
//
// Pure templates; any thread.
#pragma once

#include "core/xelor.h"

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

}  // namespace xel::core
