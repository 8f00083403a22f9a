// The main window against the real core and a real xelsim unit: its layout and
// menus, the connect and disconnect procedures, what the sliders and buttons
// send, the meters, the core's events, configuration files and closing.
#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>

#include "ConsoleTestSupport.h"
#include "CoreSession.h"
#include "ProcessorDialogSupport.h"
#include "console/AutomationText.h"
#include "console/CAboutDlg.h"
#include "console/CCheckPushButton.h"
#include "console/CCtlFormatButton.h"
#include "console/CDlgAddProcessor.h"
#include "console/CDlgConnecting.h"
#include "console/CDlgProcessors.h"
#include "console/CDlgSettings.h"
#include "console/CStatusBox.h"
#include "console/CXelExecDlg.h"
#include "console/DialogUnits.h"
#include "console/ProgramArt.h"
#include "core/protocol/ConfigFile.h"
#include "core/protocol/FormatRecord.h"
#include "tests/support/XelsimProcess.h"
#include "tests/tools/xeld/XeldProcess.h"

using xel::objrt::Bstr;
using xel::objrt::ComPtr;

namespace {

// The protocol pauses divided by ten (the suite's one timing seam), set before
// the core library is loaded by the first core object of the process.
[[maybe_unused]] const bool kFastTiming = qputenv("XELOR_TEST_TIMING", "fast");

constexpr int kWaitMs = 10000;

using FormatGetter = HRESULT (xel::IFormat::*)(LONG, LONG*) noexcept;

// Runs the real connect job on the real worker, but holds it until `whileHeld`
// (run on the GUI thread from the window's own event loop) has looked around.
class HeldConnectWorker : public ConnectWorker {
public:
    std::function<void()> whileHeld;

    int run(const std::function<int()>& job) override {
        std::mutex m;
        std::condition_variable cv;
        bool released = false;
        QTimer::singleShot(0, [&] {
            if (whileHeld) whileHeld();
            std::lock_guard lock(m);
            released = true;
            cv.notify_all();
        });
        return ConnectWorker::run([&] {
            std::unique_lock lock(m);
            cv.wait(lock, [&] { return released; });
            lock.unlock();
            return job();
        });
    }
};

// Runs the real connect job on the real worker; once the job has its result,
// `afterJob` runs on the worker thread before the window is handed that result,
// so the window meets whatever `afterJob` brings about while its connect still runs.
class InterruptedConnectWorker : public ConnectWorker {
public:
    std::function<void()> afterJob;

    int run(const std::function<int()>& job) override {
        return ConnectWorker::run([&] {
            const int code = job();
            if (afterJob) afterJob();
            return code;
        });
    }
};

QRgb pixelOf(QWidget* w, QPoint at) { return w->grab().toImage().pixel(at); }

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    CXelExecApp& app() { return *CXelExecApp::instance(); }

    std::unique_ptr<xeltest::XelsimProcess> sim_;
    std::unique_ptr<CXelExecDlg> win_;
    contest::RecordingPrompts prompts_;
    std::optional<std::string> restoreLibrary_;  // the library file as a case found it

    // ---- Helpers

    bool startSim(std::vector<std::string> args = {}) {
        try {
            sim_ = std::make_unique<xeltest::XelsimProcess>(std::move(args));
        } catch (const std::exception& e) {
            qWarning("xelsim did not start: %s", e.what());
            return false;
        }
        return contest::storeAddress(QString::fromStdString(sim_->address()));
    }

    bool openWindow() {
        if (!app().createCore()) return false;
        win_ = std::make_unique<CXelExecDlg>(app());
        win_->show();
        return QTest::qWaitForWindowExposed(win_.get());
    }

    bool isConnected() {
        VARIANT_BOOL c = VARIANT_FALSE;
        return app().connection()->IsConnected(&c) == S_OK && c == VARIANT_TRUE;
    }

    // A unit on loopback, the window open and connected through its menu.
    bool openConnected(std::vector<std::string> simArgs = {}) {
        if (!startSim(std::move(simArgs)) || !openWindow()) return false;
        win_->action(QStringLiteral("&Connect"))->trigger();
        return isConnected() && win_->statusBox()->text() == QLatin1String(CXelExecDlg::kConnected);
    }

    // Waits until every change stored so far has reached the unit.
    bool settle() {
        ComPtr<xel::IXelStatus> status;
        if (FAILED(app().core()->QueryInterface(xel::IID_IXelStatus, status.putVoid()))) return false;
        LONG result = -1;
        const HRESULT hr = status->WaitSettled(kWaitMs, &result);
        if (hr == S_OK && result == xel::SettleAllAnswered) return true;
        qWarning("settling: status %d, result %d\n%s", int(hr), int(result), sim_ ? sim_->diagnostics().c_str() : "");
        return false;
    }

    LONG currentFormat() {
        LONG c = -1;
        (void)app().format()->get_CurrentFormat(&c);
        return c;
    }
    LONG formatValue(FormatGetter get, LONG format) {
        LONG v = -1;
        (void)(app().format()->*get)(format, &v);
        return v;
    }
    int unitRecordByte(LONG format, int offset) {
        return sim_->dump().eeprom.at(xel::core::formatRecordAddress(format) + offset);
    }
    int unitRecordWord(LONG format, int offset) {
        return unitRecordByte(format, offset) | unitRecordByte(format, offset + 1) << 8;
    }

    // Drags a slider's thumb past the top (or bottom) of its groove with the mouse;
    // `held` runs while the thumb is still held there.
    bool dragToEnd(CTrackBar* s, bool top, const std::function<void()>& held = {}) {
        const int length = s->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, s);
        const int y =
            QStyle::sliderPositionFromValue(s->minimum(), s->maximum(), s->value(), s->height() - length, false) +
            length / 2;
        const int x = s->width() / 2;
        QTest::mousePress(s, Qt::LeftButton, {}, QPoint(x, y));
        if (!s->isSliderDown()) return false;
        const int end = top ? -20 : s->height() + 20;
        for (int i = 1; i <= 5; ++i) QTest::mouseMove(s, QPoint(x, y + (end - y) * i / 5));
        if (held) held();
        QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(x, end));
        return true;
    }

    QStringList menuTexts(QMenu* menu) {
        QStringList texts;
        for (QAction* a : menu->actions()) texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return texts;
    }

    // Opens a menu of the menu bar as the operator does, so the window updates it.
    QMenu* openMenu(int index) {
        QAction* title = win_->menuBar()->actions().at(index);
        win_->menuBar()->setActiveAction(title);
        for (int i = 0; i < 100 && !title->menu()->isVisible(); ++i) QTest::qWait(20);
        return title->menu();
    }

private slots:
    void initTestCase() {
        app().setPrompts(&prompts_);
        app().loadProcessorLibrary();
    }
    void cleanupTestCase() { app().setPrompts(nullptr); }

    void init() {
        prompts_ = contest::RecordingPrompts();
        const QString why = contest::ensureCoreRegistered();
        QVERIFY2(why.isEmpty(), qPrintable(why));
    }

    void cleanup() {
        if (win_) {
            win_->reject();
            win_.reset();
        }
        app().releaseCore();
        if (restoreLibrary_) {
            contest::writeBytes(contest::stateDir() / "xelexec.ini", *restoreLibrary_);
            app().loadProcessorLibrary();
            restoreLibrary_.reset();
        }
        if (sim_) {
            const int status = sim_->stop();
            QVERIFY2(status == 0, sim_->diagnostics().c_str());
            sim_.reset();
        }
    }

    // ---- Layout

    void layoutFollowsTheTable() {
        QVERIFY(openWindow());
        const DialogUnits du(DialogUnits::dialogFont());
        QCOMPARE(win_->windowTitle(), QStringLiteral("Xelor Remote"));
        QCOMPARE(win_->client()->size(), du.size(523, 246));
        QCOMPARE(win_->minimumSize(), win_->maximumSize());  // fixed size
        QCOMPARE(win_->client()->geometry().bottom() + 1, win_->height());

        QCOMPARE(win_->titleLabel()->geometry(), du.rect(7, 7, 509, 15));
        const CProcessorDef& def = app().library().at(0);
        QCOMPARE(win_->titleLabel()->text(), QStringLiteral("Processor - ") + def.name);
        for (int k = 1; k <= 8; ++k) {
            QCOMPARE(win_->formatButton(k)->geometry(), du.rect(13 + 62 * (k - 1), 24, 60, 14));
            QCOMPARE(win_->formatButton(k)->text(), def.formatNames[k - 1]);
        }
        const QStringList row{"Film", "Analog 2ch", "Analog 6ch", "AES/EBU", "Toslink", "COAX 1", "COAX 2", "Mute"};
        QList<QPushButton*> rowButtons{win_->filmButton()};
        for (int j = 0; j < 6; ++j) rowButtons << win_->inputButton(j);
        rowButtons << win_->muteButton();
        for (int j = 0; j < 8; ++j) {
            QCOMPARE(rowButtons[j]->text(), row[j]);
            QCOMPARE(rowButtons[j]->geometry(), du.rect(13 + 62 * j, 70, 60, 14));
        }
        const int sliderX[] = {22, 54, 87, 122};
        for (int s = 0; s < 4; ++s) {
            const QRect r = win_->slider(CXelExecDlg::Slider(s))->geometry();
            QCOMPARE(r.topLeft(), du.rect(sliderX[s], 113, 0, 0).topLeft());
            QCOMPARE(r.height(), du.y(110));
            const QRect box = win_->sliderValue(CXelExecDlg::Slider(s))->geometry();
            QCOMPARE(box.size(), du.size(32, 14));
            QCOMPARE(box.top(), du.y(225));
            QVERIFY(qAbs(box.center().x() - r.center().x()) <= 1);  // under its slider
        }
        for (int m = 0; m < 8; ++m) {
            QCOMPARE(win_->meter(m)->geometry(), du.rect(178 + 14 * m, 114, 12, 110));
            QCOMPARE(win_->meter(m)->orientation(), Qt::Vertical);
            QCOMPARE(win_->meter(m)->maximum(), 60);
        }
        QCOMPARE(win_->theaterNumberEdit()->geometry(), du.rect(380, 113, 116, 14));
        QCOMPARE(win_->theaterNameEdit()->geometry(), du.rect(380, 136, 116, 14));
        QCOMPARE(win_->screenNumberEdit()->geometry(), du.rect(380, 159, 38, 14));
        auto* settings = win_->findChild<QPushButton*>(QStringLiteral("changeSettings"));
        QVERIFY(settings);
        QCOMPARE(settings->geometry(), du.rect(306, 198, 87, 31));
        QCOMPARE(settings->text(), QStringLiteral("Change Settings..."));
        QCOMPARE(win_->picture()->geometry(), du.rect(410, 198, 87, 31));
        QCOMPARE(win_->picture()->pixmap().size(), QSize(131, 50));

        // Every text of the window is there, once.
        QStringList labels;
        for (QLabel* l : win_->client()->findChildren<QLabel*>()) labels << l->text();
        for (const char* t : {"Xelor",
                              "Input Trim",
                              "Output Trim",
                              "Input Delay",
                              "Surround Delay",
                              "Output Level",
                              "+20",
                              "0",
                              "-20",
                              "-40",
                              "L",
                              "C",
                              "R",
                              "Ls",
                              "Rs",
                              "SW",
                              "7",
                              "8",
                              "Theater Number:",
                              "Theater Name:",
                              "Screen Number:"})
            QVERIFY2(labels.count(QString::fromLatin1(t)) == 1, t);

        // The status box: 100 x 20 pixels in the bottom-right corner, red while disconnected.
        CStatusBox* status = win_->statusBox();
        QCOMPARE(status->geometry(),
                 QRect(QPoint(win_->client()->width() - 100, win_->client()->height() - 20), QSize(100, 20)));
        QCOMPARE(status->text(), QStringLiteral("Disconnected"));
        QCOMPARE(QColor(pixelOf(status, QPoint(1, 1))), CStatusBox::disconnectedBackground());
        QVERIFY(!win_->meterTimer().isActive());

        // Nothing overlaps anything else on the window.
        const QList<QWidget*> parts = win_->client()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        const auto nameOf = [](QWidget* w) {
            auto* l = qobject_cast<QLabel*>(w);
            return w->objectName().isEmpty() && l ? l->text() : w->objectName();
        };
        for (int i = 0; i < parts.size(); ++i)
            for (int j = i + 1; j < parts.size(); ++j)
                QVERIFY2(!parts[i]->geometry().intersects(parts[j]->geometry()),
                         qPrintable(nameOf(parts[i]) + u'/' + nameOf(parts[j])));

        QVERIFY(contest::saveScreenshot(win_->grab().toImage(), QStringLiteral("main-disconnected")));
    }

    void menusHoldTheirItemsInOrder() {
        QVERIFY(openWindow());
        const QList<QAction*> titles = win_->menuBar()->actions();
        QCOMPARE(titles.size(), 3);
        QCOMPARE(titles[0]->text(), QStringLiteral("&File"));
        QCOMPARE(titles[1]->text(), QStringLiteral("&Communication"));
        QCOMPARE(titles[2]->text(), QStringLiteral("&Help"));
        QCOMPARE(menuTexts(titles[0]->menu()),
                 (QStringList{"Load...", "&Save...", "-", "Processor Library...", "-", "E&xit"}));
        QCOMPARE(menuTexts(titles[1]->menu()),
                 (QStringList{"&Connect", "&Disconnect", "C&ommunication Settings...", "-", "&Set IP Information..."}));
        QCOMPARE(menuTexts(titles[2]->menu()), (QStringList{"&About", "-", "Firmware Update..."}));
    }

    void menuEnablingFollowsTheLink() {
        QVERIFY(startSim());
        QVERIFY(openWindow());
        const auto enabled = [&](const char* text) { return win_->action(QString::fromLatin1(text))->isEnabled(); };

        QMenu* menu = openMenu(1);
        QVERIFY(menu->isVisible());
        QVERIFY(enabled("&Connect") && enabled("C&ommunication Settings...") && enabled("&Set IP Information..."));
        QVERIFY(!enabled("&Disconnect"));
        menu->hide();

        win_->connectUnit();
        QVERIFY(isConnected());
        // Each opening asks the link afresh, whichever menu is opened.
        menu = openMenu(0);
        QVERIFY(!enabled("&Connect") && !enabled("C&ommunication Settings...") && !enabled("&Set IP Information..."));
        QVERIFY(enabled("&Disconnect"));
        QVERIFY(enabled("Load...") && enabled("E&xit") && enabled("Firmware Update..."));
        menu->hide();

        win_->disconnectUnit();
        menu = openMenu(2);
        QVERIFY(enabled("&Connect") && !enabled("&Disconnect"));
        menu->hide();
    }

    // ---- Connecting

    void connectShowsTheUnitWhileTheWindowStaysAlive() {
        QVERIFY(startSim());
        QVERIFY(openWindow());
        HeldConnectWorker worker;
        bool sawConnecting = false, windowHandledEvents = false;
        QSize connectingSize;
        worker.whileHeld = [&] {
            // The worker is held: the "Connecting..." window is up and the main
            // window goes on handling what is posted to it.
            auto* connecting = win_->findChild<CDlgConnecting*>();
            sawConnecting =
                connecting && connecting->isVisible() && !connecting->isModal() &&
                connecting->windowTitle() == QStringLiteral("Connecting...") &&
                connecting->findChild<QLabel*>()->text() == QStringLiteral("Connecting to Xel please wait...") &&
                !(connecting->windowFlags() & Qt::WindowCloseButtonHint);
            if (connecting) {
                connectingSize = connecting->size();
                contest::saveScreenshot(connecting->grab().toImage(), QStringLiteral("connecting"));
                connecting->reject();  // Escape does not close it
                sawConnecting = sawConnecting && connecting->isVisible();
            }
            QMetaObject::invokeMethod(
                win_.get(), [&] { windowHandledEvents = true; }, Qt::QueuedConnection);
            QTRY_VERIFY(windowHandledEvents);
        };
        win_->setConnectWorker(&worker);
        win_->action(QStringLiteral("&Connect"))->trigger();
        QVERIFY(sawConnecting);
        QVERIFY2(connectingSize == DialogUnits(DialogUnits::dialogFont()).size(176, 30),
                 "the Connecting... window is not 176 x 30 dialog units");
        QVERIFY(windowHandledEvents);
        QVERIFY(!win_->findChild<CDlgConnecting*>());  // gone with the procedure

        QVERIFY(prompts_.messages.empty());
        QVERIFY(isConnected());
        QCOMPARE(win_->statusBox()->text(), QStringLiteral("Connected"));
        QCOMPARE(QColor(pixelOf(win_->statusBox(), QPoint(1, 1))), CStatusBox::connectedBackground());
        QVERIFY(win_->meterTimer().isActive());
        QCOMPARE(win_->meterTimer().interval(), 200);
        // The unit holds the default processor; its formats and its input are shown.
        QCOMPARE(app().currentGuid(), CProcessorDef::defaultProcessorGuid());
        QCOMPARE(win_->titleLabel()->text(), QStringLiteral("Processor - Default"));
        QCOMPARE(win_->formatButton(2)->text(), QStringLiteral("Analog 6ch"));
        QVERIFY(win_->inputButton(0)->isChecked());
        QVERIFY(!win_->filmButton()->isChecked());
        // Pin 1 (the unit's power-on pin) selects format 1.
        QCOMPARE(win_->formatButton(1)->look(), CCtlFormatButton::Look::Highlighted);
        QCOMPARE(win_->formatButton(2)->look(), CCtlFormatButton::Look::Normal);
        QCOMPARE(win_->sliderValue(CXelExecDlg::InputTrim)->text(), QStringLiteral("0.0dB"));
        QCOMPARE(win_->sliderValue(CXelExecDlg::SurroundDelay)->text(), QStringLiteral("0ms"));

        QVERIFY(contest::saveScreenshot(win_->grab().toImage(), QStringLiteral("main-connected")));
    }

    void connectFailuresAreReported_data() {
        QTest::addColumn<bool>("unitListens");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing listens") << false << QString::fromLatin1(CXelExecDlg::kFailedConnect);
        // The handshake's two commands are answered, the first read of the query is not.
        QTest::newRow("no valid response") << true << QString::fromLatin1(CXelExecDlg::kNoValidResponse);
    }
    void connectFailuresAreReported() {
        QFETCH(bool, unitListens);
        QFETCH(QString, message);
        std::unique_ptr<xeltest::LoopbackLease> silent;
        if (unitListens) {
            QVERIFY(startSim({"--drop-after", "2"}));
        } else {
            silent = std::make_unique<xeltest::LoopbackLease>();  // an address where nothing listens
            QVERIFY(contest::storeAddress(QString::fromStdString(silent->address())));
        }
        QVERIFY(openWindow());
        win_->connectUnit();
        QCOMPARE(prompts_.messages.size(), size_t(1));
        QCOMPARE(prompts_.messages[0].text, message);
        QCOMPARE(prompts_.messages[0].icon, QMessageBox::Critical);
        QVERIFY(!isConnected());
        QCOMPARE(win_->statusBox()->text(), QStringLiteral("Disconnected"));
        QVERIFY(!win_->meterTimer().isActive());
        QVERIFY(!win_->findChild<CDlgConnecting*>());
    }

    // The connect job has its result, but before the window takes it the operator
    // chooses "&Disconnect" or the link is lost (the monitor already polls then).
    void connectEndsDisconnectedWhenInterrupted_data() {
        QTest::addColumn<bool>("linkLost");
        QTest::newRow("Disconnect chosen") << false;
        QTest::newRow("link lost") << true;
    }
    void connectEndsDisconnectedWhenInterrupted() {
        QFETCH(bool, linkLost);
        QVERIFY(startSim());
        QVERIFY(openWindow());
        std::mutex m;
        std::condition_variable cv;
        bool told = false;
        prompts_.onMessage = [&](const contest::RecordingPrompts::Message&) {
            std::lock_guard lock(m);
            told = true;
            cv.notify_all();
        };
        bool disconnectOffered = false;
        InterruptedConnectWorker worker;
        worker.afterJob = [&] {
            if (linkLost) {
                // Waits until the window has handled the CommFail and said so.
                sim_->panel("drop");
                std::unique_lock lock(m);
                cv.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return told; });
                return;
            }
            QMetaObject::invokeMethod(
                win_.get(),
                [&] {
                    QMenu* menu = openMenu(1);
                    disconnectOffered = win_->action(QStringLiteral("&Disconnect"))->isEnabled();
                    menu->hide();
                    win_->action(QStringLiteral("&Disconnect"))->trigger();
                },
                Qt::BlockingQueuedConnection);
        };
        win_->setConnectWorker(&worker);
        win_->action(QStringLiteral("&Connect"))->trigger();

        const char* const fault = "connect can end showing Connected with the link gone";
        QVERIFY2(win_->statusBox()->text() == QLatin1String(CXelExecDlg::kDisconnected), fault);
        QVERIFY2(!win_->meterTimer().isActive(), fault);
        QVERIFY(!isConnected());
        for (int k = 1; k <= 8; ++k) QCOMPARE(win_->formatButton(k)->look(), CCtlFormatButton::Look::Normal);
        QCOMPARE(QColor(pixelOf(win_->statusBox(), QPoint(1, 1))), CStatusBox::disconnectedBackground());
        if (linkLost) {
            // Told once, as the lost link; the connect adds no failure of its own.
            QCOMPARE(prompts_.messages.size(), size_t(1));
            QCOMPARE(prompts_.messages[0].text, QString::fromLatin1(CXelExecDlg::kCommLost));
            return;
        }
        QVERIFY(disconnectOffered);
        QVERIFY(prompts_.messages.empty());
        // The next connect is not taken for an interrupted one.
        win_->setConnectWorker(nullptr);
        win_->connectUnit();
        QVERIFY(isConnected());
        QCOMPARE(win_->statusBox()->text(), QStringLiteral("Connected"));
        QVERIFY(win_->meterTimer().isActive());
    }

    // A unit the unit server holds: the usual message, then one that names the
    // xeld@NAME service to stop. The real xeld holds the real unit's link.
    void aUnitHeldByTheServerNamesItsService() {
        QVERIFY(startSim());
        xeltest::XeldProcess xeld(sim_->address(), {"--name", "booth7"});
        QVERIFY2(xeld.waitForState("connected"), xeld.stderrText().c_str());
        QVERIFY(openWindow());
        win_->connectUnit();
        QVERIFY(!isConnected());
        QCOMPARE(prompts_.messages.size(), size_t(2));
        QCOMPARE(prompts_.messages[0].icon, QMessageBox::Critical);
        const QString advice = prompts_.messages[1].text;
        QVERIFY2(advice.contains(QStringLiteral("systemctl stop xeld@booth7")) &&
                     advice.contains(QString::fromStdString(sim_->address())),
                 qPrintable(advice));
        QCOMPARE(prompts_.messages[1].icon, QMessageBox::Warning);
        // The server never lost the unit to the console's attempt.
        QVERIFY(xeld.waitForState("connected"));
    }

    // A serial device this user may not open: the usual message, then one that
    // names the device and the fix.
    void aSerialDeviceWithoutPermissionNamesTheFix() {
        if (::geteuid() == 0) QSKIP("root may open any device; this runs as another user");
        namespace fs = std::filesystem;
        const fs::path state = xel::registry::userStateDir();
        const fs::path device = state / "ttyLocked";
        std::ofstream(device) << "";
        fs::permissions(device, fs::perms::none);
        fs::create_directories(state / "ports");
        fs::create_symlink(device, state / "ports" / "COM9");
        QVERIFY(contest::storeAddress(QStringLiteral("COM9")));
        QVERIFY(openWindow());
        win_->connectUnit();
        fs::remove(state / "ports" / "COM9");
        fs::remove(device);
        QCOMPARE(prompts_.messages.size(), size_t(2));
        QCOMPARE(prompts_.messages[0].text, QString::fromLatin1(CXelExecDlg::kFailedConnect));
        QVERIFY2(prompts_.messages[1].text.contains(QString::fromStdString(device.string())) &&
                     prompts_.messages[1].text.contains(QStringLiteral("dialout group")),
                 qPrintable(prompts_.messages[1].text));
    }

    void disconnectReturnsToTheDefaultProcessor() {
        QVERIFY(openConnected());
        QVERIFY(win_->formatButton(1)->look() == CCtlFormatButton::Look::Highlighted);
        win_->theaterNameEdit()->setText(QStringLiteral("Odeon"));
        win_->inputButton(3)->click();
        win_->action(QStringLiteral("&Disconnect"))->trigger();
        QVERIFY(!isConnected());
        QVERIFY(!win_->meterTimer().isActive());
        QCOMPARE(win_->statusBox()->text(), QStringLiteral("Disconnected"));
        QCOMPARE(QColor(pixelOf(win_->statusBox(), QPoint(1, 1))), CStatusBox::disconnectedBackground());
        for (int k = 1; k <= 8; ++k) QCOMPARE(win_->formatButton(k)->look(), CCtlFormatButton::Look::Normal);
        QCOMPARE(win_->theaterNameEdit()->text(), QString());
        QCOMPARE(currentFormat(), 0);
        QVERIFY(win_->inputButton(0)->isChecked());
        QVERIFY(prompts_.messages.empty());
    }

    // ---- Sliders

    void inputTrimDraggedToTheTop() {
        QVERIFY(openConnected());
        const LONG c = currentFormat();
        CTrackBar* slider = win_->slider(CXelExecDlg::InputTrim);
        QVERIFY(dragToEnd(slider, true));
        QCOMPARE(slider->value(), -36);
        QCOMPARE(win_->sliderValue(CXelExecDlg::InputTrim)->text(), QStringLiteral("18.0dB"));
        QCOMPARE(formatValue(&xel::IFormat::get_InputTrim, c), 36);
        QVERIFY(settle());
        QCOMPARE(unitRecordByte(c, xel::core::FormatRecord::kInputTrim), 36);
    }

    void outputTrimDraggedToTheBottom() {
        QVERIFY(openConnected());
        const LONG c = currentFormat();
        CTrackBar* slider = win_->slider(CXelExecDlg::OutputTrim);
        // Trims go out on every step of a drag, not only at its end.
        QString boxWhileHeld;
        LONG trimWhileHeld = -1;
        QVERIFY(dragToEnd(slider, false, [&] {
            boxWhileHeld = win_->sliderValue(CXelExecDlg::OutputTrim)->text();
            trimWhileHeld = formatValue(&xel::IFormat::get_OutputTrim, c);
        }));
        QCOMPARE(boxWhileHeld, QStringLiteral("-20.0dB"));
        QCOMPARE(trimWhileHeld, 40);
        QCOMPARE(win_->sliderValue(CXelExecDlg::OutputTrim)->text(), QStringLiteral("-20.0dB"));
        QVERIFY(settle());
        QCOMPARE(unitRecordByte(c, xel::core::FormatRecord::kOutputTrim), 40);
    }

    void surroundDelaySentOnceTheDragEnds() {
        QVERIFY(openConnected());
        const LONG c = currentFormat();
        QString boxWhileHeld;
        LONG delayWhileHeld = -1;
        QVERIFY(dragToEnd(win_->slider(CXelExecDlg::SurroundDelay), true, [&] {
            boxWhileHeld = win_->sliderValue(CXelExecDlg::SurroundDelay)->text();
            delayWhileHeld = formatValue(&xel::IFormat::get_SurroundDelay, c);
        }));
        QCOMPARE(boxWhileHeld, QStringLiteral("100ms"));  // the box follows the thumb
        QCOMPARE(delayWhileHeld, 0);                      // the unit does not, yet
        QCOMPARE(formatValue(&xel::IFormat::get_SurroundDelay, c), 100);
        QVERIFY(settle());
        QCOMPARE(unitRecordWord(c, xel::core::FormatRecord::kSurroundDelay), 100);
    }

    void keysActOnlyOnTheListedNotifications() {
        QVERIFY(openConnected());
        const LONG c = currentFormat();
        // A line step up on the input delay shows at once and is sent when the key is let go.
        CTrackBar* delay = win_->slider(CXelExecDlg::InputDelay);
        delay->setFocus();
        QTest::keyPress(delay, Qt::Key_Up);
        QCOMPARE(win_->sliderValue(CXelExecDlg::InputDelay)->text(), QStringLiteral("1ms"));
        QCOMPARE(formatValue(&xel::IFormat::get_InputDelay, c), 0);
        QTest::keyRelease(delay, Qt::Key_Up);
        QCOMPARE(formatValue(&xel::IFormat::get_InputDelay, c), 1);

        // The page size is 0: PageUp and a click into the groove move nothing, and
        // the end of the movement sends the unchanged place.
        CTrackBar* trim = win_->slider(CXelExecDlg::InputTrim);
        trim->setFocus();
        QTest::keyClick(trim, Qt::Key_PageUp);
        QVERIFY2(trim->sliderPosition() == 0, "slider page size is not 0: PageUp moved the thumb");
        QTest::mouseClick(trim, Qt::LeftButton, {}, QPoint(trim->width() / 2, 4));  // the thumb is at the bottom
        QVERIFY2(trim->sliderPosition() == 0, "slider page size is not 0: a click into the groove moved the thumb");
        QCOMPARE(win_->sliderValue(CXelExecDlg::InputTrim)->text(), QStringLiteral("0.0dB"));
        QCOMPARE(formatValue(&xel::IFormat::get_InputTrim, c), 0);
        // Home: the top of the input trim, its most gain.
        QTest::keyClick(trim, Qt::Key_Home);
        QCOMPARE(win_->sliderValue(CXelExecDlg::InputTrim)->text(), QStringLiteral("18.0dB"));
        QVERIFY(settle());
        QCOMPARE(unitRecordByte(c, xel::core::FormatRecord::kInputTrim), 36);
        QCOMPARE(unitRecordWord(c, xel::core::FormatRecord::kInputDelay), 1);
    }

    // ---- Buttons

    void formatButtonsSelectByPinAndFollowTheUnit() {
        QVERIFY(openConnected());
        // The default processor: pin 2 selects format 2; no pin selects format 7.
        win_->formatButton(2)->click();
        LONG pin = 0;
        (void)app().format()->get_Pin(&pin);
        QCOMPARE(pin, 2);
        QTRY_COMPARE_WITH_TIMEOUT(sim_->dump().pin, 2, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(win_->formatButton(2)->look(), CCtlFormatButton::Look::Highlighted, kWaitMs);
        QCOMPARE(win_->formatButton(1)->look(), CCtlFormatButton::Look::Normal);

        win_->formatButton(7)->click();
        (void)app().format()->get_Pin(&pin);
        QCOMPARE(pin, 2);
        QVERIFY(settle());
        QCOMPARE(sim_->dump().pin, 2);

        // Pin 16 changes no highlight. The input change raised on a later pass shows
        // that its event has been handled by then.
        QCOMPARE(QString::fromStdString(sim_->panel("pin 16")), QStringLiteral("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(((void)app().format()->get_Pin(&pin), pin == 16), kWaitMs);
        QCOMPARE(QString::fromStdString(sim_->panel("button 4")), QStringLiteral("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(win_->inputButton(3)->isChecked(), kWaitMs);
        QCOMPARE(win_->formatButton(2)->look(), CCtlFormatButton::Look::Highlighted);

        // Pin 7 selects no format: every button normal.
        QCOMPARE(QString::fromStdString(sim_->panel("pin 7")), QStringLiteral("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(win_->formatButton(2)->look(), CCtlFormatButton::Look::Normal, kWaitMs);
        for (int k = 1; k <= 8; ++k) QCOMPARE(win_->formatButton(k)->look(), CCtlFormatButton::Look::Normal);
    }

    void frontPanelChangesShowInTheWindow() {
        QVERIFY(openConnected());
        QCOMPARE(QString::fromStdString(sim_->panel("button 3")), QStringLiteral("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(win_->inputButton(2)->isChecked(), kWaitMs);
        for (int j : {0, 1, 3, 4, 5}) QVERIFY(!win_->inputButton(j)->isChecked());

        QCOMPARE(QString::fromStdString(sim_->panel("film on")), QStringLiteral("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(win_->filmButton()->isChecked(), kWaitMs);
        QCOMPARE(QString::fromStdString(sim_->panel("film off")), QStringLiteral("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(!win_->filmButton()->isChecked(), kWaitMs);

        // Input 7 (button 8) has no button in the row: none is checked.
        QCOMPARE(QString::fromStdString(sim_->panel("button 8")), QStringLiteral("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(currentFormat(), 7, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!win_->inputButton(2)->isChecked(), kWaitMs);
        for (int j = 0; j < 6; ++j) QVERIFY(!win_->inputButton(j)->isChecked());
    }

    void inputChangeShowsTheNewInputsTrimsAndDelays() {
        QVERIFY(openConnected());
        xel::IFormat* format = app().format();
        QVERIFY(format->put_InputTrim(3, 10) == S_OK && format->put_OutputTrim(3, 20) == S_OK);
        QVERIFY(format->put_InputDelay(3, 50) == S_OK && format->put_SurroundDelay(3, 30) == S_OK);
        QVERIFY(settle());
        QCOMPARE(win_->sliderValue(CXelExecDlg::InputDelay)->text(), QStringLiteral("0ms"));  // input 0's

        // The unit's button 4 selects input 3.
        QCOMPARE(QString::fromStdString(sim_->panel("button 4")), QStringLiteral("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(win_->inputButton(3)->isChecked(), kWaitMs);
        const QList<int> positions{-10, 20, -50, -30};
        const QStringList boxes{"5.0dB", "-10.0dB", "50ms", "30ms"};
        for (int s = 0; s < 4; ++s) {
            QCOMPARE(win_->slider(CXelExecDlg::Slider(s))->value(), positions[s]);
            QCOMPARE(win_->sliderValue(CXelExecDlg::Slider(s))->text(), boxes[s]);
        }
    }

    void inputFilmAndMuteButtonsDriveTheUnit() {
        QVERIFY(openConnected());
        // Input 4 ("COAX 1"): the unit's button 5, and that format's trims shown.
        QVERIFY(app().format()->put_InputTrim(4, 10) == S_OK);
        win_->inputButton(4)->click();
        QCOMPARE(currentFormat(), 4);
        QVERIFY(win_->inputButton(4)->isChecked());
        QVERIFY(!win_->inputButton(0)->isChecked());
        QCOMPARE(win_->sliderValue(CXelExecDlg::InputTrim)->text(), QStringLiteral("5.0dB"));
        QCOMPARE(win_->slider(CXelExecDlg::InputTrim)->value(), -10);

        win_->muteButton()->click();
        QVERIFY(win_->muteButton()->isChecked());
        win_->filmButton()->click();
        QVERIFY(win_->filmButton()->isChecked());
        QVERIFY(settle());
        xeltest::XelsimDump unit = sim_->dump();
        QCOMPARE(unit.button, 5);
        QVERIFY(unit.muted);
        QVERIFY(unit.film);

        win_->muteButton()->click();
        win_->filmButton()->click();
        QVERIFY(!win_->muteButton()->isChecked());
        QVERIFY(!win_->filmButton()->isChecked());
        QVERIFY(settle());
        unit = sim_->dump();
        QVERIFY(!unit.muted);
        QVERIFY(!unit.film);
    }

    // ---- Meters

    void metersShowTheUnitsLevels() {
        QVERIFY(openConnected());
        // xelsim's order: L R C S LS RS LE RE.
        QCOMPARE(QString::fromStdString(sim_->panel("vu 1 100 1000 0 4095 7 50 1000")), QStringLiteral("ok"));
        // Shown left to right as L C R Ls Rs SW 7 8; LeftEx 50 is below the threshold 40.
        const QList<int> expected{3, 60, 41, 60, 19, 0, 0, 60};
        const auto shown = [&] {
            QList<int> v;
            for (int m = 0; m < 8; ++m) v << win_->meter(m)->value();
            return v;
        };
        QTRY_COMPARE_WITH_TIMEOUT(shown(), expected, kWaitMs);
        QVERIFY(contest::saveScreenshot(win_->grab().toImage(), QStringLiteral("main-meters")));

        // The meters keep their last positions once the link is gone.
        win_->disconnectUnit();
        QTest::qWait(3 * CXelExecDlg::kMeterPeriodMs);
        QCOMPARE(shown(), expected);
    }

    // ---- A lost link

    void commFailDisconnectsThenTells() {
        QVERIFY(openConnected());
        bool timerStopped = false, connectedAtMessage = true;
        QString statusAtMessage;
        QColor colourAtMessage;
        prompts_.onMessage = [&](const contest::RecordingPrompts::Message&) {
            timerStopped = !win_->meterTimer().isActive();
            connectedAtMessage = isConnected();
            statusAtMessage = win_->statusBox()->text();
            colourAtMessage = QColor(pixelOf(win_->statusBox(), QPoint(1, 1)));
        };
        QCOMPARE(QString::fromStdString(sim_->panel("drop")), QStringLiteral("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(prompts_.messages.size(), size_t(1), kWaitMs);
        QCOMPARE(prompts_.messages[0].text, QStringLiteral("Communication to the Xelor has been lost."));
        QCOMPARE(prompts_.messages[0].icon, QMessageBox::Critical);
        QVERIFY(timerStopped);
        QVERIFY(!connectedAtMessage);
        QCOMPARE(statusAtMessage, QStringLiteral("Disconnected"));
        QCOMPARE(colourAtMessage, CStatusBox::disconnectedBackground());
        // Once per failure: the monitor stays quiet until the next query.
        QTest::qWait(1500);
        QCOMPARE(prompts_.messages.size(), size_t(1));
    }

    // ---- Configuration files

    void configurationFiles() {
        QVERIFY(openConnected());
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString saved = dir.filePath(QStringLiteral("booth.xel"));

        prompts_.saveAnswers << saved;
        win_->action(QStringLiteral("&Save..."))->trigger();
        QCOMPARE(prompts_.saveRequests.size(), size_t(1));
        QCOMPARE(prompts_.saveRequests[0].filter, QStringLiteral("Xelor Config (*.xel)|*.xel|All Files (*.*)|*.*||"));
        QCOMPARE(prompts_.saveRequests[0].defaultExtension, QStringLiteral("xel"));
        QVERIFY(prompts_.saveRequests[0].hideReadOnly && prompts_.saveRequests[0].overwritePrompt);
        QCOMPARE(QFileInfo(saved).size(), qint64(352));
        QVERIFY(prompts_.messages.empty());
        // A save that cannot be written is said (the unit's setup is not on disk).
        prompts_.saveAnswers << dir.filePath(QStringLiteral("no-such-folder/booth.xel"));
        win_->action(QStringLiteral("&Save..."))->trigger();
        QCOMPARE(prompts_.messages.size(), size_t(1));
        QCOMPARE(prompts_.messages[0].text, QStringLiteral("Failed to save the configuration file."));
        prompts_.messages.clear();

        // A file the core refuses: the message, and nothing else changes.
        const QString bogus = dir.filePath(QStringLiteral("short.xel"));
        {
            QFile f(bogus);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("not a setup");
        }
        win_->theaterNameEdit()->setText(QStringLiteral("typed"));
        const QString titleBefore = win_->titleLabel()->text();
        prompts_.openAnswers << bogus;
        win_->action(QStringLiteral("Load..."))->trigger();
        QCOMPARE(prompts_.openRequests.size(), size_t(1));
        QCOMPARE(prompts_.openRequests[0].filter, prompts_.saveRequests[0].filter);
        QCOMPARE(prompts_.openRequests[0].defaultExtension, QString());
        QVERIFY(prompts_.openRequests[0].hideReadOnly && prompts_.openRequests[0].overwritePrompt);
        QCOMPARE(prompts_.messages.size(), size_t(1));
        QCOMPARE(prompts_.messages[0].text, QStringLiteral("Failed to load the configuration file."));
        QCOMPARE(prompts_.messages[0].icon, QMessageBox::NoIcon);
        QCOMPARE(win_->titleLabel()->text(), titleBefore);
        QCOMPARE(win_->theaterNameEdit()->text(), QStringLiteral("typed"));

        // A cancelled dialog does nothing at all.
        win_->action(QStringLiteral("Load..."))->trigger();
        QCOMPARE(prompts_.messages.size(), size_t(1));

        // The saved file loads, and the window shows what it holds: the theatre
        // fields are read back from the profile (the typed text was never sent).
        prompts_.openAnswers << saved;
        win_->action(QStringLiteral("Load..."))->trigger();
        QCOMPARE(prompts_.messages.size(), size_t(1));
        QCOMPARE(win_->theaterNameEdit()->text(), QString());
        QCOMPARE(win_->titleLabel()->text(), QStringLiteral("Processor - Default"));
    }

    // ---- The definition in use

    void titleAndCaptionsFollowTheDefinitionInUse() {
        const contest::DefText cinema{"Cinema 7",
                                      "11111111-2222-4333-8444-555555555555",
                                      {"Mono", "Stereo", "", "Dolby SR", "Digital", "", "NonSync", ""},
                                      {1, 2, 4, 5, 7},
                                      4};
        const std::filesystem::path libraryFile = contest::stateDir() / "xelexec.ini";
        restoreLibrary_ = contest::readBytes(libraryFile);
        contest::writeBytes(libraryFile, contest::sectionBytes(contest::kDefault) + contest::sectionBytes(cinema));
        app().loadProcessorLibrary();
        QVERIFY(openConnected());
        const auto captions = [&] {
            QStringList c;
            for (int k = 1; k <= 8; ++k) c << win_->formatButton(k)->text();
            return c;
        };

        // "Change Settings..." OK with the cinema definition.
        bool seen = false;
        contest::whenModal<CDlgSettings>(seen, [](CDlgSettings& d) {
            d.processorList()->setCurrentIndex(1);
            d.okButton()->click();
        });
        win_->findChild<QPushButton*>(QStringLiteral("changeSettings"))->click();
        QVERIFY(seen);
        QCOMPARE(win_->titleLabel()->text(), QStringLiteral("Processor - Cinema 7"));
        QCOMPARE(captions(), (QStringList{"Mono", "Stereo", "", "Dolby SR", "Digital", "", "NonSync", ""}));

        // "Processor Library..." renames it and changes its format names.
        bool edited = false;
        contest::whenModal<CDlgProcessors>(seen, [&edited](CDlgProcessors& d) {
            contest::whenModal<CDlgAddProcessor>(edited, [](CDlgAddProcessor& e) {
                e.nameEdit()->setText(QStringLiteral("Cinema 8"));
                e.formatNameEdit(1)->setText(QStringLiteral("Mono A"));
                e.formatNameEdit(3)->setText(QStringLiteral("Matrix"));
                e.okButton()->click();
            });
            d.tree()->setCurrentItem(d.tree()->findItems(QStringLiteral("Cinema 7"), Qt::MatchExactly).value(0));
            d.modifyProcessor();
            d.accept();
        });
        win_->action(QStringLiteral("Processor Library..."))->trigger();
        QVERIFY(seen && edited);
        QCOMPARE(win_->titleLabel()->text(), QStringLiteral("Processor - Cinema 8"));
        QCOMPARE(captions(), (QStringList{"Mono A", "Stereo", "Matrix", "Dolby SR", "Digital", "", "NonSync", ""}));
    }

    // ---- Theatre fields

    void theatreFieldsAreWrittenWhenLeft() {
        QVERIFY(openConnected());
        QCOMPARE(win_->theaterNumberEdit()->maxLength(), 32);
        QCOMPARE(win_->theaterNameEdit()->maxLength(), 32);
        QCOMPARE(win_->screenNumberEdit()->maxLength(), 4);

        // Focus moves only inside the active window.
        QApplication::setActiveWindow(win_.get());
        QVERIFY(QTest::qWaitForWindowActive(win_.get()));
        win_->theaterNameEdit()->setFocus();
        QTest::keyClicks(win_->theaterNameEdit(), QStringLiteral("Odeon Leicester Square"));
        win_->screenNumberEdit()->setFocus();  // leaves the name
        QTest::keyClicks(win_->screenNumberEdit(), QStringLiteral("123456"));
        QCOMPARE(win_->screenNumberEdit()->text(), QStringLiteral("1234"));
        win_->theaterNumberEdit()->setFocus();  // leaves the screen number

        Bstr name, screen;
        QCOMPARE(app().profile()->get_TheaterName(name.put()), S_OK);
        QCOMPARE(console::fromBstr(name.get()), QStringLiteral("Odeon Leicester Square"));
        QCOMPARE(app().profile()->get_ScreenNumber(screen.put()), S_OK);
        QCOMPARE(console::fromBstr(screen.get()), QStringLiteral("1234"));
        // Enter in a field neither closes the window nor sends anything.
        QTest::keyClick(win_->theaterNumberEdit(), Qt::Key_Return);
        QVERIFY(win_->isVisible());
    }

    void menusLeaveTheTheatreFieldUnwritten() {
        QVERIFY(openConnected());
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QApplication::setActiveWindow(win_.get());
        QVERIFY(QTest::qWaitForWindowActive(win_.get()));
        QLineEdit* name = win_->theaterNameEdit();
        name->setFocus();
        QTest::keyClicks(name, QStringLiteral("Odeon"));
        const auto unitName = [&] {
            Bstr text;
            (void)app().profile()->get_TheaterName(text.put());
            return console::fromBstr(text.get());
        };
        const char* const fault = "theatre fields are written to the unit whenever a menu opens";

        // The box's own context menu and the menu bar keep the caret in the box.
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(5, 5), name->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(name, &rightClick);
        QWidget* contextMenu = QApplication::activePopupWidget();
        QVERIFY(contextMenu);
        QVERIFY2(unitName().isEmpty(), fault);
        contextMenu->close();
        QMenu* file = openMenu(0);
        QVERIFY(file->isVisible());
        QVERIFY2(unitName().isEmpty(), fault);

        // "&Save..." chosen from that menu still saves what was typed.
        const QString saved = dir.filePath(QStringLiteral("booth.xel"));
        prompts_.saveAnswers << saved;
        file->hide();
        win_->action(QStringLiteral("&Save..."))->trigger();
        const std::string bytes = contest::readBytes(saved.toStdString());
        QCOMPARE(bytes.size(), xel::core::kConfigFileSize);
        QCOMPARE(bytes.substr(xel::core::ConfigLayout::kTheaterName, 6), std::string("Odeon\0", 6));
        QCOMPARE(unitName(), QStringLiteral("Odeon"));
        QVERIFY(settle());
        QVERIFY(prompts_.messages.empty());
    }

    // ---- Closing

    void closingCleansUpAndDisconnects_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("Escape") << 0;
        QTest::newRow("Exit") << 1;
        QTest::newRow("close box") << 2;
    }
    void closingCleansUpAndDisconnects() {
        QFETCH(int, how);
        QVERIFY(openConnected());
        QTest::keyClick(win_.get(), Qt::Key_Return);
        QTest::keyClick(win_.get(), Qt::Key_Enter);
        QVERIFY(win_->isVisible());

        if (how == 0)
            QTest::keyClick(win_.get(), Qt::Key_Escape);
        else if (how == 1)
            win_->action(QStringLiteral("E&xit"))->trigger();
        else
            win_->close();
        QVERIFY(!win_->isVisible());
        QCOMPARE(win_->result(), int(QDialog::Rejected));
        QVERIFY(!isConnected());
        QVERIFY(sim_->waitForLog(
            [](const std::vector<xeltest::XelsimLogEntry>& log) {
                return std::any_of(log.begin(), log.end(), [](const auto& e) { return e.event == "disconnect"; });
            },
            kWaitMs));
        // The core's monitor was stopped: a change at the unit shows no more.
        QCOMPARE(QString::fromStdString(sim_->panel("button 2")), QStringLiteral("ok"));
        QTest::qWait(1500);
        QCOMPARE(currentFormat(), 0);
    }

    void closeDuringAConnectWaitsForIt() {
        QVERIFY(startSim());
        QVERIFY(openWindow());
        HeldConnectWorker worker;
        worker.whileHeld = [&] { QTest::keyClick(win_.get(), Qt::Key_Escape); };
        win_->setConnectWorker(&worker);
        win_->connectUnit();
        QVERIFY(!win_->isVisible());
        QVERIFY(!isConnected());
    }

    // ---- About

    void aboutBox() {
        QVERIFY(openWindow());
        QString caption, text;
        bool iconShown = false;
        QTimer::singleShot(0, this, [&] {
            auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
            QVERIFY(box);
            caption = box->windowTitle();
            text = box->findChild<QLabel*>(QStringLiteral("aboutText"))->text();
            iconShown = !box->findChild<QLabel*>(QStringLiteral("aboutIcon"))->pixmap().isNull();
            contest::saveScreenshot(box->grab().toImage(), QStringLiteral("about"));
            box->findChild<QPushButton*>(QStringLiteral("aboutOk"))->click();
        });
        win_->action(QStringLiteral("&About"))->trigger();
        QCOMPARE(caption, QStringLiteral("About XelExec"));
        QCOMPARE(text, QStringLiteral("Xelor Laptop Interface Software Ver 2.1.0.0"));
        QVERIFY(iconShown);
        QVERIFY(win_->isVisible());
    }
};

int runMainWindowTests(int argc, char** argv) {
    TestMainWindow t;
    return QTest::qExec(&t, argc, argv);
}
CONSOLE_TEST_RUNNER(runMainWindowTests);

#include "TestMainWindow.moc"
