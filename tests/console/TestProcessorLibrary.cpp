// Processor definitions and the library file: loading in file order, the keys a
// save writes, brackets in values, Windows line ends, missing GUIDs and seeding.
#include <QtTest>

#include "ConsoleTestSupport.h"
#include "console/CProcessorDef.h"
#include "console/CProcessorLibrary.h"

using contest::readBytes;
using contest::writeBytes;

namespace {

const char* const kGuidA = "11111111-2222-4333-8444-555555555555";
const char* const kGuidB = "aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee";
const char* const kGuidC = "0f0f0f0f-1e1e-4d2d-9c3c-4b4b4b4b4b4b";

std::string section(const std::string& name, const char* guid, const std::string& format1 = "F1",
                    const std::string& eol = "\r\n") {
    return "[" + name + "]" + eol + "GUID=" + guid + eol + "Format1=" + format1 + eol + "Format2=Second" + eol +
           "FormatPin1=2" + eol + "FormatPin2=1" + eol + "FormatPin16=8" + eol + "ModePin=2" + eol;
}

QUuid uuid(const char* text) { return *CProcessorDef::guidFromText(QString::fromLatin1(text)); }
QUuid parsed(const QString& text) { return CProcessorDef::guidFromText(text).value_or(QUuid()); }

std::filesystem::path installedDefault() {
    return std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) / "xelexec.ini";
}

}  // namespace

class TestProcessorLibrary : public QObject {
    Q_OBJECT

    std::filesystem::path file() const { return contest::stateDir() / "xelexec.ini"; }

private slots:
    void init() { contest::clearStateDir(); }

    void loadsSectionsInFileOrder_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("one") << QString::fromStdString(section("Only", kGuidA)) << QStringList{"Only"};
        QTest::newRow("three") << QString::fromStdString(section("Zeta", kGuidA) + "\r\n" + section("Alpha", kGuidB) +
                                                         section("Mid", kGuidC))
                               << QStringList{"Zeta", "Alpha", "Mid"};
        QTest::newRow("bracket in a value")
            << QString::fromStdString(section("Cinema", kGuidA, "Digital [5.1]") + section("Next", kGuidB, "[EX]"))
            << QStringList{"Cinema", "Next"};
        QTest::newRow("bracket in a name")
            << QString::fromStdString(section("Digital [5.1] Rack", kGuidA)) << QStringList{"Digital [5.1] Rack"};
    }
    void loadsSectionsInFileOrder() {
        QFETCH(QString, text);
        QFETCH(QStringList, names);
        writeBytes(file(), text.toStdString());
        CProcessorLibrary lib(file());
        lib.load();
        QStringList got;
        for (int i = 0; i < lib.size(); ++i) got << lib.at(i).name;
        QCOMPARE(got, names);
        QCOMPARE(readBytes(file()), text.toStdString());  // loading writes nothing back
    }

    void loadsEveryKeyOfASection() {
        writeBytes(file(), section("Cinema", kGuidB, "Digital [5.1]") + section("Other", kGuidA));
        CProcessorLibrary lib(file());
        lib.load();
        QCOMPARE(lib.size(), 2);
        const CProcessorDef& d = lib.at(0);
        QCOMPARE(d.guid, uuid(kGuidB));
        QCOMPARE(d.formatNames[0], QStringLiteral("Digital [5.1]"));
        QCOMPARE(d.formatNames[1], QStringLiteral("Second"));
        QCOMPARE(d.formatNames[7], QString());
        QCOMPARE(int(d.pinFormat[0]), 2);
        QCOMPARE(int(d.pinFormat[1]), 1);
        QCOMPARE(int(d.pinFormat[2]), 0);  // missing keys read as 0
        QCOMPARE(int(d.pinFormat[15]), 8);
        QCOMPARE(int(d.modePin), 2);
        QCOMPARE(lib.indexOf(uuid(kGuidA)), 1);
        QCOMPARE(lib.indexOf(uuid(kGuidC)), -1);
    }

    void crlfAndLfFilesLoadTheSame() {
        for (const std::string eol : {"\r\n", "\n"}) {
            writeBytes(file(), section("Cinema", kGuidA, "Mono", eol));
            CProcessorLibrary lib(file());
            lib.load();
            QCOMPARE(lib.size(), 1);
            QCOMPARE(lib.at(0).name, QStringLiteral("Cinema"));
            QCOMPARE(lib.at(0).formatNames[0], QStringLiteral("Mono"));
            QCOMPARE(int(lib.at(0).modePin), 2);
        }
    }

    void numbersAreKeptInAByte() {
        writeBytes(file(),
                   "[P]\r\nGUID=" + std::string(kGuidA) + "\r\nFormatPin1=300\r\nFormatPin2=pin\r\nModePin=-1\r\n");
        CProcessorLibrary lib(file());
        lib.load();
        QCOMPARE(int(lib.at(0).pinFormat[0]), 44);
        QCOMPARE(int(lib.at(0).pinFormat[1]), 0);
        QCOMPARE(int(lib.at(0).modePin), 255);
    }

    void newDefinitionSavedUnchanged() {
        CProcessorDef d;
        QVERIFY(!d.guid.isNull());
        QVERIFY(d.guid != CProcessorDef().guid);  // each new definition gets its own
        xel::ini::IniFile ini(file());
        QCOMPARE(d.save(ini), xel::ini::Status::Ok);

        std::string expected = "[]\r\nGUID=" + CProcessorDef::guidToText(d.guid).toStdString() + "\r\n";
        for (int f = 1; f <= 8; ++f) expected += "Format" + std::to_string(f) + "=\r\n";
        for (int p = 1; p <= 16; ++p)
            expected += "FormatPin" + std::to_string(p) + "=" + std::to_string(p <= 8 ? p : 0) + "\r\n";
        expected += "ModePin=1\r\n";
        QCOMPARE(readBytes(file()), expected);
        QVERIFY(CProcessorDef::guidToText(d.guid).contains(
            QRegularExpression("^[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}$")));
    }

    void saveLoadRemoveRoundTrip() {
        writeBytes(file(), "; kept\r\n" + section("First", kGuidA));
        xel::ini::IniFile ini(file());
        CProcessorDef d;
        d.name = QStringLiteral("Caf\u00e9 \u20ac [7.1]");
        d.formatNames[0] = QStringLiteral("Dolby = A");
        d.formatNames[7] = QStringLiteral("Last");
        d.pinFormat.fill(0);
        d.pinFormat[8] = 1;
        d.pinFormat[15] = 8;
        d.modePin = 9;
        QCOMPARE(d.save(ini), xel::ini::Status::Ok);
        QVERIFY(readBytes(file()).find("[Caf\xe9 \x80 [7.1]]\r\n") != std::string::npos);  // Windows-1252 on disk

        CProcessorLibrary lib(file());
        lib.load();
        QCOMPARE(lib.size(), 2);
        const CProcessorDef& back = lib.at(1);
        QCOMPARE(back.name, d.name);
        QCOMPARE(back.guid, d.guid);
        QCOMPARE(back.formatNames, d.formatNames);
        QCOMPARE(back.pinFormat, d.pinFormat);
        QCOMPARE(int(back.modePin), 9);
        QCOMPARE(back.firstPinFor(8), 16);
        QCOMPARE(back.firstPinFor(2), 0);

        QCOMPARE(back.remove(ini), xel::ini::Status::Ok);
        QCOMPARE(readBytes(file()), "; kept\r\n" + section("First", kGuidA));
    }

    void missingOrBadGuidGetsAFreshOneWrittenBack_data() {
        QTest::addColumn<QString>("guidLine");
        QTest::newRow("missing") << QString();
        QTest::newRow("empty") << QStringLiteral("GUID=\r\n");
        QTest::newRow("braced") << QStringLiteral("GUID={11111111-2222-4333-8444-555555555555}\r\n");
        QTest::newRow("garbage") << QStringLiteral("GUID=not a guid\r\n");
    }
    void missingOrBadGuidGetsAFreshOneWrittenBack() {
        QFETCH(QString, guidLine);
        writeBytes(file(), "[NoGuid]\r\n" + guidLine.toStdString() + "Format1=Mono\r\n" + section("Other", kGuidA));
        CProcessorLibrary lib(file());
        lib.load();
        QCOMPARE(lib.size(), 2);
        const QUuid fresh = lib.at(0).guid;
        QVERIFY(!fresh.isNull());
        QVERIFY(fresh != uuid(kGuidA));
        QCOMPARE(lib.at(0).formatNames[0], QStringLiteral("Mono"));

        CProcessorLibrary again(file());
        again.load();
        QCOMPARE(again.at(0).guid, fresh);  // the same identity at the next start
        QCOMPARE(again.at(1).guid, uuid(kGuidA));
    }

    void guidTextForms() {
        QCOMPARE(CProcessorDef::guidToText(CProcessorDef::defaultProcessorGuid()),
                 QStringLiteral("5b1e7c3a-42d9-4f0e-a6c2-9d83e1f04a27"));
        QCOMPARE(parsed(QStringLiteral("5B1E7C3A-42D9-4F0E-A6C2-9D83E1F04A27")), CProcessorDef::defaultProcessorGuid());
        // The unit pads its 36 characters with NULs.
        QCOMPARE(parsed(QStringLiteral("5b1e7c3a-42d9-4f0e-a6c2-9d83e1f04a27") + QChar(0) + QChar(0)),
                 CProcessorDef::defaultProcessorGuid());
        QVERIFY(!CProcessorDef::guidFromText(u"5b1e7c3a42d94f0ea6c29d83e1f04a27"));
        QVERIFY(!CProcessorDef::guidFromText(u"5b1e7c3a-42d9-4f0e-a6c2-9d83e1f04a2"));
        QVERIFY(!CProcessorDef::guidFromText(u"5b1e7c3a-42d9-4f0e-a6c2-9d83e1f04a2g"));
        QVERIFY(!CProcessorDef::guidFromText(u"5b1e7c3a-42d9-4f0e-a6c2+9d83e1f04a27"));
    }

    // ---- Seeding from the installed default

    void installedDefaultHoldsTheDefaultProcessor() {
        CProcessorLibrary lib(installedDefault());
        lib.load();
        QCOMPARE(lib.size(), 1);
        const CProcessorDef& d = lib.at(0);
        const CProcessorDef expected = CProcessorDef::defaultProcessor();
        QVERIFY(d.isDefaultProcessor());
        QCOMPARE(d.name, QStringLiteral("Default"));
        QCOMPARE(d.formatNames, expected.formatNames);
        QCOMPARE(d.pinFormat, expected.pinFormat);
        QCOMPARE(int(d.modePin), 1);
        QVERIFY(readBytes(installedDefault()).find("GUID=5b1e7c3a-42d9-4f0e-a6c2-9d83e1f04a27\r\n") !=
                std::string::npos);
    }

    void missingOrEmptyLibraryIsSeeded_data() {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QString>("content");
        QTest::newRow("missing") << false << QString();
        QTest::newRow("empty") << true << QString();
        QTest::newRow("blank lines and comments only") << true << QStringLiteral("\r\n; nothing here\r\n");
    }
    void missingOrEmptyLibraryIsSeeded() {
        QFETCH(bool, exists);
        QFETCH(QString, content);
        if (exists) writeBytes(file(), content.toStdString());
        CProcessorLibrary lib(file());
        QCOMPARE(lib.seedFrom(installedDefault()), xel::ini::Status::Ok);
        QCOMPARE(readBytes(file()), readBytes(installedDefault()));
        lib.load();
        QCOMPARE(lib.size(), 1);
        QVERIFY(lib.at(0).isDefaultProcessor());
    }

    void libraryWithSectionsIsNotSeeded() {
        const std::string mine = section("Mine", kGuidA);
        writeBytes(file(), mine);
        CProcessorLibrary lib(file());
        QCOMPARE(lib.seedFrom(installedDefault()), xel::ini::Status::Ok);
        QCOMPARE(readBytes(file()), mine);
    }

    void withoutAnInstalledDefaultTheBuiltInOneIsWritten() {
        CProcessorLibrary lib(file());
        QCOMPARE(lib.seedFrom(contest::stateDir() / "no-such-default.ini"), xel::ini::Status::Ok);
        lib.load();
        QCOMPARE(lib.size(), 1);
        QVERIFY(lib.at(0).isDefaultProcessor());
        QCOMPARE(lib.at(0).formatNames[2], QStringLiteral("Digital 8ch"));
    }

    void unreadableLibraryIsNotReplaced() {
        // A folder where the file should be cannot be read as a file.
        std::filesystem::create_directory(file());
        CProcessorLibrary lib(file());
        QCOMPARE(lib.seedFrom(installedDefault()), xel::ini::Status::IoError);
        QVERIFY(std::filesystem::is_directory(file()));
        lib.load();
        QCOMPARE(lib.size(), 1);  // the built-in default stands in
        QVERIFY(lib.at(0).isDefaultProcessor());
    }
};

int runProcessorLibraryTests(int argc, char** argv) {
    TestProcessorLibrary t;
    return QTest::qExec(&t, argc, argv);
}

#include "TestProcessorLibrary.moc"
