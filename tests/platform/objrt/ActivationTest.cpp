// Registration with regsvr, creation by ProgID and class id, aggregation, and
// unloading of the test server, all through the registry of the test's own
// state folder.
#include <dlfcn.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <gtest/gtest.h>

#include "platform/registry/Registry.h"
#include "tests/platform/objrt/TestServer.h"

using namespace objrt_test;
using namespace xel::objrt;
namespace reg = xel::registry;
using reg::Root;

namespace {

std::string braced(const GUID& g) {
    char t[kGuidTextSize];
    ObjGuidToString(&g, GUIDFMT_BRACES, t);
    return t;
}
const std::string kClsidKey = "CLSID\\" + braced(CLSID_Sampler);

std::string classesString(const std::string& key, const std::string& name = "") {
    return reg::getString(Root::ClassesRoot, key, name).value_or("<missing>");
}

// True while the loader still has the file mapped (asked without loading it).
bool mapped(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);  // the probe took a reference of its own
    return h != nullptr;
}

std::string registeredPath() { return classesString(kClsidKey + "\\InprocServer32"); }

class Activation : public ::testing::Test {
protected:
    void SetUp() override { registerServer(); }
    void TearDown() override { CoFreeUnusedLibraries(); }
    RuntimeScope runtime;
};

// An outer object that aggregates a Sampler and hands out its interfaces.
struct IOuter : IUnknown {
    static constexpr IID kIID = makeGuid("6d3c1b52-93a4-4f0e-8c71-2b5f0e9a4d30");
    virtual HRESULT Inner(IUnknown** out) noexcept = 0;
};
class Outer : public IOuter {
public:
    using Interfaces = InterfaceMap<IOuter>;
    HRESULT finalConstruct() noexcept {
        return CoCreateInstance(CLSID_Sampler, identityOf(this), CLSCTX_INPROC_SERVER, IID_IUnknown, inner_.putVoid());
    }
    void finalRelease() noexcept { inner_ = nullptr; }
    HRESULT queryOther(REFIID riid, void** ppv) noexcept {
        return inner_ ? inner_->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    HRESULT Inner(IUnknown** out) noexcept override { return inner_.copyTo(out); }

private:
    ComPtr<IUnknown> inner_;
};

}  // namespace

TEST_F(Activation, RegsvrWritesClassTypeLibraryAndAppIdEntries) {
    EXPECT_EQ(classesString("ObjrtTest.Sampler.1"), "CSampler Object");
    EXPECT_EQ(classesString("ObjrtTest.Sampler.1\\CLSID"), braced(CLSID_Sampler));
    EXPECT_EQ(classesString("ObjrtTest.Sampler\\CLSID"), braced(CLSID_Sampler));
    EXPECT_EQ(classesString("ObjrtTest.Sampler\\CurVer"), "ObjrtTest.Sampler.1");
    EXPECT_EQ(classesString(kClsidKey), "CSampler Object");
    EXPECT_EQ(classesString(kClsidKey + "\\ProgID"), "ObjrtTest.Sampler.1");
    EXPECT_EQ(classesString(kClsidKey + "\\VersionIndependentProgID"), "ObjrtTest.Sampler");
    EXPECT_TRUE(reg::keyExists(Root::ClassesRoot, kClsidKey + "\\Programmable"));
    EXPECT_EQ(registeredPath(), std::filesystem::canonical(serverPath()).string());
    EXPECT_EQ(classesString(kClsidKey + "\\InprocServer32", "ThreadingModel"), "apartment");
    EXPECT_EQ(classesString(kClsidKey, "AppID"), braced(APPID_Sampler));
    EXPECT_EQ(classesString(kClsidKey + "\\TypeLib"), braced(LIBID_Sampler));
    const std::string lib = "TypeLib\\" + braced(LIBID_Sampler) + "\\1.0";
    EXPECT_EQ(classesString(lib), "ObjrtTest 1.0 Type Library");
    EXPECT_EQ(classesString(lib + "\\0\\linux64"), registeredPath());
    EXPECT_EQ(classesString("Interface\\" + braced(ISampler::kIID)), "ISampler");
    EXPECT_EQ(classesString("Interface\\" + braced(ISamplerEvents::kIID) + "\\TypeLib"), braced(LIBID_Sampler));
    EXPECT_EQ(classesString("AppID\\" + braced(APPID_Sampler)), "ObjrtTest");
    EXPECT_EQ(classesString("AppID\\libobjrt_testserver.so", "AppID"), braced(APPID_Sampler));
}

TEST_F(Activation, UnregisteringRemovesTheServersKeysButNotTheRoots) {
    // Another server has taken the version-independent ProgID over meanwhile.
    ASSERT_EQ(reg::setString(Root::ClassesRoot, "ObjrtTest.Sampler\\CLSID", "", braced(IID_IDispatch)),
              reg::Status::Ok);
    RunResult r = regsvr({"-u", serverPath()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("DllUnregisterServer"), std::string::npos);
    EXPECT_FALSE(reg::keyExists(Root::ClassesRoot, kClsidKey));
    EXPECT_FALSE(reg::keyExists(Root::ClassesRoot, "ObjrtTest.Sampler.1"));
    EXPECT_TRUE(reg::keyExists(Root::ClassesRoot, "ObjrtTest.Sampler"));
    EXPECT_FALSE(reg::keyExists(Root::ClassesRoot, "TypeLib\\" + braced(LIBID_Sampler)));
    EXPECT_FALSE(reg::keyExists(Root::ClassesRoot, "Interface\\" + braced(ISampler::kIID)));
    EXPECT_FALSE(reg::keyExists(Root::ClassesRoot, "AppID\\" + braced(APPID_Sampler)));
    EXPECT_FALSE(reg::keyExists(Root::ClassesRoot, "AppID\\libobjrt_testserver.so"));
    EXPECT_TRUE(reg::keyExists(Root::ClassesRoot, "CLSID"));
    EXPECT_TRUE(reg::keyExists(Root::ClassesRoot, "AppID"));
    CLSID c{};
    EXPECT_EQ(CLSIDFromProgID(u"ObjrtTest.Sampler.1", &c), CO_E_CLASSSTRING);
}

TEST_F(Activation, MachineRegistrationServesEveryUserUnderTheUsersOwn) {
    namespace fs = std::filesystem;
    const std::string machinePath = fs::canonical(serverPath()).string();
    ASSERT_EQ(regsvr({"-u", serverPath()}).exitCode, 0);
    // Another package's entries in the machine file, which ours must not disturb.
    const std::string otherClass = "CLSID\\" + braced(IID_IDispatch);
    reg::selectLayer(reg::Layer::Machine);
    ASSERT_EQ(reg::setString(Root::ClassesRoot, otherClass + "\\InprocServer32", "", "/usr/lib/other.so"),
              reg::Status::Ok);
    reg::selectLayer(reg::Layer::User);

    RunResult r = regsvr({"--machine", serverPath()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(registeredPath(), machinePath);
    std::ifstream userFile(reg::userStateDir() / "registry.json");
    const std::string userText{std::istreambuf_iterator<char>(userFile), std::istreambuf_iterator<char>()};
    EXPECT_EQ(userText.find(braced(CLSID_Sampler)), std::string::npos)
        << "the machine registration went to the user's file";
    {
        ComPtr<IUnknown> object;
        EXPECT_EQ(CoCreateInstance(CLSID_Sampler, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.putVoid()), S_OK);
    }

    // The user's own build of the same server wins, and its removal falls back.
    const fs::path own = fs::path(reg::userStateDir()) / "own-build" / "libobjrt_testserver.so";
    fs::create_directories(own.parent_path());
    fs::copy_file(serverPath(), own, fs::copy_options::overwrite_existing);
    ASSERT_EQ(regsvr({own.string()}).exitCode, 0);
    EXPECT_EQ(registeredPath(), own.string());
    ASSERT_EQ(regsvr({"-u", own.string()}).exitCode, 0);
    EXPECT_EQ(registeredPath(), machinePath);

    // Unregistering from the machine takes exactly our entries away.
    r = regsvr({"-u", "--machine", serverPath()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(reg::keyExists(Root::ClassesRoot, kClsidKey));
    EXPECT_FALSE(reg::keyExists(Root::ClassesRoot, "ObjrtTest.Sampler"));
    EXPECT_FALSE(reg::keyExists(Root::ClassesRoot, "TypeLib\\" + braced(LIBID_Sampler)));
    EXPECT_FALSE(reg::keyExists(Root::ClassesRoot, "AppID\\" + braced(APPID_Sampler)));
    EXPECT_EQ(classesString(otherClass + "\\InprocServer32"), "/usr/lib/other.so");
    CLSID c{};
    EXPECT_EQ(CLSIDFromProgID(u"ObjrtTest.Sampler.1", &c), CO_E_CLASSSTRING);
}

TEST_F(Activation, RegsvrReportsEachFailureInWordsAndExitCode) {
    struct Row {
        std::vector<std::string> args;
        int exitCode;
        const char* says;
    } rows[] = {
        {{}, 2, "usage: regsvr"},
        {{"--machine", "-u"}, 2, "usage: regsvr"},
        {{"-x", serverPath()}, 2, "unknown option"},
        {{serverPath(), serverPath()}, 2, "one library at a time"},
        {{"/no/such/lib.so"}, 3, "No such file"},
        {{noEntryPath()}, 4, "no entry point DllRegisterServer"},
        {{"-u", noEntryPath()}, 4, "no entry point DllUnregisterServer"},
    };
    for (const Row& row : rows) {
        RunResult r = regsvr(row.args);
        EXPECT_EQ(r.exitCode, row.exitCode) << row.says;
        EXPECT_NE(r.err.find(row.says), std::string::npos) << "stderr: " << r.err;
    }
    // A registry that cannot be locked makes the server's own call fail.
    const auto lock = reg::userStateDir() / "registry.lock";
    std::filesystem::remove(lock);
    std::filesystem::create_directory(lock);
    RunResult r = regsvr({serverPath()});
    std::filesystem::remove(lock);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("REGDB_E_WRITEREGDB"), std::string::npos) << r.err;
}

TEST_F(Activation, ProgIdsResolveThroughTheCurrentVersion) {
    CLSID c{};
    ASSERT_EQ(CLSIDFromProgID(u"ObjrtTest.Sampler", &c), S_OK);
    EXPECT_EQ(c, CLSID_Sampler);
    ASSERT_EQ(CLSIDFromProgID(u"objrttest.SAMPLER.1", &c), S_OK);
    EXPECT_EQ(c, CLSID_Sampler);

    // A newer version registered and named current wins over the key's own CLSID.
    const GUID v2 = makeGuid("6d3c1b52-93a4-4f0e-8c71-2b5f0e9a4d99");
    ASSERT_EQ(reg::setString(Root::ClassesRoot, "ObjrtTest.Sampler.2\\CLSID", "", braced(v2)), reg::Status::Ok);
    ASSERT_EQ(reg::setString(Root::ClassesRoot, "ObjrtTest.Sampler\\CurVer", "", "ObjrtTest.Sampler.2"),
              reg::Status::Ok);
    ASSERT_EQ(CLSIDFromProgID(u"ObjrtTest.Sampler", &c), S_OK);
    EXPECT_EQ(c, v2);
    // A current version that is not registered leaves the key's own CLSID.
    ASSERT_EQ(reg::setString(Root::ClassesRoot, "ObjrtTest.Sampler\\CurVer", "", "ObjrtTest.Sampler.7"),
              reg::Status::Ok);
    ASSERT_EQ(CLSIDFromProgID(u"ObjrtTest.Sampler", &c), S_OK);
    EXPECT_EQ(c, CLSID_Sampler);
    // A loop of current versions ends.
    ASSERT_EQ(reg::setString(Root::ClassesRoot, "Loop.A\\CurVer", "", "Loop.B"), reg::Status::Ok);
    ASSERT_EQ(reg::setString(Root::ClassesRoot, "Loop.B\\CurVer", "", "Loop.A"), reg::Status::Ok);
    EXPECT_EQ(CLSIDFromProgID(u"Loop.A", &c), CO_E_CLASSSTRING);

    EXPECT_EQ(CLSIDFromProgID(u"ObjrtTest.Nothing", &c), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(u"", &c), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(nullptr, &c), E_INVALIDARG);
}

TEST_F(Activation, CreatesByClassIdAndByProgId) {
    ComPtr<ISampler> a;
    ASSERT_EQ(CoCreateInstance(CLSID_Sampler, nullptr, CLSCTX_ALL, ISampler::kIID, a.putVoid()), S_OK);
    CLSID c{};
    ASSERT_EQ(CLSIDFromProgID(u"ObjrtTest.Sampler", &c), S_OK);
    ComPtr<IDispatch> b;
    ASSERT_EQ(CoCreateInstance(c, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, b.putVoid()), S_OK);

    // Two objects, each with one identity across its interfaces.
    ASSERT_EQ(a->put_Level(5), S_OK);
    LONG level = 0;
    ComPtr<ISampler> bs;
    ASSERT_EQ(b.as(bs), S_OK);
    ASSERT_EQ(bs->get_Level(&level), S_OK);
    EXPECT_EQ(level, 0);
    ComPtr<IUnknown> id1, id2;
    ASSERT_EQ(b->QueryInterface(IID_IUnknown, id1.putVoid()), S_OK);
    ASSERT_EQ(bs->QueryInterface(IID_IUnknown, id2.putVoid()), S_OK);
    EXPECT_EQ(id1.get(), id2.get());
    ComPtr<IProvideClassInfo> info;
    EXPECT_EQ(bs.as(info), S_OK);
    ComPtr<IClassFactory> notThere;
    EXPECT_EQ(bs.as(notThere), E_NOINTERFACE);
    EXPECT_EQ(notThere.get(), nullptr);
}

TEST_F(Activation, StatusesNameWhatWentWrong) {
    auto create = [](const GUID& clsid, DWORD ctx = CLSCTX_INPROC_SERVER) {
        void* p = reinterpret_cast<void*>(1);
        HRESULT hr = CoCreateInstance(clsid, nullptr, ctx, IID_IUnknown, &p);
        EXPECT_EQ(p, nullptr);
        return hr;
    };
    const GUID unknown = makeGuid("00000000-1111-2222-3333-444444444444");
    EXPECT_EQ(create(unknown), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(create(CLSID_Sampler, CLSCTX_LOCAL_SERVER), REGDB_E_CLASSNOTREG);

    auto fake = [](const char* clsid, const std::string& path) {
        EXPECT_EQ(reg::setString(Root::ClassesRoot, std::string("CLSID\\") + clsid + "\\InprocServer32", "", path),
                  reg::Status::Ok);
        GUID g{};
        EXPECT_EQ(ObjGuidFromString(clsid, &g), S_OK);
        return g;
    };
    char why[512];
    EXPECT_EQ(create(fake("{0000AAAA-0000-0000-0000-000000000001}", "/no/such/server.so")), CO_E_DLLNOTFOUND);
    ASSERT_GT(ObjLastLoadError(why, sizeof why), 0u);
    EXPECT_NE(std::string(why).find("/no/such/server.so"), std::string::npos) << why;
    EXPECT_EQ(create(fake("{0000AAAA-0000-0000-0000-000000000002}", noEntryPath())), CO_E_ERRORINDLL);
    ObjLastLoadError(why, sizeof why);
    EXPECT_NE(std::string(why).find("DllGetClassObject"), std::string::npos) << why;
    // The server is there but does not offer that class.
    EXPECT_EQ(create(fake("{0000AAAA-0000-0000-0000-000000000003}", registeredPath())), CLASS_E_CLASSNOTAVAILABLE);

    // An uninitialised thread is told so.
    HRESULT onOtherThread = S_OK;
    std::thread([&] { onOtherThread = create(CLSID_Sampler); }).join();
    EXPECT_EQ(onOtherThread, CO_E_NOTINITIALIZED);
}

TEST_F(Activation, ClassFactoryRefusesAggregatesThatAskForMoreThanIUnknown) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_Sampler, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.putVoid()),
              S_OK);
    ComPtr<ISampler> plain;
    ASSERT_EQ(factory->CreateInstance(nullptr, ISampler::kIID, plain.putVoid()), S_OK);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(plain.get(), ISampler::kIID, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, ISampler::kIID, nullptr), E_POINTER);
    EXPECT_EQ(CoCreateInstance(CLSID_Sampler, plain.get(), CLSCTX_INPROC_SERVER, IID_IDispatch, &p),
              CLASS_E_NOAGGREGATION);
    ComPtr<IUnknown> wrong;
    EXPECT_EQ(CoGetClassObject(CLSID_Sampler, CLSCTX_INPROC_SERVER, nullptr, ISampler::kIID, wrong.putVoid()),
              E_NOINTERFACE);
}

TEST_F(Activation, AnAggregatedSamplerActsAsPartOfItsOuterObject) {
    ComPtr<Object<Outer>> outer;
    ASSERT_EQ(Object<Outer>::create(outer), S_OK);
    ComPtr<ISampler> sampler;
    ASSERT_EQ(outer.as(sampler), S_OK);
    ASSERT_EQ(sampler->put_Level(9), S_OK);

    // Everything asked of the inner object's interfaces reaches the outer one.
    ComPtr<IOuter> back;
    ASSERT_EQ(sampler.as(back), S_OK);
    ComPtr<IUnknown> id1, id2;
    ASSERT_EQ(sampler->QueryInterface(IID_IUnknown, id1.putVoid()), S_OK);
    ASSERT_EQ(outer->QueryInterface(IID_IUnknown, id2.putVoid()), S_OK);
    EXPECT_EQ(id1.get(), id2.get());
    const ULONG before = outer->AddRef();
    EXPECT_EQ(sampler->AddRef(), before + 1);
    sampler->Release();
    outer->Release();

    // The inner object's own IUnknown is the only one that is not delegated.
    ComPtr<IUnknown> inner;
    ASSERT_EQ(back->Inner(inner.put()), S_OK);
    EXPECT_NE(inner.get(), id1.get());

    // Late binding works through the aggregate too.
    ComPtr<IDispatch> disp;
    ASSERT_EQ(outer.as(disp), S_OK);
    Variant level;
    EXPECT_EQ(invoke(disp.get(), 1, DISPATCH_PROPERTYGET, {}, level.put()), S_OK);
    EXPECT_EQ(level.lVal, 9);

    // Once the outer object is gone, the server holds nothing alive.
    const std::string path = registeredPath();
    inner = nullptr, back = nullptr, id1 = nullptr, id2 = nullptr, disp = nullptr, sampler = nullptr, outer = nullptr;
    CoFreeUnusedLibraries();
    EXPECT_FALSE(ObjIsLibraryLoaded(path.c_str()));
}

TEST_F(Activation, TheServerIsUnloadedOnceItsLastObjectIsGoneAndLoadsAgain) {
    const std::string path = registeredPath();
    ComPtr<ISampler> s;
    ASSERT_EQ(CoCreateInstance(CLSID_Sampler, nullptr, CLSCTX_INPROC_SERVER, ISampler::kIID, s.putVoid()), S_OK);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(s->GetTypeInfo(0, 0, info.put()), S_OK);
    s = nullptr;
    CoFreeUnusedLibraries();
    // Type information describes the server's tables, so it keeps the server loaded.
    EXPECT_TRUE(ObjIsLibraryLoaded(path.c_str()));
    EXPECT_TRUE(mapped(path));
    info = nullptr;
    CoFreeUnusedLibraries();
    EXPECT_FALSE(ObjIsLibraryLoaded(path.c_str()));
    EXPECT_FALSE(mapped(path));

    ASSERT_EQ(CoCreateInstance(CLSID_Sampler, nullptr, CLSCTX_INPROC_SERVER, ISampler::kIID, s.putVoid()), S_OK);
    EXPECT_EQ(s->put_Level(1), S_OK);
}

TEST_F(Activation, AServerLockKeepsTheLibraryLoadedWithoutObjects) {
    const std::string path = registeredPath();
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_Sampler, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.putVoid()),
              S_OK);
    ASSERT_EQ(factory->LockServer(1), S_OK);
    CoFreeUnusedLibraries();
    EXPECT_TRUE(ObjIsLibraryLoaded(path.c_str()));
    EXPECT_EQ(factory->LockServer(0), S_OK);
    // More unlocks than locks would let the library go while objects live.
    EXPECT_EQ(factory->LockServer(0), E_UNEXPECTED);
    factory = nullptr;
    CoFreeUnusedLibraries();
    EXPECT_FALSE(ObjIsLibraryLoaded(path.c_str()));
}
