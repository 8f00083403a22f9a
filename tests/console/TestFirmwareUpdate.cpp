// "Firmware Update" against the real core and xelsim's bootloader on a
// pseudo-terminal mapped to COM1: the name and image checks, the status lines of
// a download that completes and of one the unit stops answering, the buttons'
// busy rule and its no-progress escape, the bar following the download, the
// main window's link taken down before the download, and the screenshots.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ConsoleTestSupport.h"
#include "CoreSession.h"
#include "console/CDlgFirmwareUpdate.h"
#include "console/CStatusBox.h"
#include "console/CXelExecApp.h"
#include "console/CXelExecDlg.h"
#include "console/CommAddress.h"
#include "tests/support/CoreRegistration.h"
#include "tests/support/HexRecord.h"
#include "tests/support/XelsimProcess.h"

namespace fs = std::filesystem;
using Dlg = CDlgFirmwareUpdate;

namespace {

constexpr int kDownloadWaitMs = 120000;

std::string record(int type, unsigned address, const std::vector<uint8_t>& data) {
    return xeltest::hexRecord(type, address, data) + "\r\n";
}

// A small program at 0x000400 and two bytes of data EEPROM.
std::string smallImage() {
    return record(0, 0x0400, {0xEF, 0x0C, 0xF0, 0x02, 0x11, 0x22, 0x33, 0x44}) +
           record(0, 0x0410, {0xA5, 0x5A, 0xC3, 0x3C}) + record(4, 0, {0x00, 0xF0}) + record(0, 0x0000, {0x58, 0x45}) +
           record(1, 0, {});
}

QStringList lines(std::initializer_list<const char*> texts) {
    QStringList out;
    for (const char* t : texts) out << QString::fromLatin1(t);
    return out;
}

const QStringList kSuccessLines =
    lines({Dlg::kValidating, Dlg::kWaiting, Dlg::kErasing, Dlg::kProgramming, Dlg::kWritingData, Dlg::kCompleted});

fs::path portsDir() { return contest::stateDir() / "ports"; }

void mapCom1(const std::string& target) {
    fs::create_directories(portsDir());
    fs::remove(portsDir() / "COM1");
    fs::create_symlink(target, portsDir() / "COM1");
}

}  // namespace

class TestFirmwareUpdate : public QObject {
    Q_OBJECT

    CXelExecApp& app() { return *CXelExecApp::instance(); }
    xel::IComm* comm() { return app().connection(); }
    bool connected() {
        VARIANT_BOOL v = VARIANT_FALSE;
        return comm()->IsConnected(&v) == S_OK && v != VARIANT_FALSE;
    }

    contest::RecordingPrompts prompts_;
    std::unique_ptr<xeltest::ScratchDir> dir_;
    std::unique_ptr<xeltest::XelsimProcess> sim_;

    // xelsim on a pseudo-terminal that the core reaches as COM1.
    bool startSim(std::vector<std::string> args) {
        try {
            sim_ = std::make_unique<xeltest::XelsimProcess>(std::move(args), xeltest::XelsimProcess::Link::Pty);
        } catch (const std::exception& e) {
            qWarning("xelsim did not start: %s", e.what());
            return false;
        }
        mapCom1(sim_->linkPath());
        CommAddress::set(comm(), QStringLiteral("COM1"));
        return true;
    }

    QString writeHex(const std::string& text, const char* name = "xelapp.hex") {
        const std::string path = dir_->file(name);
        contest::writeBytes(path, text);
        return QString::fromStdString(path);
    }

    static bool idle(const Dlg& dlg) {
        return !dlg.busy() && dlg.downloadButton()->isEnabled() && dlg.doneButton()->isEnabled();
    }

    nlohmann::json bootDump() { return nlohmann::json::parse(sim_->panel("dump"), nullptr, false); }

private slots:
    void initTestCase() {
        const auto registered = xeltest::registerCore();
        QVERIFY2(registered, registered.message());
        QVERIFY2(app().createCore(), qPrintable(QStringLiteral("core status %1").arg(app().coreStatus())));
        QVERIFY(comm());
    }

    void init() {
        std::error_code ec;
        fs::remove_all(portsDir(), ec);
        prompts_ = contest::RecordingPrompts();
        app().setPrompts(&prompts_);
        dir_ = std::make_unique<xeltest::ScratchDir>();
        QVERIFY(!connected());
    }

    void cleanup() {
        if (connected()) (void)comm()->Disconnect();
        if (sim_) QCOMPARE(sim_->stop(), 0);
        sim_.reset();
        dir_.reset();
        app().setPrompts(nullptr);
        CommAddress::set(comm(), QString());
    }

    // ---- Before the download: the dialog as it opens, Browse, the name and image checks

    void opensIdleWithItsTexts() {
        Dlg dlg(app(), nullptr);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Firmware Update"));
        QCOMPARE(
            dlg.instructions()->text(),
            QStringLiteral("Power the unit on while holding down the \"Mode\" button.\n\nChoose the hex file to be "
                           "downloaded and click the \"Download\" button below."));
        QVERIFY(dlg.fileNameEdit()->text().isEmpty());
        QCOMPARE(dlg.statusList()->count(), 0);
        QVERIFY(idle(dlg));

        prompts_.openAnswers << QStringLiteral("/media/usb/xel 2.1.hex");
        dlg.browseButton()->click();
        QCOMPARE(prompts_.openRequests.size(), size_t{1});
        QCOMPARE(prompts_.openRequests[0].filter, QStringLiteral("Hex Files (*.hex)|*.hex|All Files (*.*)|*.*||"));
        QVERIFY(prompts_.openRequests[0].defaultExtension.isEmpty());
        QVERIFY(prompts_.openRequests[0].hideReadOnly);
        QCOMPARE(dlg.fileNameEdit()->text(), QStringLiteral("/media/usb/xel 2.1.hex"));
        // Cancelling the file dialog keeps the name.
        dlg.browseButton()->click();
        QCOMPARE(dlg.fileNameEdit()->text(), QStringLiteral("/media/usb/xel 2.1.hex"));

        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(contest::saveScreenshot(dlg.grab().toImage(), QStringLiteral("firmware-update-idle")));
    }

    void namesAndImagesThatAreRefused() {
        Dlg dlg(app(), nullptr);
        dlg.fileNameEdit()->setText(QStringLiteral("ab"));
        dlg.downloadButton()->click();
        QCOMPARE(dlg.statusLines(), lines({Dlg::kInvalidName}));
        QVERIFY(idle(dlg));

        // Three characters pass the length test; no such file is an invalid image.
        dlg.fileNameEdit()->setText(QStringLiteral("a.h"));
        dlg.downloadButton()->click();
        QCOMPARE(dlg.statusLines(), lines({Dlg::kInvalidName, Dlg::kValidating, Dlg::kInvalidImage}));
        QVERIFY(idle(dlg));

        // One checksum off by one.
        std::string bad = smallImage();
        const size_t end = bad.find("\r\n");
        bad[end - 1] = bad[end - 1] == '0' ? '1' : static_cast<char>(bad[end - 1] - 1);
        dlg.fileNameEdit()->setText(writeHex(bad));
        dlg.downloadButton()->click();
        QCOMPARE(dlg.statusLines().mid(3), lines({Dlg::kValidating, Dlg::kInvalidImage}));
        QVERIFY(idle(dlg));
        QCOMPARE(dlg.statusList()->currentRow(), dlg.statusList()->count() - 1);
        QVERIFY(!fs::exists(fs::path(dir_->path()) / "PROGMEM.MCP"));

        // Escape while idle ends the dialog.
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(!dlg.isVisible());
    }

    // ---- Downloads into xelsim's bootloader

    void downloadCompletesAndASecondOneAppends() {
        QVERIFY(startSim({"--bootloader"}));
        Dlg dlg(app(), nullptr);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QList<int> values;
        bool shot = false, busyWhileShown = true;
        connect(&dlg, &Dlg::progressed, &dlg, [&](int value) {
            values << value;
            if (!shot && value > 200 && value < Dlg::kBarMaximum) {
                shot = contest::saveScreenshot(dlg.grab().toImage(), QStringLiteral("firmware-update-downloading"));
                busyWhileShown = !dlg.downloadButton()->isEnabled() && !dlg.doneButton()->isEnabled();
            }
        });

        dlg.fileNameEdit()->setText(writeHex(smallImage()));
        dlg.downloadButton()->click();
        QVERIFY(dlg.busy());
        QVERIFY(!dlg.downloadButton()->isEnabled() && !dlg.doneButton()->isEnabled());
        // The close command is refused while the download runs.
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(dlg.isVisible());

        QTRY_VERIFY_WITH_TIMEOUT(!dlg.busy(), kDownloadWaitMs);
        QCOMPARE(dlg.statusLines(), kSuccessLines);
        QVERIFY(idle(dlg));
        QVERIFY(shot);
        QVERIFY2(busyWhileShown, "both buttons stay disabled while the download runs");
        QCOMPARE(dlg.progressBar()->value(), Dlg::kBarMaximum);
        QVERIFY2(values.size() > 2 && values.first() < 1000, "the bar follows the erase, not only the end");

        const nlohmann::json j = bootDump();
        QVERIFY2(j.is_object(), sim_->diagnostics().c_str());
        QCOMPARE(j.value("boot_flag", -1), 0);
        QCOMPARE(j.at("program").get<std::string>().substr(0x400 * 2, 16), std::string("EF0CF00211223344"));
        QCOMPARE(j.at("data_eeprom").get<std::string>().substr(0, 4), std::string("5845"));

        // A second download starts from the top and keeps the first one's lines.
        dlg.downloadButton()->click();
        QVERIFY(!dlg.downloadButton()->isEnabled());
        QVERIFY2(dlg.progressBar()->value() < Dlg::kBarMaximum, "a new download starts its bar afresh");
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.busy(), kDownloadWaitMs);
        QCOMPARE(dlg.statusLines(), kSuccessLines + kSuccessLines);
        QCOMPARE(dlg.statusList()->currentRow(), dlg.statusList()->count() - 1);
        QVERIFY(idle(dlg));
    }

    void unitThatStopsAnsweringEndsFailed() {
        QVERIFY(startSim({"--bootloader", "--boot-silent-after", "300"}));
        Dlg dlg(app(), nullptr);
        dlg.setStallTimeout(250);
        bool doneWhileBusy = false, downloadWhileBusy = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, &dlg, [&] {
            if (dlg.busy() && dlg.doneButton()->isEnabled()) {
                doneWhileBusy = true;
                downloadWhileBusy = downloadWhileBusy || dlg.downloadButton()->isEnabled();
            }
        });
        watch.start(20);

        dlg.fileNameEdit()->setText(writeHex(smallImage()));
        dlg.downloadButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.busy(), kDownloadWaitMs);
        watch.stop();
        QCOMPARE(dlg.statusLines(),
                 lines({Dlg::kValidating, Dlg::kWaiting, Dlg::kErasing, Dlg::kFailed, Dlg::kFailedHint}));
        QVERIFY(idle(dlg));
        QVERIFY2(doneWhileBusy, "a download without progress gives \"Done\" back");
        QVERIFY2(!downloadWhileBusy, "but not \"Download\" while the core still runs it");
        QCOMPARE(dlg.progressBar()->format(), QStringLiteral("%p%"));
        QVERIFY2(bootDump().at("boot_flag").is_null(), "an incomplete program is never marked complete");
    }

    // ---- The main window

    void connectedMainWindowIsDisconnectedFirst() {
        QVERIFY(startSim({}));
        CXelExecDlg win(app());
        win.show();
        QVERIFY(QTest::qWaitForWindowExposed(&win));
        win.connectUnit();
        QVERIFY2(connected(), sim_->diagnostics().c_str());
        QVERIFY(win.meterTimer().isActive());
        // The operator powers the unit on with Mode held.
        QCOMPARE(sim_->panel("power mode"), std::string("ok"));

        Dlg dlg(app(), &win);
        // A refused image leaves the link alone.
        dlg.fileNameEdit()->setText(QStringLiteral("ab"));
        dlg.downloadButton()->click();
        QVERIFY(connected());
        QCOMPARE(win.statusBox()->text(), QLatin1String(CXelExecDlg::kConnected));

        dlg.fileNameEdit()->setText(writeHex(smallImage()));
        dlg.downloadButton()->click();
        QVERIFY(!connected());
        QCOMPARE(win.statusBox()->text(), QLatin1String(CXelExecDlg::kDisconnected));
        QVERIFY(!win.meterTimer().isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.busy(), kDownloadWaitMs);
        QCOMPARE(dlg.statusLines().mid(1), kSuccessLines);
        QVERIFY(!connected());
        QCOMPARE(bootDump().value("boot_flag", -1), 0);
    }

    void helpMenuOpensTheDialog() {
        CXelExecDlg win(app());
        QString title;
        bool modal = false;
        QTimer::singleShot(0, &win, [&] {
            QWidget* w = QApplication::activeModalWidget();
            if (auto* dlg = qobject_cast<Dlg*>(w)) {
                title = dlg->windowTitle();
                modal = dlg->isModal();
                dlg->doneButton()->click();
            } else if (w) {
                w->close();
            }
        });
        win.action(QStringLiteral("Firmware Update..."))->trigger();
        QCOMPARE(title, QStringLiteral("Firmware Update"));
        QVERIFY(modal);
    }
};

int runFirmwareUpdateTests(int argc, char** argv) {
    TestFirmwareUpdate t;
    return QTest::qExec(&t, argc, argv);
}
CONSOLE_TEST_RUNNER(runFirmwareUpdateTests);

#include "TestFirmwareUpdate.moc"
