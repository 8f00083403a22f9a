// One cinema processor definition of the console's library: what the
// processor's eight formats are called and which automation pin selects which.
//
// In the library file each definition is one section named after it:
//   GUID=<8-4-4-4-12 lower-case hex>, Format1..Format8=<names>,
//   FormatPin1..FormatPin16=<format 1-8 or 0, decimal>, ModePin=<pin, decimal>
// written in that order. Missing keys read as "" and 0; numbers are kept in a
// byte, as the file has always held them.
//
// Thread safety: GUI thread only; the application object owns the definitions.
#pragma once

#include <QString>
#include <QStringView>
#include <QUuid>
#include <QtGlobal>

#include <array>
#include <optional>

#include "platform/inifile/IniFile.h"

class CProcessorDef {
public:
    static constexpr int kFormatCount = 8;
    static constexpr int kPinCount = 16;

    // A new definition: no names, a fresh GUID, pins 1-8 select formats 1-8,
    // pins 9-16 nothing, mode pin 1.
    CProcessorDef();

    QString name;
    std::array<QString, kFormatCount> formatNames;
    std::array<quint8, kPinCount> pinFormat{};  // entry p-1: format (1-8) of pin p, 0 for none
    quint8 modePin = 1;
    QUuid guid;

    // Writes every key into the section named `name`.
    [[nodiscard]] xel::ini::Status save(xel::ini::IniFile& file) const;
    // Reads the section; a "GUID" that is missing or does not parse is replaced by
    // a fresh GUID, which is written back at once so the definition keeps it.
    void load(xel::ini::IniFile& file, const QString& section);
    // Deletes the section named `name`.
    [[nodiscard]] xel::ini::Status remove(xel::ini::IniFile& file) const;

    // The first automation pin (1-16) that selects format (1-8), or 0.
    int firstPinFor(int format) const;
    bool isDefaultProcessor() const { return guid == defaultProcessorGuid(); }

    // The default processor, installed with the program and held by every new unit.
    static QUuid defaultProcessorGuid();
    static CProcessorDef defaultProcessor();

    // 8-4-4-4-12 lower-case hexadecimal, no braces.
    static QString guidToText(const QUuid& guid);
    // Exactly that form, any letter case; a text cut at its first NUL (as the unit
    // pads it) parses too.
    static std::optional<QUuid> guidFromText(QStringView text);
};
