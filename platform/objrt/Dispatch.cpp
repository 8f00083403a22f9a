// Late binding driven by an interface's static description: name lookup and
// Invoke with argument conversion, out-parameters and return values.
#include "platform/objrt/Describe.h"

namespace {

using xel::objrt::InterfaceDesc;
using xel::objrt::kMaxParams;
using xel::objrt::MemberDesc;
using xel::objrt::MemberKind;
using xel::objrt::ParamDesc;

OLECHAR lower(OLECHAR c) noexcept { return (c >= u'A' && c <= u'Z') ? static_cast<OLECHAR>(c + 32) : c; }

// Member and parameter names are ASCII; case is ignored for ASCII letters only.
bool sameName(const OLECHAR* w, const char* name) noexcept {
    if (!w || !name) return false;
    size_t i = 0;
    for (; name[i]; ++i) {
        char c = name[i];
        OLECHAR n =
            (c >= 'A' && c <= 'Z') ? static_cast<OLECHAR>(c + 32) : static_cast<OLECHAR>(static_cast<unsigned char>(c));
        if (lower(w[i]) != n) return false;
    }
    return w[i] == 0;
}

// "get_X" / "put_X" -> "X", with the accessor kind it asks for.
const OLECHAR* accessorName(const OLECHAR* w, MemberKind& kind) noexcept {
    if (!w || !w[0] || !w[1] || !w[2] || w[3] != u'_') return nullptr;
    const OLECHAR a = lower(w[0]), b = lower(w[1]), c = lower(w[2]);
    if (a == u'g' && b == u'e' && c == u't')
        kind = MemberKind::Get;
    else if (a == u'p' && b == u'u' && c == u't')
        kind = MemberKind::Put;
    else
        return nullptr;
    return w + 4;
}

const MemberDesc* findByName(const InterfaceDesc& d, const OLECHAR* name) noexcept {
    for (size_t i = 0; i < d.memberCount; ++i)
        if (sameName(name, d.members[i].name)) return &d.members[i];
    MemberKind kind{};
    if (const OLECHAR* rest = accessorName(name, kind)) {
        for (size_t i = 0; i < d.memberCount; ++i)
            if (d.members[i].kind == kind && sameName(rest, d.members[i].name)) return &d.members[i];
    }
    return nullptr;
}

bool isRetval(const MemberDesc& m) noexcept {
    return m.paramCount > 0 && (m.params[m.paramCount - 1].flags & PARAMFLAG_FRETVAL);
}

// Parameters a late-bound caller passes (the return value is not one of them).
UINT dispatchParamCount(const MemberDesc& m) noexcept { return m.paramCount - (isRetval(m) ? 1u : 0u); }

const MemberDesc* selectRow(const InterfaceDesc& d, DISPID id, WORD flags, bool& idExists) noexcept {
    const MemberDesc *method = nullptr, *get = nullptr, *put = nullptr;
    for (size_t i = 0; i < d.memberCount; ++i) {
        const MemberDesc& m = d.members[i];
        if (m.dispid != id) continue;
        idExists = true;
        switch (m.kind) {
            case MemberKind::Method: method = method ? method : &m; break;
            case MemberKind::Get: get = get ? get : &m; break;
            case MemberKind::Put: put = put ? put : &m; break;
        }
    }
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return (flags & DISPATCH_PROPERTYPUT) ? put : nullptr;
    if ((flags & DISPATCH_METHOD) && method) return method;
    if ((flags & DISPATCH_PROPERTYGET) && get) return get;
    return nullptr;
}

bool isByRefTo(const VARIANT& v, VARTYPE vt) noexcept { return v.vt == (vt | VT_BYREF) && v.byref != nullptr; }

// Moves an out-value from its slot into the caller's by-reference argument.
// The caller's previous value is not freed (out-parameters carry nothing in),
// except in a referenced VARIANT, which is replaced as a whole.
void deliver(VARIANT& slot, const VARIANT& target) noexcept {
    if (target.vt == (VT_VARIANT | VT_BYREF)) {
        VARIANT* dest = target.pvarVal;
        if (FAILED(VariantClear(dest))) VariantInit(dest);
        *dest = slot;
        VariantInit(&slot);
        return;
    }
    switch (slot.vt) {
        case VT_I2: *target.piVal = slot.iVal; break;
        case VT_I4: *target.plVal = slot.lVal; break;
        case VT_UI4: *target.pulVal = slot.ulVal; break;
        case VT_BOOL: *target.pboolVal = slot.boolVal; break;
        case VT_BSTR: *target.pbstrVal = slot.bstrVal; break;
        case VT_DISPATCH: *target.ppdispVal = slot.pdispVal; break;
        case VT_UNKNOWN: *target.ppunkVal = slot.punkVal; break;
        default: VariantClear(&slot); return;
    }
    VariantInit(&slot);  // ownership went to the caller
}

// Frees the slots of one call on every path.
struct Slots {
    VARIANT v[kMaxParams];
    Slots() noexcept {
        for (VARIANT& s : v) VariantInit(&s);
    }
    ~Slots() {
        for (VARIANT& s : v)
            if (FAILED(VariantClear(&s))) VariantInit(&s);
    }
};

HRESULT argError(UINT* puArgErr, UINT index, HRESULT hr) noexcept {
    if (puArgErr) *puArgErr = index;
    return hr;
}

}  // namespace

extern "C" {

HRESULT ObjDispGetIDsOfNames(const InterfaceDesc* desc, REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                             DISPID* rgDispId) noexcept {
    if (!desc || !rgszNames || !rgDispId) return E_POINTER;
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (cNames == 0) return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
    const MemberDesc* member = findByName(*desc, rgszNames[0]);
    if (!member) return DISP_E_UNKNOWNNAME;
    rgDispId[0] = member->dispid;
    HRESULT hr = S_OK;
    for (UINT n = 1; n < cNames; ++n) {
        // Parameters of the member's rows in table order: the method's, or the
        // get's then the put's, so an index parameter keeps its position.
        for (size_t r = 0; r < desc->memberCount && rgDispId[n] == DISPID_UNKNOWN; ++r) {
            const MemberDesc& m = desc->members[r];
            if (m.dispid != member->dispid) continue;
            for (uint16_t p = 0; p < m.paramCount; ++p) {
                if (sameName(rgszNames[n], m.params[p].name)) {
                    rgDispId[n] = p;
                    break;
                }
            }
        }
        if (rgDispId[n] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT ObjDispInvoke(const InterfaceDesc* desc, void* self, DISPID dispIdMember, REFIID riid, WORD wFlags,
                      DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept {
    (void)pExcepInfo;  // members report through their status; nothing is raised as an exception
    if (!desc || !self) return E_POINTER;
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!pDispParams) return E_INVALIDARG;
    const DISPPARAMS& dp = *pDispParams;
    if ((dp.cArgs && !dp.rgvarg) || dp.cNamedArgs > dp.cArgs || (dp.cNamedArgs && !dp.rgdispidNamedArgs))
        return E_INVALIDARG;

    bool idExists = false;
    const MemberDesc* m = selectRow(*desc, dispIdMember, wFlags, idExists);
    if (!m || !m->thunk) return DISP_E_MEMBERNOTFOUND;

    const UINT count = dispatchParamCount(*m);
    // Which rgvarg entry feeds each parameter. Named arguments come first in
    // rgvarg; positional ones follow in reverse order.
    int source[kMaxParams];
    for (int& s : source) s = -1;
    for (UINT i = 0; i < dp.cNamedArgs; ++i) {
        DISPID id = dp.rgdispidNamedArgs[i];
        UINT param;
        if (id == DISPID_PROPERTYPUT && m->kind == MemberKind::Put)
            param = count - 1;
        else if (id >= 0 && UINT(id) < count)
            param = UINT(id);
        else
            return argError(puArgErr, i, DISP_E_PARAMNOTFOUND);
        if (source[param] >= 0) return argError(puArgErr, i, DISP_E_PARAMNOTFOUND);
        source[param] = int(i);
    }
    if (dp.cArgs != count) return DISP_E_BADPARAMCOUNT;
    const UINT positional = dp.cArgs - dp.cNamedArgs;
    for (UINT k = 0; k < positional; ++k) {
        UINT index = dp.cArgs - 1 - k;
        if (source[k] >= 0) return argError(puArgErr, UINT(source[k]), DISP_E_PARAMNOTFOUND);
        source[k] = int(index);
    }

    Slots slots;
    for (UINT p = 0; p < count; ++p) {
        const ParamDesc& param = m->params[p];
        const VARIANT& arg = dp.rgvarg[source[p]];
        const UINT index = UINT(source[p]);
        if (param.flags & PARAMFLAG_FOUT) {
            // An out-argument refers to a variable of the declared type or to a VARIANT.
            if (!isByRefTo(arg, VT_VARIANT) && (param.vt == VT_VARIANT || !isByRefTo(arg, param.vt)))
                return argError(puArgErr, index, DISP_E_TYPEMISMATCH);
            continue;
        }
        const VARIANT* given = (arg.vt == (VT_VARIANT | VT_BYREF) && arg.pvarVal) ? arg.pvarVal : &arg;
        if (given->vt == VT_ERROR && given->scode == DISP_E_PARAMNOTFOUND)
            return argError(puArgErr, index, DISP_E_PARAMNOTOPTIONAL);  // an omitted argument; none are optional
        HRESULT hr = param.vt == VT_VARIANT ? VariantCopyInd(&slots.v[p], &arg)
                                            : VariantChangeType(&slots.v[p], &arg, 0, param.vt);
        if (FAILED(hr)) return argError(puArgErr, index, DISP_E_TYPEMISMATCH);
    }

    const HRESULT status = m->thunk(self, slots.v);

    for (UINT p = 0; p < count; ++p)
        if (m->params[p].flags & PARAMFLAG_FOUT) deliver(slots.v[p], dp.rgvarg[source[p]]);
    if (isRetval(*m)) {
        VARIANT& ret = slots.v[m->paramCount - 1];
        if (pVarResult) {
            *pVarResult = ret;  // the result VARIANT is an out-parameter: its old content is not freed
            VariantInit(&ret);
        }
    } else if (pVarResult) {
        VariantInit(pVarResult);
    }
    // The member's own status, positive ones included: callers of this system
    // judge success by exactly 0.
    return status;
}

}  // extern "C"
