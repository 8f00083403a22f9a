// "Change Settings" against the real core and xelsim: what it shows from the unit
// and the definition in use, and what OK writes into the unit's EEPROM.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <memory>

#include "ConsoleTestSupport.h"
#include "CoreSession.h"
#include "ProcessorDialogSupport.h"
#include "console/CDlgSettings.h"
#include "console/CXelExecApp.h"
#include "core/xelor.h"
#include "tests/support/XelsimProcess.h"

using contest::DefText;
using contest::kDefault;
using contest::sectionBytes;
using xel::objrt::Bstr;
using xel::objrt::ComPtr;

namespace {

// Pin 4 selects format 6 (and so does pin 6); format 7 is unnamed; mode pin 2.
const DefText kPulse{"Pulse Rack",
                     "22222222-3333-4444-8555-666666666666",
                     {"Mono", "Stereo", "SR", "SRD", "DTS", "Non Sync", "", "Mic"},
                     {1, 3, 2, 6, 5, 6, 0, 8},
                     2};

// The text the unit holds at `address`, up to its first zero byte.
std::string eepromText(const xeltest::XelsimDump& d, size_t address, size_t size) {
    std::string s;
    for (size_t i = address; i < address + size && d.eeprom.at(i) != 0; ++i) s += char(d.eeprom[i]);
    return s;
}

}  // namespace

class TestChangeSettings : public QObject {
    Q_OBJECT

    std::unique_ptr<xeltest::XelsimProcess> sim_;
    contest::ScriptedPrompts prompts_;

    CXelExecApp& app() { return *CXelExecApp::instance(); }
    const CProcessorDef& def(const DefText& d) {
        return app().library().at(
            app().library().indexOf(*CProcessorDef::guidFromText(QString::fromStdString(d.guid))));
    }
    // Waits until the unit has answered every change made so far.
    void settle() {
        ComPtr<xel::IXelStatus> status;
        QCOMPARE(ComPtr<xel::IXel>(app().core()).as(status), S_OK);
        LONG result = -1;
        QCOMPARE(status->WaitSettled(10000, &result), S_OK);
        QVERIFY2(result == xel::SettleAllAnswered, qPrintable(QStringLiteral("settling gave %1\n").arg(result) +
                                                              QString::fromStdString(sim_->diagnostics())));
    }
    std::vector<std::string> writesSince(size_t mark) const {
        std::vector<std::string> out;
        const auto texts = sim_->receivedTexts();
        for (size_t i = mark; i < texts.size(); ++i)
            if (texts[i].rfind("wreep", 0) == 0) out.push_back(texts[i]);
        return out;
    }
    static bool contains(const std::vector<std::string>& v, const std::string& s) {
        return std::find(v.begin(), v.end(), s) != v.end();
    }
    static QString joined(const std::vector<std::string>& v) {
        QStringList l;
        for (const auto& s : v) l << QString::fromStdString(s);
        return l.join(QStringLiteral(" | "));
    }

private slots:
    // A fresh core connected to a fresh unit, with the library of two definitions.
    void init() {
        contest::writeBytes(contest::stateDir() / "xelexec.ini", sectionBytes(kDefault) + sectionBytes(kPulse));
        app().loadProcessorLibrary();
        prompts_ = contest::ScriptedPrompts();
        app().setPrompts(&prompts_);
        const QString why = contest::ensureCoreRegistered();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        sim_ = std::make_unique<xeltest::XelsimProcess>();
        QVERIFY(contest::storeAddress(QString::fromStdString(sim_->address())));
        QVERIFY2(app().createCore(), "the core object could not be created");
        xel::CommErr err = xel::CommErrNone;
        QCOMPARE(app().connection()->Connect(&err), S_OK);
        QCOMPARE(err, xel::CommErrNone);
        QCOMPARE(app().core()->Query(), S_OK);
        settle();  // the monitor's resync after the Query is behind us
        // The unit works with the pulse definition, film return pin 4, digital, COAX 2.
        app().selectDefinition(def(kPulse), true);
        app().core()->put_FilmReturnFormat(4);
        app().core()->put_PowerOnMode(1);
        app().core()->put_PowerOnFormat(5);
        settle();
    }

    void cleanup() {
        app().setPrompts(nullptr);
        if (app().core()) {
            app().core()->Cleanup();
            app().connection()->Disconnect();
            app().releaseCore();
        }
        if (sim_) {
            const int status = sim_->stop();
            QVERIFY2(status == 0, sim_->diagnostics().c_str());
            sim_.reset();
        }
    }

    void opensWithTheUnitsSettingsAndTheDefinitionInUse() {
        CDlgSettings dlg(app(), nullptr);
        QStringList items;
        for (int i = 0; i < dlg.processorList()->count(); ++i) items << dlg.processorList()->itemText(i);
        QCOMPARE(items, (QStringList{"Default", "Pulse Rack"}));
        QCOMPARE(dlg.processorList()->currentIndex(), 1);
        QCOMPARE(dlg.processorInput()->text(), QStringLiteral("SR"));  // mode pin 2 selects format 3
        QVERIFY(dlg.powerOnModeRadio(1)->isChecked());
        QVERIFY(dlg.powerOnFormatRadio(5)->isChecked());
        // Film return pin 4 selects format 6: its radio, not format 4's.
        QCOMPARE(dlg.pulseChoice(), 6);
        QCOMPARE(dlg.pulseRadio(6)->text(), QStringLiteral("Non Sync"));
        dlg.show();
        QVERIFY(dlg.pulseRadio(0)->isVisible());
        QVERIFY(!dlg.pulseRadio(7)->isVisible());  // unnamed format
        QVERIFY(dlg.pulseRadio(8)->isVisible());
        QVERIFY(contest::saveScreenshot(dlg.grab().toImage(), QStringLiteral("change-settings")));

        // OK without changes sends the first pin that selects format 6: 4 again.
        const size_t mark = sim_->receivedTexts().size();
        dlg.okButton()->click();
        settle();
        const auto writes = writesSince(mark);
        QVERIFY2(contains(writes, "wreep 20C 4"), qPrintable(joined(writes)));
        QVERIFY2(contains(writes, "wreep 1 6"), qPrintable(joined(writes)));  // digital, format 5 + 1
    }

    void anotherDefinitionShowsItsFormatsAndResetsThePulse() {
        CDlgSettings dlg(app(), nullptr);
        dlg.processorList()->setCurrentIndex(0);
        QCOMPARE(dlg.processorInput()->text(), QStringLiteral("Analog 2ch"));
        QCOMPARE(dlg.pulseChoice(), int(CDlgSettings::kNoPulse));
        QVERIFY(dlg.pulseRadio(0)->isChecked());
        QCOMPARE(dlg.pulseRadio(5)->text(), QStringLiteral("S/PDIF 1"));
        QVERIFY(dlg.pulseRadio(7)->isHidden() && dlg.pulseRadio(8)->isHidden());
        QVERIFY(!dlg.pulseRadio(6)->isHidden());
    }

    void okWritesTheSelectionIntoTheUnit() {
        CDlgSettings dlg(app(), nullptr);
        dlg.processorList()->setCurrentIndex(0);
        dlg.powerOnModeRadio(0)->click();    // "Film / Bypass"
        dlg.powerOnFormatRadio(4)->click();  // "COAX 1"
        dlg.pulseRadio(5)->click();          // format 5: pin 5 in the default processor
        const size_t mark = sim_->receivedTexts().size();
        dlg.okButton()->click();
        settle();

        QCOMPARE(app().currentGuid(), CProcessorDef::defaultProcessorGuid());
        const xeltest::XelsimDump d = sim_->dump();
        QCOMPARE(eepromText(d, 0x1E8, 36), kDefault.guid);
        QCOMPARE(eepromText(d, 0x004, 32), std::string("Default"));
        for (int record = 0; record < 7; ++record) QCOMPARE(d.eeprom.at(0x68 + 24 * record + 23) & 0x0F, 1);
        QCOMPARE(int(d.eeprom.at(0x001)), 0x80 | (4 + 1));  // mode 0 sets bit 7
        QCOMPARE(int(d.eeprom.at(0x20C)), 5);
        const auto writes = writesSince(mark);
        QVERIFY2(contains(writes, "wreep 20C 5"), qPrintable(joined(writes)));
    }

    void cancelSendsNothing() {
        CDlgSettings dlg(app(), nullptr);
        dlg.processorList()->setCurrentIndex(0);
        dlg.powerOnModeRadio(0)->click();
        dlg.powerOnFormatRadio(0)->click();
        dlg.pulseRadio(0)->click();
        const size_t mark = sim_->receivedTexts().size();
        dlg.cancelButton()->click();
        settle();
        QVERIFY2(writesSince(mark).empty(), qPrintable(joined(writesSince(mark))));
        LONG v = -1;
        QCOMPARE(app().core()->get_PowerOnMode(&v), S_OK);
        QCOMPARE(v, LONG(1));
        QCOMPARE(app().currentGuid(), *CProcessorDef::guidFromText(QString::fromStdString(kPulse.guid)));
    }
};

static int runChangeSettingsTests(int argc, char** argv) {
    TestChangeSettings t;
    return QTest::qExec(&t, argc, argv);
}
CONSOLE_TEST_RUNNER(runChangeSettingsTests);

#include "TestChangeSettings.moc"
