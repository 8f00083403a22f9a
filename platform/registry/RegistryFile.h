// The registry file on disk: the lock, reading with corrupt files moved aside,
// and the atomic replace. Private to platform/registry.
#pragma once

#include "platform/registry/Registry.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <string>

namespace xel::registry::detail {

inline constexpr int kFormatVersion = 1;
// Key paths may have at most this many components; a document of such keys is
// never nested deeper than kMaxJsonDepth.
inline constexpr std::size_t kMaxKeyDepth = 512;
inline constexpr std::size_t kMaxJsonDepth = 2 * kMaxKeyDepth + 64;

// One locked look at the file: take the lock, load, (for a change) save,
// release on destruction. Shared for reading, exclusive for changing.
class FileSession {
public:
    enum class Mode { Shared, Exclusive };

    explicit FileSession(Layer layer = Layer::User) : layer_(layer) {}
    ~FileSession();
    FileSession(const FileSession&) = delete;
    FileSession& operator=(const FileSession&) = delete;

    // Locks and loads. Shared mode leaves a corrupt file alone and reports
    // NeedExclusive; exclusive mode moves it aside and starts from empty.
    enum class Open { Ok, NeedExclusive, Failed };
    Open open(Mode mode);

    nlohmann::json& doc() { return doc_; }
    // The file was written by a newer version of the format: readable, but not
    // ours to rewrite.
    bool newerFormat() const { return newer_; }

    // Replaces the file with doc() atomically. Exclusive sessions only.
    Status save();

private:
    void unlock();
    bool load(Mode mode);  // false: failed or needs the exclusive lock (see open)

    Layer layer_;
    std::filesystem::path dir_;
    int lockFd_ = -1;
    nlohmann::json doc_;
    bool newer_ = false;
    bool needExclusive_ = false;
};

// The machine file as it is now, read without a lock; empty when it is missing,
// unreadable or damaged (reported once per version of the file). Never null;
// the document is shared and must not be changed.
std::shared_ptr<nlohmann::json> machineDocument();

// An empty registry document.
nlohmann::json emptyDocument();

// Checks that doc has the shape of a registry document; on failure says why.
bool checkShape(const nlohmann::json& doc, std::string& why);

// Writes a warning to stderr and keeps it as the last warning.
void warn(const std::string& text);

}  // namespace xel::registry::detail
