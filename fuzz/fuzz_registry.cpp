// The registry file as whatever left it: hand-edited, truncated, written by a
// newer version, or not JSON at all. Reading must never crash, what it offers
// must hold together, a damaged file is kept aside whole, and a change keeps
// everything else that was readable.
//
// Input: the contents of registry.json.
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/registry/Registry.h"

namespace {

namespace fs = std::filesystem;
using namespace xel::registry;

constexpr size_t kMostKeysWalked = 8;
// The key the harness writes: no letter of it has a non-ASCII form that folds
// to it (as dotless i folds to I), so no other name in a file can be this key.
constexpr std::string_view kWritten = "Fuzz\\Output";

const fs::path& stateFolder() {
    static const fs::path f = [] {
        const fs::path home = xel::fuzz::scratchFolder() / "config";
        fs::create_directories(home / "xelor");
        // The registry lives in $XDG_CONFIG_HOME/xelor; an empty machine layer
        // of its own keeps a registry installed on this machine out of the checks.
        ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
        ::setenv("XELOR_SYSTEM_ROOT", (xel::fuzz::scratchFolder() / "system").c_str(), 1);
        return home / "xelor";
    }();
    return f;
}

bool isAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Names compare ignoring case; for ASCII names that is the plain upper case.
bool sameAsciiName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (static_cast<unsigned char>(x) >= 0x80 || static_cast<unsigned char>(y) >= 0x80) return false;
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

bool sameValue(const ValueInfo& a, const ValueInfo& b) {
    return a.name == b.name && a.type == b.type && a.text == b.text && a.number == b.number;
}

struct KeySeen {
    Root root;
    std::string path;
    std::vector<std::string> subkeys;
    std::vector<ValueInfo> values;
};

// What the registry offers: a few keys from each root, breadth first.
std::vector<KeySeen> walk() {
    std::vector<KeySeen> seen;
    std::deque<std::pair<Root, std::string>> todo{{Root::CurrentUser, ""}, {Root::ClassesRoot, ""}};
    while (!todo.empty() && seen.size() < kMostKeysWalked) {
        auto [root, path] = todo.front();
        todo.pop_front();
        KeySeen k{root, path, subkeys(root, path), values(root, path)};
        for (const std::string& name : k.subkeys) {
            // A name that cannot be a path component is listed but cannot be opened.
            if (name.empty() || name.find('\\') != std::string::npos || name.find('\0') != std::string::npos) continue;
            todo.emplace_back(root, path.empty() ? name : path + "\\" + name);
        }
        seen.push_back(std::move(k));
    }
    return seen;
}

// Every value listed reads back through the single-value calls.
void checkValues(const KeySeen& k) {
    // Outside ASCII, names of different spelling may fold together (dotless i).
    bool allAscii = true;
    for (const ValueInfo& v : k.values) allAscii = allAscii && isAscii(v.name);
    for (const ValueInfo& v : k.values) {
        std::string text;
        uint32_t number = 0;
        const Status s = v.type == ValueInfo::Type::String ? readString(k.root, k.path, v.name, text)
                                                           : readDword(k.root, k.path, v.name, number);
        if (s == Status::InvalidName) continue;  // a name the file holds but no caller could pass
        // The value exists; an earlier value of the same name may have the other type.
        FUZZ_CHECK(s == Status::Ok || s == Status::WrongType);
        if (s != Status::Ok) continue;
        bool matched = false;
        for (const ValueInfo& o : k.values) {
            if (o.type != v.type || !(o.name == v.name || sameAsciiName(o.name, v.name))) continue;
            matched = matched || (v.type == ValueInfo::Type::String ? o.text == text : o.number == number);
        }
        if (allAscii) FUZZ_CHECK(matched);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    (void)stateFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path& state = stateFolder();
    xel::fuzz::clearFolder(state);
    const std::string_view original = xel::fuzz::asText({data, size});
    xel::fuzz::writeFile(state / "registry.json", original);

    const std::vector<KeySeen> before = walk();
    for (const KeySeen& k : before) checkValues(k);

    // A file the registry could not use is kept aside as it was.
    for (const fs::directory_entry& e : fs::directory_iterator(state)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("registry.json.corrupt-", 0) == 0) FUZZ_CHECK(xel::fuzz::readFile(e.path()) == original);
    }

    const std::string current = xel::fuzz::readFile(state / "registry.json");
    const Status written = setString(Root::CurrentUser, kWritten, "Name", "text");
    if (written != Status::Ok) {
        // Only a file from a newer version is refused, and it stays exactly as it was.
        FUZZ_CHECK(written == Status::IoError);
        FUZZ_CHECK(xel::fuzz::readFile(state / "registry.json") == current);
        return 0;
    }
    FUZZ_CHECK(getString(Root::CurrentUser, "fuzz\\OUTPUT", "name") == "text");

    // Nothing that could be read before the change is lost by it.
    for (const KeySeen& k : before) {
        const std::vector<std::string> keysAfter = subkeys(k.root, k.path);
        for (const std::string& name : k.subkeys) {
            bool kept = false;
            for (const std::string& a : keysAfter) kept = kept || a == name;
            FUZZ_CHECK(kept);
        }
        const std::vector<ValueInfo> valuesAfter = values(k.root, k.path);
        if (k.root == Root::CurrentUser && sameAsciiName(k.path, kWritten)) continue;
        FUZZ_CHECK(valuesAfter.size() == k.values.size());
        for (size_t i = 0; i < valuesAfter.size(); ++i) FUZZ_CHECK(sameValue(valuesAfter[i], k.values[i]));
    }
    return 0;
}
