// The application object with the real core: creation by class id, the
// sub-object accessors and the stored address applied on first use, the
// definition in use as the unit reports it, and start-up through to the main
// window and back.
#include <QtTest>

#include "ConsoleTestSupport.h"
#include "CoreSession.h"
#include "console/AutomationText.h"
#include "console/CXelExecApp.h"
#include "console/CXelExecDlg.h"

using xel::objrt::Bstr;

namespace {

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
