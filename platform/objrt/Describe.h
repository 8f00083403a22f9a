// Static descriptions of automation interfaces, classes and type libraries.
//
// One constant table per interface says, for every member, its dispatch id,
// name, kind (method, property get, property put), parameters and help text.
// The same table drives IDispatch (GetIDsOfNames, Invoke), the type
// information handed out by GetTypeInfo and IProvideClassInfo, and the type
// library's registration. Parameter types come from the C++ signature of the
// interface method, so the table cannot disagree with the virtual table:
//
//   struct ISampler : IDispatch {
//     static constexpr IID kIID = makeGuid("...");
//     virtual HRESULT get_Level(LONG* value) noexcept = 0;   // dispid 1
//     virtual HRESULT put_Level(LONG value) noexcept = 0;
//     virtual HRESULT Scale(LONG factor, LONG* before, LONG* result) noexcept = 0;  // 2
//   };
//   namespace d = xel::objrt::desc;
//   inline constexpr auto kISamplerMembers = d::members(
//       d::property<&ISampler::get_Level, &ISampler::put_Level>(1, "Level"),
//       d::method<&ISampler::Scale>(2, "Scale", {"Factor", "Before", d::retval("Result")}));
//   inline constexpr xel::objrt::InterfaceDesc kISamplerDesc =
//       d::dualInterface<ISampler>("ISampler", kISamplerMembers);
//
// C++ parameter types and what they are late-bound (VARTYPE):
//   LONG, enum of 4 bytes -> VT_I4     SHORT -> VT_I2     ULONG -> VT_UI4
//   VARIANT_BOOL -> VT_BOOL            BSTR -> VT_BSTR    VARIANT -> VT_VARIANT
//   IUnknown* -> VT_UNKNOWN            IDispatch* and interfaces derived from it -> VT_DISPATCH
//   A pointer to any of these (VARIANT* included) is an out-parameter.
//
// Instead of a member function, a free function HRESULT f(IFace* self, ...) noexcept
// may stand in a table row; it adapts a late-bound call before the real member
// runs (for example to cap an array length that only early-bound callers may use).
//
// Descriptions are plain constant data and may be handed to libobjrt; they
// must outlive every object and type information that refers to them (they
// are namespace-scope constants of the library that defines the class).
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/objrt/objrt.h"

namespace xel::objrt {

// Invocation kinds; the values are those of INVOKEKIND and DISPATCH_*.
enum class MemberKind : uint8_t { Method = 1, Get = 2, Put = 4 };

inline constexpr size_t kMaxParams = 12;

struct ParamDesc {
    const char* name = nullptr;
    VARTYPE vt = VT_EMPTY;           // value type; out-parameters are passed by reference to it
    USHORT flags = 0;                // PARAMFLAG_FIN, PARAMFLAG_FOUT, PARAMFLAG_FRETVAL
    const char* typeName = nullptr;  // enumeration or interface name, for documentation only
};

// Calls the member with converted arguments. slots[i] holds parameter i as a
// VARIANT of the declared type (in-parameters) and receives each out-value.
using Thunk = HRESULT (*)(void* self, VARIANT* slots) noexcept;

struct MemberDesc {
    DISPID dispid = 0;
    MemberKind kind = MemberKind::Method;
    const char* name = nullptr;
    const char* help = nullptr;  // null: "property Name" or "method Name"
    Thunk thunk = nullptr;
    uint16_t paramCount = 0;
    ParamDesc params[kMaxParams] = {};
};

enum : uint16_t {
    kInterfaceDual = 0x1,          // a vtable interface also reachable through IDispatch
    kInterfaceDispatchOnly = 0x2,  // an outgoing (event) interface: only IDispatch::Invoke is called
};

struct InterfaceDesc {
    GUID iid{};
    const char* name = nullptr;
    const char* help = nullptr;  // null: "<name> Interface"
    uint16_t flags = 0;
    const MemberDesc* members = nullptr;
    size_t memberCount = 0;
};

// A class's interfaces for its type information: IMPLTYPEFLAG_FDEFAULT and
// IMPLTYPEFLAG_FSOURCE mark the default interface and the default event source.
struct ImplTypeDesc {
    const InterfaceDesc* iface = nullptr;
    int32_t flags = 0;
};

struct CoClassDesc {
    GUID clsid{};
    const char* name = nullptr;
    const char* help = nullptr;
    const ImplTypeDesc* impls = nullptr;
    size_t implCount = 0;
};

struct EnumValueDesc {
    const char* name = nullptr;
    LONG value = 0;
};
struct EnumDesc {
    const char* name = nullptr;
    const char* help = nullptr;
    const EnumValueDesc* values = nullptr;
    size_t valueCount = 0;
};

struct TypeLibDesc {
    GUID libid{};
    const char* name = nullptr;
    const char* help = nullptr;
    WORD major = 1;
    WORD minor = 0;
    const InterfaceDesc* const* interfaces = nullptr;
    size_t interfaceCount = 0;
    const CoClassDesc* const* coclasses = nullptr;
    size_t coclassCount = 0;
    const EnumDesc* const* enums = nullptr;
    size_t enumCount = 0;
};

// The lock count of one library (live objects plus server locks). Every
// library that defines objects has its own: see thisModule() in Object.h.
struct Module {
    alignas(4) int32_t locks = 0;
};

}  // namespace xel::objrt

// ---------------------------------------------------------------------------
// The table-driven dispatch and type information of libobjrt.so

extern "C" {
// Name lookup: rgszNames[0] is a member (case ignored; "get_X"/"put_X" name X
// when X has that accessor), the rest are parameter names of that member, whose
// ids are their 0-based positions. Unknown names get DISPID_UNKNOWN and the
// result is DISP_E_UNKNOWNNAME. riid must be IID_NULL.
XEL_EXPORT HRESULT ObjDispGetIDsOfNames(const xel::objrt::InterfaceDesc* desc, REFIID riid, LPOLESTR* rgszNames,
                                        UINT cNames, DISPID* rgDispId) noexcept;
// Late-bound call of the member dispid on self (the interface pointer the
// description belongs to). Converts every in-argument to its declared type,
// checks out-arguments (by reference to the declared type, or to a VARIANT),
// and returns the member's own status unchanged (positive statuses included).
// Errors: DISP_E_UNKNOWNINTERFACE (riid not IID_NULL), E_INVALIDARG (no
// argument block), DISP_E_MEMBERNOTFOUND (no such id or kind),
// DISP_E_BADPARAMCOUNT, DISP_E_PARAMNOTFOUND (named argument with no such
// parameter; *puArgErr = its index in rgvarg), DISP_E_TYPEMISMATCH (argument
// not convertible; *puArgErr = its index in rgvarg), DISP_E_PARAMNOTOPTIONAL.
XEL_EXPORT HRESULT ObjDispInvoke(const xel::objrt::InterfaceDesc* desc, void* self, DISPID dispIdMember, REFIID riid,
                                 WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                 UINT* puArgErr) noexcept;
// Type information for an interface or a class. The object holds a lock on
// module (the library the description lives in) for its whole life.
XEL_EXPORT HRESULT ObjCreateTypeInfo(const xel::objrt::InterfaceDesc* desc, xel::objrt::Module* module,
                                     ITypeInfo** ppTInfo) noexcept;
XEL_EXPORT HRESULT ObjCreateClassTypeInfo(const xel::objrt::CoClassDesc* desc, xel::objrt::Module* module,
                                          ITypeInfo** ppTInfo) noexcept;
}

// ---------------------------------------------------------------------------
// Building descriptions

namespace xel::objrt {
namespace detail {

template <class... T>
struct TypeList {};

// The late-bound view of one C++ parameter type.
template <class T, class = void>
struct ArgTraits;  // an unsupported parameter type stops compilation here

struct NoStorage {};

template <class T, VARTYPE V, auto Field>
struct InValue {
    static constexpr VARTYPE vt = V;
    static constexpr bool out = false;
    using Storage = NoStorage;
    static T arg(VARIANT& slot, NoStorage&) noexcept { return static_cast<T>(slot.*Field); }
    static void finish(VARIANT&, NoStorage&) noexcept {}
};

template <class T, VARTYPE V, auto Field, class Stored = T>
struct OutValue {
    static constexpr VARTYPE vt = V;
    static constexpr bool out = true;
    using Storage = T;
    static T* arg(VARIANT&, T& storage) noexcept { return &storage; }
    static void finish(VARIANT& slot, T& storage) noexcept {
        slot.vt = V;
        slot.*Field = static_cast<Stored>(storage);
    }
};

template <>
struct ArgTraits<LONG> : InValue<LONG, VT_I4, &VARIANT::lVal> {};
template <>
struct ArgTraits<SHORT> : InValue<SHORT, VT_I2, &VARIANT::iVal> {};
template <>
struct ArgTraits<ULONG> : InValue<ULONG, VT_UI4, &VARIANT::ulVal> {};
template <>
struct ArgTraits<VARIANT_BOOL> : InValue<VARIANT_BOOL, VT_BOOL, &VARIANT::boolVal> {};
template <>
struct ArgTraits<BSTR> : InValue<BSTR, VT_BSTR, &VARIANT::bstrVal> {};
template <>
struct ArgTraits<IUnknown*> : InValue<IUnknown*, VT_UNKNOWN, &VARIANT::punkVal> {};
template <>
struct ArgTraits<IDispatch*> : InValue<IDispatch*, VT_DISPATCH, &VARIANT::pdispVal> {};
template <class E>
struct ArgTraits<E, std::enable_if_t<std::is_enum_v<E> && sizeof(E) == 4>> {
    static constexpr VARTYPE vt = VT_I4;
    static constexpr bool out = false;
    using Storage = NoStorage;
    static E arg(VARIANT& slot, NoStorage&) noexcept { return static_cast<E>(slot.lVal); }
    static void finish(VARIANT&, NoStorage&) noexcept {}
};
template <>
struct ArgTraits<VARIANT> {
    static constexpr VARTYPE vt = VT_VARIANT;
    static constexpr bool out = false;
    using Storage = NoStorage;
    static VARIANT arg(VARIANT& slot, NoStorage&) noexcept { return slot; }  // borrowed, as by value
    static void finish(VARIANT&, NoStorage&) noexcept {}
};

template <>
struct ArgTraits<LONG*> : OutValue<LONG, VT_I4, &VARIANT::lVal> {};
template <>
struct ArgTraits<SHORT*> : OutValue<SHORT, VT_I2, &VARIANT::iVal> {};
template <>
struct ArgTraits<ULONG*> : OutValue<ULONG, VT_UI4, &VARIANT::ulVal> {};
template <>
struct ArgTraits<VARIANT_BOOL*> : OutValue<VARIANT_BOOL, VT_BOOL, &VARIANT::boolVal> {};
template <>
struct ArgTraits<BSTR*> : OutValue<BSTR, VT_BSTR, &VARIANT::bstrVal> {};
template <class E>
struct ArgTraits<E*, std::enable_if_t<std::is_enum_v<E> && sizeof(E) == 4>> : OutValue<E, VT_I4, &VARIANT::lVal, LONG> {
};
// Interface out-parameters: the slot takes over the reference the member hands out.
template <class I>
struct ArgTraits<I**, std::enable_if_t<std::is_base_of_v<IUnknown, I>>> {
    static constexpr bool isDispatch = std::is_base_of_v<IDispatch, I>;
    static constexpr VARTYPE vt = isDispatch ? VT_DISPATCH : VT_UNKNOWN;
    static constexpr bool out = true;
    using Storage = I*;
    static I** arg(VARIANT&, I*& storage) noexcept { return &storage; }
    static void finish(VARIANT& slot, I*& storage) noexcept {
        slot.vt = vt;
        if constexpr (isDispatch)
            slot.pdispVal = storage;
        else
            slot.punkVal = storage;
    }
};
template <>
struct ArgTraits<VARIANT*> {
    static constexpr VARTYPE vt = VT_VARIANT;
    static constexpr bool out = true;
    struct Storage {
        VARIANT v{};
    };
    static VARIANT* arg(VARIANT&, Storage& s) noexcept { return &s.v; }
    static void finish(VARIANT& slot, Storage& s) noexcept { slot = s.v; }
};

template <class T>
using Decay = std::remove_cv_t<T>;

// What a table row calls: a member function of the interface, or a free
// function taking the interface pointer first.
template <class F>
struct Callable;
template <class C, class... A>
struct Callable<HRESULT (C::*)(A...) noexcept> {
    using Self = C;
    using Args = TypeList<Decay<A>...>;
    static constexpr size_t count = sizeof...(A);
    static constexpr bool isMember = true;
};
template <class C, class... A>
struct Callable<HRESULT (*)(C*, A...) noexcept> {
    using Self = C;
    using Args = TypeList<Decay<A>...>;
    static constexpr size_t count = sizeof...(A);
    static constexpr bool isMember = false;
};

template <auto F, class Self, class... A, size_t... I>
HRESULT callWith(Self* self, VARIANT* slots, TypeList<A...>, std::index_sequence<I...>) noexcept {
    std::tuple<typename ArgTraits<A>::Storage...> storage{};
    HRESULT hr;
    if constexpr (Callable<decltype(F)>::isMember)
        hr = (self->*F)(ArgTraits<A>::arg(slots[I], std::get<I>(storage))...);
    else
        hr = F(self, ArgTraits<A>::arg(slots[I], std::get<I>(storage))...);
    (ArgTraits<A>::finish(slots[I], std::get<I>(storage)), ...);
    return hr;
}

template <auto F>
HRESULT thunk(void* self, VARIANT* slots) noexcept {
    using C = Callable<decltype(F)>;
    return callWith<F>(static_cast<typename C::Self*>(self), slots, typename C::Args{},
                       std::make_index_sequence<C::count>{});
}

template <class... A>
constexpr void fillTypes(MemberDesc& m, TypeList<A...>) {
    size_t i = 0;
    ((m.params[i].vt = ArgTraits<A>::vt, m.params[i].flags = ArgTraits<A>::out ? PARAMFLAG_FOUT : PARAMFLAG_FIN, ++i),
     ...);
}

// Thrown only during constant evaluation: a malformed table row fails to compile.
struct BadDescription {};

}  // namespace detail

namespace desc {

// A parameter name in a table row, optionally marked as the return value or
// given a type name for the type information.
struct Param {
    const char* name = nullptr;
    bool retval = false;
    const char* typeName = nullptr;
    constexpr Param(const char* n) : name(n) {}  // NOLINT: names are written as plain strings
    constexpr Param(const char* n, bool r, const char* t) : name(n), retval(r), typeName(t) {}
};
constexpr Param retval(const char* name, const char* typeName = nullptr) { return Param(name, true, typeName); }
constexpr Param typed(const char* name, const char* typeName) { return Param(name, false, typeName); }

template <auto F>
constexpr MemberDesc row(DISPID id, MemberKind kind, const char* name, std::initializer_list<Param> names,
                         const char* help) {
    using C = detail::Callable<decltype(F)>;
    static_assert(C::count <= kMaxParams, "too many parameters");
    MemberDesc m{};
    m.dispid = id;
    m.kind = kind;
    m.name = name;
    m.help = help;
    m.thunk = &detail::thunk<F>;
    m.paramCount = static_cast<uint16_t>(C::count);
    detail::fillTypes(m, typename C::Args{});
    // Property accessors name their value parameter themselves unless told otherwise.
    constexpr size_t n = C::count;
    const size_t given = names.size();
    if constexpr (n == 0) {
        // Accessors always have a value parameter; a method without parameters takes no names.
        if (kind != MemberKind::Method || given != 0) throw detail::BadDescription{};
    } else {
        ParamDesc& last = m.params[n - 1];
        if (kind != MemberKind::Method && given + 1 == n) {
            last.name = kind == MemberKind::Get ? "pVal" : "newVal";
        } else if (given != n) {
            throw detail::BadDescription{};  // one name per parameter
        }
        size_t i = 0;
        for (const Param& p : names) {
            m.params[i].name = p.name;
            m.params[i].typeName = p.typeName;
            if (p.retval) {
                if (i + 1 != n || !(m.params[i].flags & PARAMFLAG_FOUT)) throw detail::BadDescription{};
                m.params[i].flags |= PARAMFLAG_FRETVAL;
            }
            ++i;
        }
        if (kind == MemberKind::Get) {
            if (!(last.flags & PARAMFLAG_FOUT)) throw detail::BadDescription{};
            last.flags |= PARAMFLAG_FRETVAL;
        }
        if (kind == MemberKind::Put && !(last.flags & PARAMFLAG_FIN)) throw detail::BadDescription{};
    }
    return m;
}

// A method. Name every parameter; mark the last out-parameter retval() when
// late-bound callers receive it as the call's result.
template <auto F>
constexpr std::array<MemberDesc, 1> method(DISPID id, const char* name, std::initializer_list<Param> names = {},
                                           const char* help = nullptr) {
    return {row<F>(id, MemberKind::Method, name, names, help)};
}
// A read-only property; names are those of index parameters, if any.
template <auto Get>
constexpr std::array<MemberDesc, 1> propget(DISPID id, const char* name, std::initializer_list<Param> names = {},
                                            const char* help = nullptr) {
    return {row<Get>(id, MemberKind::Get, name, names, help)};
}
template <auto Put>
constexpr std::array<MemberDesc, 1> propput(DISPID id, const char* name, std::initializer_list<Param> names = {},
                                            const char* help = nullptr) {
    return {row<Put>(id, MemberKind::Put, name, names, help)};
}
// A read/write property: the get's row comes before the put's.
template <auto Get, auto Put>
constexpr std::array<MemberDesc, 2> property(DISPID id, const char* name, std::initializer_list<Param> names = {},
                                             const char* help = nullptr) {
    return {row<Get>(id, MemberKind::Get, name, names, help), row<Put>(id, MemberKind::Put, name, names, help)};
}

template <size_t... N>
constexpr std::array<MemberDesc, (N + ... + 0)> members(const std::array<MemberDesc, N>&... parts) {
    std::array<MemberDesc, (N + ... + 0)> out{};
    size_t i = 0;
    (([&] {
         for (const MemberDesc& m : parts) out[i++] = m;
     }()),
     ...);
    return out;
}

// The interface of a class: a vtable interface that is also reached late-bound.
template <class I, size_t N>
constexpr InterfaceDesc dualInterface(const char* name, const std::array<MemberDesc, N>& rows,
                                      const char* help = nullptr) {
    return InterfaceDesc{I::kIID, name, help, kInterfaceDual, rows.data(), N};
}
// An outgoing (event) interface. Declared as a C++ class derived from IDispatch
// whose methods are the events, so a sink can implement them as plain methods;
// the source only ever calls IDispatch::Invoke.
template <class I, size_t N>
constexpr InterfaceDesc eventInterface(const char* name, const std::array<MemberDesc, N>& rows,
                                       const char* help = nullptr) {
    return InterfaceDesc{I::kIID, name, help, kInterfaceDispatchOnly, rows.data(), N};
}
// An interface with no members of its own (all lookups fail).
template <class I>
constexpr InterfaceDesc emptyInterface(const char* name, uint16_t flags, const char* help = nullptr) {
    return InterfaceDesc{I::kIID, name, help, flags, nullptr, 0};
}

}  // namespace desc
}  // namespace xel::objrt
