// Type information built from the static descriptions: an interface is shown
// as its dispatch view (the return value is the member's type, the status is
// hidden), a class as the list of its interfaces.
#include <atomic>
#include <new>
#include <string>

#include "platform/objrt/Describe.h"
#include "platform/objrt/Object.h"

namespace {

using namespace xel::objrt;

BSTR asciiBstr(const std::string& s) noexcept {
    std::u16string w(s.begin(), s.end());
    return SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}

// What GetFuncDesc hands out and ReleaseFuncDesc takes back, in one block.
struct FuncBlock {
    FUNCDESC fd;
    ELEMDESC params[kMaxParams];
    TYPEDESC pointees[kMaxParams + 1];
};

class TypeInfo final : public ITypeInfo {
public:
    TypeInfo(const InterfaceDesc* iface, const CoClassDesc* coclass, Module* module) noexcept
        : iface_(iface), coclass_(coclass), module_(module) {
        if (module_) lockModule(*module_);
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
            *ppv = static_cast<ITypeInfo*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() noexcept override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() noexcept override {
        ULONG n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (n == 0) delete this;
        return n;
    }

    HRESULT GetTypeAttr(TYPEATTR** ppTypeAttr) noexcept override {
        if (!ppTypeAttr) return E_POINTER;
        *ppTypeAttr = nullptr;
        auto* a = new (std::nothrow) TYPEATTR{};
        if (!a) return E_OUTOFMEMORY;
        a->memidConstructor = MEMBERID_NIL;
        a->memidDestructor = MEMBERID_NIL;
        a->cbAlignment = alignof(void*);
        if (iface_) {
            a->guid = iface_->iid;
            a->typekind = TKIND_DISPATCH;
            a->cFuncs = static_cast<WORD>(iface_->memberCount);
            a->cbSizeVft = 7 * sizeof(void*);  // the IDispatch slots
            a->wTypeFlags = TYPEFLAG_FDISPATCHABLE;
            if (iface_->flags & kInterfaceDual) a->wTypeFlags |= TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION;
        } else {
            a->guid = coclass_->clsid;
            a->typekind = TKIND_COCLASS;
            a->cImplTypes = static_cast<WORD>(coclass_->implCount);
            a->wTypeFlags = TYPEFLAG_FCANCREATE;
        }
        *ppTypeAttr = a;
        return S_OK;
    }
    HRESULT GetTypeComp(void** pp) noexcept override { return notOffered(pp); }

    HRESULT GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) noexcept override {
        if (!ppFuncDesc) return E_POINTER;
        *ppFuncDesc = nullptr;
        if (!iface_ || index >= iface_->memberCount) return TYPE_E_ELEMENTNOTFOUND;
        const MemberDesc& m = iface_->members[index];
        auto* b = new (std::nothrow) FuncBlock{};
        if (!b) return E_OUTOFMEMORY;
        FUNCDESC& fd = b->fd;
        fd.memid = m.dispid;
        fd.funckind = FUNC_DISPATCH;
        fd.invkind = static_cast<INVOKEKIND>(m.kind);
        fd.callconv = CC_STDCALL;
        fd.lprgelemdescParam = b->params;
        fd.elemdescFunc.tdesc.vt = VT_VOID;
        SHORT n = 0;
        for (uint16_t p = 0; p < m.paramCount; ++p) {
            const ParamDesc& param = m.params[p];
            if (param.flags & PARAMFLAG_FRETVAL) {
                fd.elemdescFunc.tdesc.vt = param.vt;
                continue;
            }
            ELEMDESC& e = b->params[n];
            e.paramdesc.wParamFlags = param.flags;
            if (param.flags & PARAMFLAG_FOUT) {
                b->pointees[n].vt = param.vt;
                e.tdesc.vt = VT_PTR;
                e.tdesc.lptdesc = &b->pointees[n];
            } else {
                e.tdesc.vt = param.vt;
            }
            ++n;
        }
        fd.cParams = n;
        if (n == 0) fd.lprgelemdescParam = nullptr;
        *ppFuncDesc = &b->fd;
        return S_OK;
    }
    HRESULT GetVarDesc(UINT, void** pp) noexcept override { return notOffered(pp); }

    HRESULT GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) noexcept override {
        if (!rgBstrNames || !pcNames) return E_POINTER;
        *pcNames = 0;
        const MemberDesc* m = member(memid);
        if (!m) return TYPE_E_ELEMENTNOTFOUND;
        UINT n = 0;
        if (n < cMaxNames) rgBstrNames[n++] = asciiBstr(m->name);
        for (uint16_t p = 0; p < m->paramCount && n < cMaxNames; ++p)
            if (!(m->params[p].flags & PARAMFLAG_FRETVAL))
                rgBstrNames[n++] = asciiBstr(m->params[p].name ? m->params[p].name : "");
        *pcNames = n;
        return S_OK;
    }
    HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) noexcept override {
        if (!pRefType) return E_POINTER;
        if (!coclass_ || index >= coclass_->implCount) return TYPE_E_ELEMENTNOTFOUND;
        *pRefType = index + 1;
        return S_OK;
    }
    HRESULT GetImplTypeFlags(UINT index, INT* pImplTypeFlags) noexcept override {
        if (!pImplTypeFlags) return E_POINTER;
        if (!coclass_ || index >= coclass_->implCount) return TYPE_E_ELEMENTNOTFOUND;
        *pImplTypeFlags = coclass_->impls[index].flags;
        return S_OK;
    }
    HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) noexcept override {
        if (!iface_) {
            if (!rgszNames || !pMemId) return E_POINTER;
            for (UINT i = 0; i < cNames; ++i) pMemId[i] = DISPID_UNKNOWN;
            return DISP_E_UNKNOWNNAME;
        }
        return ObjDispGetIDsOfNames(iface_, IID_NULL, rgszNames, cNames, pMemId);
    }
    HRESULT Invoke(void* pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                   EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept override {
        if (!pvInstance) return E_INVALIDARG;
        if (!iface_) return DISP_E_MEMBERNOTFOUND;
        return ObjDispInvoke(iface_, pvInstance, memid, IID_NULL, wFlags, pDispParams, pVarResult, pExcepInfo,
                             puArgErr);
    }
    HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                             BSTR* pBstrHelpFile) noexcept override {
        std::string name, doc;
        try {
            if (memid == MEMBERID_NIL) {
                name = iface_ ? iface_->name : coclass_->name;
                if (iface_)
                    doc = iface_->help ? iface_->help : name + " Interface";
                else
                    doc = coclass_->help ? coclass_->help : "";
            } else {
                const MemberDesc* m = member(memid);
                if (!m) return TYPE_E_ELEMENTNOTFOUND;
                name = m->name;
                doc = m->help ? m->help : std::string(m->kind == MemberKind::Method ? "method " : "property ") + name;
            }
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        if (pBstrName) *pBstrName = asciiBstr(name);
        if (pBstrDocString) *pBstrDocString = asciiBstr(doc);
        if (pdwHelpContext) *pdwHelpContext = 0;
        if (pBstrHelpFile) *pBstrHelpFile = nullptr;
        return S_OK;
    }
    HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) noexcept override { return E_NOTIMPL; }
    HRESULT GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) noexcept override {
        if (!ppTInfo) return E_POINTER;
        *ppTInfo = nullptr;
        if (!coclass_ || hRefType == 0 || hRefType > coclass_->implCount) return TYPE_E_ELEMENTNOTFOUND;
        return ObjCreateTypeInfo(coclass_->impls[hRefType - 1].iface, module_, ppTInfo);
    }
    HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void** pp) noexcept override { return notOffered(pp); }
    HRESULT CreateInstance(IUnknown*, REFIID, void** pp) noexcept override { return notOffered(pp); }
    HRESULT GetMops(MEMBERID, BSTR* p) noexcept override {
        if (p) *p = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetContainingTypeLib(void** pp, UINT*) noexcept override { return notOffered(pp); }
    void ReleaseTypeAttr(TYPEATTR* pTypeAttr) noexcept override { delete pTypeAttr; }
    void ReleaseFuncDesc(FUNCDESC* pFuncDesc) noexcept override {
        // The FUNCDESC is the first member of its block.
        delete reinterpret_cast<FuncBlock*>(pFuncDesc);
    }
    void ReleaseVarDesc(void*) noexcept override {}

private:
    ~TypeInfo() {
        if (module_) unlockModule(*module_);
    }
    static HRESULT notOffered(void** pp) noexcept {
        if (pp) *pp = nullptr;
        return E_NOTIMPL;
    }
    // The first row with the id (a property's get before its put).
    const MemberDesc* member(MEMBERID memid) const noexcept {
        if (!iface_) return nullptr;
        for (size_t i = 0; i < iface_->memberCount; ++i)
            if (iface_->members[i].dispid == memid) return &iface_->members[i];
        return nullptr;
    }

    std::atomic<ULONG> refs_{1};
    const InterfaceDesc* iface_;
    const CoClassDesc* coclass_;
    Module* module_;
};

static_assert(std::is_standard_layout_v<FuncBlock>);

}  // namespace

extern "C" {

HRESULT ObjCreateTypeInfo(const InterfaceDesc* desc, Module* module, ITypeInfo** ppTInfo) noexcept {
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    if (!desc) return E_INVALIDARG;
    auto* t = new (std::nothrow) TypeInfo(desc, nullptr, module);
    if (!t) return E_OUTOFMEMORY;
    *ppTInfo = t;
    return S_OK;
}

HRESULT ObjCreateClassTypeInfo(const CoClassDesc* desc, Module* module, ITypeInfo** ppTInfo) noexcept {
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    if (!desc) return E_INVALIDARG;
    auto* t = new (std::nothrow) TypeInfo(nullptr, desc, module);
    if (!t) return E_OUTOFMEMORY;
    *ppTInfo = t;
    return S_OK;
}

}  // extern "C"
