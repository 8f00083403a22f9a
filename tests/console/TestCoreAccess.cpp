// The application object with the real core: creation by class id, the
// sub-object accessors and the stored address applied on first use, the
// definition in use as the unit reports it, the controller's event signals, and
// start-up through to the main window and back.
#include <QSignalSpy>
#include <QtTest>

#include <memory>

#include "ConsoleTestSupport.h"
#include "CoreSession.h"
#include "console/AutomationText.h"
#include "console/CXelEventSink.h"
#include "console/CXelExecApp.h"
#include "console/CXelExecDlg.h"
#include "console/ConsoleController.h"

using xel::objrt::Bstr;

namespace {

void putGuidText(xel::IFormat* format, const QString& text) {
    QCOMPARE(format->put_ProcessorGUID(console::toBstr(text).get()), S_OK);
}

QString addressOf(xel::IComm* comm) {
    Bstr address;
    if (comm->get_Address(address.put()) != S_OK) return QStringLiteral("<failed>");
    return console::fromBstr(address.get());
}

}  // namespace

class TestCoreAccess : public QObject {
    Q_OBJECT

    CXelExecApp& app() { return *CXelExecApp::instance(); }

private slots:
    void init() {
        app().releaseCore();
        (void)xel::registry::deleteValue(xel::registry::Root::CurrentUser, CXelExecApp::kRegistryKey,
                                         CXelExecApp::kAddressValue);
        const QString why = contest::ensureCoreRegistered();
        QVERIFY2(why.isEmpty(), qPrintable(why));
    }
    void cleanup() { app().releaseCore(); }

    void accessorsFetchTheCoresObjectsOnce() {
        QVERIFY(app().createCore());
        QCOMPARE(app().coreStatus(), S_OK);
        xel::IXel* core = app().core();
        QVERIFY(core);
        QVERIFY(app().createCore());  // one core object: a second call keeps it
        QCOMPARE(app().core(), core);

        // Each accessor hands out the object the core's property names.
        xel::objrt::ComPtr<xel::IFormat> format;
        QCOMPARE(core->get_Format(format.put()), S_OK);
        QCOMPARE(app().format(), format.get());
        QCOMPARE(app().format(), app().format());
        xel::objrt::ComPtr<xel::IVU> vu;
        QCOMPARE(core->get_VU(vu.put()), S_OK);
        QCOMPARE(app().meters(), vu.get());
        xel::objrt::ComPtr<xel::IProfile> profile;
        QCOMPARE(core->get_Profile(profile.put()), S_OK);
        QCOMPARE(app().profile(), profile.get());
        QVERIFY(app().connection());

        // Released in order, a new core object can be made (one per process).
        format = nullptr;
        vu = nullptr;
        profile = nullptr;
        app().releaseCore();
        QVERIFY(!app().core() && !app().connection() && !app().format());
        QVERIFY(app().createCore());
        QVERIFY(app().format());
    }

    void storedAddressAppliesOnFirstUse_data() {
        QTest::addColumn<QString>("stored");  // "" for none
        QTest::addColumn<QString>("applied");
        QTest::newRow("none: the connection's own default") << QString() << QStringLiteral("COM1");
        QTest::newRow("COM3") << QStringLiteral("COM3") << QStringLiteral("COM3");
        QTest::newRow("USB") << QStringLiteral("USB") << QStringLiteral("USB");
        QTest::newRow("15 characters") << QStringLiteral("192.168.100.200") << QStringLiteral("192.168.100.200");
        QTest::newRow("too long to be a host name") << QString(300, u'h') << QStringLiteral("COM1");
    }
    void storedAddressAppliesOnFirstUse() {
        QFETCH(QString, stored);
        QFETCH(QString, applied);
        if (!stored.isEmpty()) QVERIFY(contest::storeAddress(stored));
        QVERIFY(app().createCore());
        QCOMPARE(addressOf(app().connection()), applied);
        // Only the first use applies it: later changes of the stored value wait for
        // the next start.
        QVERIFY(contest::storeAddress(QStringLiteral("COM9")));
        QCOMPARE(addressOf(app().connection()), applied);
    }

    void definitionInUseFollowsTheFormatObject() {
        QVERIFY(app().createCore());
        app().loadProcessorLibrary();
        const int defaultIndex = app().findLibraryIndex(CProcessorDef::defaultProcessorGuid());
        QVERIFY(defaultIndex >= 0);
        // A new core holds the default processor's GUID: the lookup finds it
        // whatever was current before.
        CProcessorDef other;
        other.name = QStringLiteral("Other");
        app().selectDefinition(other, false);
        QCOMPARE(app().lookUpCurrentDefinition().guid, CProcessorDef::defaultProcessorGuid());
        QCOMPARE(app().currentGuid(), CProcessorDef::defaultProcessorGuid());

        // Selecting with the send flag tells the unit's format object, in lower case.
        app().selectDefinition(other, true);
        Bstr text;
        QCOMPARE(app().format()->get_ProcessorGUID(text.put()), S_OK);
        QCOMPARE(console::fromBstr(text.get()), CProcessorDef::guidToText(other.guid));
        QCOMPARE(console::fromBstr(text.get()), console::fromBstr(text.get()).toLower());
        // A definition the library does not hold: entry 0 stands in, the GUID stays.
        QCOMPARE(&app().lookUpCurrentDefinition(), &app().library().at(0));
        QCOMPARE(app().currentGuid(), other.guid);
    }

    void lookUpReadsTheUnitsGuidAtEveryCall() {
        QVERIFY(app().createCore());
        app().loadProcessorLibrary();
        CProcessorLibrary& library = app().library();
        const int first = library.size();
        for (const char* name : {"Unit A", "Unit B"}) {
            auto def = std::make_unique<CProcessorDef>();
            def->name = QString::fromLatin1(name);
            library.append(std::move(def));
        }
        const CProcessorDef& a = library.at(first);
        const CProcessorDef& b = library.at(first + 1);
        xel::IFormat* format = app().format();

        // Whatever the console chose last, each lookup takes the GUID the format
        // object holds now (set here behind the console's back, as a loaded file or
        // a Query would), in any case of its hex digits.
        app().selectDefinition(a, false);
        putGuidText(format, CProcessorDef::guidToText(b.guid).toUpper());
        QCOMPARE(&app().lookUpCurrentDefinition(), &b);
        QCOMPARE(app().currentGuid(), b.guid);
        putGuidText(format, CProcessorDef::guidToText(a.guid));
        QCOMPARE(&app().lookUpCurrentDefinition(), &a);
        QCOMPARE(app().currentGuid(), a.guid);

        // A format object that supplies no text leaves the current GUID as it was.
        app().selectDefinition(b, false);
        putGuidText(format, QString());
        QCOMPARE(&app().lookUpCurrentDefinition(), &b);
        QCOMPARE(app().currentGuid(), b.guid);

        // Text that is no GUID matches nothing: entry 0, and no current GUID.
        putGuidText(format, QStringLiteral("not a processor"));
        QCOMPARE(&app().lookUpCurrentDefinition(), &library.at(0));
        QVERIFY(app().currentGuid().isNull());

        // The window's "select the matching definition" takes the same GUID, without
        // sending it back.
        putGuidText(format, CProcessorDef::guidToText(b.guid));
        app().controller().selectMatchingDefinition();
        QCOMPARE(app().currentGuid(), b.guid);

        library.removeAt(first + 1);
        library.removeAt(first);
    }

    void controllerSignalsTheCoresEventsWhileSubscribed() {
        QVERIFY(app().createCore());
        ConsoleController& controller = app().controller();
        QSignalSpy input(&controller, &ConsoleController::inputChanged);
        QSignalSpy automation(&controller, &ConsoleController::automationChanged);
        QSignalSpy mode(&controller, &ConsoleController::modeChanged);
        QSignalSpy mute(&controller, &ConsoleController::muteChanged);
        QSignalSpy download(&controller, &ConsoleController::downloadStateChanged);
        QSignalSpy lost(&controller, &ConsoleController::commLost);
        // What the event sink posts from the core's monitor thread.
        auto post = [&](DISPID id, LONG value) {
            QCoreApplication::postEvent(&controller, new CXelEventSink::Event(id, value));
        };

        // Two windows subscribed (the main window and the firmware dialog).
        controller.subscribe();
        controller.subscribe();
        post(xel::DISPID_InputChange, 4);
        post(xel::DISPID_AutomationChange, 16);
        post(xel::DISPID_ModeChange, 0);
        post(xel::DISPID_MuteChange, VARIANT_TRUE);
        post(xel::DISPID_MuteChange, VARIANT_FALSE);
        post(xel::DISPID_PICDownloadStateChange, xel::PICDownloadErasing);
        QCoreApplication::postEvent(&controller, new QEvent(CXelEventSink::kCommLost));
        QCoreApplication::processEvents();
        QCOMPARE(input.size(), 1);
        QCOMPARE(input[0][0].toInt(), 4);
        QCOMPARE(automation.size(), 1);
        QCOMPARE(automation[0][0].toInt(), 16);
        QCOMPARE(mode.size(), 1);
        QCOMPARE(mode[0][0].toInt(), 0);
        QCOMPARE(mute.size(), 2);
        QCOMPARE(mute[0][0].toBool(), true);
        QCOMPARE(mute[1][0].toBool(), false);
        QCOMPARE(download.size(), 1);
        QCOMPARE(download[0][0].toInt(), int(xel::PICDownloadErasing));
        QCOMPARE(lost.size(), 1);

        // One of them goes: the other still hears the core.
        controller.unsubscribe();
        post(xel::DISPID_InputChange, 2);
        QCoreApplication::processEvents();
        QCOMPARE(input.size(), 2);

        // The last one goes: what was raised for it is not kept for the next window.
        post(xel::DISPID_InputChange, 5);
        QCoreApplication::postEvent(&controller, new QEvent(CXelEventSink::kCommLost));
        controller.unsubscribe();
        controller.unsubscribe();  // one too many changes nothing
        controller.subscribe();
        QCoreApplication::processEvents();
        QCOMPARE(input.size(), 2);
        QCOMPARE(lost.size(), 1);
        post(xel::DISPID_InputChange, 1);
        QCoreApplication::processEvents();
        QCOMPARE(input.size(), 3);
        controller.unsubscribe();
    }

    void startUpRunsTheMainWindowUntilItCloses() {
        QString title;
        bool closed = false;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* win = qobject_cast<CXelExecDlg*>(QApplication::activeModalWidget());
            if (!win || closed) return;
            title = win->windowTitle();
            closed = true;
            win->reject();
        });
        poll.start();
        const int status = app().run();
        poll.stop();
        QCOMPARE(status, 0);
        QVERIFY(closed);
        QCOMPARE(title, QStringLiteral("Xelor Remote"));
        QVERIFY(app().core());  // released at shutdown, not before
    }
};

int runCoreAccessTests(int argc, char** argv) {
    TestCoreAccess t;
    return QTest::qExec(&t, argc, argv);
}
CONSOLE_TEST_RUNNER(runCoreAccessTests);

#include "TestCoreAccess.moc"
