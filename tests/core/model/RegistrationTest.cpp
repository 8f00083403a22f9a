// The classes as the registered library hands them out: ProgIDs, class ids,
// friendly names, creation by ProgID, and the help texts of their descriptions.
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

std::string docOf(ITypeInfo* info, MEMBERID id) {
    Bstr doc;
    EXPECT_EQ(info->GetDocumentation(id, nullptr, doc.put(), nullptr, nullptr), S_OK);
    return doc.utf8();
}

TEST(Registered, TwelveProgIdsNameTheirClassesAndTheModelClassesDescribeThemselves) {
    ASSERT_TRUE(xeltest::registerCore());
    ASSERT_GE(CoInitialize(nullptr), 0);
    const struct {
        const char* name;  // "Format": Xelor.Format(.1), "CFormat Object", "Format Class", "IFormat Interface"
        CLSID clsid;
        IID iid;
        DISPID member;
        const char* memberHelp;  // null: not created here (other areas' classes)
    } rows[] = {
        {"Comm", CLSID_Comm, IID_IComm, 0, nullptr},
        {"Profile", CLSID_Profile, IID_IProfile, 2, "property TheaterName"},
        {"Format", CLSID_Format, IID_IFormat, 10, "method GetTrimsAndDelays"},
        {"VU", CLSID_VU, IID_IVU, 1, "method ReadLevels"},
        {"Xel", CLSID_Xel, IID_IXel, 0, nullptr},
        {"Stubby", CLSID_Stubby, IID_IStubby, 0, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string independent = std::string("Xelor.") + r.name, versioned = independent + ".1";
        for (const std::string& progId : {independent, versioned}) {
            CLSID c{};
            ASSERT_EQ(CLSIDFromProgID(Bstr::fromUtf8(progId).get(), &c), S_OK) << progId;
            EXPECT_TRUE(c == r.clsid) << progId;
            EXPECT_EQ(reg::getString(reg::Root::ClassesRoot, progId, ""), std::string("C") + r.name + " Object");
        }
        EXPECT_EQ(reg::getString(reg::Root::ClassesRoot, independent + "\\CurVer", ""), versioned);
        if (!r.memberHelp) continue;

        ComPtr<IDispatch> object;
        ASSERT_EQ(CoCreateInstance(r.clsid, nullptr, CLSCTX_INPROC_SERVER, r.iid, object.putVoid()), S_OK);
        ComPtr<IProvideClassInfo> classInfo;
        ASSERT_EQ(object.as(classInfo), S_OK);
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(classInfo->GetClassInfo(info.put()), S_OK);
        EXPECT_EQ(docOf(info.get(), MEMBERID_NIL), std::string(r.name) + " Class");
        ASSERT_EQ(object->GetTypeInfo(0, 0, info.put()), S_OK);
        EXPECT_EQ(docOf(info.get(), MEMBERID_NIL), std::string("I") + r.name + " Interface");
        if (*r.memberHelp) {
            EXPECT_EQ(docOf(info.get(), r.member), r.memberHelp);
        }
    }
    CoUninitialize();
}

}  // namespace
