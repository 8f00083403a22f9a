#include "platform/registry/Registry.h"

#include "platform/codepage/CodePage.h"
#include "platform/registry/RegistryFile.h"

#include <locale.h>
#include <wctype.h>
#include <algorithm>
#include <atomic>
#include <utility>

namespace xel::registry {

using nlohmann::json;

struct Editor::State {
    json* doc = nullptr;
    bool changed = false;
    // An edit of the machine file: per-user settings have no place there.
    bool classesOnly = false;
};

namespace {

// Windows counts these in UTF-16 units; code points are close enough and
// never split a character.
constexpr std::size_t kMaxKeyNameChars = 255;
constexpr std::size_t kMaxValueNameChars = 16383;

const char* rootName(Root root) { return root == Root::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_CLASSES_ROOT"; }

// ---- names ---------------------------------------------------------------

// Names compare by their simple upper-case form. C.UTF-8 is built into the C
// library, so the folding does not depend on the user's locale.
locale_t foldingLocale() {
    static const locale_t loc = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return loc;
}

std::u32string fold(std::string_view utf8) {
    const std::u16string wide = cp::utf8ToUtf16(utf8);
    const locale_t loc = foldingLocale();
    std::u32string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t c = wide[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
        }
        if (c < 0x80) {
            if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
        } else if (loc != static_cast<locale_t>(0)) {
            c = static_cast<char32_t>(::towupper_l(static_cast<wint_t>(c), loc));
        }
        out.push_back(c);
    }
    return out;
}

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Lookups compare a name with every sibling, so the common all-ASCII case
// avoids building folded copies.
bool sameName(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (isAscii(a) && isAscii(b)) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiUpper(x) == asciiUpper(y); });
    }
    return fold(a) == fold(b);
}

bool validName(std::string_view name, std::size_t maxChars) {
    if (!cp::isValidUtf8(name) || name.find('\0') != std::string_view::npos) return false;
    // Every byte that is not a continuation byte starts a character.
    const auto chars =
        std::count_if(name.begin(), name.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
    return static_cast<std::size_t>(chars) <= maxChars;
}

// Splits "A\B\C" into its components; "" is the root. A leading, trailing or
// doubled separator is an empty component and so an invalid name.
bool splitPath(std::string_view key, std::vector<std::string_view>& parts) {
    parts.clear();
    if (key.empty()) return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = key.find('\\', start);
        const std::string_view part = key.substr(start, end == std::string_view::npos ? end : end - start);
        if (part.empty() || !validName(part, kMaxKeyNameChars)) return false;
        parts.push_back(part);
        if (parts.size() > detail::kMaxKeyDepth) return false;
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

// ---- the key tree --------------------------------------------------------

std::string_view nameOf(const json& node) { return node["name"].get_ref<const std::string&>(); }

template <class Json>
Json* findIn(Json& list, std::string_view name) {
    if (!list.is_array()) return nullptr;
    for (auto& item : list) {
        if (sameName(nameOf(item), name)) return &item;
    }
    return nullptr;
}

const json* findKey(const json& doc, Root root, const std::vector<std::string_view>& parts) {
    const auto it = doc.find(rootName(root));
    if (it == doc.end()) return nullptr;
    const json* key = &*it;
    for (std::string_view part : parts) {
        const auto keys = key->find("keys");
        if (keys == key->end()) return nullptr;
        key = findIn(*keys, part);
        if (key == nullptr) return nullptr;
    }
    return key;
}

json* findKey(json& doc, Root root, const std::vector<std::string_view>& parts) {
    return const_cast<json*>(findKey(std::as_const(doc), root, parts));
}

// Walks to the key, creating what is missing; subkeys are inserted in their
// sorted place so the file reads in the order the keys enumerate.
json& makeKey(json& doc, Root root, const std::vector<std::string_view>& parts, bool& created) {
    json* key = &doc[rootName(root)];
    for (std::string_view part : parts) {
        json& keys = (*key)["keys"];
        if (!keys.is_array()) keys = json::array();
        if (json* found = findIn(keys, part)) {
            key = found;
            continue;
        }
        const std::u32string folded = fold(part);
        const auto pos =
            std::find_if(keys.begin(), keys.end(), [&](const json& k) { return fold(nameOf(k)) > folded; });
        const auto inserted =
            keys.insert(pos, json{{"name", part}, {"values", json::array()}, {"keys", json::array()}});
        key = &*inserted;
        created = true;
    }
    return *key;
}

enum class Kind { String, Dword, Other };

// What a stored value holds; an unknown type or malformed data is kept in the
// file as it is but offered to nobody.
Kind kindOf(const json& value) {
    const auto type = value.find("type");
    const auto data = value.find("data");
    if (type == value.end() || data == value.end() || !type->is_string()) return Kind::Other;
    if (*type == "REG_SZ" && data->is_string()) return Kind::String;
    if (*type == "REG_DWORD" && data->is_number_unsigned() && data->get<std::uint64_t>() <= 0xFFFFFFFFu) {
        return Kind::Dword;
    }
    return Kind::Other;
}

Status setValue(Editor::State& st, Root root, std::string_view key, std::string_view name, const char* type,
                json data) {
    std::vector<std::string_view> parts;
    if (!splitPath(key, parts) || !validName(name, kMaxValueNameChars)) return Status::InvalidName;
    bool created = false;
    json& node = makeKey(*st.doc, root, parts, created);
    st.changed |= created;
    json& values = node["values"];
    if (!values.is_array()) values = json::array();
    if (json* existing = findIn(values, name)) {
        // Rewriting what is already there changes nothing, so costs no write.
        if ((*existing)["type"] != type || (*existing)["data"] != data) {
            (*existing)["type"] = type;
            (*existing)["data"] = std::move(data);
            st.changed = true;
        }
        return Status::Ok;
    }
    values.push_back(json{{"name", name}, {"type", type}, {"data", std::move(data)}});
    st.changed = true;
    return Status::Ok;
}

Status findValue(const Editor::State& st, Root root, std::string_view key, std::string_view name, const json*& out) {
    std::vector<std::string_view> parts;
    if (!splitPath(key, parts) || !validName(name, kMaxValueNameChars)) return Status::InvalidName;
    const json* node = findKey(*st.doc, root, parts);
    if (node == nullptr) return Status::NotFound;
    const auto values = node->find("values");
    if (values == node->end()) return Status::NotFound;
    out = findIn(*values, name);
    return out == nullptr ? Status::NotFound : Status::Ok;
}

// ---- sessions ------------------------------------------------------------

// The state of the edit() running on this thread, if any: a registry call made
// from inside the callback works on it instead of waiting for its own lock.
thread_local Editor::State* tActive = nullptr;

std::atomic<Layer> gLayer{Layer::User};

// The file a change of root goes to.
Layer layerFor(Root root) { return root == Root::CurrentUser ? Layer::User : gLayer.load(); }

class ActiveScope {
public:
    explicit ActiveScope(Editor::State* st) : saved_(tActive) { tActive = st; }
    ~ActiveScope() { tActive = saved_; }
    ActiveScope(const ActiveScope&) = delete;
    ActiveScope& operator=(const ActiveScope&) = delete;

private:
    Editor::State* saved_;
};

// Runs fn on the current file under the exclusive lock and saves if it changed
// something. fn must leave the state untouched when it fails.
template <class Fn>
Status change(Layer layer, Fn&& fn) {
    try {
        if (tActive != nullptr) {
            Editor editor(tActive);
            return fn(editor);
        }
        detail::FileSession session(layer);
        if (session.open(detail::FileSession::Mode::Exclusive) != detail::FileSession::Open::Ok) {
            return Status::IoError;
        }
        Editor::State st{&session.doc(), false, layer == Layer::Machine};
        Status result;
        {
            ActiveScope scope(&st);
            Editor editor(&st);
            result = fn(editor);
        }
        if (result != Status::Ok || !st.changed) return result;
        return session.save();
    } catch (...) {
        detail::warn("a registry change failed unexpectedly (out of memory?); nothing was written");
        return Status::IoError;
    }
}

// Runs fn on the current file under the shared lock. False when the file could
// not be read at all.
template <class Fn>
bool inspect(Fn&& fn) {
    try {
        if (tActive != nullptr) {
            const Editor editor(tActive);
            fn(editor);
            return true;
        }
        detail::FileSession session;
        auto opened = session.open(detail::FileSession::Mode::Shared);
        if (opened == detail::FileSession::Open::NeedExclusive) {
            // Only a writer may move a damaged file aside.
            opened = session.open(detail::FileSession::Mode::Exclusive);
        }
        if (opened != detail::FileSession::Open::Ok) return false;
        Editor::State st{&session.doc()};
        const Editor editor(&st);
        fn(editor);
        return true;
    } catch (...) {
        return false;
    }
}

// Runs fn on the machine file's classes when a read of root goes on to the
// machine layer: outside an edit, for HKEY_CLASSES_ROOT. False otherwise, or
// when the file could not be looked at.
template <class Fn>
bool inspectMachine(Root root, Fn&& fn) {
    if (root != Root::ClassesRoot || tActive != nullptr) return false;
    try {
        const std::shared_ptr<json> doc = detail::machineDocument();
        Editor::State st{doc.get()};
        const Editor editor(&st);
        fn(editor);
        return true;
    } catch (...) {
        return false;
    }
}

// A value read: the user's, else the machine's. A user file that cannot be read
// leaves the machine's registration usable (a service without a home folder).
template <class Read>
Status readLayered(Root root, Read&& read) {
    Status s = Status::IoError;
    (void)inspect([&](const Editor& e) { s = read(e); });
    if (s == Status::NotFound || s == Status::IoError) {
        Status m = Status::IoError;
        if (inspectMachine(root, [&](const Editor& e) { m = read(e); }) && (m == Status::Ok || s == Status::NotFound)) {
            s = m;
        }
    }
    return s;
}

}  // namespace

const char* toString(Status s) {
    switch (s) {
        case Status::Ok: return "ok";
        case Status::NotFound: return "not found";
        case Status::InvalidName: return "invalid name";
        case Status::WrongType: return "wrong type";
        case Status::IoError: return "input/output error";
        case Status::InvalidData: return "invalid data";
    }
    return "unknown status";
}

// ---- Editor --------------------------------------------------------------

bool Editor::refused(Root root) const { return state_->classesOnly && root == Root::CurrentUser; }

Status Editor::createKey(Root root, std::string_view key) {
    std::vector<std::string_view> parts;
    if (refused(root) || !splitPath(key, parts)) return Status::InvalidName;
    bool created = false;
    makeKey(*state_->doc, root, parts, created);
    state_->changed |= created;
    return Status::Ok;
}

bool Editor::keyExists(Root root, std::string_view key) const {
    std::vector<std::string_view> parts;
    return !refused(root) && splitPath(key, parts) && findKey(*state_->doc, root, parts) != nullptr;
}

Status Editor::setString(Root root, std::string_view key, std::string_view name, std::string_view value) {
    // A NUL would end the text for any reader that takes it as a C string.
    if (refused(root)) return Status::InvalidName;
    if (!cp::isValidUtf8(value) || value.find('\0') != std::string_view::npos) return Status::InvalidData;
    return setValue(*state_, root, key, name, "REG_SZ", json(value));
}

Status Editor::setDword(Root root, std::string_view key, std::string_view name, uint32_t value) {
    if (refused(root)) return Status::InvalidName;
    return setValue(*state_, root, key, name, "REG_DWORD", json(value));
}

Status Editor::readString(Root root, std::string_view key, std::string_view name, std::string& out) const {
    if (refused(root)) return Status::InvalidName;
    const json* value = nullptr;
    const Status s = findValue(*state_, root, key, name, value);
    if (s != Status::Ok) return s;
    if (kindOf(*value) != Kind::String) return Status::WrongType;
    out = (*value)["data"].get<std::string>();
    return Status::Ok;
}

Status Editor::readDword(Root root, std::string_view key, std::string_view name, uint32_t& out) const {
    if (refused(root)) return Status::InvalidName;
    const json* value = nullptr;
    const Status s = findValue(*state_, root, key, name, value);
    if (s != Status::Ok) return s;
    if (kindOf(*value) != Kind::Dword) return Status::WrongType;
    out = (*value)["data"].get<uint32_t>();
    return Status::Ok;
}

std::optional<std::string> Editor::getString(Root root, std::string_view key, std::string_view name) const {
    std::string out;
    if (readString(root, key, name, out) != Status::Ok) return std::nullopt;
    return out;
}

std::optional<uint32_t> Editor::getDword(Root root, std::string_view key, std::string_view name) const {
    uint32_t out = 0;
    if (readDword(root, key, name, out) != Status::Ok) return std::nullopt;
    return out;
}

std::vector<std::string> Editor::subkeys(Root root, std::string_view key) const {
    std::vector<std::string_view> parts;
    if (refused(root) || !splitPath(key, parts)) return {};
    const json* node = findKey(*state_->doc, root, parts);
    if (node == nullptr || !node->contains("keys")) return {};
    std::vector<std::pair<std::u32string, std::string>> sorted;
    for (const json& k : (*node)["keys"]) sorted.emplace_back(fold(nameOf(k)), std::string(nameOf(k)));
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    names.reserve(sorted.size());
    for (auto& entry : sorted) names.push_back(std::move(entry.second));
    return names;
}

std::vector<ValueInfo> Editor::values(Root root, std::string_view key) const {
    std::vector<std::string_view> parts;
    if (refused(root) || !splitPath(key, parts)) return {};
    const json* node = findKey(*state_->doc, root, parts);
    if (node == nullptr || !node->contains("values")) return {};
    std::vector<ValueInfo> out;
    for (const json& v : (*node)["values"]) {
        ValueInfo info;
        info.name = nameOf(v);
        switch (kindOf(v)) {
            case Kind::String:
                info.type = ValueInfo::Type::String;
                info.text = v["data"].get<std::string>();
                break;
            case Kind::Dword:
                info.type = ValueInfo::Type::Dword;
                info.number = v["data"].get<uint32_t>();
                break;
            case Kind::Other: continue;
        }
        out.push_back(std::move(info));
    }
    return out;
}

Status Editor::deleteValue(Root root, std::string_view key, std::string_view name) {
    std::vector<std::string_view> parts;
    if (refused(root) || !splitPath(key, parts) || !validName(name, kMaxValueNameChars)) return Status::InvalidName;
    json* node = findKey(*state_->doc, root, parts);
    if (node == nullptr || !node->contains("values")) return Status::NotFound;
    json& values = (*node)["values"];
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (sameName(nameOf(values[i]), name)) {
            values.erase(i);
            state_->changed = true;
            return Status::Ok;
        }
    }
    return Status::NotFound;
}

Status Editor::deleteKey(Root root, std::string_view key) {
    std::vector<std::string_view> parts;
    if (refused(root) || !splitPath(key, parts) || parts.empty()) return Status::InvalidName;
    const std::string_view last = parts.back();
    parts.pop_back();
    json* parent = findKey(*state_->doc, root, parts);
    if (parent == nullptr || !parent->contains("keys")) return Status::NotFound;
    json& keys = (*parent)["keys"];
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (sameName(nameOf(keys[i]), last)) {
            keys.erase(i);
            state_->changed = true;
            return Status::Ok;
        }
    }
    return Status::NotFound;
}

// ---- the registry --------------------------------------------------------

Status edit(const std::function<Status(Editor&)>& fn) {
    if (!fn) return Status::Ok;
    if (tActive != nullptr) {
        // A nested edit is all or nothing within the outer one.
        try {
            json saved = *tActive->doc;
            const bool savedChanged = tActive->changed;
            Editor editor(tActive);
            const Status s = fn(editor);
            if (s != Status::Ok) {
                *tActive->doc = std::move(saved);
                tActive->changed = savedChanged;
            }
            return s;
        } catch (...) {
            detail::warn("a registry edit failed with an exception; its changes were dropped");
            return Status::IoError;
        }
    }
    return change(gLayer.load(), [&](Editor& e) {
        try {
            return fn(e);
        } catch (...) {
            detail::warn("a registry edit failed with an exception; nothing was written");
            return Status::IoError;
        }
    });
}

Status createKey(Root root, std::string_view key) {
    return change(layerFor(root), [&](Editor& e) { return e.createKey(root, key); });
}

bool keyExists(Root root, std::string_view key) {
    bool exists = false;
    (void)inspect([&](const Editor& e) { exists = e.keyExists(root, key); });
    if (!exists) (void)inspectMachine(root, [&](const Editor& e) { exists = e.keyExists(root, key); });
    return exists;
}

Status setString(Root root, std::string_view key, std::string_view name, std::string_view value) {
    return change(layerFor(root), [&](Editor& e) { return e.setString(root, key, name, value); });
}

Status setDword(Root root, std::string_view key, std::string_view name, uint32_t value) {
    return change(layerFor(root), [&](Editor& e) { return e.setDword(root, key, name, value); });
}

Status readString(Root root, std::string_view key, std::string_view name, std::string& out) {
    return readLayered(root, [&](const Editor& e) { return e.readString(root, key, name, out); });
}

Status readDword(Root root, std::string_view key, std::string_view name, uint32_t& out) {
    return readLayered(root, [&](const Editor& e) { return e.readDword(root, key, name, out); });
}

std::optional<std::string> getString(Root root, std::string_view key, std::string_view name) {
    std::string out;
    if (readString(root, key, name, out) != Status::Ok) return std::nullopt;
    return out;
}

std::optional<uint32_t> getDword(Root root, std::string_view key, std::string_view name) {
    uint32_t out = 0;
    if (readDword(root, key, name, out) != Status::Ok) return std::nullopt;
    return out;
}

std::vector<std::string> subkeys(Root root, std::string_view key) {
    std::vector<std::string> out;
    (void)inspect([&](const Editor& e) { out = e.subkeys(root, key); });
    std::vector<std::string> machine;
    (void)inspectMachine(root, [&](const Editor& e) { machine = e.subkeys(root, key); });
    if (machine.empty()) return out;
    // The union, in enumeration order; a name in both is listed as the user wrote it.
    std::vector<std::pair<std::u32string, std::string>> merged;
    for (auto& name : out) merged.emplace_back(fold(name), std::move(name));
    for (auto& name : machine) {
        const bool mine =
            std::any_of(merged.begin(), merged.end(), [&](const auto& m) { return sameName(m.second, name); });
        if (!mine) merged.emplace_back(fold(name), std::move(name));
    }
    std::stable_sort(merged.begin(), merged.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    out.clear();
    for (auto& entry : merged) out.push_back(std::move(entry.second));
    return out;
}

std::vector<ValueInfo> values(Root root, std::string_view key) {
    std::vector<ValueInfo> out;
    (void)inspect([&](const Editor& e) { out = e.values(root, key); });
    std::vector<ValueInfo> machine;
    (void)inspectMachine(root, [&](const Editor& e) { machine = e.values(root, key); });
    for (auto& value : machine) {
        const bool mine =
            std::any_of(out.begin(), out.end(), [&](const ValueInfo& v) { return sameName(v.name, value.name); });
        if (!mine) out.push_back(std::move(value));
    }
    return out;
}

void selectLayer(Layer layer) { gLayer.store(layer); }

Layer selectedLayer() { return gLayer.load(); }

Status deleteValue(Root root, std::string_view key, std::string_view name) {
    return change(layerFor(root), [&](Editor& e) { return e.deleteValue(root, key, name); });
}

Status deleteKey(Root root, std::string_view key) {
    return change(layerFor(root), [&](Editor& e) { return e.deleteKey(root, key); });
}

}  // namespace xel::registry
