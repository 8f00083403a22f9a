#include "console/CLibraryEditor.h"

#include <QTemporaryDir>

#include <string>
#include <system_error>

#include "platform/codepage/CodePage.h"

namespace {

using xel::ini::Status;

// Larger than any definition file by far; a bigger file is something else.
constexpr std::uintmax_t kMaxDefinitionFileSize = 64 * 1024;

QString pathText(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

// A name as the file will hold it: Windows-1252 (so two names that differ only in
// characters the code page lacks are the same section), blanks trimmed.
QString asFileHoldsIt(const QString& name) {
    const QString held = QString::fromStdU16String(xel::cp::toUtf16(xel::cp::fromUtf16(name.toStdU16String())));
    qsizetype first = 0;
    qsizetype last = held.size();
    while (first < last && (held[first] == u' ' || held[first] == u'\t')) ++first;
    while (last > first && (held[last - 1] == u' ' || held[last - 1] == u'\t')) --last;
    return held.mid(first, last - first);
}

}  // namespace

// ---- Names -------------------------------------------------------------------------

QString CLibraryEditor::cleanName(const QString& text) { return text.trimmed(); }

bool CLibraryEditor::sameSection(const QString& a, const QString& b) {
    // Qt's case folding agrees with the code page's for every letter the code
    // page holds, and both sides are already reduced to those.
    return QString::compare(asFileHoldsIt(a), asFileHoldsIt(b), Qt::CaseInsensitive) == 0;
}

CLibraryEditor::NameCheck CLibraryEditor::checkName(const QString& name, const CProcessorDef* self) const {
    if (name.contains(u'\r') || name.contains(u'\n')) return NameCheck::LineBreak;
    if (name.trimmed().isEmpty()) return NameCheck::Empty;
    // The section header ends at a "]", here and in every copy of the file.
    if (name.contains(u']')) return NameCheck::Bracket;
    if (holderOf(name, self)) return NameCheck::Taken;
    return NameCheck::Ok;
}

QString CLibraryEditor::describe(NameCheck check, const QString& name) {
    switch (check) {
        case NameCheck::Ok: return {};
        case NameCheck::Empty: return QStringLiteral("Enter a name for the cinema processor.");
        case NameCheck::Bracket: return QStringLiteral("The name of a cinema processor cannot contain \"]\".");
        case NameCheck::LineBreak: return QStringLiteral("The name of a cinema processor must fit on one line.");
        case NameCheck::Taken:
            return QStringLiteral(
                       "A cinema processor named \"%1\" is already in the library. "
                       "Names are compared ignoring upper and lower case; choose another name.")
                .arg(name);
    }
    return {};
}

const CProcessorDef* CLibraryEditor::holderOf(const QString& name, const CProcessorDef* self) const {
    for (int i = 0; i < library_.size(); ++i) {
        const CProcessorDef& d = library_.at(i);
        if (&d != self && sameSection(d.name, name)) return &d;
    }
    return nullptr;
}

int CLibraryEditor::indexOf(const CProcessorDef& def) const {
    for (int i = 0; i < library_.size(); ++i)
        if (&library_.at(i) == &def) return i;
    return -1;
}

// ---- Edits ---------------------------------------------------------------------------

QString CLibraryEditor::writeError(const xel::ini::IniFile& file, Status st) {
    QString text = QStringLiteral("The processor library \"%1\" could not be written (%2).")
                       .arg(pathText(file.path()), QString::fromLatin1(xel::ini::toString(st)));
    if (!file.lastError().empty()) text += u'\n' + QString::fromStdString(file.lastError());
    return text;
}

QString CLibraryEditor::store(CProcessorDef& target, const CProcessorDef& edited) {
    xel::ini::IniFile& file = library_.file();
    const bool renamed = target.name != edited.name;
    if (renamed && sameSection(target.name, edited.name)) {
        // Only the spelling changed: written in place the section would keep its old
        // header, so it is written afresh under the new one.
        if (const Status st = target.remove(file); st != Status::Ok) return writeError(file, st);
        if (const Status st = edited.save(file); st != Status::Ok) {
            const QString error = writeError(file, st);
            (void)target.save(file);  // put the old section back if the file lets us
            return error;
        }
    } else {
        if (const Status st = edited.save(file); st != Status::Ok) return writeError(file, st);
        // Left behind, the old section would come back at the next start as a second
        // definition with the same GUID.
        if (renamed) {
            if (const Status st = target.remove(file); st != Status::Ok) {
                const QString error = writeError(file, st);
                target = edited;  // the new section is written: memory follows the file
                return error;
            }
        }
    }
    target = edited;
    return {};
}

QString CLibraryEditor::add(std::unique_ptr<CProcessorDef> def) {
    xel::ini::IniFile& file = library_.file();
    if (const Status st = def->save(file); st != Status::Ok) return writeError(file, st);
    library_.append(std::move(def));
    return {};
}

QString CLibraryEditor::remove(const CProcessorDef& def) {
    const int index = indexOf(def);
    if (index < 0) return QStringLiteral("The processor is no longer in the library.");
    if (library_.size() <= 1) return QString::fromLatin1(kLastProcessor);
    xel::ini::IniFile& file = library_.file();
    if (const Status st = def.remove(file); st != Status::Ok) return writeError(file, st);
    library_.removeAt(index);
    return {};
}

// ---- Definition files --------------------------------------------------------------------

QString CLibraryEditor::exportTo(const CProcessorDef& def, const std::filesystem::path& file) {
    // Written through the library's own file code, so the file is a library
    // section byte for byte; then put in place in one step.
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return QStringLiteral("No temporary folder could be created: %1").arg(scratch.errorString());
    const std::filesystem::path draftPath = std::filesystem::path(scratch.path().toStdString()) / "definition.ini";
    xel::ini::IniFile draft(draftPath);
    std::string bytes;
    std::string error;
    Status st = def.save(draft);
    if (st == Status::Ok) st = xel::ini::readFile(draftPath, bytes, &error);
    if (st == Status::Ok) st = xel::ini::replaceFile(file, bytes, &error);
    if (st == Status::Ok) return {};
    if (error.empty()) error = draft.lastError();
    return QStringLiteral("The file \"%1\" could not be written.\n%2")
        .arg(pathText(file), QString::fromStdString(error));
}

CLibraryEditor::Imported CLibraryEditor::readFile(const std::filesystem::path& file) {
    Imported out;
    const QString shown = pathText(file);
    const auto notADefinition = [&](const QString& why) {
        out.error = QStringLiteral("\"%1\" is not a processor definition file: %2").arg(shown, why);
        return out;
    };

    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (!ec && size > kMaxDefinitionFileSize) return notADefinition(QStringLiteral("it is far too large."));
    std::string bytes;
    std::string error;
    if (xel::ini::readFile(file, bytes, &error) != Status::Ok) {
        out.error = QStringLiteral("The file \"%1\" could not be read.\n%2").arg(shown, QString::fromStdString(error));
        return out;
    }

    xel::ini::IniFile ini(file);
    const std::vector<std::u16string> sections = ini.sectionNames();
    if (sections.size() != 1) return notADefinition(QStringLiteral("it must hold exactly one section."));
    const std::u16string& section = sections.front();
    const QString name = QString::fromStdU16String(section);
    if (name.trimmed().isEmpty()) return notADefinition(QStringLiteral("its section has no name."));
    if (name.contains(u']')) return notADefinition(QStringLiteral("its section name contains \"]\"."));
    // Checked before loading: a definition without a GUID would get a fresh one
    // written into the file being imported.
    if (!CProcessorDef::guidFromText(QString::fromStdU16String(ini.readString(section, u"GUID"))))
        return notADefinition(QStringLiteral("it has no valid \"GUID\" entry."));
    for (int p = 1; p <= CProcessorDef::kPinCount; ++p) {
        const int32_t f = ini.readInt(section, QStringLiteral("FormatPin%1").arg(p).toStdU16String(), 0);
        if (f < 0 || f > CProcessorDef::kFormatCount)
            return notADefinition(QStringLiteral("\"FormatPin%1\" is not a format number from 0 to 8.").arg(p));
    }
    const int32_t modePin = ini.readInt(section, u"ModePin", 0);
    if (modePin < 0 || modePin > CProcessorDef::kPinCount)
        return notADefinition(QStringLiteral("\"ModePin\" is not a pin number (1 to 16, or 0 for none)."));

    CProcessorDef def;
    def.load(ini, name);
    out.def = std::move(def);
    return out;
}
