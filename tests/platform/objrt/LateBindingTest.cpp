// The test server driven late-bound by name, as a scripting client would:
// name lookup, argument conversion, the dispatch errors with their positions,
// out-parameters and return values, and the type information.
#include <gtest/gtest.h>

#include "tests/platform/objrt/TestServer.h"

using namespace objrt_test;
using namespace xel::objrt;

namespace {

class LateBinding : public ::testing::Test {
protected:
    void SetUp() override {
        registerServer();
        ASSERT_EQ(CoCreateInstance(CLSID_Sampler, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, disp.putVoid()), S_OK);
    }
    void TearDown() override {
        disp = nullptr;
        CoFreeUnusedLibraries();
    }
    Variant get(DISPID id, std::vector<VARIANT> index = {}) {
        Variant v;
        EXPECT_EQ(invoke(disp.get(), id, DISPATCH_PROPERTYGET, index, v.put()), S_OK) << "get " << id;
        return v;
    }

    RuntimeScope runtime;
    ComPtr<IDispatch> disp;
};

}  // namespace

TEST_F(LateBinding, NamesAreFoundIgnoringCaseIncludingAccessorForms) {
    struct Row {
        const char16_t* name;
        DISPID id;
    } rows[] = {
        {u"Level", 1},
        {u"LEVEL", 1},
        {u"level", 1},
        {u"get_Level", 1},
        {u"PUT_level", 1},
        {u"Scale", 5},
        {u"Item", 8},
        {u"get_Self", 7},
        {u"get_Scale", DISPID_UNKNOWN},  // a method has no accessors
        {u"put_Self", DISPID_UNKNOWN},   // read-only
        {u"get_", DISPID_UNKNOWN},
        {u"Levels", DISPID_UNKNOWN},
        {u"", DISPID_UNKNOWN},
    };
    for (const Row& row : rows) EXPECT_EQ(idOf(disp.get(), row.name), row.id) << Bstr(row.name).utf8();

    LPOLESTR names[] = {const_cast<LPOLESTR>(u"scale"), const_cast<LPOLESTR>(u"RESULT"),
                        const_cast<LPOLESTR>(u"factor"), const_cast<LPOLESTR>(u"Bogus")};
    DISPID ids[4] = {};
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, names, 3, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 5);
    EXPECT_EQ(ids[1], 2);
    EXPECT_EQ(ids[2], 0);
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, names, 4, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 5);  // the known names still get their ids
    EXPECT_EQ(ids[3], DISPID_UNKNOWN);
    EXPECT_EQ(disp->GetIDsOfNames(ISampler::kIID, names, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);
}

TEST_F(LateBinding, EachPropertyTypeRoundTrips) {
    const OLECHAR withNul[] = {u'a', 0, u'\u00e9', 0xD83D, 0xDE00};  // an embedded NUL, a surrogate pair
    Bstr label(std::u16string_view(withNul, 5));
    ASSERT_EQ(put(disp.get(), 1, i4(-70000)), S_OK);
    ASSERT_EQ(put(disp.get(), 2, i2(-3)), S_OK);
    ASSERT_EQ(put(disp.get(), 3, text(label.get())), S_OK);
    ASSERT_EQ(put(disp.get(), 4, vbool(VARIANT_TRUE)), S_OK);
    ASSERT_EQ(put(disp.get(), 10, i4(SamplerModeRunning)), S_OK);

    Variant level = get(1), channel = get(2), got = get(3), enabled = get(4), mode = get(10);
    EXPECT_EQ(level.vt, VT_I4);
    EXPECT_EQ(level.lVal, -70000);
    EXPECT_EQ(channel.vt, VT_I2);
    EXPECT_EQ(channel.iVal, -3);
    ASSERT_EQ(got.vt, VT_BSTR);
    EXPECT_EQ(std::u16string_view(got.bstrVal, SysStringLen(got.bstrVal)), label.view());
    EXPECT_EQ(enabled.vt, VT_BOOL);
    EXPECT_EQ(enabled.boolVal, VARIANT_TRUE);
    EXPECT_EQ(mode.vt, VT_I4);
    EXPECT_EQ(mode.lVal, SamplerModeRunning);
    // Method-or-get, as script clients ask for a property.
    Variant again;
    EXPECT_EQ(invoke(disp.get(), 1, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, again.put()), S_OK);
    EXPECT_EQ(again.lVal, -70000);
}

TEST_F(LateBinding, ArgumentsAreConvertedToTheDeclaredType) {
    // The server enables only for true itself (all bits set): a converted 1 must arrive as -1.
    ASSERT_EQ(put(disp.get(), 4, i4(1)), S_OK);
    EXPECT_EQ(get(4).boolVal, VARIANT_TRUE);
    ASSERT_EQ(put(disp.get(), 4, i4(0)), S_OK);
    EXPECT_EQ(get(4).boolVal, VARIANT_FALSE);
    Bstr yes(u"True");
    ASSERT_EQ(put(disp.get(), 4, text(yes.get())), S_OK);
    EXPECT_EQ(get(4).boolVal, VARIANT_TRUE);

    Bstr number(u" 42 ");
    ASSERT_EQ(put(disp.get(), 1, text(number.get())), S_OK);
    EXPECT_EQ(get(1).lVal, 42);
    LONG byRef = 77;
    VARIANT ref{};
    ref.vt = VT_I4 | VT_BYREF;
    ref.plVal = &byRef;
    ASSERT_EQ(put(disp.get(), 1, ref), S_OK);
    EXPECT_EQ(get(1).lVal, 77);
    ASSERT_EQ(put(disp.get(), 3, i4(-5)), S_OK);
    EXPECT_EQ(Bstr::toUtf8(get(3).bstrVal), "-5");

    // Not convertible: the status names the argument's place in rgvarg.
    UINT argErr = 99;
    Bstr junk(u"4x");
    EXPECT_EQ(invoke(disp.get(), 1, DISPATCH_PROPERTYPUT, {text(junk.get())}, nullptr, &argErr, {DISPID_PROPERTYPUT}),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    argErr = 99;
    EXPECT_EQ(invoke(disp.get(), 2, DISPATCH_PROPERTYPUT, {i4(70000)}, nullptr, &argErr, {DISPID_PROPERTYPUT}),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    EXPECT_EQ(get(1).lVal, 77);  // nothing was called
}

TEST_F(LateBinding, WrongCallsGetTheDispatchErrors) {
    LONG before = 0;
    VARIANT out{};
    out.vt = VT_I4 | VT_BYREF;
    out.plVal = &before;
    Bstr junk(u"seven");
    UINT argErr = 99;

    EXPECT_EQ(invoke(disp.get(), 5, DISPATCH_METHOD, {}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(invoke(disp.get(), 5, DISPATCH_METHOD, {i4(1), out, i4(3)}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(invoke(disp.get(), 6, DISPATCH_METHOD, {i4(1)}), DISP_E_BADPARAMCOUNT);
    // Factor is the first of two arguments, so rgvarg[1].
    EXPECT_EQ(invoke(disp.get(), 5, DISPATCH_METHOD, {text(junk.get()), out}, nullptr, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 1u);
    // An out-parameter needs a reference.
    argErr = 99;
    EXPECT_EQ(invoke(disp.get(), 5, DISPATCH_METHOD, {i4(2), i4(0)}, nullptr, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    // A named argument the member does not have.
    argErr = 99;
    EXPECT_EQ(invoke(disp.get(), 5, DISPATCH_METHOD, {i4(2), out}, nullptr, &argErr, {7}), DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(argErr, 0u);
    VARIANT missing{};
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    EXPECT_EQ(invoke(disp.get(), 5, DISPATCH_METHOD, {missing, out}, nullptr, &argErr), DISP_E_PARAMNOTOPTIONAL);

    EXPECT_EQ(invoke(disp.get(), 99, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(invoke(disp.get(), 0, DISPATCH_PROPERTYGET, {}), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(invoke(disp.get(), 6, DISPATCH_PROPERTYGET, {}), DISP_E_MEMBERNOTFOUND);  // a method
    EXPECT_EQ(invoke(disp.get(), 1, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);       // a property
    EXPECT_EQ(put(disp.get(), 7, i4(0)), DISP_E_MEMBERNOTFOUND);                        // read-only
    EXPECT_EQ(disp->Invoke(1, ISampler::kIID, 0, DISPATCH_PROPERTYGET, nullptr, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, nullptr, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(before, 0);
}

TEST_F(LateBinding, OutParametersAndTheReturnValueComeBack) {
    ASSERT_EQ(put(disp.get(), 1, i4(3)), S_OK);
    LONG before = 0;
    VARIANT typedOut{};
    typedOut.vt = VT_I4 | VT_BYREF;
    typedOut.plVal = &before;
    Variant result;
    ASSERT_EQ(invoke(disp.get(), 5, DISPATCH_METHOD, {i4(4), typedOut}, result.put()), S_OK);
    EXPECT_EQ(before, 3);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 12);

    // A reference to a VARIANT is replaced whole (its old text freed), and
    // arguments may come by name in any order.
    Variant slot(std::u16string_view(u"old text"));
    VARIANT variantOut = Variant::refTo(&slot);
    ASSERT_EQ(invoke(disp.get(), 5, DISPATCH_METHOD, {variantOut, i4(2)}, result.put(), nullptr, {1, 0}), S_OK);
    EXPECT_EQ(slot.vt, VT_I4);
    EXPECT_EQ(slot.lVal, 12);
    EXPECT_EQ(result.lVal, 24);

    // Without a result slot the return value is dropped, not leaked.
    ASSERT_EQ(put(disp.get(), 3, i4(1)), S_OK);
    EXPECT_EQ(invoke(disp.get(), 3, DISPATCH_PROPERTYGET, {}), S_OK);
}

TEST_F(LateBinding, StatusesInterfacesAndIndexedPropertiesPassThrough) {
    // The member's own status comes back unchanged, positive ones included.
    for (HRESULT code : {0, 1, 110, 2250, E_POINTER})
        EXPECT_EQ(invoke(disp.get(), 9, DISPATCH_METHOD, {i4(code)}), code);

    Variant self = get(7);
    ASSERT_EQ(self.vt, VT_DISPATCH);
    ComPtr<IUnknown> a, b;
    ASSERT_EQ(self.pdispVal->QueryInterface(IID_IUnknown, a.putVoid()), S_OK);
    ASSERT_EQ(disp->QueryInterface(IID_IUnknown, b.putVoid()), S_OK);
    EXPECT_EQ(a.get(), b.get());

    Bstr two(u"two");
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"Item"), const_cast<LPOLESTR>(u"index")};
    DISPID ids[2] = {};
    ASSERT_EQ(disp->GetIDsOfNames(IID_NULL, names, 2, 0, ids), S_OK);
    ASSERT_EQ(invoke(disp.get(), ids[0], DISPATCH_PROPERTYPUT, {i4(2), text(two.get())}, nullptr, nullptr,
                     {ids[1], DISPID_PROPERTYPUT}),
              S_OK);
    EXPECT_EQ(Bstr::toUtf8(get(8, {i4(2)}).bstrVal), "two");
    EXPECT_EQ(Bstr::toUtf8(get(8, {i4(0)}).bstrVal), "");
    EXPECT_EQ(invoke(disp.get(), 8, DISPATCH_PROPERTYGET, {i4(9)}), E_INVALIDARG);
}

TEST_F(LateBinding, TypeInformationDescribesTheInterface) {
    UINT count = 0;
    ASSERT_EQ(disp->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(disp->GetTypeInfo(1, 0, info.put()), DISP_E_BADINDEX);
    ASSERT_EQ(disp->GetTypeInfo(0, 0, info.put()), S_OK);

    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, ISampler::kIID);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_EQ(attr->cFuncs, kISamplerMembers.size());
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    info->ReleaseTypeAttr(attr);

    // Scale: two late-bound arguments (Factor in, Before out) and a long result.
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(info->GetFuncDesc(8, &fd), S_OK);
    EXPECT_EQ(fd->memid, 5);
    EXPECT_EQ(fd->invkind, INVOKE_FUNC);
    ASSERT_EQ(fd->cParams, 2);
    EXPECT_EQ(fd->lprgelemdescParam[0].tdesc.vt, VT_I4);
    EXPECT_EQ(fd->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FIN);
    EXPECT_EQ(fd->lprgelemdescParam[1].tdesc.vt, VT_PTR);
    EXPECT_EQ(fd->lprgelemdescParam[1].tdesc.lptdesc->vt, VT_I4);
    EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_I4);
    info->ReleaseFuncDesc(fd);
    EXPECT_EQ(info->GetFuncDesc(kISamplerMembers.size(), &fd), TYPE_E_ELEMENTNOTFOUND);

    BSTR names[4] = {};
    UINT got = 0;
    ASSERT_EQ(info->GetNames(5, names, 4, &got), S_OK);
    ASSERT_EQ(got, 3u);
    EXPECT_EQ(Bstr::toUtf8(names[0]) + "," + Bstr::toUtf8(names[1]) + "," + Bstr::toUtf8(names[2]),
              "Scale,Factor,Before");
    for (UINT i = 0; i < got; ++i) SysFreeString(names[i]);

    struct Doc {
        MEMBERID id;
        const char* name;
        const char* help;
    } docs[] = {{MEMBERID_NIL, "ISampler", "ISampler Interface"},
                {1, "Level", "property Level"},
                {5, "Scale", "method Scale"},
                {9, "Echo", "returns its argument as the status"}};
    for (const Doc& d : docs) {
        Bstr name, help;
        ASSERT_EQ(info->GetDocumentation(d.id, name.put(), help.put(), nullptr, nullptr), S_OK);
        EXPECT_EQ(name.utf8(), d.name);
        EXPECT_EQ(help.utf8(), d.help);
    }
    EXPECT_EQ(info->GetDocumentation(42, nullptr, nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);

    // The type information can also call through to an object.
    ComPtr<ISampler> sampler;
    ASSERT_EQ(disp.as(sampler), S_OK);
    ASSERT_EQ(sampler->put_Level(31), S_OK);
    Variant level;
    DISPPARAMS none{};
    ASSERT_EQ(info->Invoke(sampler.get(), 1, DISPATCH_PROPERTYGET, &none, level.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(level.lVal, 31);
}

TEST_F(LateBinding, ClassInformationLeadsToTheEventParameterTypes) {
    ComPtr<IProvideClassInfo2> pci;
    ASSERT_EQ(disp.as(pci), S_OK);
    GUID source{};
    ASSERT_EQ(pci->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
    EXPECT_EQ(source, ISamplerEvents::kIID);
    GUID other = ISampler::kIID;
    EXPECT_EQ(pci->GetGUID(2, &other), E_FAIL);
    EXPECT_EQ(other, GUID_NULL);

    ComPtr<ITypeInfo> cls;
    ASSERT_EQ(pci->GetClassInfo(cls.put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(cls->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_EQ(attr->guid, CLSID_Sampler);
    const WORD impls = attr->cImplTypes;
    cls->ReleaseTypeAttr(attr);

    // What a generic sink does: find the default source, then read its events.
    ComPtr<ITypeInfo> events;
    for (UINT i = 0; i < impls && !events; ++i) {
        INT flags = 0;
        ASSERT_EQ(cls->GetImplTypeFlags(i, &flags), S_OK);
        if (flags != (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) continue;
        HREFTYPE ref = 0;
        ASSERT_EQ(cls->GetRefTypeOfImplType(i, &ref), S_OK);
        ASSERT_EQ(cls->GetRefTypeInfo(ref, events.put()), S_OK);
    }
    ASSERT_TRUE(events);
    Bstr name;
    ASSERT_EQ(events->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(name.utf8(), "_ISamplerEvents");
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(events->GetFuncDesc(0, &fd), S_OK);
    EXPECT_EQ(fd->memid, 1);
    ASSERT_EQ(fd->cParams, 2);
    EXPECT_EQ(fd->lprgelemdescParam[0].tdesc.vt, VT_I4);
    EXPECT_EQ(fd->lprgelemdescParam[1].tdesc.vt, VT_BOOL);
    events->ReleaseFuncDesc(fd);
    ASSERT_EQ(events->GetFuncDesc(1, &fd), S_OK);
    ASSERT_EQ(fd->cParams, 1);
    EXPECT_EQ(fd->lprgelemdescParam[0].tdesc.vt, VT_BSTR);
    events->ReleaseFuncDesc(fd);
    HREFTYPE none = 0;
    EXPECT_EQ(cls->GetRefTypeOfImplType(impls, &none), TYPE_E_ELEMENTNOTFOUND);
}
