// The registry: a hierarchical, typed key/value store kept in one JSON file
// per user, R/registry.json, where R is userStateDir(), over a read-only
// machine layer for the classes a package registers for every user.
//
// Two roots, HKEY_CURRENT_USER and HKEY_CLASSES_ROOT. A key path is relative to
// its root, components separated by '\', the empty path being the root itself.
// Key and value names keep the case they were first written with and compare
// ignoring case. Values are strings (REG_SZ) or 32-bit numbers (REG_DWORD); the
// value named "" is the key's default value. All strings are UTF-8.
//
// Every call reads the file afresh (another process may have written it) under
// an advisory lock on R/registry.lock; a change is a read-modify-write under the
// exclusive lock, written to a temporary file in R and renamed over the old one,
// so readers see either the old or the new file, never half of one.
//
// A file that cannot be parsed or read is never overwritten: it is renamed to
// registry.json.corrupt-YYYYMMDD-HHMMSS beside it, a warning goes to stderr and
// to lastWarning(), and the registry carries on from empty.
//
// The machine layer is <system root>/var/lib/xelor/registry.json (see
// platform/sys): the same shape, its HKEY_CURRENT_USER ignored. Outside an
// edit, each HKEY_CLASSES_ROOT value is read from the user's file, then from
// the machine's (a user's own registration overrides the package's); a key
// exists when either has it; subkeys are the union of both and values the
// user's followed by the machine's not named in the user's. Inside an edit only
// the file being edited is seen, so an unregistration removes exactly what that
// file holds. The machine file is read without a lock (it is only ever replaced
// whole); a damaged one is reported once and read as empty, and only a process
// that selected the machine layer (selectLayer) ever writes it.
//
// Thread safety: every function may be called from any thread at any time, and
// from several processes at once. Inside an edit() callback, use the Editor; a
// free function called there (on the same thread) works on the edit's pending
// state instead of taking the lock again.
//
// Errors are values: nothing here throws.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xel::registry {

enum class Root { CurrentUser, ClassesRoot };

// The file HKEY_CLASSES_ROOT changes and edit() go to.
enum class Layer { User, Machine };

enum class [[nodiscard]] Status{
    Ok,
    NotFound,     // no such key or value
    InvalidName,  // empty or malformed path component (over 255 characters, over 512
                  // levels), invalid UTF-8 or a NUL in a name, the root as a target
    WrongType,    // the value exists with the other type
    IoError,      // the state folder or file could not be read, locked or written
    InvalidData,  // a string value that is not valid UTF-8 or holds a NUL
};

// A short English word for a status ("ok", "not found", ...), for messages.
const char* toString(Status s);

struct ValueInfo {
    enum class Type { String, Dword };
    std::string name;  // "" for the default value
    Type type = Type::String;
    std::string text;     // Type::String
    uint32_t number = 0;  // Type::Dword
};

// The operations of the registry on the pending state of one edit(). Valid only
// during the callback it is handed to.
class Editor {
public:
    Status createKey(Root root, std::string_view key);
    bool keyExists(Root root, std::string_view key) const;
    Status setString(Root root, std::string_view key, std::string_view name, std::string_view value);
    Status setDword(Root root, std::string_view key, std::string_view name, uint32_t value);
    // Ok, NotFound (key or value), WrongType, InvalidName.
    Status readString(Root root, std::string_view key, std::string_view name, std::string& out) const;
    Status readDword(Root root, std::string_view key, std::string_view name, uint32_t& out) const;
    std::optional<std::string> getString(Root root, std::string_view key, std::string_view name) const;
    std::optional<uint32_t> getDword(Root root, std::string_view key, std::string_view name) const;
    std::vector<std::string> subkeys(Root root, std::string_view key) const;
    std::vector<ValueInfo> values(Root root, std::string_view key) const;
    Status deleteValue(Root root, std::string_view key, std::string_view name);
    Status deleteKey(Root root, std::string_view key);

    Editor(const Editor&) = delete;
    Editor& operator=(const Editor&) = delete;

    struct State;  // the parsed file and whether it changed
    explicit Editor(State* state) : state_(state) {}

private:
    bool refused(Root root) const;
    State* state_;
};

// Creates the key and any missing keys above it. Ok if it exists already.
Status createKey(Root root, std::string_view key);
bool keyExists(Root root, std::string_view key);

// Sets a value, creating the key as needed; replaces a value of either type.
Status setString(Root root, std::string_view key, std::string_view name, std::string_view value);
Status setDword(Root root, std::string_view key, std::string_view name, uint32_t value);

// Reads a value with a reason when there is none: Ok, NotFound, WrongType,
// InvalidName or IoError.
Status readString(Root root, std::string_view key, std::string_view name, std::string& out);
Status readDword(Root root, std::string_view key, std::string_view name, uint32_t& out);

// The value, or nullopt when it is missing, of the other type, or unreadable.
std::optional<std::string> getString(Root root, std::string_view key, std::string_view name);
std::optional<uint32_t> getDword(Root root, std::string_view key, std::string_view name);

// Names of the direct subkeys as stored, sorted ignoring case; empty when the
// key does not exist.
std::vector<std::string> subkeys(Root root, std::string_view key);
// The key's values in the order they were first set.
std::vector<ValueInfo> values(Root root, std::string_view key);

Status deleteValue(Root root, std::string_view key, std::string_view name);
// Deletes the key with everything below it. The root itself cannot be deleted.
Status deleteKey(Root root, std::string_view key);

// Runs fn on the current state under the exclusive lock and writes the result in
// one atomic replace if fn returns Ok and changed something. Any other status
// from fn is returned and nothing is written. Used where many entries belong
// together (class registration). With the machine layer selected, fn sees the
// machine file alone and HKEY_CURRENT_USER is refused there (InvalidName).
Status edit(const std::function<Status(Editor&)>& fn);

// Selects, for the whole process, where HKEY_CLASSES_ROOT changes and edit()
// go: the user's file (the default) or the machine file. Writing the machine
// file needs write access to its folder (created 0755; the file is replaced
// atomically with mode 0644). HKEY_CURRENT_USER calls outside an edit always
// use the user's file. Select before the first change, not while other threads
// are editing.
void selectLayer(Layer layer);
Layer selectedLayer();

// The folder of the machine registry (<system root>/var/lib/xelor).
std::filesystem::path machineStateDir();

// R, the per-user state folder of platform/sys (xel::sys::stateFolder());
// created with mode 0700 if missing. Returns the path even
// when it could not be created (later file operations then report the error).
std::filesystem::path userStateDir();

// The most recent warning of this process (a corrupt file moved aside, a failed
// write, ...), or "" if there was none.
std::string lastWarning();

}  // namespace xel::registry
