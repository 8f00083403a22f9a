// Late binding: members of an automation object found by name through its
// IDispatch and its type information, called with arguments typed as the
// operator wrote them, and their values printed. Nothing here knows a member
// of the core: every name comes from the object itself.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

#include "platform/objrt/Ptr.h"

namespace xelctl {

using xel::objrt::Bstr;
using xel::objrt::ComPtr;
using xel::objrt::Variant;

struct ParamInfo {
    std::string name;
    VARTYPE vt = VT_EMPTY;  // the value's type; an out-parameter is passed by reference to it
    bool out = false;
};

// One member as the type information describes it. A property has a get and/or
// a put row; a method has one row.
struct MemberInfo {
    std::string name;
    DISPID id = DISPID_UNKNOWN;
    bool isMethod = false;
    bool hasGet = false;
    bool hasPut = false;
    std::vector<ParamInfo> indexes;  // index parameters of a property
    VARTYPE valueType = VT_EMPTY;    // a property's value
    std::vector<ParamInfo> params;   // a method's parameters (in and out, not the result)
    VARTYPE resultType = VT_VOID;    // a method's result
};

// Every member of the object's default interface, in its own order. Empty when
// the object offers no type information.
std::vector<MemberInfo> describeMembers(IDispatch* object);
std::vector<MemberInfo> describeType(ITypeInfo* info);
// The members of one outgoing (event) interface of the object's class, found
// through its class information. Empty when the class does not describe it.
std::vector<MemberInfo> describeSource(IDispatch* object, const IID& iid);

// "Name, Name, ..." for messages.
std::string memberList(const std::vector<MemberInfo>& members);

// The member named `name` (any case), or a usage failure naming the members of
// `objectName`.
const MemberInfo& findMember(const std::vector<MemberInfo>& members, std::string_view name,
                             std::string_view objectName);

// The operator's text as a value of type vt; a usage failure saying what
// `what` expects when it does not convert.
Variant valueFromText(const std::string& text, VARTYPE vt, const std::string& what);

// A value as printed: texts cut at their first NUL, booleans "true"/"false",
// numbers in decimal, objects "(object)".
std::string valueText(const VARIANT& value);
nlohmann::ordered_json valueJson(const VARIANT& value);

// One late-bound call. `args` in the member's order (by-reference VARIANTs for
// out-parameters); for a put, the value is the last and is passed as the named
// property-put argument. Returns the member's status (or the dispatch error);
// `badArg` receives the 0-based position of an argument that did not convert.
HRESULT invoke(IDispatch* object, DISPID id, WORD flags, std::vector<Variant>& args, VARIANT* result,
               int* badArg = nullptr);

// A property get by name (no index), the value in `out`; the status.
HRESULT getProperty(IDispatch* object, std::u16string_view name, Variant& out);
DISPID idOfName(IDispatch* object, std::u16string_view name);

// "0x80020005 DISP_E_TYPEMISMATCH: ..." as the runtime words it.
std::string statusText(HRESULT hr);

}  // namespace xelctl
