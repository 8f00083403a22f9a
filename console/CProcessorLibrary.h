// The processor library: the ordered list of processor definitions and the file
// that holds them, one section per definition.
//
// Order is the order of the sections in the file at loading, definitions added
// later at the end. A section starts only with "[" at the start of a line, so a
// "[" inside a format name is just text. Each section name is loaded once.
//
// The file lives in the user's state folder; when it is missing or holds no
// section at all it is seeded from the default library installed beside the
// program (and, failing that, from the built-in default processor), so the
// library always holds at least one definition after load().
//
// Thread safety: GUI thread only.
#pragma once

#include <QUuid>

#include <filesystem>
#include <memory>
#include <vector>

#include "console/CProcessorDef.h"
#include "platform/inifile/IniFile.h"

class CProcessorLibrary {
public:
    explicit CProcessorLibrary(std::filesystem::path file);

    const std::filesystem::path& filePath() const { return ini_.path(); }
    xel::ini::IniFile& file() { return ini_; }

    // Replaces a missing or section-less library file with the default library.
    // Ok when there was nothing to do.
    [[nodiscard]] xel::ini::Status seedFrom(const std::filesystem::path& defaultLibrary);

    // Empties the list and loads every section of the file in order. When that
    // gives no definition, the list holds the built-in default processor.
    void load();

    int size() const { return static_cast<int>(defs_.size()); }
    bool empty() const { return defs_.empty(); }
    CProcessorDef& at(int index) { return *defs_.at(static_cast<size_t>(index)); }
    const CProcessorDef& at(int index) const { return *defs_.at(static_cast<size_t>(index)); }

    // The first index whose definition has this GUID, or -1.
    int indexOf(const QUuid& guid) const;

    void append(std::unique_ptr<CProcessorDef> def);
    // Removes and destroys the entry (not its section: see CProcessorDef::remove).
    void removeAt(int index);
    void clear();

private:
    xel::ini::IniFile ini_;
    std::vector<std::unique_ptr<CProcessorDef>> defs_;
};
