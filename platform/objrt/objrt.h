// The object runtime: the binary contract between the suite's shared libraries.
//
// Automation objects cross library boundaries as pointers to abstract classes
// whose virtual tables have the classic object runtime's method order, status
// codes are 32-bit HRESULTs with the classic values, texts are counted UTF-16
// strings (BSTR) from one allocator for the whole process, and late-bound values
// travel in 24-byte VARIANTs. This header holds exactly that contract: the base
// types, the status codes, GUIDs, BSTR and VARIANT functions, the interfaces, and
// creation of objects by class id or ProgID through the registry.
//
// The C++ building blocks that turn a class into an automation object are in
// "platform/objrt/Object.h" (objects, aggregation, class factories, connection
// points), "platform/objrt/Describe.h" (interface tables that drive IDispatch and
// the type information) and "platform/objrt/Server.h" (registration, module
// entry points). "platform/objrt/Ptr.h" has ComPtr, Bstr and Variant.
//
// Thread contract
// - Every function declared here may be called from any thread. BSTR, VARIANT
//   and GUID functions keep no state. Activation keeps a table of loaded server
//   libraries under one lock; a server's DllGetClassObject and the factory's
//   CreateInstance run without that lock held (so they may create further
//   objects themselves).
// - CoInitialize/CoUninitialize count per thread; CoGetClassObject and
//   CoCreateInstance need the calling thread initialised and answer
//   CO_E_NOTINITIALIZED otherwise. Objects carry no thread affinity:
//   reference counts are atomic because events cross threads, but each class
//   documents which of its members may run concurrently.
// - A VARIANT or BSTR itself is never shared between threads without the
//   caller's own synchronisation.
//
// Every function and interface method is noexcept: failures come back as
// HRESULTs, never as exceptions, and no standard-library type crosses a library
// boundary.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/export.h"

// ---------------------------------------------------------------------------
// Base types (sizes are part of the contract)

using HRESULT = int32_t;
using SCODE = int32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using SHORT = int16_t;
using USHORT = uint16_t;
using INT = int32_t;
using UINT = uint32_t;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using BOOL = int32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using ULONG_PTR = uintptr_t;
using DOUBLE = double;
using LCID = uint32_t;
using DISPID = int32_t;
using MEMBERID = DISPID;
using HREFTYPE = uint32_t;
using VARTYPE = uint16_t;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
// Points just after a uint32_t byte length and ends in a 16-bit NUL; a null
// BSTR means the empty text everywhere.
using BSTR = OLECHAR*;

// The automation boolean: true is all bits set. A type of its own (not a plain
// 16-bit integer) so that interface tables can tell it from SHORT and convert
// late-bound arguments the automation way (any non-zero number becomes true).
enum VARIANT_BOOL : int16_t { VARIANT_FALSE = 0, VARIANT_TRUE = -1 };

static_assert(sizeof(VARIANT_BOOL) == 2 && sizeof(OLECHAR) == 2);

// ---------------------------------------------------------------------------
// Status codes

constexpr bool SUCCEEDED(HRESULT hr) noexcept { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) noexcept { return hr < 0; }
constexpr HRESULT hresultOf(uint32_t bits) noexcept { return static_cast<HRESULT>(bits); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;

inline constexpr HRESULT E_NOTIMPL = hresultOf(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = hresultOf(0x80004002);
inline constexpr HRESULT E_POINTER = hresultOf(0x80004003);
inline constexpr HRESULT E_ABORT = hresultOf(0x80004004);
inline constexpr HRESULT E_FAIL = hresultOf(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = hresultOf(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = hresultOf(0x80070005);
inline constexpr HRESULT E_OUTOFMEMORY = hresultOf(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = hresultOf(0x80070057);

inline constexpr HRESULT CLASS_E_NOAGGREGATION = hresultOf(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hresultOf(0x80040111);

inline constexpr HRESULT REGDB_E_READREGDB = hresultOf(0x80040150);
inline constexpr HRESULT REGDB_E_WRITEREGDB = hresultOf(0x80040151);
inline constexpr HRESULT REGDB_E_KEYMISSING = hresultOf(0x80040152);
inline constexpr HRESULT REGDB_E_INVALIDVALUE = hresultOf(0x80040153);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = hresultOf(0x80040154);

inline constexpr HRESULT CO_E_NOTINITIALIZED = hresultOf(0x800401F0);
inline constexpr HRESULT CO_E_CLASSSTRING = hresultOf(0x800401F3);  // unknown ProgID, bad GUID text
inline constexpr HRESULT CO_E_DLLNOTFOUND = hresultOf(0x800401F8);  // server library missing or not loadable
inline constexpr HRESULT CO_E_ERRORINDLL = hresultOf(0x800401F9);   // library lacks DllGetClassObject

inline constexpr HRESULT CONNECT_E_NOCONNECTION = hresultOf(0x80040200);
inline constexpr HRESULT CONNECT_E_ADVISELIMIT = hresultOf(0x80040201);
inline constexpr HRESULT CONNECT_E_CANNOTCONNECT = hresultOf(0x80040202);

inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = hresultOf(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = hresultOf(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = hresultOf(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = hresultOf(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = hresultOf(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = hresultOf(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = hresultOf(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = hresultOf(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = hresultOf(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = hresultOf(0x8002000B);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = hresultOf(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = hresultOf(0x8002000F);

inline constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = hresultOf(0x8002802B);

// ---------------------------------------------------------------------------
// GUIDs

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr bool operator==(const GUID& a, const GUID& b) noexcept {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
constexpr bool IsEqualGUID(REFGUID a, REFGUID b) noexcept { return a == b; }
constexpr bool IsEqualIID(REFIID a, REFIID b) noexcept { return a == b; }
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) noexcept { return a == b; }

namespace xel::objrt::detail {
constexpr int hexDigit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
// Parses "8-4-4-4-12" hexadecimal digits, with or without braces, any case.
// Returns false for anything else (no surrounding blanks, no other forms).
template <class Ch>
constexpr bool parseGuid(const Ch* s, size_t n, GUID& out) noexcept {
    if (n == 38) {
        if (s[0] != Ch('{') || s[37] != Ch('}')) return false;
        ++s;
        n = 36;
    }
    if (n != 36) return false;
    uint8_t bytes[16] = {};
    int b = 0;
    for (size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (s[i] != Ch('-')) return false;
            ++i;
            continue;
        }
        auto c0 = s[i], c1 = s[i + 1];
        if (c0 > 0x7f || c1 > 0x7f) return false;
        int h = hexDigit(static_cast<char>(c0)), l = hexDigit(static_cast<char>(c1));
        if (h < 0 || l < 0) return false;
        bytes[b++] = static_cast<uint8_t>(h * 16 + l);
        i += 2;
    }
    GUID g{};
    g.Data1 = (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
    g.Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    g.Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
    out = g;
    return true;
}
}  // namespace xel::objrt::detail

// A GUID from its text at compile time: makeGuid("6f1b0c2e-...") or with braces.
// An invalid text in a constant expression fails to compile.
consteval GUID makeGuid(const char* text) {
    size_t n = 0;
    while (text[n]) ++n;
    GUID g{};
    if (!xel::objrt::detail::parseGuid(text, n, g)) throw "invalid GUID text";
    return g;
}

inline constexpr GUID GUID_NULL{};
inline constexpr IID IID_NULL{};

// ---------------------------------------------------------------------------
// VARIANT

enum : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,  // only as VT_VARIANT | VT_BYREF
    VT_UNKNOWN = 13,
    VT_UI4 = 19,
    VT_VOID = 24,         // type descriptions only
    VT_HRESULT = 25,      // type descriptions only
    VT_PTR = 26,          // type descriptions only
    VT_USERDEFINED = 29,  // type descriptions only
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct IUnknown;
struct IDispatch;

// The classic 24-byte layout: the type, three reserved words, then an 8-byte
// aligned union two pointers wide. Types the runtime converts: VT_EMPTY,
// VT_NULL, VT_I2, VT_I4, VT_UI4, VT_BOOL, VT_BSTR, VT_DISPATCH, VT_UNKNOWN,
// VT_ERROR, and VT_BYREF forms of these and of VT_VARIANT.
struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        SHORT iVal;
        ULONG ulVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SHORT* piVal;
        LONG* plVal;
        ULONG* pulVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        VARIANT* pvarVal;
        void* byref;
        struct {
            void* pvRecord;
            void* pRecInfo;
        } brecVal;  // never used; gives the union its classic size
    };
};
using VARIANTARG = VARIANT;
static_assert(sizeof(VARIANT) == 24 && offsetof(VARIANT, lVal) == 8);

// VariantChangeType flags.
enum : USHORT {
    VARIANT_NOVALUEPROP = 0x01,
    VARIANT_ALPHABOOL = 0x02,  // VT_BOOL -> text gives "True"/"False" instead of "-1"/"0"
};

// ---------------------------------------------------------------------------
// Late binding

struct DISPPARAMS {
    VARIANTARG* rgvarg;         // arguments in reverse order: rgvarg[cArgs-1] is the first
    DISPID* rgdispidNamedArgs;  // ids of the named arguments rgvarg[0..cNamedArgs-1]
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

enum : WORD {
    DISPATCH_METHOD = 0x1,
    DISPATCH_PROPERTYGET = 0x2,
    DISPATCH_PROPERTYPUT = 0x4,
    DISPATCH_PROPERTYPUTREF = 0x8,
};

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;
inline constexpr MEMBERID MEMBERID_NIL = DISPID_UNKNOWN;

inline constexpr LCID LOCALE_USER_DEFAULT = 0x400;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x800;

// ---------------------------------------------------------------------------
// Type descriptions (the subset the runtime fills in; classic layouts)

enum TYPEKIND : int32_t {
    TKIND_ENUM = 0,
    TKIND_RECORD,
    TKIND_MODULE,
    TKIND_INTERFACE,
    TKIND_DISPATCH,
    TKIND_COCLASS,
    TKIND_ALIAS,
    TKIND_UNION,
};
enum FUNCKIND : int32_t { FUNC_VIRTUAL = 0, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH };
enum INVOKEKIND : int32_t {
    INVOKE_FUNC = 1,
    INVOKE_PROPERTYGET = 2,
    INVOKE_PROPERTYPUT = 4,
    INVOKE_PROPERTYPUTREF = 8,
};
enum CALLCONV : int32_t { CC_CDECL = 1, CC_STDCALL = 4 };

enum : USHORT {
    PARAMFLAG_NONE = 0,
    PARAMFLAG_FIN = 0x1,
    PARAMFLAG_FOUT = 0x2,
    PARAMFLAG_FRETVAL = 0x8,
};
enum : WORD {
    TYPEFLAG_FAPPOBJECT = 0x1,
    TYPEFLAG_FCANCREATE = 0x2,
    TYPEFLAG_FHIDDEN = 0x10,
    TYPEFLAG_FDUAL = 0x40,
    TYPEFLAG_FOLEAUTOMATION = 0x100,
    TYPEFLAG_FDISPATCHABLE = 0x1000,
};
enum : int32_t {
    IMPLTYPEFLAG_FDEFAULT = 0x1,
    IMPLTYPEFLAG_FSOURCE = 0x2,
};

struct TYPEDESC {
    union {
        TYPEDESC* lptdesc;  // vt == VT_PTR: the type pointed to
        HREFTYPE hreftype;  // vt == VT_USERDEFINED
    };
    VARTYPE vt;
};
struct IDLDESC {
    ULONG_PTR dwReserved;
    USHORT wIDLFlags;
};
struct PARAMDESC {
    void* pparamdescex;
    USHORT wParamFlags;
};
struct ELEMDESC {
    TYPEDESC tdesc;
    union {
        IDLDESC idldesc;
        PARAMDESC paramdesc;
    };
};
struct TYPEATTR {
    GUID guid;
    LCID lcid;
    DWORD dwReserved;
    MEMBERID memidConstructor;
    MEMBERID memidDestructor;
    LPOLESTR lpstrSchema;
    ULONG cbSizeInstance;
    TYPEKIND typekind;
    WORD cFuncs;
    WORD cVars;
    WORD cImplTypes;
    WORD cbSizeVft;
    WORD cbAlignment;
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    TYPEDESC tdescAlias;
    IDLDESC idldescType;
};
struct FUNCDESC {
    MEMBERID memid;
    SCODE* lprgscode;
    ELEMDESC* lprgelemdescParam;  // the late-bound arguments; out-parameters are VT_PTR to their type
    FUNCKIND funckind;
    INVOKEKIND invkind;
    CALLCONV callconv;
    SHORT cParams;
    SHORT cParamsOpt;
    SHORT oVft;
    SHORT cScodes;
    ELEMDESC elemdescFunc;  // the return value's type (VT_VOID when none); the status is not shown
    WORD wFuncFlags;
};

// ---------------------------------------------------------------------------
// Interfaces. Methods are in the classic virtual-table order; there is no
// virtual destructor (it would add table slots): objects are destroyed by their
// own final Release. Each interface names its identifier as kIID.

struct ITypeInfo;
struct IConnectionPoint;
struct IConnectionPointContainer;

struct IUnknown {
    static constexpr IID kIID = makeGuid("00000000-0000-0000-C000-000000000046");
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) noexcept = 0;
    virtual ULONG AddRef() noexcept = 0;
    virtual ULONG Release() noexcept = 0;
};

struct IDispatch : IUnknown {
    static constexpr IID kIID = makeGuid("00020400-0000-0000-C000-000000000046");
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) noexcept = 0;
    virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) noexcept = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                  DISPID* rgDispId) noexcept = 0;
    virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept = 0;
};

struct IClassFactory : IUnknown {
    static constexpr IID kIID = makeGuid("00000001-0000-0000-C000-000000000046");
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) noexcept = 0;
    virtual HRESULT LockServer(BOOL fLock) noexcept = 0;
};

struct CONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
};

struct IEnumConnections : IUnknown {
    static constexpr IID kIID = makeGuid("B196B287-BAB4-101A-B69C-00AA00341D07");
    virtual HRESULT Next(ULONG cConnections, CONNECTDATA* rgcd, ULONG* pcFetched) noexcept = 0;
    virtual HRESULT Skip(ULONG cConnections) noexcept = 0;
    virtual HRESULT Reset() noexcept = 0;
    virtual HRESULT Clone(IEnumConnections** ppEnum) noexcept = 0;
};

struct IEnumConnectionPoints : IUnknown {
    static constexpr IID kIID = makeGuid("B196B285-BAB4-101A-B69C-00AA00341D07");
    virtual HRESULT Next(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) noexcept = 0;
    virtual HRESULT Skip(ULONG cConnections) noexcept = 0;
    virtual HRESULT Reset() noexcept = 0;
    virtual HRESULT Clone(IEnumConnectionPoints** ppEnum) noexcept = 0;
};

struct IConnectionPoint : IUnknown {
    static constexpr IID kIID = makeGuid("B196B286-BAB4-101A-B69C-00AA00341D07");
    virtual HRESULT GetConnectionInterface(IID* pIID) noexcept = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) noexcept = 0;
    virtual HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) noexcept = 0;
    virtual HRESULT Unadvise(DWORD dwCookie) noexcept = 0;
    virtual HRESULT EnumConnections(IEnumConnections** ppEnum) noexcept = 0;
};

struct IConnectionPointContainer : IUnknown {
    static constexpr IID kIID = makeGuid("B196B284-BAB4-101A-B69C-00AA00341D07");
    virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept = 0;
    virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept = 0;
};

struct IProvideClassInfo : IUnknown {
    static constexpr IID kIID = makeGuid("B196B283-BAB4-101A-B69C-00AA00341D07");
    virtual HRESULT GetClassInfo(ITypeInfo** ppTI) noexcept = 0;
};

inline constexpr DWORD GUIDKIND_DEFAULT_SOURCE_DISP_IID = 1;

struct IProvideClassInfo2 : IProvideClassInfo {
    static constexpr IID kIID = makeGuid("A6BC3AC0-DBAA-11CE-9DE3-00AA004BB851");
    virtual HRESULT GetGUID(DWORD dwGuidKind, GUID* pGUID) noexcept = 0;
};

struct IPropertyNotifySink : IUnknown {
    static constexpr IID kIID = makeGuid("9BFBBC02-EFF1-101A-84ED-00AA00341D07");
    virtual HRESULT OnChanged(DISPID dispID) noexcept = 0;
    virtual HRESULT OnRequestEdit(DISPID dispID) noexcept = 0;
};

// Type information for interfaces, event interfaces and classes, as described
// by the static tables of "platform/objrt/Describe.h". The slots keep the
// classic order; those marked "not offered" return E_NOTIMPL.
struct ITypeInfo : IUnknown {
    static constexpr IID kIID = makeGuid("00020401-0000-0000-C000-000000000046");
    virtual HRESULT GetTypeAttr(TYPEATTR** ppTypeAttr) noexcept = 0;
    virtual HRESULT GetTypeComp(void** ppTComp) noexcept = 0;  // not offered
    virtual HRESULT GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) noexcept = 0;
    virtual HRESULT GetVarDesc(UINT index, void** ppVarDesc) noexcept = 0;  // not offered
    // The member's name, then its parameters' names (the return value's excluded).
    virtual HRESULT GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) noexcept = 0;
    virtual HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) noexcept = 0;
    virtual HRESULT GetImplTypeFlags(UINT index, INT* pImplTypeFlags) noexcept = 0;
    virtual HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) noexcept = 0;
    virtual HRESULT Invoke(void* pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                           EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept = 0;
    // MEMBERID_NIL describes the type itself. Any out-pointer may be null.
    virtual HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                     BSTR* pBstrHelpFile) noexcept = 0;
    virtual HRESULT GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName, BSTR* pBstrName,
                                WORD* pwOrdinal) noexcept = 0;  // not offered
    virtual HRESULT GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) noexcept = 0;
    virtual HRESULT AddressOfMember(MEMBERID memid, INVOKEKIND invKind, void** ppv) noexcept = 0;  // not offered
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObj) noexcept = 0;  // not offered
    virtual HRESULT GetMops(MEMBERID memid, BSTR* pBstrMops) noexcept = 0;                         // not offered
    virtual HRESULT GetContainingTypeLib(void** ppTLib, UINT* pIndex) noexcept = 0;                // not offered
    virtual void ReleaseTypeAttr(TYPEATTR* pTypeAttr) noexcept = 0;
    virtual void ReleaseFuncDesc(FUNCDESC* pFuncDesc) noexcept = 0;
    virtual void ReleaseVarDesc(void* pVarDesc) noexcept = 0;
};

inline constexpr IID IID_IUnknown = IUnknown::kIID;
inline constexpr IID IID_IDispatch = IDispatch::kIID;
inline constexpr IID IID_IClassFactory = IClassFactory::kIID;
inline constexpr IID IID_IConnectionPointContainer = IConnectionPointContainer::kIID;
inline constexpr IID IID_IConnectionPoint = IConnectionPoint::kIID;
inline constexpr IID IID_IEnumConnections = IEnumConnections::kIID;
inline constexpr IID IID_IEnumConnectionPoints = IEnumConnectionPoints::kIID;
inline constexpr IID IID_IProvideClassInfo = IProvideClassInfo::kIID;
inline constexpr IID IID_IProvideClassInfo2 = IProvideClassInfo2::kIID;
inline constexpr IID IID_IPropertyNotifySink = IPropertyNotifySink::kIID;
inline constexpr IID IID_ITypeInfo = ITypeInfo::kIID;

// ---------------------------------------------------------------------------
// Activation constants

enum : DWORD {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
    CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
    CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER,
};
enum : DWORD {
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
};

// GUID text forms for ObjGuidToString.
enum : unsigned {
    GUIDFMT_BRACES = 0x1,     // "{...}"
    GUIDFMT_LOWERCASE = 0x2,  // hexadecimal letters in lower case
};
inline constexpr size_t kGuidTextSize = 39;  // braced form plus NUL

// ---------------------------------------------------------------------------
// Functions of libobjrt.so

extern "C" {

// Counted strings. One allocator for the process: any library may free what
// another allocated. A null BSTR is the empty text. Lengths above 2^30
// characters are refused (null result).
XEL_EXPORT BSTR SysAllocString(const OLECHAR* psz) noexcept;                // null in -> null out
XEL_EXPORT BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) noexcept;   // pch null: cch zero characters
XEL_EXPORT BSTR SysAllocStringByteLen(const char* psz, UINT len) noexcept;  // raw bytes, NUL-terminated twice
// Replaces *pbstr with a copy of the given text (freeing the old one): TRUE on success.
XEL_EXPORT BOOL SysReAllocString(BSTR* pbstr, const OLECHAR* psz) noexcept;
XEL_EXPORT BOOL SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) noexcept;
XEL_EXPORT void SysFreeString(BSTR bstr) noexcept;
XEL_EXPORT UINT SysStringLen(BSTR bstr) noexcept;      // characters, embedded NULs included
XEL_EXPORT UINT SysStringByteLen(BSTR bstr) noexcept;  // bytes
// UTF-8 <-> BSTR. Malformed input becomes U+FFFD. ObjBstrToUtf8 fills buf (cap
// bytes, the NUL included; may be null) and returns the full UTF-8 length.
XEL_EXPORT BSTR ObjBstrFromUtf8(const char* utf8, size_t len) noexcept;
XEL_EXPORT size_t ObjBstrToUtf8(BSTR bstr, char* buf, size_t cap) noexcept;
// Counts a NUL-terminated wide text (null -> 0).
XEL_EXPORT size_t ObjWideLen(const OLECHAR* psz) noexcept;

// VARIANTs.
XEL_EXPORT void VariantInit(VARIANT* pvarg) noexcept;
// Frees what the value owns (string, interface reference) and leaves VT_EMPTY.
// DISP_E_BADVARTYPE (and nothing changed) for a type the runtime does not know.
XEL_EXPORT HRESULT VariantClear(VARIANT* pvarg) noexcept;
// Deep copy; the destination is cleared first. By-reference values are copied
// as references.
XEL_EXPORT HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc) noexcept;
// Deep copy that follows by-reference values to what they point at.
XEL_EXPORT HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANT* pvargSrc) noexcept;
// Converts (following by-reference sources) to vt, which may not be by-reference.
// Destination and source may be the same. Errors: DISP_E_TYPEMISMATCH (no such
// conversion, text that is not a number), DISP_E_OVERFLOW (out of range),
// DISP_E_BADVARTYPE. Interfaces convert by QueryInterface; a refusal is
// DISP_E_TYPEMISMATCH. Numbers to VT_BOOL: non-zero is
// VARIANT_TRUE. Text to number: optional blanks and sign, decimal digits, or
// "&H" and hexadecimal digits. Text to VT_BOOL: "True"/"False" in any case or a
// number. VT_BOOL to text: "-1"/"0", or "True"/"False" with VARIANT_ALPHABOOL.
XEL_EXPORT HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT wFlags, VARTYPE vt) noexcept;

// GUIDs. ObjGuidToString writes the 8-4-4-4-12 form (flags GUIDFMT_*) and a NUL
// into buf (kGuidTextSize bytes suffice) and returns the characters written.
XEL_EXPORT size_t ObjGuidToString(const GUID* guid, unsigned flags, char* buf) noexcept;
// Parses 8-4-4-4-12 hexadecimal digits, with or without braces, any case:
// S_OK, E_POINTER, or CO_E_CLASSSTRING for anything else.
XEL_EXPORT HRESULT ObjGuidFromString(const char* text, GUID* out) noexcept;
// The classic wide forms: braced upper case; returns characters incl. the NUL,
// 0 when cchMax < 39.
XEL_EXPORT int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) noexcept;
XEL_EXPORT HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) noexcept;
XEL_EXPORT HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid) noexcept;
// A new random (version 4) GUID from the kernel's random source.
XEL_EXPORT HRESULT CoCreateGuid(GUID* pguid) noexcept;

// Runtime initialisation, counted per thread: S_OK for the thread's first call,
// S_FALSE for a nested one. The model argument is accepted and not enforced.
XEL_EXPORT HRESULT CoInitialize(void* pvReserved) noexcept;
XEL_EXPORT HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit) noexcept;
// Ends one CoInitialize of this thread. Loaded server libraries stay loaded
// (a thread of theirs may still be finishing); CoFreeUnusedLibraries unloads.
XEL_EXPORT void CoUninitialize() noexcept;

// ProgID -> class id from the registry's classes root. A ProgID whose key has
// "CurVer" resolves through the ProgID named there (up to 8 steps); otherwise
// its "CLSID" subkey's default value. CO_E_CLASSSTRING when the ProgID is not
// registered or names no valid class id.
XEL_EXPORT HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid) noexcept;

// The class object of a registered in-process server: CLSID\{clsid}\InprocServer32
// names the library, which is loaded once (dlopen) and asked through its
// exported DllGetClassObject. Errors: REGDB_E_CLASSNOTREG (class or its
// InprocServer32 not registered, or no in-process context asked for),
// CO_E_DLLNOTFOUND (library missing or not loadable), CO_E_ERRORINDLL (no
// DllGetClassObject), or what DllGetClassObject returns.
XEL_EXPORT HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved, REFIID riid,
                                    void** ppv) noexcept;
// CoGetClassObject then IClassFactory::CreateInstance. With an outer object only
// IID_IUnknown may be asked for (CLASS_E_NOAGGREGATION otherwise).
XEL_EXPORT HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                                    void** ppv) noexcept;
// Unloads every loaded server library whose DllCanUnloadNow answers S_OK and
// that no activation is using at the moment. A library must not be running
// code on any thread when its count reaches zero and this is called.
XEL_EXPORT void CoFreeUnusedLibraries() noexcept;
// True while the library at path (as registered) is loaded by the runtime.
XEL_EXPORT BOOL ObjIsLibraryLoaded(const char* path) noexcept;
// The reason for the last failed library load or entry-point lookup on this
// thread (the loader's text), copied into buf (cap bytes, the NUL included);
// returns the full length.
XEL_EXPORT size_t ObjLastLoadError(char* buf, size_t cap) noexcept;

// A status in words for messages: "0x80040154 REGDB_E_CLASSNOTREG: class not
// registered", or the number alone for a code the runtime does not know.
// Fills buf (cap bytes, the NUL included); returns the full length.
XEL_EXPORT size_t ObjStatusText(HRESULT hr, char* buf, size_t cap) noexcept;

}  // extern "C"

// Entry points an in-process server library exports (extern "C", XEL_EXPORT):
//   HRESULT DllGetClassObject(REFCLSID, REFIID, void**) noexcept;
//   HRESULT DllCanUnloadNow() noexcept;
//   HRESULT DllRegisterServer() noexcept;
//   HRESULT DllUnregisterServer() noexcept;
using PFN_DllGetClassObject = HRESULT (*)(REFCLSID, REFIID, void**) noexcept;
using PFN_DllCanUnloadNow = HRESULT (*)() noexcept;
using PFN_DllRegisterServer = HRESULT (*)() noexcept;
