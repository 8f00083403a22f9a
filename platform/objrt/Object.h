// Building blocks that make a C++ class an automation object.
//
// A class lists the interfaces it answers for and derives from them (or from
// the implementations below); Object<T> adds the reference count and
// QueryInterface, Aggregated<T> the form that lives inside an outer object,
// ClassFactory<T> creates either. See README.md beside this file for a whole
// example.
//
//   class CSampler : public Dispatch<ISampler, kISamplerDesc>,
//                    public ConnectionPointContainer<CSampler>,
//                    public ProvideClassInfo2<kSamplerClass> {
//   public:
//     using Interfaces = InterfaceMap<ISampler, Through<IDispatch, ISampler>,
//                                     IConnectionPointContainer, IProvideClassInfo2,
//                                     Through<IProvideClassInfo, IProvideClassInfo2>>;
//     HRESULT finalConstruct() noexcept;   // optional: after construction, may fail
//     void finalRelease() noexcept;        // optional: before destruction
//     HRESULT queryOther(REFIID, void**) noexcept;  // optional: ids the map lacks
//     ...
//   };
//
// Thread contract
// - AddRef, Release and QueryInterface of every object here may run on any
//   thread at any time (the count is atomic). The final Release destroys the
//   object on the thread that made it.
// - ConnectionPoint: Advise, Unadvise, EnumConnections and fire() may run
//   concurrently; firing walks a snapshot of the sinks taken under the point's
//   lock and holds each sink for its call, so a sink may unadvise (itself or
//   others) from inside an event. No lock is held while a sink runs.
// - A class's own members follow the class's own contract.
#pragma once

#include <atomic>
#include <concepts>
#include <mutex>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "platform/objrt/Describe.h"
#include "platform/objrt/Ptr.h"

namespace xel::objrt {

// ---------------------------------------------------------------------------
// The module: this library's count of live objects and server locks.

// One per shared library or program: the variable is hidden, so each library
// that includes this header has its own.
XEL_PRIVATE inline Module moduleOfThisLibrary{};

inline Module& thisModule() noexcept { return moduleOfThisLibrary; }
inline void lockModule(Module& m) noexcept {
    // A raise needs no ordering: it cannot make the library unloadable.
    std::atomic_ref<int32_t>(m.locks).fetch_add(1, std::memory_order_relaxed);
}
inline void unlockModule(Module& m) noexcept {
    std::atomic_ref<int32_t>(m.locks).fetch_sub(1, std::memory_order_acq_rel);
}
inline int32_t moduleLockCount(Module& m) noexcept {
    return std::atomic_ref<int32_t>(m.locks).load(std::memory_order_acquire);
}
// What DllCanUnloadNow answers: S_OK when no object is alive and no server lock held.
inline HRESULT canUnloadNow() noexcept { return moduleLockCount(thisModule()) == 0 ? S_OK : S_FALSE; }

// ---------------------------------------------------------------------------
// Interface maps

// Answer I by way of Path, where I is an ambiguous base (IDispatch of a class
// with two dual interfaces, IProvideClassInfo under IProvideClassInfo2).
template <class I, class Path>
struct Through {};

// The interfaces a class answers for, in order. The first one also gives the
// object its identity (IID_IUnknown answers with its IUnknown).
template <class... Entries>
struct InterfaceMap {};

namespace detail {
template <class E>
struct EntryOf {
    using Iface = E;
    using Via = E;
};
template <class I, class P>
struct EntryOf<Through<I, P>> {
    using Iface = I;
    using Via = P;
};
template <class E, class T>
IUnknown* entryPointer(T* self) noexcept {
    using X = EntryOf<E>;
    return static_cast<typename X::Iface*>(static_cast<typename X::Via*>(self));
}
// An interface that declares no kIID of its own inherits its base's and would
// answer for the base's id: two entries with one id show that mistake.
template <class... E>
constexpr bool distinctIds() noexcept {
    constexpr GUID ids[] = {EntryOf<E>::Iface::kIID...};
    for (size_t i = 0; i < sizeof...(E); ++i)
        for (size_t j = i + 1; j < sizeof...(E); ++j)
            if (ids[i] == ids[j]) return false;
    return true;
}
template <class T, class First, class... Rest>
IUnknown* findInterface(T* self, REFIID riid, InterfaceMap<First, Rest...>) noexcept {
    static_assert(distinctIds<First, Rest...>(), "two interfaces of the map have one id (a missing kIID?)");
    if (riid == IID_IUnknown || riid == EntryOf<First>::Iface::kIID) return entryPointer<First>(self);
    IUnknown* found = nullptr;
    (void)((riid == EntryOf<Rest>::Iface::kIID ? (found = entryPointer<Rest>(self), true) : false) || ...);
    return found;
}
}  // namespace detail

// The interface pointer of self for riid (no reference added), or null.
template <class T>
IUnknown* findInterface(T* self, REFIID riid) noexcept {
    return detail::findInterface(self, riid, typename T::Interfaces{});
}
// The object's IUnknown by way of its first interface. For an object inside an
// aggregate, calls through it reach the outer object.
template <class T>
IUnknown* identityOf(T* self) noexcept {
    return findInterface(self, IID_IUnknown);
}

// ---------------------------------------------------------------------------
// Objects

// Base tag for objects that do not keep their library loaded (class factories,
// which the library caches for its whole life).
struct NotCountedInModule {};

namespace detail {
template <class T>
constexpr bool countsInModule = !std::is_base_of_v<NotCountedInModule, T>;
template <class T>
concept HasFinalConstruct = requires(T& t) {
    { t.finalConstruct() } -> std::same_as<HRESULT>;
};
template <class T>
concept HasFinalRelease = requires(T& t) {
    t.finalRelease();
};
template <class T>
concept HasQueryOther = requires(T& t, const IID& iid, void** ppv) {
    { t.queryOther(iid, ppv) } -> std::same_as<HRESULT>;
};
// Keeps an object alive through its own destruction: calls that add and drop
// references there cannot bring the count to zero again.
constexpr ULONG kStabilisedCount = 1u << 30;
}  // namespace detail

// A standalone object of class T with an atomic reference count.
template <class T>
class Object final : public T {
public:
    // A new object with one reference, after finalConstruct (when T has one)
    // succeeded. E_OUTOFMEMORY when allocation or T's constructor throws.
    template <class... A>
    static HRESULT create(ComPtr<Object>& out, A&&... args) noexcept {
        out = nullptr;
        Object* o = nullptr;
        try {
            o = new Object(std::forward<A>(args)...);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        o->refs_.store(1, std::memory_order_relaxed);
        if constexpr (detail::HasFinalConstruct<T>) {
            HRESULT hr = o->finalConstruct();
            if (FAILED(hr)) {
                o->destroy();
                return hr;
            }
        }
        out = ComPtr<Object>::adopt(o);
        return S_OK;
    }
    // create(), then QueryInterface for riid.
    template <class... A>
    static HRESULT createInstance(REFIID riid, void** ppv, A&&... args) noexcept {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        ComPtr<Object> o;
        HRESULT hr = create(o, std::forward<A>(args)...);
        if (FAILED(hr)) return hr;
        return o->QueryInterface(riid, ppv);
    }

    // The interface map first; then T's queryOther(riid, ppv) when T has one
    // (an outer object handing out the interfaces of an object it aggregates).
    HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (!ppv) return E_POINTER;
        IUnknown* p = findInterface<T>(this, riid);
        *ppv = p;
        if (!p) {
            if constexpr (detail::HasQueryOther<T>) return this->queryOther(riid, ppv);
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() noexcept override {
        // Raising a count needs no ordering: the caller already holds a reference.
        return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    ULONG Release() noexcept override {
        ULONG n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (n == 0) destroy();
        return n;
    }

private:
    template <class... A>
    explicit Object(A&&... args) : T(std::forward<A>(args)...) {
        if constexpr (detail::countsInModule<T>) lockModule(thisModule());
    }
    ~Object() {
        if constexpr (detail::countsInModule<T>) unlockModule(thisModule());
    }
    void destroy() noexcept {
        refs_.store(detail::kStabilisedCount, std::memory_order_relaxed);
        if constexpr (detail::HasFinalRelease<T>) this->finalRelease();
        delete this;
    }

    std::atomic<ULONG> refs_{0};
};

// The aggregatable form: the object lives inside an outer object. Its own
// IUnknown (handed only to the outer object) counts references and answers
// for every interface; all its other interfaces delegate QueryInterface,
// AddRef and Release to the outer object.
template <class T>
class Aggregated final : public IUnknown {
public:
    // The new inner object's IUnknown with one reference.
    template <class... A>
    static HRESULT create(IUnknown* outer, IUnknown** inner, A&&... args) noexcept {
        if (!inner) return E_POINTER;
        *inner = nullptr;
        if (!outer) return E_INVALIDARG;
        Aggregated* o = nullptr;
        try {
            o = new Aggregated(outer, std::forward<A>(args)...);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        o->refs_.store(1, std::memory_order_relaxed);
        if constexpr (detail::HasFinalConstruct<T>) {
            HRESULT hr = o->inner_.finalConstruct();
            if (FAILED(hr)) {
                o->destroy();
                return hr;
            }
        }
        *inner = o;
        return S_OK;
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        IUnknown* p = findInterface<T>(&inner_, riid);
        *ppv = p;
        if (!p) {
            if constexpr (detail::HasQueryOther<T>) return inner_.queryOther(riid, ppv);
            return E_NOINTERFACE;
        }
        p->AddRef();  // delegates: the outer object's count
        return S_OK;
    }
    ULONG AddRef() noexcept override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() noexcept override {
        ULONG n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (n == 0) destroy();
        return n;
    }

private:
    class Contained final : public T {
    public:
        template <class... A>
        explicit Contained(IUnknown* outer, A&&... args) : T(std::forward<A>(args)...), outer_(outer) {}
        HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override { return outer_->QueryInterface(riid, ppv); }
        ULONG AddRef() noexcept override { return outer_->AddRef(); }
        ULONG Release() noexcept override { return outer_->Release(); }

    private:
        IUnknown* outer_;  // not counted: the outer object owns this one
    };

    template <class... A>
    explicit Aggregated(IUnknown* outer, A&&... args) : inner_(outer, std::forward<A>(args)...) {
        lockModule(thisModule());
    }
    ~Aggregated() { unlockModule(thisModule()); }
    void destroy() noexcept {
        refs_.store(detail::kStabilisedCount, std::memory_order_relaxed);
        if constexpr (detail::HasFinalRelease<T>) inner_.finalRelease();
        delete this;
    }

    std::atomic<ULONG> refs_{0};
    Contained inner_;
};

// ---------------------------------------------------------------------------
// Class factories

template <class T>
class ClassFactory : public IClassFactory, public NotCountedInModule {
public:
    using Interfaces = InterfaceMap<IClassFactory>;

    // Without an outer object: a standalone object asked for riid. With one: the
    // aggregatable form, and only IID_IUnknown may be asked for.
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) {
            if (riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
            return Aggregated<T>::create(outer, reinterpret_cast<IUnknown**>(ppv));
        }
        return Object<T>::createInstance(riid, ppv);
    }
    // Raises or lowers the library's lock count. Lowering more often than it was
    // raised is refused (E_UNEXPECTED): it would let the library be unloaded
    // under live objects.
    HRESULT LockServer(BOOL lock) noexcept override {
        if (lock) {
            serverLocks_.fetch_add(1, std::memory_order_relaxed);
            lockModule(thisModule());
            return S_OK;
        }
        int32_t held = serverLocks_.load(std::memory_order_relaxed);
        do {
            if (held <= 0) return E_UNEXPECTED;
        } while (!serverLocks_.compare_exchange_weak(held, held - 1, std::memory_order_relaxed));
        unlockModule(thisModule());
        return S_OK;
    }

protected:
    ClassFactory() = default;
    ~ClassFactory() = default;

private:
    std::atomic<int32_t> serverLocks_{0};
};

template <class T>
HRESULT createClassFactory(IClassFactory** out) noexcept {
    return Object<ClassFactory<T>>::createInstance(IID_IClassFactory, reinterpret_cast<void**>(out));
}

// ---------------------------------------------------------------------------
// Dispatch and class information from the static descriptions

// Implements IDispatch for the dual interface I from its description D.
template <class I, const InterfaceDesc& D>
class Dispatch : public I {
    static_assert(D.iid == I::kIID, "the description belongs to another interface");
    static_assert(I::kIID != IDispatch::kIID, "the interface declares no kIID of its own");

public:
    HRESULT GetTypeInfoCount(UINT* pctinfo) noexcept override {
        if (!pctinfo) return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) noexcept override {
        if (!ppTInfo) return E_POINTER;
        *ppTInfo = nullptr;
        if (iTInfo != 0) return DISP_E_BADINDEX;
        return ObjCreateTypeInfo(&D, &thisModule(), ppTInfo);
    }
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) noexcept override {
        return ObjDispGetIDsOfNames(&D, riid, rgszNames, cNames, rgDispId);
    }
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                   EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept override {
        return ObjDispInvoke(&D, static_cast<I*>(this), dispIdMember, riid, wFlags, pDispParams, pVarResult, pExcepInfo,
                             puArgErr);
    }

    static constexpr const InterfaceDesc& description() noexcept { return D; }

protected:
    Dispatch() = default;
    ~Dispatch() = default;
};

namespace detail {
inline HRESULT defaultSource(const CoClassDesc& c, GUID* out) noexcept {
    for (size_t i = 0; i < c.implCount; ++i) {
        const ImplTypeDesc& t = c.impls[i];
        if ((t.flags & IMPLTYPEFLAG_FSOURCE) && (t.flags & IMPLTYPEFLAG_FDEFAULT) && t.iface) {
            *out = t.iface->iid;
            return S_OK;
        }
    }
    *out = GUID_NULL;
    return E_FAIL;
}
}  // namespace detail

// IProvideClassInfo: the class's description C.
template <const CoClassDesc& C>
class ProvideClassInfo : public IProvideClassInfo {
public:
    HRESULT GetClassInfo(ITypeInfo** ppTI) noexcept override {
        if (!ppTI) return E_POINTER;
        *ppTI = nullptr;
        return ObjCreateClassTypeInfo(&C, &thisModule(), ppTI);
    }

protected:
    ProvideClassInfo() = default;
    ~ProvideClassInfo() = default;
};

// IProvideClassInfo2: also the id of the default event interface (the class's
// implemented type flagged default and source). Other kinds, or a class
// without events: GUID_NULL and E_FAIL.
template <const CoClassDesc& C>
class ProvideClassInfo2 : public IProvideClassInfo2 {
public:
    HRESULT GetClassInfo(ITypeInfo** ppTI) noexcept override {
        if (!ppTI) return E_POINTER;
        *ppTI = nullptr;
        return ObjCreateClassTypeInfo(&C, &thisModule(), ppTI);
    }
    HRESULT GetGUID(DWORD dwGuidKind, GUID* pGUID) noexcept override {
        if (!pGUID) return E_POINTER;
        if (dwGuidKind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
            *pGUID = GUID_NULL;
            return E_FAIL;
        }
        return detail::defaultSource(C, pGUID);
    }

protected:
    ProvideClassInfo2() = default;
    ~ProvideClassInfo2() = default;
};

// ---------------------------------------------------------------------------
// Enumerators over a snapshot (connections, connection points)

namespace detail {
inline void addRefItem(IConnectionPoint* p) noexcept { p->AddRef(); }
inline void releaseItem(IConnectionPoint* p) noexcept { p->Release(); }
inline void addRefItem(const CONNECTDATA& d) noexcept { d.pUnk->AddRef(); }
inline void releaseItem(const CONNECTDATA& d) noexcept { d.pUnk->Release(); }
// After a failed create() the items were not taken over (a vector moved from is
// empty): drop their references.
template <class Item>
HRESULT releaseAll(std::vector<Item>& items, HRESULT hr) noexcept {
    for (const Item& i : items) releaseItem(i);
    items.clear();
    return hr;
}
}  // namespace detail

// Holds a reference on every item; Next hands out further references. Used by
// one client at a time.
template <class IEnum, class Item>
class Enumerator : public IEnum {
public:
    using Interfaces = InterfaceMap<IEnum>;

    // Takes over one reference per item.
    explicit Enumerator(std::vector<Item> items, size_t pos = 0) noexcept : items_(std::move(items)), pos_(pos) {}

    HRESULT Next(ULONG count, Item* out, ULONG* fetched) noexcept override {
        if (!out || (count != 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        while (n < count && pos_ < items_.size()) {
            out[n] = items_[pos_++];
            detail::addRefItem(out[n]);
            ++n;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) noexcept override {
        size_t left = items_.size() - pos_;
        pos_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() noexcept override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnum** out) noexcept override {
        if (!out) return E_POINTER;
        *out = nullptr;
        std::vector<Item> copy;
        try {
            copy = items_;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        for (const Item& i : copy) detail::addRefItem(i);
        ComPtr<Object<Enumerator>> e;
        HRESULT hr = Object<Enumerator>::create(e, std::move(copy), pos_);
        if (FAILED(hr)) return detail::releaseAll(copy, hr);
        *out = static_cast<IEnum*>(e.detach());
        return S_OK;
    }

protected:
    ~Enumerator() {
        for (const Item& i : items_) detail::releaseItem(i);
    }

private:
    std::vector<Item> items_;
    size_t pos_;
};

// ---------------------------------------------------------------------------
// Connection points

// Argument conversions for fire(): values are borrowed for the call.
namespace detail {
inline VARIANT eventArg(LONG v) noexcept {
    VARIANT a{};
    a.vt = VT_I4;
    a.lVal = v;
    return a;
}
inline VARIANT eventArg(SHORT v) noexcept {
    VARIANT a{};
    a.vt = VT_I2;
    a.iVal = v;
    return a;
}
inline VARIANT eventArg(ULONG v) noexcept {
    VARIANT a{};
    a.vt = VT_UI4;
    a.ulVal = v;
    return a;
}
inline VARIANT eventArg(VARIANT_BOOL v) noexcept {
    VARIANT a{};
    a.vt = VT_BOOL;
    a.boolVal = v;
    return a;
}
inline VARIANT eventArg(BSTR v) noexcept {
    VARIANT a{};
    a.vt = VT_BSTR;
    a.bstrVal = v;
    return a;
}
inline VARIANT eventArg(IDispatch* v) noexcept {
    VARIANT a{};
    a.vt = VT_DISPATCH;
    a.pdispVal = v;
    return a;
}
template <class E>
requires(std::is_enum_v<E> && sizeof(E) == 4) VARIANT eventArg(E v)
noexcept { return eventArg(static_cast<LONG>(v)); }
}  // namespace detail

// One outgoing interface of a container object, with its list of sinks: slots
// for four to begin with, doubling when all are taken; a cookie is the 1-based
// slot number; Unadvise empties a slot and the next Advise takes the first
// empty one. Embedded in its container, whose life it shares: AddRef and
// Release go to the container.
class ConnectionPoint final : public IConnectionPoint {
public:
    ConnectionPoint(IConnectionPointContainer* owner, REFIID iid) noexcept : owner_(owner), iid_(iid) {}
    ~ConnectionPoint() { unadviseAll(); }
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    const IID& iid() const noexcept { return iid_; }

    HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
            *ppv = static_cast<IConnectionPoint*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() noexcept override { return owner_->AddRef(); }
    ULONG Release() noexcept override { return owner_->Release(); }

    HRESULT GetConnectionInterface(IID* pIID) noexcept override {
        if (!pIID) return E_POINTER;
        *pIID = iid_;
        return S_OK;
    }
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) noexcept override {
        if (!ppCPC) return E_POINTER;
        *ppCPC = owner_;
        owner_->AddRef();
        return S_OK;
    }
    // The sink is asked for the outgoing interface (CONNECT_E_CANNOTCONNECT when
    // it refuses) and that reference is kept until Unadvise.
    HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) noexcept override {
        if (!pdwCookie) return E_POINTER;
        *pdwCookie = 0;
        if (!pUnkSink) return E_POINTER;
        IUnknown* sink = nullptr;
        if (FAILED(pUnkSink->QueryInterface(iid_, reinterpret_cast<void**>(&sink))) || !sink)
            return CONNECT_E_CANNOTCONNECT;
        std::unique_lock lock(mutex_);
        size_t slot = 0;
        while (slot < slots_.size() && slots_[slot]) ++slot;
        if (slot == slots_.size()) {
            try {
                slots_.resize(slots_.empty() ? 4 : slots_.size() * 2, nullptr);
            } catch (...) {
                lock.unlock();
                sink->Release();
                return E_OUTOFMEMORY;
            }
        }
        slots_[slot] = sink;
        *pdwCookie = static_cast<DWORD>(slot + 1);
        return S_OK;
    }
    HRESULT Unadvise(DWORD dwCookie) noexcept override {
        IUnknown* sink = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (dwCookie == 0 || dwCookie > slots_.size() || !slots_[dwCookie - 1]) return CONNECT_E_NOCONNECTION;
            sink = std::exchange(slots_[dwCookie - 1], nullptr);
        }
        sink->Release();  // outside the lock: the sink's destruction may call back
        return S_OK;
    }
    HRESULT EnumConnections(IEnumConnections** ppEnum) noexcept override {
        if (!ppEnum) return E_POINTER;
        *ppEnum = nullptr;
        std::vector<CONNECTDATA> items;
        try {
            std::lock_guard lock(mutex_);
            items.reserve(slots_.size());
            for (size_t i = 0; i < slots_.size(); ++i) {
                if (!slots_[i]) continue;
                slots_[i]->AddRef();
                items.push_back(CONNECTDATA{slots_[i], static_cast<DWORD>(i + 1)});
            }
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        using E = Enumerator<IEnumConnections, CONNECTDATA>;
        ComPtr<Object<E>> e;
        HRESULT hr = Object<E>::create(e, std::move(items));
        if (FAILED(hr)) return detail::releaseAll(items, hr);
        *ppEnum = static_cast<IEnumConnections*>(e.detach());
        return S_OK;
    }

    // Calls f(sink) for every sink connected when the call began, in slot order,
    // each held for its call. Every sink is called even when one fails; the
    // result is S_OK or the first failure.
    template <class F>
    HRESULT forEachSink(F&& f) noexcept {
        std::vector<IUnknown*> snapshot;
        try {
            std::lock_guard lock(mutex_);
            snapshot.reserve(slots_.size());
            for (IUnknown* s : slots_) {
                if (!s) continue;
                s->AddRef();
                snapshot.push_back(s);
            }
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        HRESULT first = S_OK;
        for (IUnknown* s : snapshot) {
            HRESULT hr = f(s);
            if (FAILED(hr) && SUCCEEDED(first)) first = hr;
            s->Release();
        }
        return first;
    }

    // Raises an event of a dispatch event interface: IDispatch::Invoke on every
    // sink with the event's id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD
    // and the arguments (borrowed; LONG as VT_I4, VARIANT_BOOL as VT_BOOL, BSTR
    // as VT_BSTR, ...), asking for no result. Result as forEachSink.
    template <class... A>
    HRESULT fire(DISPID id, const A&... args) noexcept {
        return forEachSink([&](IUnknown* sink) noexcept {
            // Built afresh for each sink: a sink may change the arguments it is given.
            VARIANT argv[sizeof...(A) + 1] = {};
            size_t i = sizeof...(A);
            ((argv[--i] = detail::eventArg(args)), ...);
            DISPPARAMS params{sizeof...(A) ? argv : nullptr, nullptr, static_cast<UINT>(sizeof...(A)), 0};
            // The sink's reference for a dispatch interface is an IDispatch.
            return static_cast<IDispatch*>(sink)->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                                         nullptr, nullptr, nullptr);
        });
    }

    size_t sinkCount() const noexcept {
        std::lock_guard lock(mutex_);
        size_t n = 0;
        for (IUnknown* s : slots_) n += s != nullptr;
        return n;
    }
    // Drops every sink (the container's final release does this too).
    void unadviseAll() noexcept {
        std::vector<IUnknown*> gone;
        {
            std::lock_guard lock(mutex_);
            gone.swap(slots_);
        }
        for (IUnknown* s : gone)
            if (s) s->Release();
    }

private:
    IConnectionPointContainer* owner_;
    IID iid_;
    mutable std::mutex mutex_;
    std::vector<IUnknown*> slots_;
};

// IConnectionPointContainer over T's connection points, which T lists with
//   std::span<ConnectionPoint* const> connectionPoints() noexcept;
template <class T>
class ConnectionPointContainer : public IConnectionPointContainer {
public:
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept override {
        if (!ppEnum) return E_POINTER;
        *ppEnum = nullptr;
        std::vector<IConnectionPoint*> items;
        try {
            for (ConnectionPoint* cp : static_cast<T*>(this)->connectionPoints()) items.push_back(cp);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        for (IConnectionPoint* cp : items) cp->AddRef();
        using E = Enumerator<IEnumConnectionPoints, IConnectionPoint*>;
        ComPtr<Object<E>> e;
        HRESULT hr = Object<E>::create(e, std::move(items));
        if (FAILED(hr)) return detail::releaseAll(items, hr);
        *ppEnum = static_cast<IEnumConnectionPoints*>(e.detach());
        return S_OK;
    }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept override {
        if (!ppCP) return E_POINTER;
        *ppCP = nullptr;
        for (ConnectionPoint* cp : static_cast<T*>(this)->connectionPoints()) {
            if (cp->iid() == riid) {
                cp->AddRef();
                *ppCP = cp;
                return S_OK;
            }
        }
        return CONNECT_E_NOCONNECTION;
    }

protected:
    ConnectionPointContainer() = default;
    ~ConnectionPointContainer() = default;
};

// Client side: connects sink to source's connection point for iid.
inline HRESULT advise(IUnknown* source, REFIID iid, IUnknown* sink, DWORD* cookie) noexcept {
    if (!source || !cookie) return E_POINTER;
    *cookie = 0;
    ComPtr<IConnectionPointContainer> cpc;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, cpc.putVoid());
    if (FAILED(hr)) return hr;
    ComPtr<IConnectionPoint> cp;
    hr = cpc->FindConnectionPoint(iid, cp.put());
    if (FAILED(hr)) return hr;
    return cp->Advise(sink, cookie);
}
inline HRESULT unadvise(IUnknown* source, REFIID iid, DWORD cookie) noexcept {
    if (!source) return E_POINTER;
    ComPtr<IConnectionPointContainer> cpc;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, cpc.putVoid());
    if (FAILED(hr)) return hr;
    ComPtr<IConnectionPoint> cp;
    hr = cpc->FindConnectionPoint(iid, cp.put());
    if (FAILED(hr)) return hr;
    return cp->Unadvise(cookie);
}

}  // namespace xel::objrt
