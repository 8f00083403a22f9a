// What callers rely on: names, order, types, the default value, subtree
// deletion, and the file staying a faithful JSON document.
#include "tests/platform/registry/RegistryFixture.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>

namespace reg = xel::registry;
using reg::Root;
using reg::Status;
using xeltest::RegistryTest;

namespace {

constexpr Root HKCU = Root::CurrentUser;
constexpr Root HKCR = Root::ClassesRoot;

std::vector<std::string> valueNames(Root root, std::string_view key) {
    std::vector<std::string> names;
    for (const auto& v : reg::values(root, key)) names.push_back(v.name);
    return names;
}

}  // namespace

TEST_F(RegistryTest, NamesKeepFirstSpellingAndMatchIgnoringCase) {
    ASSERT_EQ(reg::setString(HKCU, "Software\\Corvane Labs\\Xelor", "Address", "10.0.0.5"), Status::Ok);
    ASSERT_EQ(reg::setString(HKCU, "SOFTWARE\\corvane labs\\XELOR", "ADDRESS", "10.0.0.6"), Status::Ok);
    EXPECT_EQ(reg::subkeys(HKCU, ""), std::vector<std::string>{"Software"});
    EXPECT_EQ(reg::subkeys(HKCU, "software"), std::vector<std::string>{"Corvane Labs"});
    EXPECT_EQ(valueNames(HKCU, "Software\\Corvane Labs\\Xelor"), std::vector<std::string>{"Address"});
    EXPECT_EQ(reg::getString(HKCU, "software\\CORVANE LABS\\xelor", "address"), "10.0.0.6");
    // Beyond ASCII too: a name typed with another case is the same name.
    ASSERT_EQ(reg::setDword(HKCU, "\xC3\x84rger", "\xC3\xA9t\xC3\xA9", 1), Status::Ok);  // "Ärger", "été"
    ASSERT_EQ(reg::setDword(HKCU, "\xC3\xA4RGER", "\xC3\x89T\xC3\x89", 2), Status::Ok);  // "äRGER", "ÉTÉ"
    EXPECT_EQ(reg::subkeys(HKCU, "").size(), 2u);
    EXPECT_EQ(reg::getDword(HKCU, "\xC3\x84rger", "\xC3\xA9t\xC3\xA9"), 2u);
}

TEST_F(RegistryTest, SubkeysSortIgnoringCaseAndValuesKeepInsertionOrder) {
    for (const char* k : {"beta", "ALPHA2", "Gamma", "Alpha", "_x"}) ASSERT_EQ(reg::createKey(HKCR, k), Status::Ok);
    // A byte-wise sort would put "ALPHA2" before "Alpha" and "_x" between them and the rest.
    EXPECT_EQ(reg::subkeys(HKCR, ""), (std::vector<std::string>{"Alpha", "ALPHA2", "beta", "Gamma", "_x"}));

    ASSERT_EQ(reg::setString(HKCU, "K", "zeta", "1"), Status::Ok);
    ASSERT_EQ(reg::setDword(HKCU, "K", "alpha", 2), Status::Ok);
    ASSERT_EQ(reg::setString(HKCU, "K", "", "default"), Status::Ok);
    ASSERT_EQ(reg::setString(HKCU, "K", "Mid", "3"), Status::Ok);
    // Replacing a value, even with the other type, keeps its place.
    ASSERT_EQ(reg::setString(HKCU, "K", "ALPHA", "two"), Status::Ok);
    EXPECT_EQ(valueNames(HKCU, "K"), (std::vector<std::string>{"zeta", "alpha", "", "Mid"}));
    ASSERT_EQ(reg::deleteValue(HKCU, "K", "zeta"), Status::Ok);
    ASSERT_EQ(reg::setString(HKCU, "K", "zeta", "again"), Status::Ok);
    EXPECT_EQ(valueNames(HKCU, "K"), (std::vector<std::string>{"alpha", "", "Mid", "zeta"}));
}

TEST_F(RegistryTest, DefaultValueIsSeparateFromNamedValues) {
    ASSERT_EQ(reg::createKey(HKCR, "CLSID\\{1}"), Status::Ok);
    std::string text;
    EXPECT_EQ(reg::readString(HKCR, "CLSID\\{1}", "", text), Status::NotFound);  // a new key has none
    ASSERT_EQ(reg::setString(HKCR, "CLSID\\{1}", "", "Xelor core"), Status::Ok);
    ASSERT_EQ(reg::setString(HKCR, "CLSID\\{1}", "Default", "named"), Status::Ok);
    EXPECT_EQ(reg::getString(HKCR, "CLSID\\{1}", ""), "Xelor core");
    EXPECT_EQ(reg::getString(HKCR, "CLSID\\{1}", "default"), "named");
    ASSERT_EQ(reg::deleteValue(HKCR, "CLSID\\{1}", ""), Status::Ok);
    EXPECT_EQ(reg::getString(HKCR, "CLSID\\{1}", ""), std::nullopt);
    EXPECT_EQ(reg::getString(HKCR, "CLSID\\{1}", "Default"), "named");
    // The root holds values of its own.
    ASSERT_EQ(reg::setDword(HKCU, "", "AtRoot", 7), Status::Ok);
    EXPECT_EQ(reg::getDword(HKCU, "", "AtRoot"), 7u);
}

TEST_F(RegistryTest, BothTypesRoundTripAndTheOtherTypeIsRefused) {
    const std::string text = "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5 \"quoted\\\" \t";
    ASSERT_EQ(reg::setString(HKCU, "T", "s", text), Status::Ok);
    ASSERT_EQ(reg::setString(HKCU, "T", "empty", ""), Status::Ok);
    ASSERT_EQ(reg::setDword(HKCU, "T", "max", 0xFFFFFFFFu), Status::Ok);
    ASSERT_EQ(reg::setDword(HKCU, "T", "zero", 0), Status::Ok);
    EXPECT_EQ(reg::getString(HKCU, "T", "s"), text);
    EXPECT_EQ(reg::getString(HKCU, "T", "empty"), "");
    EXPECT_EQ(reg::getDword(HKCU, "T", "max"), 0xFFFFFFFFu);
    EXPECT_EQ(reg::getDword(HKCU, "T", "zero"), 0u);

    std::string s;
    uint32_t n = 0;
    EXPECT_EQ(reg::readString(HKCU, "T", "max", s), Status::WrongType);
    EXPECT_EQ(reg::readDword(HKCU, "T", "s", n), Status::WrongType);
    EXPECT_EQ(reg::getString(HKCU, "T", "zero"), std::nullopt);
    EXPECT_EQ(reg::readDword(HKCU, "T", "missing", n), Status::NotFound);
    EXPECT_EQ(reg::readDword(HKCU, "Nope", "max", n), Status::NotFound);

    const auto vals = reg::values(HKCU, "T");
    ASSERT_EQ(vals.size(), 4u);
    EXPECT_EQ(vals[0].type, reg::ValueInfo::Type::String);
    EXPECT_EQ(vals[0].text, text);
    EXPECT_EQ(vals[2].type, reg::ValueInfo::Type::Dword);
    EXPECT_EQ(vals[2].number, 0xFFFFFFFFu);
}

TEST_F(RegistryTest, MalformedNamesAndDataAreRefusedWithoutWriting) {
    for (const char* key : {"a\\\\b", "\\a", "a\\", "bad\xFFutf8"}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(reg::createKey(HKCU, key), Status::InvalidName);
        EXPECT_EQ(reg::setString(HKCU, key, "v", "x"), Status::InvalidName);
        EXPECT_FALSE(reg::keyExists(HKCU, key));
    }
    EXPECT_EQ(reg::setString(HKCU, std::string_view("a\0b", 3), "v", "x"), Status::InvalidName);
    EXPECT_EQ(reg::setString(HKCU, "k", std::string_view("v\0w", 3), "x"), Status::InvalidName);
    EXPECT_EQ(reg::setString(HKCU, std::string(256, 'k'), "v", "x"), Status::InvalidName);
    EXPECT_EQ(reg::setString(HKCU, "k", "v", std::string_view("x\0y", 3)), Status::InvalidData);
    EXPECT_EQ(reg::setString(HKCU, "k", "v", "\xC0\xAF"), Status::InvalidData);
    EXPECT_EQ(reg::deleteKey(HKCU, ""), Status::InvalidName);  // the root stays
    EXPECT_FALSE(std::filesystem::exists(file()));
    // The longest name and the deepest path a key may have are fine.
    EXPECT_EQ(reg::createKey(HKCU, std::string(255, 'k')), Status::Ok);
    std::string deep = "d";
    for (int i = 1; i < 512; ++i) deep += "\\d";
    EXPECT_EQ(reg::setDword(HKCU, deep, "v", 1), Status::Ok);
    EXPECT_EQ(reg::getDword(HKCU, deep, "v"), 1u);
    EXPECT_EQ(reg::createKey(HKCU, deep + "\\d"), Status::InvalidName);
}

TEST_F(RegistryTest, DeleteKeyTakesItsWholeSubtreeAndNothingElse) {
    ASSERT_EQ(reg::setString(HKCR, "App\\Sub\\Deep", "v", "1"), Status::Ok);
    ASSERT_EQ(reg::setString(HKCR, "App\\Other", "", "2"), Status::Ok);
    ASSERT_EQ(reg::setString(HKCR, "Application", "", "kept"), Status::Ok);  // shares a prefix
    ASSERT_EQ(reg::setString(HKCU, "App", "", "other root"), Status::Ok);

    ASSERT_EQ(reg::deleteKey(HKCR, "APP"), Status::Ok);
    EXPECT_FALSE(reg::keyExists(HKCR, "App"));
    EXPECT_FALSE(reg::keyExists(HKCR, "App\\Sub\\Deep"));
    EXPECT_EQ(reg::getString(HKCR, "Application", ""), "kept");
    EXPECT_EQ(reg::getString(HKCU, "App", ""), "other root");

    // Re-creating the key finds nothing of the old subtree.
    ASSERT_EQ(reg::createKey(HKCR, "App"), Status::Ok);
    EXPECT_TRUE(reg::subkeys(HKCR, "App").empty());
    EXPECT_EQ(reg::deleteKey(HKCR, "App\\Sub"), Status::NotFound);
    EXPECT_EQ(reg::deleteKey(HKCR, "Missing\\Sub"), Status::NotFound);
    EXPECT_EQ(reg::deleteValue(HKCR, "Application", "nope"), Status::NotFound);
}

TEST_F(RegistryTest, FileHasTheDocumentedShapeAndPrivateModes) {
    ASSERT_EQ(reg::setString(HKCU, "Software\\X", "", "d"), Status::Ok);
    ASSERT_EQ(reg::setDword(HKCR, "C", "n", 5), Status::Ok);
    EXPECT_EQ(reg::userStateDir(), stateDir());

    const auto doc = nlohmann::json::parse(slurp(file()));
    EXPECT_EQ(doc["version"], 1);
    const auto& sw = doc["HKEY_CURRENT_USER"]["keys"][0];
    EXPECT_EQ(sw["name"], "Software");
    EXPECT_EQ(sw["keys"][0]["name"], "X");
    EXPECT_EQ(sw["keys"][0]["values"][0], (nlohmann::json{{"name", ""}, {"type", "REG_SZ"}, {"data", "d"}}));
    EXPECT_EQ(doc["HKEY_CLASSES_ROOT"]["keys"][0]["values"][0],
              (nlohmann::json{{"name", "n"}, {"type", "REG_DWORD"}, {"data", 5}}));

    struct stat st {};
    ASSERT_EQ(::stat(stateDir().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u) << "the registry is readable by others";
    EXPECT_TRUE(filesStartingWith("registry.json.tmp").empty());
}

TEST_F(RegistryTest, UnknownFieldsAndValueTypesSurviveRewrites) {
    spill(file(), R"({"version":1,"note":"by hand","HKEY_CURRENT_USER":{"name":"HKEY_CURRENT_USER","color":"red",
    "values":[{"name":"blob","type":"REG_BINARY","data":"AAEC","why":"later"},
              {"name":"neg","type":"REG_DWORD","data":-1}],
    "keys":[{"name":"Kept","extra":[1,2],"keys":[],"values":[{"name":"v","type":"REG_SZ","data":"x","tag":7}]}]}})");
    ASSERT_EQ(reg::setString(HKCU, "Kept", "v", "y"), Status::Ok);
    ASSERT_EQ(reg::createKey(HKCU, "New"), Status::Ok);

    const auto doc = nlohmann::json::parse(slurp(file()));
    EXPECT_EQ(doc["note"], "by hand");
    const auto& cu = doc["HKEY_CURRENT_USER"];
    EXPECT_EQ(cu["color"], "red");
    EXPECT_EQ(cu["values"][0]["why"], "later");
    EXPECT_EQ(cu["values"][0]["data"], "AAEC");
    EXPECT_EQ(cu["keys"][0]["extra"], (nlohmann::json{1, 2}));
    EXPECT_EQ(cu["keys"][0]["values"][0]["tag"], 7);
    EXPECT_EQ(cu["keys"][0]["values"][0]["data"], "y");
    // Values the registry cannot type are kept but offered to nobody.
    std::string s;
    EXPECT_EQ(reg::readString(HKCU, "", "blob", s), Status::WrongType);
    uint32_t n = 0;
    EXPECT_EQ(reg::readDword(HKCU, "", "neg", n), Status::WrongType);
    EXPECT_TRUE(reg::values(HKCU, "").empty());
    EXPECT_EQ(newWarning(), "");
}

TEST_F(RegistryTest, FileFromANewerFormatIsReadButNotRewritten) {
    const std::string original =
        R"({"version":2,"HKEY_CURRENT_USER":{"name":"HKEY_CURRENT_USER","keys":[{"name":"K","values":[{"name":"v","type":"REG_SZ","data":"x"}]}]}})";
    spill(file(), original);
    EXPECT_EQ(reg::getString(HKCU, "K", "v"), "x");
    EXPECT_EQ(reg::setString(HKCU, "K", "v", "y"), Status::IoError);
    EXPECT_EQ(slurp(file()), original);
    EXPECT_NE(newWarning().find("newer"), std::string::npos);
}

TEST_F(RegistryTest, EditAppliesAllOrNothing) {
    ASSERT_EQ(reg::edit([](reg::Editor& e) {
                  EXPECT_EQ(e.setString(HKCR, "Xelor.Core\\CLSID", "", "{A}"), Status::Ok);
                  EXPECT_EQ(e.setString(HKCR, "CLSID\\{A}\\InprocServer32", "", "/lib/libxelor.so"), Status::Ok);
                  // Reads inside the edit see its own pending changes, through the
                  // editor or through the plain functions.
                  EXPECT_EQ(e.getString(HKCR, "Xelor.Core\\CLSID", ""), "{A}");
                  EXPECT_EQ(reg::getString(HKCR, "CLSID\\{A}\\InprocServer32", ""), "/lib/libxelor.so");
                  return reg::setDword(HKCR, "CLSID\\{A}", "Flags", 1);
              }),
              Status::Ok);
    EXPECT_EQ(reg::getDword(HKCR, "CLSID\\{A}", "Flags"), 1u);
    EXPECT_EQ(reg::getString(HKCR, "Xelor.Core\\CLSID", ""), "{A}");

    const std::string before = slurp(file());
    EXPECT_EQ(reg::edit([](reg::Editor& e) {
                  EXPECT_EQ(e.deleteKey(HKCR, "CLSID"), Status::Ok);
                  return Status::NotFound;  // the caller gives up half way
              }),
              Status::NotFound);
    EXPECT_EQ(reg::edit([](reg::Editor& e) -> Status {
                  (void)e.deleteKey(HKCR, "CLSID");
                  throw std::runtime_error("caller failed");
              }),
              Status::IoError);
    // A nested edit that fails is undone inside the outer one, which goes on.
    EXPECT_EQ(reg::edit([](reg::Editor& e) {
                  EXPECT_EQ(reg::edit([](reg::Editor& inner) {
                                (void)inner.deleteKey(HKCR, "CLSID");
                                return Status::InvalidName;
                            }),
                            Status::InvalidName);
                  return e.keyExists(HKCR, "CLSID\\{A}") ? Status::Ok : Status::NotFound;
              }),
              Status::Ok);
    EXPECT_EQ(slurp(file()), before);
}

TEST_F(RegistryTest, UnchangedValuesDoNotRewriteTheFile) {
    ASSERT_EQ(reg::setString(HKCU, "K", "v", "same"), Status::Ok);
    struct stat before {};
    ASSERT_EQ(::stat(file().c_str(), &before), 0);
    ASSERT_EQ(reg::setString(HKCU, "k", "V", "same"), Status::Ok);
    ASSERT_EQ(reg::createKey(HKCU, "K"), Status::Ok);
    struct stat after {};
    ASSERT_EQ(::stat(file().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "the file was replaced although nothing changed";
    ASSERT_EQ(reg::setString(HKCU, "K", "v", "other"), Status::Ok);
    ASSERT_EQ(::stat(file().c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
}

TEST_F(RegistryTest, StateFolderFollowsXdgConfigHomeThenHome) {
    const std::filesystem::path xdg = home_ / "cfg";
    ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
    EXPECT_EQ(reg::userStateDir(), xdg / "xelor");
    struct stat st {};
    ASSERT_EQ(::stat((xdg / "xelor").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome != nullptr ? oldHome : "";
    ::setenv("HOME", (home_ / "h").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", "relative/cfg", 1);  // a relative setting is ignored
    EXPECT_EQ(reg::userStateDir(), home_ / "h" / ".config" / "xelor");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(reg::userStateDir(), home_ / "h" / ".config" / "xelor");
    EXPECT_TRUE(std::filesystem::is_directory(home_ / "h" / ".config" / "xelor"));
    ASSERT_EQ(reg::setDword(HKCU, "K", "v", 1), Status::Ok);
    EXPECT_TRUE(std::filesystem::exists(home_ / "h" / ".config" / "xelor" / "registry.json"));
    if (oldHome != nullptr) {
        ::setenv("HOME", savedHome.c_str(), 1);
    } else {
        ::unsetenv("HOME");
    }
}
