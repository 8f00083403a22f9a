#include "console/CProcessorDef.h"

#include <vector>

namespace {

std::u16string u16(const QString& s) { return s.toStdU16String(); }
QString qs(const std::u16string& s) { return QString::fromStdU16String(s); }

std::u16string key(const char* prefix, int n) { return u16(QString::fromLatin1(prefix) + QString::number(n)); }

bool isHex(QChar c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }

}  // namespace

CProcessorDef::CProcessorDef() : guid(QUuid::createUuid()) {
    for (int p = 1; p <= kFormatCount; ++p) pinFormat[p - 1] = static_cast<quint8>(p);
}

QUuid CProcessorDef::defaultProcessorGuid() { return *guidFromText(u"5B1E7C3A-42D9-4f0e-A6C2-9D83E1F04A27"); }

CProcessorDef CProcessorDef::defaultProcessor() {
    CProcessorDef d;
    d.name = QStringLiteral("Default");
    d.guid = defaultProcessorGuid();
    d.formatNames = {QStringLiteral("Analog 2ch"),
                     QStringLiteral("Analog 6ch"),
                     QStringLiteral("Digital 8ch"),
                     QStringLiteral("Toslink"),
                     QStringLiteral("S/PDIF 1"),
                     QStringLiteral("S/PDIF 2"),
                     QString(),
                     QString()};
    // Formats 7 and 8 are unused, so no pin selects them.
    d.pinFormat = {1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    d.modePin = 1;
    return d;
}

QString CProcessorDef::guidToText(const QUuid& guid) { return guid.toString(QUuid::WithoutBraces).toLower(); }

std::optional<QUuid> CProcessorDef::guidFromText(QStringView text) {
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0) text = text.left(nul);
    if (text.size() != 36) return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? text[i] != u'-' : !isHex(text[i])) return std::nullopt;
    }
    return QUuid::fromString(text);
}

xel::ini::Status CProcessorDef::save(xel::ini::IniFile& file) const {
    std::vector<xel::ini::Entry> entries;
    entries.push_back({u"GUID", u16(guidToText(guid))});
    for (int f = 1; f <= kFormatCount; ++f) entries.push_back({key("Format", f), u16(formatNames[f - 1])});
    for (int p = 1; p <= kPinCount; ++p)
        entries.push_back({key("FormatPin", p), u16(QString::number(pinFormat[p - 1]))});
    entries.push_back({u"ModePin", u16(QString::number(modePin))});
    return file.writeStrings(u16(name), entries);
}

void CProcessorDef::load(xel::ini::IniFile& file, const QString& section) {
    name = section;
    const std::u16string s = u16(section);
    if (const auto parsed = guidFromText(qs(file.readString(s, u"GUID")))) {
        guid = *parsed;
    } else {
        guid = QUuid::createUuid();
        // Without this the definition would get another GUID at every start, and a
        // unit set to it would never find it again.
        (void)file.writeString(s, u"GUID", u16(guidToText(guid)));
    }
    for (int f = 1; f <= kFormatCount; ++f) formatNames[f - 1] = qs(file.readString(s, key("Format", f)));
    for (int p = 1; p <= kPinCount; ++p)
        pinFormat[p - 1] = static_cast<quint8>(file.readInt(s, key("FormatPin", p), 0));
    modePin = static_cast<quint8>(file.readInt(s, u"ModePin", 0));
}

xel::ini::Status CProcessorDef::remove(xel::ini::IniFile& file) const { return file.deleteSection(u16(name)); }

int CProcessorDef::firstPinFor(int format) const {
    if (format < 1 || format > kFormatCount) return 0;
    for (int p = 1; p <= kPinCount; ++p)
        if (pinFormat[p - 1] == format) return p;
    return 0;
}
