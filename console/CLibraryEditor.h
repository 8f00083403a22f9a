// The edits the processor library dialogs make: the checks a definition's name
// must pass, saving an edited definition (a rename moves it to its new section),
// deleting one, and exchanging single definitions as files.
//
// Every edit is written at once; an edit the file refuses changes nothing in
// memory and comes back as an error text for the operator.
//
// A definition file holds one section in the library file's own format
// (Windows-1252, CRLF, the keys in library order), so a section copied out of
// the library by hand imports as well.
//
// Thread safety: GUI thread only, like the library it edits.
#pragma once

#include <QString>
#include <QUuid>

#include <filesystem>
#include <memory>
#include <optional>

#include "console/CProcessorDef.h"
#include "console/CProcessorLibrary.h"

class CLibraryEditor {
public:
    explicit CLibraryEditor(CProcessorLibrary& library) : library_(library) {}

    // ---- Names
    enum class NameCheck { Ok, Empty, Bracket, LineBreak, Taken };
    // The name as it will be stored: without surrounding blanks.
    static QString cleanName(const QString& text);
    // Whether two names are the same section of the file: compared as the file
    // holds them (Windows-1252, blanks trimmed, letters ignoring case).
    static bool sameSection(const QString& a, const QString& b);
    // Checks a cleaned name for `self` (null for a definition not yet in the library).
    NameCheck checkName(const QString& name, const CProcessorDef* self) const;
    // The message for a failed check.
    static QString describe(NameCheck check, const QString& name);
    // The definition (other than `self`) holding that section, or null.
    const CProcessorDef* holderOf(const QString& name, const CProcessorDef* self) const;

    // ---- Edits. Each returns an empty text on success, else what went wrong.
    // Writes `edited` over `target` (an entry of the library). A changed name
    // writes the new section and removes the old one.
    QString store(CProcessorDef& target, const CProcessorDef& edited);
    // Saves a new definition and appends it to the library.
    QString add(std::unique_ptr<CProcessorDef> def);
    // Removes this very entry (not the first one with its GUID) and its section.
    // The last entry stays: the console always works with some definition.
    QString remove(const CProcessorDef& def);
    static constexpr const char* kLastProcessor =
        "The library must keep at least one processor, so its last one cannot be deleted.";

    // ---- Definition files
    static constexpr const char* kFileFilter = "Processor Definition (*.ini)";
    // Writes the definition as a file of its own, replacing the file in one step.
    static QString exportTo(const CProcessorDef& def, const std::filesystem::path& file);
    struct Imported {
        std::optional<CProcessorDef> def;
        QString error;  // why the file is not a definition file, when def is empty
    };
    static Imported readFile(const std::filesystem::path& file);
    // The index of this very entry, or -1.
    int indexOf(const CProcessorDef& def) const;

private:
    static QString writeError(const xel::ini::IniFile& file, xel::ini::Status st);

    CProcessorLibrary& library_;
};
