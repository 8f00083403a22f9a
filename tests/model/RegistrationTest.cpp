// The model classes as the registered library hands them out: ProgIDs, class
// ids, friendly names, creation by ProgID, and their type descriptions.
#include <gtest/gtest.h>

#include "core/xelor.h"
#include "platform/objrt/Ptr.h"
#include "platform/registry/Registry.h"
#include "tests/support/CoreRegistration.h"

namespace {

using namespace xel;
using xel::objrt::Bstr;
using xel::objrt::ComPtr;
namespace reg = xel::registry;

struct Row {
    const char* name;  // "Format": ProgIDs Xelor.Format(.1), friendly name "CFormat Object"
    CLSID clsid;
    IID iid;
    DISPID member;
    const char* memberHelp;
};
const Row kRows[] = {
    {"Comm", CLSID_Comm, IID_IComm, 7, "method WriteAndReturnHex"},
    {"Profile", CLSID_Profile, IID_IProfile, 2, "property TheaterName"},
    {"Format", CLSID_Format, IID_IFormat, 3, "property FormatName"},
    {"VU", CLSID_VU, IID_IVU, 1, "method ReadLevels"},
    {"Xel", CLSID_Xel, IID_IXel, 10, "method Query"},
    {"Stubby", CLSID_Stubby, IID_IStubby, 0, nullptr},
};

class Registered : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(xeltest::registerCore());
        ASSERT_GE(CoInitialize(nullptr), 0);
    }
    void TearDown() override { CoUninitialize(); }
};

std::string docOf(ITypeInfo* info, MEMBERID id) {
    Bstr doc;
    EXPECT_EQ(info->GetDocumentation(id, nullptr, doc.put(), nullptr, nullptr), S_OK);
    return doc.utf8();
}

TEST_F(Registered, AllTwelveProgIdsNameTheirClass) {
    for (const Row& r : kRows) {
        const std::string independent = std::string("Xelor.") + r.name, versioned = independent + ".1";
        for (const std::string& progId : {independent, versioned}) {
            CLSID c{};
            ASSERT_EQ(CLSIDFromProgID(Bstr::fromUtf8(progId).get(), &c), S_OK) << progId;
            EXPECT_TRUE(c == r.clsid) << progId;
            EXPECT_EQ(reg::getString(reg::Root::ClassesRoot, progId, ""), std::string("C") + r.name + " Object");
        }
        EXPECT_EQ(reg::getString(reg::Root::ClassesRoot, independent + "\\CurVer", ""), versioned);
    }
}

// Created by ProgID; class and interface descriptions carry the library's help texts.
TEST_F(Registered, ClassesCreatedByProgIdDescribeThemselves) {
    for (const Row& r : kRows) {
        if (r.clsid == CLSID_Xel || r.clsid == CLSID_Comm) continue;  // their own areas
        SCOPED_TRACE(r.name);
        CLSID c{};
        ASSERT_EQ(CLSIDFromProgID(Bstr::fromUtf8(std::string("Xelor.") + r.name).get(), &c), S_OK);
        ComPtr<IDispatch> object;
        ASSERT_EQ(CoCreateInstance(c, nullptr, CLSCTX_INPROC_SERVER, r.iid, object.putVoid()), S_OK);
        ComPtr<IProvideClassInfo> classInfo;
        ASSERT_EQ(object.as(classInfo), S_OK);
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(classInfo->GetClassInfo(info.put()), S_OK);
        EXPECT_EQ(docOf(info.get(), MEMBERID_NIL), std::string(r.name) + " Class");

        ASSERT_EQ(object->GetTypeInfo(0, 0, info.put()), S_OK);
        EXPECT_EQ(docOf(info.get(), MEMBERID_NIL), std::string("I") + r.name + " Interface");
        if (r.memberHelp) {
            EXPECT_EQ(docOf(info.get(), r.member), r.memberHelp);
        }

        IUnknown* outer = object.get();
        void* p = nullptr;
        EXPECT_EQ(CoCreateInstance(c, outer, CLSCTX_INPROC_SERVER, r.iid, &p), CLASS_E_NOAGGREGATION);
    }
}

// Every parameter of ReadLevels is an out-parameter in the type description.
TEST_F(Registered, ReadLevelsDeclaresEightOutParameters) {
    ComPtr<IVU> vu;
    ASSERT_EQ(CoCreateInstance(CLSID_VU, nullptr, CLSCTX_INPROC_SERVER, IID_IVU, vu.putVoid()), S_OK);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(vu->GetTypeInfo(0, 0, info.put()), S_OK);
    FUNCDESC* f = nullptr;
    ASSERT_EQ(info->GetFuncDesc(0, &f), S_OK);
    EXPECT_EQ(f->memid, 1);
    ASSERT_EQ(f->cParams, 8);
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(f->lprgelemdescParam[i].paramdesc.wParamFlags & PARAMFLAG_FOUT) << i;
    info->ReleaseFuncDesc(f);
}

}  // namespace
