// The core library as an in-process server: registered with regsvr into the
// test's own state folder, then loaded by the object runtime in this process.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <locale.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/xelor.h"
#include "platform/objrt/Ptr.h"
#include "platform/registry/Registry.h"
#include "tests/support/CoreRegistration.h"

namespace {

using namespace xel;
using xel::objrt::Bstr;
using xel::objrt::ComPtr;
using xel::objrt::Variant;
namespace reg = xel::registry;
constexpr auto kRoot = reg::Root::ClassesRoot;

std::string braced(const GUID& g) {
    char buf[kGuidTextSize];
    ObjGuidToString(&g, GUIDFMT_BRACES, buf);
    return buf;
}

// The same class id, whatever the letter case of its text.
::testing::AssertionResult namesGuid(const std::optional<std::string>& text, const GUID& want) {
    if (!text) return ::testing::AssertionFailure() << "no value";
    GUID g{};
    if (ObjGuidFromString(text->c_str(), &g) != S_OK || !(g == want))
        return ::testing::AssertionFailure() << *text << " is not " << braced(want);
    return ::testing::AssertionSuccess();
}

// The library as the runtime loads it, and its exports.
struct Library {
    Library() {
        handle = dlopen(xeltest::coreLibraryPath().c_str(), RTLD_NOW);
        EXPECT_NE(handle, nullptr) << dlerror();
    }
    ~Library() {
        if (handle) dlclose(handle);
    }
    template <class F>
    F entry(const char* name) {
        return reinterpret_cast<F>(dlsym(handle, name));
    }
    HRESULT canUnloadNow() { return entry<PFN_DllCanUnloadNow>("DllCanUnloadNow")(); }
    HRESULT registerServer() { return entry<PFN_DllRegisterServer>("DllRegisterServer")(); }
    HRESULT unregisterServer() { return entry<PFN_DllRegisterServer>("DllUnregisterServer")(); }
    HRESULT classObject(REFCLSID c, REFIID i, void** p) {
        return entry<PFN_DllGetClassObject>("DllGetClassObject")(c, i, p);
    }
    void* handle = nullptr;
};

class Module : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(xeltest::registerCore());
        ASSERT_GE(CoInitialize(nullptr), 0);
    }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(Module, RegistrationWritesTheConnectionClassEntries) {
    const std::string clsid = "CLSID\\" + braced(CLSID_Comm);
    EXPECT_EQ(reg::getString(kRoot, "Xelor.Comm.1", ""), "CComm Object");
    EXPECT_TRUE(namesGuid(reg::getString(kRoot, "Xelor.Comm.1\\CLSID", ""), CLSID_Comm));
    EXPECT_EQ(reg::getString(kRoot, "Xelor.Comm", ""), "CComm Object");
    EXPECT_TRUE(namesGuid(reg::getString(kRoot, "Xelor.Comm\\CLSID", ""), CLSID_Comm));
    EXPECT_EQ(reg::getString(kRoot, "Xelor.Comm\\CurVer", ""), "Xelor.Comm.1");

    EXPECT_EQ(reg::getString(kRoot, clsid, ""), "CComm Object");
    EXPECT_EQ(reg::getString(kRoot, clsid + "\\ProgID", ""), "Xelor.Comm.1");
    EXPECT_EQ(reg::getString(kRoot, clsid + "\\VersionIndependentProgID", ""), "Xelor.Comm");
    EXPECT_TRUE(reg::keyExists(kRoot, clsid + "\\Programmable"));
    const auto server = reg::getString(kRoot, clsid + "\\InprocServer32", "");
    ASSERT_TRUE(server.has_value());
    EXPECT_TRUE(std::filesystem::path(*server).is_absolute()) << *server;
    EXPECT_TRUE(std::filesystem::equivalent(*server, xeltest::coreLibraryPath())) << *server;
    EXPECT_EQ(reg::getString(kRoot, clsid + "\\InprocServer32", "ThreadingModel"), "apartment");
    EXPECT_TRUE(namesGuid(reg::getString(kRoot, clsid, "AppID"), APPID_Xelor));
    EXPECT_TRUE(namesGuid(reg::getString(kRoot, clsid + "\\TypeLib", ""), LIBID_Xelor));

    EXPECT_EQ(reg::getString(kRoot, "AppID\\" + braced(APPID_Xelor), ""), "Xelor");
    EXPECT_TRUE(namesGuid(reg::getString(kRoot, "AppID\\Xelor.DLL", "AppID"), APPID_Xelor));
    EXPECT_EQ(reg::getString(kRoot, "TypeLib\\" + braced(LIBID_Xelor) + "\\1.0", ""), "Xelor 1.0 Type Library");
    EXPECT_TRUE(reg::keyExists(kRoot, "Interface\\" + braced(IID_IComm)));
}

// Every class of the table: both ProgIDs name it, and the version-independent
// one names the versioned one as current.
TEST_F(Module, EveryRegisteredProgIdResolvesToItsClass) {
    int classes = 0;
    for (const std::string& key : reg::subkeys(kRoot, "")) {
        if (key.rfind("Xelor.", 0) != 0 || key.size() < 3 || key.substr(key.size() - 2) != ".1") continue;
        ++classes;
        const std::string independent = key.substr(0, key.size() - 2);
        EXPECT_EQ(reg::getString(kRoot, independent + "\\CurVer", ""), key);
        CLSID byVersion{}, byName{};
        ASSERT_EQ(CLSIDFromProgID(Bstr::fromUtf8(key).get(), &byVersion), S_OK) << key;
        ASSERT_EQ(CLSIDFromProgID(Bstr::fromUtf8(independent).get(), &byName), S_OK) << independent;
        EXPECT_TRUE(byVersion == byName) << key;
        const std::string clsid = "CLSID\\" + braced(byVersion);
        EXPECT_EQ(reg::getString(kRoot, clsid + "\\ProgID", ""), key);
        EXPECT_EQ(reg::getString(kRoot, clsid, ""), reg::getString(kRoot, key, ""));
    }
    EXPECT_EQ(classes, 6) << "Comm, Profile, Format, VU, Xel and Stubby";
}

TEST_F(Module, TheConnectionIsCreatedByProgIdAndDrivenLateBound) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"Xelor.Comm", &clsid), S_OK);
    EXPECT_TRUE(clsid == CLSID_Comm);
    ComPtr<IComm> comm;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IComm, comm.putVoid()), S_OK);
    Bstr address;
    ASSERT_EQ(comm->get_Address(address.put()), S_OK);
    EXPECT_EQ(address.view(), u"COM1");

    ComPtr<IDispatch> disp;
    ASSERT_EQ(comm.as(disp), S_OK);
    struct NameCase {
        const char16_t* name;
        DISPID id;
    };
    for (const NameCase& c :
         {NameCase{u"Address", 1}, NameCase{u"GET_ADDRESS", 1}, NameCase{u"put_Address", 1}, NameCase{u"connect", 2},
          NameCase{u"Disconnect", 3}, NameCase{u"write", 4}, NameCase{u"READ", 5}, NameCase{u"IsConnected", 6},
          NameCase{u"writeandreturnhex", 7}, NameCase{u"WriteAndWaitForResponse", 8}, NameCase{u"uhUsb", 9},
          NameCase{u"get_uhusb", 9}, NameCase{u"Put_UhUsb", 9}}) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(c.name)};
        DISPID id = -99;
        EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
        EXPECT_EQ(id, c.id);
    }
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"get_Connect")};
    DISPID id = 0;
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);

    // Address put and get, IsConnected and the CommErr of Write as results.
    Variant value(std::u16string_view(u"10.1.2.3"));
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &named, 1, 1};
    EXPECT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Variant result;
    ASSERT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.put(), nullptr, nullptr), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(std::u16string_view(result.bstrVal, SysStringLen(result.bstrVal)), u"10.1.2.3");
    ASSERT_EQ(disp->Invoke(6, IID_NULL, 0, DISPATCH_METHOD, &none, result.put(), nullptr, nullptr), S_OK);
    ASSERT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_FALSE);
    Variant cmd(std::u16string_view(u"mute\r"));
    DISPPARAMS write{&cmd, nullptr, 1, 0};
    EXPECT_EQ(disp->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &write, result.put(), nullptr, nullptr), 2250);
    ASSERT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, CommErrNotConnected);

    // The class's description comes from the library's own tables.
    ComPtr<IProvideClassInfo> info;
    ASSERT_EQ(comm->QueryInterface(IID_IProvideClassInfo, info.putVoid()), S_OK);
    ComPtr<ITypeInfo> type;
    ASSERT_EQ(info->GetClassInfo(type.put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(type->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(attr->guid == CLSID_Comm);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    type->ReleaseTypeAttr(attr);
}

TEST_F(Module, CanUnloadNowFollowsTheLiveObjects) {
    ComPtr<IComm> first, second;
    ASSERT_EQ(CoCreateInstance(CLSID_Comm, nullptr, CLSCTX_INPROC_SERVER, IID_IComm, first.putVoid()), S_OK);
    Library lib;
    ASSERT_NE(lib.handle, nullptr);
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE);
    ASSERT_EQ(CoCreateInstance(CLSID_Comm, nullptr, CLSCTX_INPROC_SERVER, IID_IComm, second.putVoid()), S_OK);
    first = nullptr;
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE);
    second = nullptr;
    EXPECT_EQ(lib.canUnloadNow(), S_OK);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(lib.classObject(CLSID_Comm, IID_IClassFactory, factory.putVoid()), S_OK);
    EXPECT_EQ(lib.canUnloadNow(), S_OK) << "a class object alone keeps nothing alive";
    ASSERT_EQ(factory->LockServer(1), S_OK);
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE);
    ASSERT_EQ(factory->LockServer(0), S_OK);
    EXPECT_EQ(lib.canUnloadNow(), S_OK);
}

// An outer object that only counts: enough to hold the connection as an aggregate.
class Outer : public IUnknown {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (riid == IID_IUnknown) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    ULONG AddRef() noexcept override { return ++refs; }
    ULONG Release() noexcept override { return --refs; }
    IUnknown* inner = nullptr;
    ULONG refs = 1;
};

TEST_F(Module, ClassObjectsAreCachedAndCreateAggregates) {
    Library lib;
    ASSERT_NE(lib.handle, nullptr);
    void* p = reinterpret_cast<void*>(1);
    constexpr CLSID kNotOurs = makeGuid("00000000-1111-2222-3333-444444444444");
    EXPECT_EQ(lib.classObject(kNotOurs, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(lib.classObject(CLSID_Comm, IID_IClassFactory, nullptr), E_POINTER);

    ComPtr<IClassFactory> a, b;
    ASSERT_EQ(lib.classObject(CLSID_Comm, IID_IClassFactory, a.putVoid()), S_OK);
    ASSERT_EQ(lib.classObject(CLSID_Comm, IID_IClassFactory, b.putVoid()), S_OK);
    EXPECT_EQ(a.get(), b.get());

    Outer outer;
    void* refused = nullptr;
    EXPECT_EQ(a->CreateInstance(&outer, IID_IComm, &refused), CLASS_E_NOAGGREGATION);
    ASSERT_EQ(a->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    ComPtr<IComm> comm;
    ASSERT_EQ(outer.QueryInterface(IID_IComm, comm.putVoid()), S_OK);
    EXPECT_EQ(outer.refs, 2u) << "the aggregate's interfaces count on the outer object";
    VARIANT_BOOL connected = VARIANT_TRUE;
    EXPECT_EQ(comm->IsConnected(&connected), S_OK);
    EXPECT_EQ(connected, VARIANT_FALSE);
    comm = nullptr;
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE);
    outer.inner->Release();
    EXPECT_EQ(lib.canUnloadNow(), S_OK);
}

TEST_F(Module, RegistrationKeepsTheCallersThreadLocale) {
    Library lib;
    ASSERT_NE(lib.handle, nullptr);
    locale_t mine = newlocale(LC_NUMERIC_MASK, "C", locale_t(nullptr));
    ASSERT_NE(mine, locale_t(nullptr));
    const locale_t before = uselocale(mine);
    EXPECT_EQ(lib.registerServer(), S_OK);
    EXPECT_EQ(uselocale(locale_t(nullptr)), mine);

    // A state folder that cannot exist: registration fails and still restores.
    const std::string home = std::getenv("XDG_CONFIG_HOME");
    setenv("XDG_CONFIG_HOME", "/dev/null/xelor-test", 1);
    const HRESULT failed = lib.registerServer();
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    EXPECT_TRUE(FAILED(failed)) << std::hex << failed;
    EXPECT_EQ(uselocale(locale_t(nullptr)), mine);
    EXPECT_TRUE(FAILED([&] {
        setenv("XDG_CONFIG_HOME", "/dev/null/xelor-test", 1);
        const HRESULT hr = lib.unregisterServer();
        setenv("XDG_CONFIG_HOME", home.c_str(), 1);
        return hr;
    }()));
    EXPECT_EQ(uselocale(locale_t(nullptr)), mine);

    uselocale(before);
    freelocale(mine);
}

TEST_F(Module, UnregistrationKeepsTheSharedKeys) {
    Library lib;
    ASSERT_NE(lib.handle, nullptr);
    ASSERT_EQ(lib.unregisterServer(), S_OK);
    EXPECT_TRUE(reg::keyExists(kRoot, "CLSID"));
    EXPECT_TRUE(reg::keyExists(kRoot, "AppID"));
    EXPECT_FALSE(reg::keyExists(kRoot, "CLSID\\" + braced(CLSID_Comm)));
    EXPECT_FALSE(reg::keyExists(kRoot, "Xelor.Comm"));
    EXPECT_FALSE(reg::keyExists(kRoot, "Xelor.Comm.1"));
    EXPECT_FALSE(reg::keyExists(kRoot, "AppID\\" + braced(APPID_Xelor)));
    EXPECT_FALSE(reg::keyExists(kRoot, "AppID\\Xelor.DLL"));
    EXPECT_FALSE(reg::keyExists(kRoot, "TypeLib\\" + braced(LIBID_Xelor)));
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"Xelor.Comm", &clsid), CO_E_CLASSSTRING);
    // Back as the other tests expect it.
    ASSERT_EQ(lib.registerServer(), S_OK);
    EXPECT_EQ(CLSIDFromProgID(u"Xelor.Comm", &clsid), S_OK);
}

}  // namespace
