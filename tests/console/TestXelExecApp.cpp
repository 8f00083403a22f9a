// The application object: the definition in use, the command line, the stored
// address, "xel.ini", and start-up with and without a core.
#include <QMessageBox>
#include <QProcess>
#include <QtTest>

#include "ConsoleTestSupport.h"
#include "console/CXelExecApp.h"
#include "platform/registry/Registry.h"

namespace reg = xel::registry;
using contest::readBytes;
using contest::writeBytes;

namespace {

std::string def(const std::string& name, const QString& guid) {
    return "[" + name + "]\r\nGUID=" + guid.toStdString() + "\r\nFormat1=" + name + " 1\r\n";
}

const QString kGuidA = QStringLiteral("11111111-2222-4333-8444-555555555555");
const QString kGuidB = QStringLiteral("aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee");

QString programPath() { return QCoreApplication::applicationDirPath() + QStringLiteral("/xelexec"); }

}  // namespace

class TestXelExecApp : public QObject {
    Q_OBJECT

    CXelExecApp& app() { return *CXelExecApp::instance(); }

private slots:
    void init() { contest::clearStateDir(); }

    // ---- The definition in use

    void lookUpFindsTheCurrentDefinitionByGuid() {
        writeBytes(contest::stateDir() / "xelexec.ini",
                   def("First", kGuidA) +
                       def("Default", CProcessorDef::guidToText(CProcessorDef::defaultProcessorGuid())) +
                       def("Second", kGuidB));
        app().loadProcessorLibrary();
        QCOMPARE(app().library().size(), 3);

        // Start-up makes the default processor current, wherever it sits in the file.
        app().selectDefinition(app().library().at(1), false);
        QCOMPARE(app().lookUpCurrentDefinition().name, QStringLiteral("Default"));

        app().selectDefinition(app().library().at(2), false);
        QCOMPARE(app().currentGuid(), *CProcessorDef::guidFromText(kGuidB));
        QCOMPARE(app().lookUpCurrentDefinition().name, QStringLiteral("Second"));
        QCOMPARE(app().findLibraryIndex(app().currentGuid()), 2);
    }

    void lookUpWithoutAMatchFallsBackToEntryZero() {
        // The first section is not the default processor: entry 0 is the fallback all the same.
        writeBytes(contest::stateDir() / "xelexec.ini", def("First", kGuidA) + def("Second", kGuidB));
        app().loadProcessorLibrary();
        CProcessorDef stranger;
        app().selectDefinition(stranger, false);
        QCOMPARE(app().lookUpCurrentDefinition().name, QStringLiteral("First"));
        QCOMPARE(app().currentGuid(), stranger.guid);
        QCOMPARE(app().findLibraryIndex(stranger.guid), -1);
    }

    // ---- Command line

    void parsesSwitches_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("expected");
        using S = CXelExecApp::Switch;
        QTest::newRow("none") << QStringList{"xelexec"} << int(S::None);
        QTest::newRow("/Embedding") << QStringList{"xelexec", "/Embedding"} << int(S::Embedding);
        QTest::newRow("-automation") << QStringList{"xelexec", "-automation"} << int(S::Embedding);
        QTest::newRow("/REGSERVER") << QStringList{"xelexec", "/REGSERVER"} << int(S::Register);
        QTest::newRow("-Regserver") << QStringList{"xelexec", "-Regserver"} << int(S::Register);
        QTest::newRow("/register") << QStringList{"xelexec", "/register"} << int(S::Register);
        QTest::newRow("-UnregServer") << QStringList{"xelexec", "-UnregServer"} << int(S::Unregister);
        QTest::newRow("/Unregister") << QStringList{"xelexec", "/Unregister"} << int(S::Unregister);
        QTest::newRow("no prefix") << QStringList{"xelexec", "Regserver"} << int(S::None);
        QTest::newRow("double dash") << QStringList{"xelexec", "--Regserver"} << int(S::None);
        QTest::newRow("prefix of a switch") << QStringList{"xelexec", "/Reg"} << int(S::None);
        QTest::newRow("longer than a switch") << QStringList{"xelexec", "/Registers"} << int(S::None);
        QTest::newRow("unknown ones skipped")
            << QStringList{"xelexec", "/x", "file.xel", "-Unregister", "/Regserver"} << int(S::Unregister);
        QTest::newRow("program name is not a switch") << QStringList{"/Regserver"} << int(S::None);
    }
    void parsesSwitches() {
        QFETCH(QStringList, args);
        QFETCH(int, expected);
        QCOMPARE(int(CXelExecApp::parseCommandLine(args)), expected);
    }

    void registrationSwitchesExitWithoutAWindow() {
        for (const char* sw : {"-Regserver", "/unregister"}) {
            QProcess p;
            p.start(programPath(), {QString::fromLatin1(sw)});
            // A window would wait for the operator; the switch makes the program end on its own.
            QVERIFY2(p.waitForFinished(30000), sw);
            QCOMPARE(p.exitStatus(), QProcess::NormalExit);
            QCOMPARE(p.exitCode(), 0);
            const bool registered = std::string_view(sw) == "-Regserver";
            QCOMPARE(reg::keyExists(reg::Root::ClassesRoot, CXelExecApp::kAppIdKey), registered);
            QCOMPARE(reg::getString(reg::Root::ClassesRoot, CXelExecApp::kAppIdProgramKey, "AppID"),
                     registered ? std::optional<std::string>(CXelExecApp::kAppId) : std::nullopt);
        }
        QVERIFY(reg::keyExists(reg::Root::ClassesRoot, "AppID"));  // the shared key itself stays
        // Start-up stopped before the processor library was touched.
        QVERIFY(!std::filesystem::exists(contest::stateDir() / "xelexec.ini"));
    }

    // ---- Settings stores

    void storedAddress_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("applied");
        QTest::newRow("COM3") << QStringLiteral("COM3") << true;
        QTest::newRow("USB") << QStringLiteral("USB") << true;
        QTest::newRow("15 characters") << QStringLiteral("192.168.100.200") << true;
        QTest::newRow("host name") << QStringLiteral("booth-3.cinema.example") << true;
        QTest::newRow("255 characters") << QString(255, u'a') << true;
        QTest::newRow("256 characters") << QString(256, u'a') << false;
    }
    void storedAddress() {
        QFETCH(QString, stored);
        QFETCH(bool, applied);
        QCOMPARE(reg::setString(reg::Root::CurrentUser, CXelExecApp::kRegistryKey, "Address", stored.toStdString()),
                 reg::Status::Ok);
        const auto got = CXelExecApp::storedAddress();
        QCOMPARE(got.has_value(), applied);
        if (applied) QCOMPARE(*got, stored);
    }

    void noUsableStoredAddress() {
        QVERIFY(!CXelExecApp::storedAddress());
        QVERIFY(reg::keyExists(reg::Root::CurrentUser, CXelExecApp::kRegistryKey));  // created when absent
        QCOMPARE(reg::setDword(reg::Root::CurrentUser, CXelExecApp::kRegistryKey, "Address", 3), reg::Status::Ok);
        QVERIFY(!CXelExecApp::storedAddress());  // not a string
    }

    void exThresholdFromXelIni_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<double>("expected");
        QTest::newRow("no file") << QString() << 40.0;
        QTest::newRow("no key") << QStringLiteral("[Vu]\r\nOther=1\r\n") << 40.0;
        QTest::newRow("number") << QStringLiteral("[vu]\r\nex=35.5\r\n") << 35.5;
        QTest::newRow("trailing text") << QStringLiteral("[Vu]\r\nEx=12.5dB\r\n") << 12.5;
        QTest::newRow("signed") << QStringLiteral("[Vu]\r\nEx=-2\r\n") << -2.0;
        QTest::newRow("exponent") << QStringLiteral("[Vu]\r\nEx=1e1\r\n") << 10.0;
        QTest::newRow("not a number") << QStringLiteral("[Vu]\r\nEx=high\r\n") << 0.0;
        // Only 39 characters are read: the final 1 is cut off.
        QTest::newRow("over long") << QStringLiteral("[Vu]\r\nEx=") + QString(39, u'0') + QStringLiteral("1\r\n")
                                   << 0.0;
    }
    void exThresholdFromXelIni() {
        QFETCH(QString, file);
        QFETCH(double, expected);
        if (!file.isEmpty()) writeBytes(contest::stateDir() / "xel.ini", file.toStdString());
        QCOMPARE(app().exThreshold(), expected);
    }

    // ---- Start-up without a core

    void startUpWithoutACoreSaysWhatToDo() {
        QString text;
        bool seen = false;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            seen = true;
            text = box->text();
            contest::saveScreenshot(box->grab().toImage(), QStringLiteral("startup-nocore"));
            box->accept();
        });
        poll.start();
        const int status = app().run();
        poll.stop();

        QVERIFY(seen);
        QVERIFY(status != 0);
        QVERIFY2(text.contains(QStringLiteral("could not be created")) && text.contains(QStringLiteral("Register")),
                 qPrintable(text));
        // The library was loaded (and seeded) before the core was asked for.
        QCOMPARE(readBytes(contest::stateDir() / "xelexec.ini"), readBytes(app().defaultLibraryPath()));
        QVERIFY(app().library().at(0).isDefaultProcessor());
        QCOMPARE(app().currentGuid(), CProcessorDef::defaultProcessorGuid());
    }
};

int runXelExecAppTests(int argc, char** argv) {
    TestXelExecApp t;
    return QTest::qExec(&t, argc, argv);
}

#include "TestXelExecApp.moc"
