// The machine layer under the user's classes: what a package registers for
// every user, what a user's own registration overrides, and what neither may
// do to the other's file.
#include "tests/platform/registry/RegistryFixture.h"

#include <sys/stat.h>

#include <algorithm>

namespace reg = xel::registry;
using reg::Layer;
using reg::Root;
using reg::Status;
using xeltest::RegistryTest;

namespace {

constexpr Root HKCU = Root::CurrentUser;
constexpr Root HKCR = Root::ClassesRoot;

const char* const kServer = "CLSID\\{5A0C2F61-0000-4000-8000-000000000001}\\InprocServer32";

mode_t modeOf(const std::filesystem::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
}

// Writes through the registry itself, as the registration tool does.
void inMachineLayer(const std::function<void()>& fn) {
    reg::selectLayer(Layer::Machine);
    fn();
    reg::selectLayer(Layer::User);
}

}  // namespace

TEST_F(RegistryTest, TheUsersRegistrationOverridesTheMachinesAndFallsBackWhenDeleted) {
    inMachineLayer([] {
        ASSERT_EQ(reg::setString(HKCR, kServer, "", "/usr/lib/xelor/libxelor.so"), Status::Ok);
        ASSERT_EQ(reg::setString(HKCR, kServer, "ThreadingModel", "apartment"), Status::Ok);
        ASSERT_EQ(reg::setDword(HKCR, "Xelor.Core", "Flags", 7), Status::Ok);
        // Per-user settings stay in the user's file even now.
        ASSERT_EQ(reg::setString(HKCU, "Software\\Xelor", "Address", "COM3"), Status::Ok);
    });
    EXPECT_EQ(slurp(file()).find("libxelor"), std::string::npos) << "a class went to the user's file";
    EXPECT_EQ(reg::getString(HKCU, "Software\\Xelor", "Address"), "COM3");
    EXPECT_EQ(reg::getString(HKCR, kServer, ""), "/usr/lib/xelor/libxelor.so") << "the machine's class is not seen";
    EXPECT_EQ(reg::getDword(HKCR, "xelor.core", "flags"), 7u);

    ASSERT_EQ(reg::setString(HKCR, kServer, "", "/home/op/build/libxelor.so"), Status::Ok);
    EXPECT_EQ(reg::getString(HKCR, kServer, ""), "/home/op/build/libxelor.so") << "the user's own build must win";
    // Values: the user's, then the machine's that the user has none of.
    const auto values = reg::values(HKCR, kServer);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].text, "/home/op/build/libxelor.so");
    EXPECT_EQ(values[1].name, "ThreadingModel");
    std::string text;
    EXPECT_EQ(reg::readString(HKCR, "Xelor.Core", "Flags", text), Status::WrongType);

    ASSERT_EQ(reg::deleteKey(HKCR, "CLSID"), Status::Ok);
    EXPECT_EQ(reg::getString(HKCR, kServer, ""), "/usr/lib/xelor/libxelor.so")
        << "no fall-back after the user's removal";
    EXPECT_EQ(reg::deleteKey(HKCR, "Xelor.Core"), Status::NotFound) << "a user's change reached the machine's entry";
    EXPECT_TRUE(reg::keyExists(HKCR, "Xelor.Core"));
}

TEST_F(RegistryTest, SubkeysAreTheUnionOfBothFilesAndAnEmptyUserKeyHidesNothing) {
    inMachineLayer([] {
        for (const char* id : {"{A}", "{B}", "{D}"})
            ASSERT_EQ(reg::createKey(HKCR, std::string("CLSID\\") + id), Status::Ok);
    });
    ASSERT_EQ(reg::createKey(HKCR, "CLSID"), Status::Ok);
    EXPECT_EQ(reg::subkeys(HKCR, "CLSID"), (std::vector<std::string>{"{A}", "{B}", "{D}"}));
    ASSERT_EQ(reg::createKey(HKCR, "clsid\\{b}"), Status::Ok);
    ASSERT_EQ(reg::createKey(HKCR, "clsid\\{C}"), Status::Ok);
    EXPECT_EQ(reg::subkeys(HKCR, "CLSID"), (std::vector<std::string>{"{A}", "{b}", "{C}", "{D}"}))
        << "one entry per name, sorted, spelled as the user wrote it";
    EXPECT_EQ(reg::subkeys(HKCR, ""), std::vector<std::string>{"CLSID"});
}

TEST_F(RegistryTest, AnEditSeesOnlyTheFileItChangesAndTheMachineFileHoldsNoUserSettings) {
    spill(machineFile(), R"({"version":1,
    "HKEY_CURRENT_USER":{"name":"HKEY_CURRENT_USER","keys":[{"name":"Software","values":[{"name":"x","type":"REG_SZ","data":"machine"}]}]},
    "HKEY_CLASSES_ROOT":{"name":"HKEY_CLASSES_ROOT","keys":[{"name":"AppID","keys":[{"name":"{E}"}]}]}})");
    EXPECT_FALSE(reg::keyExists(HKCU, "Software")) << "the machine file's HKEY_CURRENT_USER was read";
    EXPECT_TRUE(reg::keyExists(HKCR, "AppID\\{E}"));
    // A user's unregistration must not think it removed the machine's entries.
    EXPECT_EQ(reg::edit([](reg::Editor& e) { return e.keyExists(HKCR, "AppID\\{E}") ? Status::Ok : Status::NotFound; }),
              Status::NotFound);

    reg::selectLayer(Layer::Machine);
    EXPECT_EQ(reg::edit([](reg::Editor& e) { return e.setString(HKCU, "Software", "x", "y"); }), Status::InvalidName);
    EXPECT_EQ(reg::edit([](reg::Editor& e) { return e.deleteKey(HKCR, "AppID\\{E}"); }), Status::Ok);
    reg::selectLayer(Layer::User);
    EXPECT_FALSE(reg::keyExists(HKCR, "AppID\\{E}"));
    EXPECT_NE(slurp(machineFile()).find("machine"), std::string::npos)
        << "unknown content of the machine file was lost";
}

TEST_F(RegistryTest, TheMachineFileIsReadableByEveryoneWhateverTheUmask) {
    const mode_t saved = ::umask(077);
    inMachineLayer([] { ASSERT_EQ(reg::createKey(HKCR, "Xelor.Core"), Status::Ok); });
    ::umask(saved);
    EXPECT_EQ(modeOf(machineFile()), 0644u);
    EXPECT_EQ(modeOf(machineDir()), 0755u);
    EXPECT_EQ(modeOf(machineDir().parent_path()), 0755u);
    EXPECT_FALSE(std::filesystem::exists(stateDir() / "registry.json")) << "the machine layer wrote the user's file";
}

TEST_F(RegistryTest, ADamagedMachineFileIsReportedIgnoredAndNeverRewritten) {
    const std::string damaged = R"({"version":1,"HKEY_CLASSES_ROOT":{"name":"HKEY_CLASSES_ROOT","keys":[{"name":"CLS)";
    spill(machineFile(), damaged);
    ASSERT_EQ(reg::setString(HKCR, "Xelor.Core\\CLSID", "", "{X}"), Status::Ok);
    EXPECT_EQ(reg::getString(HKCR, "Xelor.Core\\CLSID", ""), "{X}") << "the user's classes must still be read";
    EXPECT_EQ(reg::subkeys(HKCR, ""), std::vector<std::string>{"Xelor.Core"});
    EXPECT_NE(newWarning().find("machine registry " + machineFile().string()), std::string::npos) << newWarning();
    EXPECT_EQ(slurp(machineFile()), damaged);
    for (const auto& e : std::filesystem::directory_iterator(machineDir()))
        EXPECT_EQ(e.path(), machineFile()) << "a user's program left something in the machine folder";

    // A user file that cannot be used at all leaves the machine's classes usable
    // (a service without a home folder).
    inMachineLayer([] { ASSERT_EQ(reg::setString(HKCR, kServer, "", "/usr/lib/xelor/libxelor.so"), Status::Ok); });
    ::setenv("XDG_CONFIG_HOME", "/dev/null/nowhere", 1);
    EXPECT_EQ(reg::getString(HKCR, kServer, ""), "/usr/lib/xelor/libxelor.so");
}
