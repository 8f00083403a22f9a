// Counted strings, GUID texts and VARIANT ownership and conversion.
#include <cstring>
#include <set>

#include <gtest/gtest.h>

#include "platform/objrt/Object.h"

using namespace xel::objrt;

namespace {

// An object that only counts its references, to see who holds one.
struct ICounted : IUnknown {
    static constexpr IID kIID = makeGuid("6d3c1b52-93a4-4f0e-8c71-2b5f0e9a4d40");
};
class Counted : public ICounted {
public:
    using Interfaces = InterfaceMap<ICounted>;
};

ULONG refsOf(IUnknown* p) {
    p->AddRef();
    return p->Release();
}

VARIANT value(VARTYPE vt, LONG n) {
    VARIANT v{};
    v.vt = vt;
    switch (vt) {
        case VT_I2: v.iVal = SHORT(n); break;
        case VT_UI4: v.ulVal = ULONG(n); break;
        case VT_BOOL: v.boolVal = VARIANT_BOOL(n); break;
        default: v.lVal = n; break;
    }
    return v;
}

}  // namespace

TEST(Bstr, KeepsItsByteLengthBeforeAndATerminatorAfterTheText) {
    const OLECHAR text[] = {u'a', 0, u'b'};
    BSTR s = SysAllocStringLen(text, 3);
    ASSERT_NE(s, nullptr);
    uint32_t prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<const char*>(s) - 4, 4);
    EXPECT_EQ(prefix, 6u);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(SysStringByteLen(s), 6u);
    EXPECT_EQ(s[1], 0);  // embedded NULs survive
    EXPECT_EQ(s[3], 0);
    SysFreeString(s);

    // The null BSTR is the empty text everywhere.
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);
    BSTR blank = SysAllocStringLen(nullptr, 2);
    EXPECT_EQ(SysStringLen(blank), 2u);
    EXPECT_EQ(blank[0] | blank[1] | blank[2], 0);
    SysFreeString(blank);

    BSTR odd = SysAllocStringByteLen("abc", 3);
    EXPECT_EQ(SysStringByteLen(odd), 3u);
    EXPECT_EQ(SysStringLen(odd), 1u);
    EXPECT_STREQ(reinterpret_cast<const char*>(odd), "abc");
    SysFreeString(odd);
    EXPECT_EQ(SysAllocStringLen(u"x", (1u << 30) + 1), nullptr);
}

TEST(Bstr, ReallocationMayCopyFromTheOldText) {
    BSTR s = SysAllocString(u"abcdef");
    ASSERT_TRUE(SysReAllocStringLen(&s, s + 2, 3));
    EXPECT_EQ(std::u16string_view(s, SysStringLen(s)), u"cde");
    ASSERT_TRUE(SysReAllocString(&s, u"xy"));
    EXPECT_EQ(std::u16string_view(s, SysStringLen(s)), u"xy");
    SysFreeString(s);
    EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
}

TEST(Bstr, Utf8RoundTripsAndMalformedInputIsReplaced) {
    const std::string text = "Cin\xC3\xA9ma \xF0\x9F\x8E\xAC";
    Bstr b = Bstr::fromUtf8(text);
    EXPECT_EQ(b.length(), 9u);  // the clapper is a surrogate pair
    EXPECT_EQ(b.utf8(), text);
    EXPECT_EQ(Bstr::fromUtf8("a\xFF").view(), u"a\uFFFD");
    char small[4];
    EXPECT_EQ(ObjBstrToUtf8(b.get(), small, sizeof small), text.size());
    EXPECT_STREQ(small, "Cin");
    EXPECT_EQ(Bstr().utf8(), "");
}

TEST(Guid, ParsesBothFormsInAnyCaseAndPrintsAsAsked) {
    const GUID g = makeGuid("5B1E7C3A-42D9-4f0e-A6C2-9D83E1F04A27");
    EXPECT_EQ(g.Data1, 0x5B1E7C3Au);
    EXPECT_EQ(g.Data2, 0x42D9);
    EXPECT_EQ(g.Data3, 0x4F0E);
    EXPECT_EQ(g.Data4[0], 0xA6);
    EXPECT_EQ(g.Data4[7], 0x27);
    for (const char* form : {"5b1e7c3a-42d9-4f0e-a6c2-9d83e1f04a27", "{5B1E7C3A-42D9-4F0E-A6C2-9D83E1F04A27}"}) {
        GUID parsed{};
        ASSERT_EQ(ObjGuidFromString(form, &parsed), S_OK) << form;
        EXPECT_EQ(parsed, g);
    }
    for (const char* bad : {"", "5b1e7c3a42d94f0ea6c29d83e1f04a27", "{5b1e7c3a-42d9-4f0e-a6c2-9d83e1f04a27",
                            "5b1e7c3a-42d9-4f0e-a6c2-9d83e1f04a2g", " 5b1e7c3a-42d9-4f0e-a6c2-9d83e1f04a27",
                            "5b1e7c3a-42d9-4f0e-a6c2-9d83e1f04a27}", "5b1e7c3a-42d9+4f0e-a6c2-9d83e1f04a27"}) {
        GUID parsed = g;
        EXPECT_EQ(ObjGuidFromString(bad, &parsed), CO_E_CLASSSTRING) << bad;
        EXPECT_EQ(parsed, g);
    }
    char text[kGuidTextSize];
    EXPECT_EQ(ObjGuidToString(&g, GUIDFMT_LOWERCASE, text), 36u);
    EXPECT_STREQ(text, "5b1e7c3a-42d9-4f0e-a6c2-9d83e1f04a27");
    EXPECT_EQ(ObjGuidToString(&g, GUIDFMT_BRACES, text), 38u);
    EXPECT_STREQ(text, "{5B1E7C3A-42D9-4F0E-A6C2-9D83E1F04A27}");

    OLECHAR wide[39];
    EXPECT_EQ(StringFromGUID2(g, wide, 39), 39);
    GUID back{};
    ASSERT_EQ(CLSIDFromString(wide, &back), S_OK);
    EXPECT_EQ(back, g);
    EXPECT_EQ(StringFromGUID2(g, wide, 38), 0);
    EXPECT_EQ(IIDFromString(u"nonsense", &back), E_INVALIDARG);
    const OLECHAR notAscii[] = u"5b1e7c3a-42d9-4f0e-a6c2-9d83e1f04a2\u0661";
    EXPECT_EQ(CLSIDFromString(notAscii, &back), CO_E_CLASSSTRING);
}

TEST(Guid, NewGuidsAreRandomVersionFour) {
    std::set<std::string> seen;
    for (int i = 0; i < 64; ++i) {
        GUID g{};
        ASSERT_EQ(CoCreateGuid(&g), S_OK);
        EXPECT_EQ(g.Data3 >> 12, 4);
        EXPECT_EQ(g.Data4[0] & 0xC0, 0x80);
        char text[kGuidTextSize];
        ObjGuidToString(&g, 0, text);
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 64u);
}

TEST(Variant, ClearAndCopyOwnStringsAndReferences) {
    ComPtr<Object<Counted>> obj;
    ASSERT_EQ(Object<Counted>::create(obj), S_OK);
    IUnknown* unk = static_cast<ICounted*>(obj.get());
    const ULONG alone = refsOf(unk);
    VARIANT a{};
    a.vt = VT_UNKNOWN;
    a.punkVal = unk;
    unk->AddRef();
    VARIANT b{};
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_EQ(refsOf(unk), alone + 2);
    // Copying over a value frees what was there.
    Variant s(std::u16string_view(u"text"));
    ASSERT_EQ(VariantCopy(&b, &s), S_OK);
    EXPECT_EQ(refsOf(unk), alone + 1);
    EXPECT_NE(b.bstrVal, s.bstrVal);
    ASSERT_EQ(VariantClear(&a), S_OK);
    EXPECT_EQ(a.vt, VT_EMPTY);
    EXPECT_EQ(refsOf(unk), alone);
    ASSERT_EQ(VariantClear(&b), S_OK);

    // By-reference values are not owned; the "Ind" copy takes the value.
    LONG n = 5;
    VARIANT ref{};
    ref.vt = VT_I4 | VT_BYREF;
    ref.plVal = &n;
    VARIANT c{};
    ASSERT_EQ(VariantCopyInd(&c, &ref), S_OK);
    EXPECT_EQ(c.vt, VT_I4);
    EXPECT_EQ(c.lVal, 5);
    EXPECT_EQ(VariantClear(&ref), S_OK);
    EXPECT_EQ(n, 5);
    VARIANT strange{};
    strange.vt = 0x77;
    EXPECT_EQ(VariantClear(&strange), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantCopy(&c, &strange), DISP_E_BADVARTYPE);
}

TEST(Variant, NumbersConvertWithinRangeAndTrueIsAllBitsSet) {
    struct Row {
        VARTYPE from;
        LONG in;
        VARTYPE to;
        HRESULT hr;
        LONG out;
    } rows[] = {
        {VT_I4, 1, VT_BOOL, S_OK, -1},
        {VT_I4, -7, VT_BOOL, S_OK, -1},
        {VT_I4, 0, VT_BOOL, S_OK, 0},
        {VT_UI4, 2, VT_BOOL, S_OK, -1},
        {VT_BOOL, -1, VT_I4, S_OK, -1},
        {VT_BOOL, -1, VT_UI4, DISP_E_OVERFLOW, 0},
        {VT_I4, 32767, VT_I2, S_OK, 32767},
        {VT_I4, 32768, VT_I2, DISP_E_OVERFLOW, 0},
        {VT_I4, -32768, VT_I2, S_OK, -32768},
        {VT_I4, -1, VT_UI4, DISP_E_OVERFLOW, 0},
        {VT_UI4, -1, VT_I4, DISP_E_OVERFLOW, 0},
        {VT_I2, -2, VT_I4, S_OK, -2},
        {VT_EMPTY, 0, VT_I4, S_OK, 0},
        {VT_NULL, 0, VT_I4, DISP_E_TYPEMISMATCH, 0},
        {VT_ERROR, 0, VT_I4, DISP_E_TYPEMISMATCH, 0},
    };
    for (const Row& r : rows) {
        VARIANT src = value(r.from, r.in), dst{};
        HRESULT hr = VariantChangeType(&dst, &src, 0, r.to);
        EXPECT_EQ(hr, r.hr) << r.from << "->" << r.to << " " << r.in;
        if (FAILED(hr)) continue;
        EXPECT_EQ(dst.vt, r.to);
        LONG got = r.to == VT_I2 ? dst.iVal : r.to == VT_BOOL ? LONG(dst.boolVal) : dst.lVal;
        EXPECT_EQ(got, r.out) << r.from << "->" << r.to << " " << r.in;
    }
}

TEST(Variant, TextConvertsToNumbersAndBooleansAndBack) {
    struct Row {
        const char16_t* text;
        VARTYPE to;
        HRESULT hr;
        LONG out;
    } rows[] = {
        {u"42", VT_I4, S_OK, 42},
        {u"  -42\t", VT_I4, S_OK, -42},
        {u"+7", VT_I2, S_OK, 7},
        {u"&HFF", VT_I4, S_OK, 255},
        {u"&hFFFF", VT_I2, S_OK, -1},
        {u"&H10000", VT_I2, DISP_E_OVERFLOW, 0},
        {u"&HFFFFFFFF", VT_I4, S_OK, -1},
        {u"4294967295", VT_UI4, S_OK, -1},
        {u"2147483648", VT_I4, DISP_E_OVERFLOW, 0},
        {u"99999999999999999999999", VT_I4, DISP_E_OVERFLOW, 0},
        {u"1.5", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"-", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"&H", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"\uff14\uff12", VT_I4, DISP_E_TYPEMISMATCH, 0},  // full-width digits are not digits
        {u"TRUE", VT_BOOL, S_OK, -1},
        {u" false ", VT_BOOL, S_OK, 0},
        {u"3", VT_BOOL, S_OK, -1},
        {u"0", VT_BOOL, S_OK, 0},
        {u"yes", VT_BOOL, DISP_E_TYPEMISMATCH, 0},
    };
    for (const Row& r : rows) {
        Variant src{std::u16string_view(r.text)}, dst;
        HRESULT hr = VariantChangeType(&dst, &src, 0, r.to);
        EXPECT_EQ(hr, r.hr) << Bstr(r.text).utf8() << " -> " << r.to;
        if (FAILED(hr)) continue;
        LONG got = r.to == VT_I2 ? dst.iVal : r.to == VT_BOOL ? LONG(dst.boolVal) : dst.lVal;
        EXPECT_EQ(got, r.out) << Bstr(r.text).utf8();
    }

    struct Out {
        VARIANT in;
        USHORT flags;
        const char* text;
    } outs[] = {{value(VT_I4, -12), 0, "-12"},
                {value(VT_UI4, -1), 0, "4294967295"},
                {value(VT_BOOL, -1), 0, "-1"},
                {value(VT_BOOL, -1), VARIANT_ALPHABOOL, "True"},
                {value(VT_BOOL, 0), VARIANT_ALPHABOOL, "False"},
                {VARIANT{}, 0, ""}};
    for (const Out& o : outs) {
        Variant dst;
        ASSERT_EQ(VariantChangeType(&dst, &o.in, o.flags, VT_BSTR), S_OK);
        ASSERT_EQ(dst.vt, VT_BSTR);
        EXPECT_EQ(Bstr::toUtf8(dst.bstrVal), o.text);
    }
}

TEST(Variant, ConversionFollowsReferencesAndMayWorkInPlace) {
    Variant inner(std::u16string_view(u"17"));
    Variant outer = Variant::refTo(&inner);
    Variant dst;
    ASSERT_EQ(VariantChangeType(&dst, &outer, 0, VT_I2), S_OK);
    EXPECT_EQ(dst.iVal, 17);
    // In place: the old text is freed only after the new value exists.
    ASSERT_EQ(VariantChangeType(&inner, &inner, 0, VT_I4), S_OK);
    EXPECT_EQ(inner.vt, VT_I4);
    EXPECT_EQ(inner.lVal, 17);
    // Interfaces convert by asking the object.
    ComPtr<Object<Counted>> obj;
    ASSERT_EQ(Object<Counted>::create(obj), S_OK);
    VARIANT unk{};
    unk.vt = VT_UNKNOWN;
    unk.punkVal = static_cast<ICounted*>(obj.get());
    EXPECT_EQ(VariantChangeType(&dst, &unk, 0, VT_DISPATCH), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&dst, &unk, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&dst, &inner, 0, VT_I4 | VT_BYREF), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantChangeType(&dst, &inner, 0, VT_VARIANT), DISP_E_BADVARTYPE);
}

TEST(Status, CodesKeepTheirClassicValuesAndReadAsWords) {
    EXPECT_EQ(uint32_t(DISP_E_MEMBERNOTFOUND), 0x80020003u);
    EXPECT_EQ(uint32_t(DISP_E_TYPEMISMATCH), 0x80020005u);
    EXPECT_EQ(uint32_t(DISP_E_BADPARAMCOUNT), 0x8002000Eu);
    EXPECT_EQ(uint32_t(CLASS_E_NOAGGREGATION), 0x80040110u);
    EXPECT_EQ(uint32_t(REGDB_E_CLASSNOTREG), 0x80040154u);
    EXPECT_EQ(uint32_t(E_OUTOFMEMORY), 0x8007000Eu);
    EXPECT_TRUE(FAILED(E_POINTER));
    char text[96];
    ObjStatusText(REGDB_E_CLASSNOTREG, text, sizeof text);
    EXPECT_STREQ(text, "0x80040154 REGDB_E_CLASSNOTREG: class not registered");
    ObjStatusText(110, text, sizeof text);
    EXPECT_STREQ(text, "0x0000006E");
}
