#include "tools/xelctl/Late.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "tools/xelctl/Failure.h"
#include "tools/xelctl/Text.h"

namespace xelctl {

namespace {

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

ParamInfo paramOf(const ELEMDESC& e, BSTR name) {
    ParamInfo p;
    p.name = Bstr::toUtf8(name);
    p.out = (e.paramdesc.wParamFlags & PARAMFLAG_FOUT) != 0;
    p.vt = (e.tdesc.vt == VT_PTR && e.tdesc.lptdesc) ? e.tdesc.lptdesc->vt : e.tdesc.vt;
    return p;
}

// One row of the type information folded into its member.
void addRow(std::vector<MemberInfo>& members, const FUNCDESC& fd, BSTR* names, UINT nameCount) {
    auto it = std::find_if(members.begin(), members.end(), [&](const MemberInfo& m) { return m.id == fd.memid; });
    if (it == members.end()) {
        MemberInfo m;
        m.id = fd.memid;
        m.name = nameCount > 0 ? Bstr::toUtf8(names[0]) : "member" + std::to_string(fd.memid);
        members.push_back(std::move(m));
        it = members.end() - 1;
    }
    std::vector<ParamInfo> params;
    for (SHORT k = 0; k < fd.cParams; ++k)
        params.push_back(paramOf(fd.lprgelemdescParam[k], UINT(k + 1) < nameCount ? names[k + 1] : nullptr));
    switch (fd.invkind) {
        case INVOKE_FUNC:
            it->isMethod = true;
            it->params = std::move(params);
            it->resultType = fd.elemdescFunc.tdesc.vt;
            break;
        case INVOKE_PROPERTYGET:
            it->hasGet = true;
            it->indexes = std::move(params);
            it->valueType = fd.elemdescFunc.tdesc.vt;
            break;
        case INVOKE_PROPERTYPUT:
        case INVOKE_PROPERTYPUTREF:
            it->hasPut = true;
            if (!params.empty()) {
                if (it->valueType == VT_EMPTY) it->valueType = params.back().vt;
                params.pop_back();
            }
            if (!it->hasGet) it->indexes = std::move(params);
            break;
    }
}

}  // namespace

std::vector<MemberInfo> describeType(ITypeInfo* info) {
    std::vector<MemberInfo> members;
    TYPEATTR* attr = nullptr;
    if (!info || FAILED(info->GetTypeAttr(&attr)) || !attr) return members;
    const WORD funcs = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    for (WORD i = 0; i < funcs; ++i) {
        FUNCDESC* fd = nullptr;
        if (FAILED(info->GetFuncDesc(i, &fd)) || !fd) continue;
        BSTR names[16] = {};
        UINT nameCount = 0;
        (void)info->GetNames(fd->memid, names, 16, &nameCount);
        addRow(members, *fd, names, nameCount);
        for (UINT k = 0; k < nameCount; ++k) SysFreeString(names[k]);
        info->ReleaseFuncDesc(fd);
    }
    return members;
}

std::vector<MemberInfo> describeMembers(IDispatch* object) {
    UINT count = 0;
    if (!object || FAILED(object->GetTypeInfoCount(&count)) || count == 0) return {};
    ComPtr<ITypeInfo> info;
    if (FAILED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put())) || !info) return {};
    return describeType(info.get());
}

std::vector<MemberInfo> describeSource(IDispatch* object, const IID& iid) {
    ComPtr<IProvideClassInfo> provider;
    if (!object || FAILED(object->QueryInterface(IID_IProvideClassInfo, provider.putVoid())) || !provider) return {};
    ComPtr<ITypeInfo> coclass;
    if (FAILED(provider->GetClassInfo(coclass.put())) || !coclass) return {};
    TYPEATTR* attr = nullptr;
    if (FAILED(coclass->GetTypeAttr(&attr)) || !attr) return {};
    const WORD impls = attr->cImplTypes;
    coclass->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < impls; ++i) {
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> info;
        if (FAILED(coclass->GetRefTypeOfImplType(i, &ref)) || FAILED(coclass->GetRefTypeInfo(ref, info.put())) || !info)
            continue;
        TYPEATTR* a = nullptr;
        if (FAILED(info->GetTypeAttr(&a)) || !a) continue;
        const bool match = a->guid == iid;
        info->ReleaseTypeAttr(a);
        if (match) return describeType(info.get());
    }
    return {};
}

std::string memberList(const std::vector<MemberInfo>& members) {
    std::string list;
    for (const MemberInfo& m : members) {
        if (!list.empty()) list += ", ";
        list += m.name;
    }
    return list;
}

const MemberInfo& findMember(const std::vector<MemberInfo>& members, std::string_view name,
                             std::string_view objectName) {
    for (const MemberInfo& m : members)
        if (sameName(m.name, name)) return m;
    usageError(std::string(objectName) + " has no member \"" + std::string(name) +
               "\". Its members are: " + memberList(members) + ".");
}

Variant valueFromText(const std::string& text, VARTYPE vt, const std::string& what) {
    auto number = [&](int64_t min, int64_t max) {
        const auto v = parseInteger(text, min, max);
        if (!v)
            usageError(what + " takes a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                       ", not \"" + text + "\"");
        return *v;
    };
    switch (vt) {
        case VT_I4:
            return Variant(
                static_cast<LONG>(number(std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max())));
        case VT_I2:
            return Variant(
                static_cast<SHORT>(number(std::numeric_limits<SHORT>::min(), std::numeric_limits<SHORT>::max())));
        case VT_UI4: return Variant(static_cast<ULONG>(number(0, std::numeric_limits<ULONG>::max())));
        case VT_BOOL: {
            const auto b = parseSwitch(text);
            if (!b) usageError(what + " takes on or off (true or false), not \"" + text + "\"");
            return Variant(*b);
        }
        default:
            // Texts, and anything else the member converts for itself.
            return Variant(Bstr::fromUtf8(text));
    }
}

std::string valueText(const VARIANT& v) {
    switch (v.vt) {
        case VT_EMPTY:
        case VT_NULL: return "";
        case VT_I2: return std::to_string(v.iVal);
        case VT_I4: return std::to_string(v.lVal);
        case VT_UI4: return std::to_string(v.ulVal);
        case VT_ERROR: return std::to_string(v.scode);
        case VT_BOOL: return v.boolVal ? "true" : "false";
        case VT_BSTR:
            return cutAtNul(v.bstrVal ? std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal))
                                      : std::u16string_view());
        case VT_DISPATCH:
        case VT_UNKNOWN: return "(object)";
        default: return "(value of type " + std::to_string(v.vt) + ")";
    }
}

nlohmann::ordered_json valueJson(const VARIANT& v) {
    switch (v.vt) {
        case VT_I2: return v.iVal;
        case VT_I4: return v.lVal;
        case VT_UI4: return v.ulVal;
        case VT_ERROR: return v.scode;
        case VT_BOOL: return v.boolVal != 0;
        case VT_BSTR: return valueText(v);
        case VT_EMPTY:
        case VT_NULL: return nullptr;
        default: return valueText(v);
    }
}

HRESULT invoke(IDispatch* object, DISPID id, WORD flags, std::vector<Variant>& args, VARIANT* result, int* badArg) {
    // The runtime takes arguments last first; a put's value is the named one.
    std::vector<VARIANT> reversed;
    reversed.reserve(args.size());
    for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(*it);  // borrowed, not owned
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{};
    params.rgvarg = reversed.empty() ? nullptr : reversed.data();
    params.cArgs = static_cast<UINT>(reversed.size());
    if ((flags & DISPATCH_PROPERTYPUT) && !reversed.empty()) {
        params.rgdispidNamedArgs = &named;
        params.cNamedArgs = 1;
    }
    UINT argErr = 0;
    const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, &argErr);
    if (badArg) *badArg = argErr < args.size() ? static_cast<int>(args.size() - 1 - argErr) : -1;
    return hr;
}

DISPID idOfName(IDispatch* object, std::u16string_view name) {
    std::u16string text(name);
    LPOLESTR names[] = {text.data()};
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return DISPID_UNKNOWN;
    return id;
}

HRESULT getProperty(IDispatch* object, std::u16string_view name, Variant& out) {
    const DISPID id = idOfName(object, name);
    if (id == DISPID_UNKNOWN) return DISP_E_UNKNOWNNAME;
    std::vector<Variant> none;
    return invoke(object, id, DISPATCH_PROPERTYGET, none, out.put());
}

std::string statusText(HRESULT hr) {
    std::string text(ObjStatusText(hr, nullptr, 0), '\0');
    ObjStatusText(hr, text.data(), text.size() + 1);
    return text;
}

}  // namespace xelctl
