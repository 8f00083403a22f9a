// "Processor Library" and "Edit Processor": the tree, refusals for the default
// processor, deletes, the pin table OK builds, the name rules, renames, import and
// export — each checked against the library file's bytes.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QtTest>

#include "ConsoleTestSupport.h"
#include "ProcessorDialogSupport.h"
#include "console/CDlgAddProcessor.h"
#include "console/CDlgProcessors.h"
#include "console/CXelExecApp.h"

using contest::DefText;
using contest::kDefault;
using contest::readBytes;
using contest::sectionBytes;
using contest::writeBytes;

namespace {

// Format 3 and 6 unnamed; pin 4 selects format 5, the mode format.
const DefText kCinema{"Cinema 7",
                      "11111111-2222-4333-8444-555555555555",
                      {"Mono", "Stereo", "", "Dolby SR", "Digital", "", "NonSync", ""},
                      {1, 2, 4, 5, 7},
                      4};
const DefText kRack{"Rack", "aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee", {"A", "B"}, {2, 1}, 2};

const char* const kRefused = "You can not delete or modify the default processor.";

}  // namespace

class TestProcessorDialogs : public QObject {
    Q_OBJECT

    contest::ScriptedPrompts prompts_;

    CXelExecApp& app() { return *CXelExecApp::instance(); }
    CProcessorLibrary& lib() { return app().library(); }
    std::filesystem::path file() const { return contest::stateDir() / "xelexec.ini"; }
    std::string library(std::initializer_list<DefText> defs) {
        std::string s;
        for (const DefText& d : defs) s += sectionBytes(d);
        return s;
    }
    void useLibrary(std::initializer_list<DefText> defs) {
        writeBytes(file(), library(defs));
        app().loadProcessorLibrary();
    }
    QStringList names() {
        QStringList n;
        for (int i = 0; i < lib().size(); ++i) n << lib().at(i).name;
        return n;
    }
    static QTreeWidgetItem* findItem(QTreeWidget* tree, const QString& text) {
        const auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.front();
    }
    // Selects the item and runs a command of the library dialog.
    void runOn(CDlgProcessors& dlg, const QString& item, void (CDlgProcessors::*command)()) {
        QTreeWidgetItem* it = findItem(dlg.tree(), item);
        QVERIFY2(it, qPrintable(item));
        dlg.tree()->setCurrentItem(it);
        (dlg.*command)();
    }
    std::filesystem::path scratch(const char* name) const { return contest::stateDir() / name; }

private slots:
    void init() {
        contest::clearStateDir();
        prompts_ = contest::ScriptedPrompts();
        app().setPrompts(&prompts_);
        useLibrary({kDefault, kCinema, kRack});
    }
    void cleanup() { app().setPrompts(nullptr); }

    // ---- Processor Library

    void treeShowsEachDefinitionWithItsNamedFormats() {
        CDlgProcessors dlg(app(), nullptr);
        QTreeWidget* tree = dlg.tree();
        QCOMPARE(tree->topLevelItemCount(), 3);
        QTreeWidgetItem* cinema = tree->topLevelItem(1);
        QCOMPARE(cinema->text(0), QStringLiteral("Cinema 7"));
        QStringList formats;
        QStringList bold;
        for (int i = 0; i < cinema->childCount(); ++i) {
            formats << cinema->child(i)->text(0);
            if (cinema->child(i)->font(0).bold()) bold << cinema->child(i)->text(0);
            QCOMPARE(CDlgProcessors::definitionOf(cinema->child(i)), &lib().at(1));
        }
        QCOMPARE(formats, (QStringList{"Mono", "Stereo", "Dolby SR", "Digital", "NonSync"}));  // no empty formats
        QCOMPARE(bold, QStringList{"Digital"});  // the format of mode pin 4
        QVERIFY(!cinema->font(0).bold());
        dlg.show();
        dlg.tree()->setCurrentItem(findItem(tree, "Dolby SR"));
        QVERIFY(contest::saveScreenshot(dlg.grab().toImage(), QStringLiteral("processor-library")));
    }

    void defaultProcessorCannotBeModifiedOrDeleted_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<bool>("modify");
        QTest::newRow("delete through a format") << "Toslink" << false;
        QTest::newRow("delete") << "Default" << false;
        QTest::newRow("modify through a format") << "S/PDIF 2" << true;
    }
    void defaultProcessorCannotBeModifiedOrDeleted() {
        QFETCH(QString, item);
        QFETCH(bool, modify);
        CDlgProcessors dlg(app(), nullptr);
        bool opened = false;
        contest::whenModal<CDlgAddProcessor>(opened, [](CDlgAddProcessor&) {});
        runOn(dlg, item, modify ? &CDlgProcessors::modifyProcessor : &CDlgProcessors::deleteProcessor);
        QCoreApplication::processEvents();  // let the guard timer go unused
        QVERIFY(!opened);
        QCOMPARE(prompts_.shown.size(), size_t(1));
        QCOMPARE(prompts_.shown[0].text, QString::fromLatin1(kRefused));
        QCOMPARE(prompts_.shown[0].icon, QMessageBox::Warning);
        QCOMPARE(names(), (QStringList{"Default", "Cinema 7", "Rack"}));
        QCOMPARE(readBytes(file()), library({kDefault, kCinema, kRack}));
    }

    void deleteAsksAndRemovesTheWholeDefinition() {
        CDlgProcessors dlg(app(), nullptr);
        prompts_.answers = {QMessageBox::No, QMessageBox::Yes};
        runOn(dlg, "Dolby SR", &CDlgProcessors::deleteProcessor);
        QCOMPARE(readBytes(file()), library({kDefault, kCinema, kRack}));  // No: nothing happens
        runOn(dlg, "Dolby SR", &CDlgProcessors::deleteProcessor);

        QCOMPARE(prompts_.shown.size(), size_t(2));
        const auto& q = prompts_.shown[1];
        QCOMPARE(q.text, QStringLiteral("ARE YOU SURE YOU WANT TO DELETE THE PROCESSOR \"Cinema 7\"?"));
        QCOMPARE(q.icon, QMessageBox::Question);
        QCOMPARE(q.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(q.defaultButton, QMessageBox::No);
        QCOMPARE(names(), (QStringList{"Default", "Rack"}));
        QCOMPARE(dlg.tree()->topLevelItemCount(), 2);
        QVERIFY(!findItem(dlg.tree(), "Mono"));
        QCOMPARE(readBytes(file()), library({kDefault, kRack}));
    }

    void deleteRemovesTheSelectedDefinitionNotItsGuidTwin() {
        // A copy renamed by an older console: two sections share one GUID.
        DefText twin = kCinema;
        twin.name = "Cinema 7 New";
        twin.formats[0] = "Mono New";
        useLibrary({kDefault, kCinema, twin});
        CDlgProcessors dlg(app(), nullptr);
        prompts_.answers = {QMessageBox::Yes};
        runOn(dlg, "Mono New", &CDlgProcessors::deleteProcessor);
        QCOMPARE(names(), (QStringList{"Default", "Cinema 7"}));
        QCOMPARE(readBytes(file()), library({kDefault, kCinema}));
    }

    void theLastDefinitionIsKept() {
        // A library without the default processor could otherwise be emptied.
        useLibrary({kCinema});
        CDlgProcessors dlg(app(), nullptr);
        prompts_.answers = {QMessageBox::Yes};
        runOn(dlg, "Mono", &CDlgProcessors::deleteProcessor);
        QCOMPARE(prompts_.shown.size(), size_t(1));
        QVERIFY2(prompts_.shown[0].text.contains("at least one processor"), qPrintable(prompts_.shown[0].text));
        QCOMPARE(names(), QStringList{"Cinema 7"});
        QCOMPARE(readBytes(file()), library({kCinema}));
    }

    void commandsWithoutASelectionDoNothing() {
        CDlgProcessors dlg(app(), nullptr);
        dlg.tree()->clearSelection();
        dlg.modifyProcessor();
        dlg.deleteProcessor();
        dlg.exportProcessor();
        QVERIFY(prompts_.shown.empty());
        QVERIFY(prompts_.requests.empty());
        QCOMPARE(readBytes(file()), library({kDefault, kCinema, kRack}));
    }

    void addAndModifyRunEditProcessorAndRefill() {
        CDlgProcessors dlg(app(), nullptr);
        bool opened = false;
        contest::whenModal<CDlgAddProcessor>(opened, [](CDlgAddProcessor& d) {
            d.nameEdit()->setText(QStringLiteral("Added"));
            d.formatNameEdit(1)->setText(QStringLiteral("One"));
            d.okButton()->click();
        });
        dlg.addProcessor();
        QVERIFY(opened);
        QCOMPARE(names(), (QStringList{"Default", "Cinema 7", "Rack", "Added"}));
        QCOMPARE(dlg.tree()->currentItem()->text(0), QStringLiteral("Added"));
        QVERIFY(findItem(dlg.tree(), "One"));

        contest::whenModal<CDlgAddProcessor>(opened, [](CDlgAddProcessor& d) {
            QCOMPARE(d.nameEdit()->text(), QStringLiteral("Rack"));
            d.formatNameEdit(2)->setText(QStringLiteral("Bee"));
            d.okButton()->click();
        });
        runOn(dlg, "Rack", &CDlgProcessors::modifyProcessor);
        QVERIFY(opened);
        QVERIFY(findItem(dlg.tree(), "Bee"));
        QCOMPARE(lib().at(2).formatNames[1], QStringLiteral("Bee"));
    }

    // ---- Edit Processor

    void editOpensWithTheDefinition() {
        CDlgAddProcessor dlg(app(), nullptr, &lib().at(1));
        QCOMPARE(dlg.nameEdit()->text(), QStringLiteral("Cinema 7"));
        QCOMPARE(dlg.guidEdit()->text(), QString::fromStdString(kCinema.guid));
        QVERIFY(dlg.guidEdit()->isReadOnly());
        QStringList items;
        for (int j = 0; j < dlg.pinList(1)->count(); ++j) items << dlg.pinList(1)->itemText(j);
        QCOMPARE(items, (QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "(9)", "(10)", "(11)", "(12)", "(13)",
                                     "(14)", "(15)", "(16)"}));
        // The first pin selecting each format; none for formats no pin selects.
        const int expected[8] = {0, 1, -1, 2, 3, -1, 4, -1};
        for (int k = 1; k <= 8; ++k) QCOMPARE(dlg.pinList(k)->currentIndex(), expected[k - 1]);
        for (int k = 1; k <= 8; ++k) QCOMPARE(dlg.xelRadio(k)->isChecked(), k == 5);
        dlg.show();
        QVERIFY(contest::saveScreenshot(dlg.grab().toImage(), QStringLiteral("edit-processor")));
    }

    void okBuildsThePinTableHigherFormatWinning() {
        CDlgAddProcessor dlg(app(), nullptr, &lib().at(1));
        dlg.pinList(2)->setCurrentIndex(2);  // formats 2 and 5 both on pin 3
        dlg.pinList(5)->setCurrentIndex(2);
        dlg.xelRadio(2)->setChecked(true);  // the mode goes with format 2's pin
        dlg.okButton()->click();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        const CProcessorDef& d = lib().at(1);
        QCOMPARE(int(d.pinFormat[2]), 5);
        QCOMPARE(d.firstPinFor(2), 0);
        QCOMPARE(int(d.modePin), 3);
        DefText expected = kCinema;
        expected.pins = {1, 0, 5, 0, 7};  // pin 2 lost format 2; pin 4 lost format 5
        expected.modePin = 3;
        QCOMPARE(readBytes(file()), library({kDefault, expected, kRack}));
    }

    void modePinStaysWhenTheXelFormatHasNoPin() {
        CDlgAddProcessor dlg(app(), nullptr, &lib().at(1));
        dlg.xelRadio(3)->setChecked(true);  // format 3 has no pin
        dlg.okButton()->click();
        QCOMPARE(int(lib().at(1).modePin), 4);
        QCOMPARE(readBytes(file()), library({kDefault, kCinema, kRack}));
    }

    void newDefinitionIsSavedAndAppended() {
        CDlgAddProcessor dlg(app(), nullptr);
        const QString guid = dlg.guidEdit()->text();
        QVERIFY(CProcessorDef::guidFromText(guid));
        QVERIFY(dlg.xelRadio(1)->isChecked());
        dlg.nameEdit()->setText(QStringLiteral("  Fresh  "));
        dlg.formatNameEdit(2)->setText(QStringLiteral(" Two\n"));
        dlg.okButton()->click();
        QCOMPARE(names(), (QStringList{"Default", "Cinema 7", "Rack", "Fresh"}));
        QCOMPARE(dlg.definition(), &lib().at(3));
        // Names trimmed as the file reads them; pins 1-8 on formats 1-8, mode pin 1.
        const DefText fresh{"Fresh", guid.toStdString(), {"", "Two"}, {1, 2, 3, 4, 5, 6, 7, 8}, 1};
        QCOMPARE(readBytes(file()), library({kDefault, kCinema, kRack, fresh}));
    }

    void cancelChangesNothing() {
        CDlgAddProcessor fresh(app(), nullptr);
        fresh.nameEdit()->setText(QStringLiteral("Never"));
        fresh.cancelButton()->click();
        CDlgAddProcessor edit(app(), nullptr, &lib().at(1));
        edit.nameEdit()->setText(QStringLiteral("Other"));
        edit.pinList(1)->setCurrentIndex(9);
        edit.cancelButton()->click();
        QCOMPARE(names(), (QStringList{"Default", "Cinema 7", "Rack"}));
        QCOMPARE(int(lib().at(1).pinFormat[0]), 1);
        QCOMPARE(readBytes(file()), library({kDefault, kCinema, kRack}));
    }

    void badNamesAreRefusedAndTheDialogStaysOpen_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << ""
                               << "Enter a name for the cinema processor.";
        QTest::newRow("blanks") << "   "
                                << "Enter a name for the cinema processor.";
        QTest::newRow("bracket") << "Rack ]2"
                                 << "The name of a cinema processor cannot contain \"]\".";
        QTest::newRow("line break") << "Two\nLines"
                                    << "The name of a cinema processor must fit on one line.";
        QTest::newRow("taken, other case") << "RACK"
                                           << "A cinema processor named \"RACK\" is already in the library. "
                                              "Names are compared ignoring upper and lower case; choose another name.";
        QTest::newRow("taken with blanks") << " default "
                                           << "";
    }
    void badNamesAreRefusedAndTheDialogStaysOpen() {
        QFETCH(QString, name);
        QFETCH(QString, message);
        CDlgAddProcessor dlg(app(), nullptr, &lib().at(1));
        dlg.show();
        dlg.nameEdit()->setText(name);
        dlg.okButton()->click();
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.definition(), nullptr);
        QCOMPARE(prompts_.shown.size(), size_t(1));
        if (!message.isEmpty()) QCOMPARE(prompts_.shown[0].text, message);
        QCOMPARE(lib().at(1).name, QStringLiteral("Cinema 7"));
        QCOMPARE(readBytes(file()), library({kDefault, kCinema, kRack}));
    }

    void renameMovesTheDefinitionToItsNewSection_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("new name") << "Cinema 8";
        QTest::newRow("only the case") << "CINEMA 7";
    }
    void renameMovesTheDefinitionToItsNewSection() {
        QFETCH(QString, name);
        CDlgAddProcessor dlg(app(), nullptr, &lib().at(1));
        dlg.nameEdit()->setText(name);
        dlg.okButton()->click();
        QVERIFY(prompts_.shown.empty());
        DefText renamed = kCinema;
        renamed.name = name.toStdString();
        QCOMPARE(readBytes(file()), library({kDefault, kRack, renamed}));
        QCOMPARE(names(), (QStringList{"Default", name, "Rack"}));  // the session keeps its order
    }

    void enterDoesNotCloseEditProcessor() {
        CDlgAddProcessor dlg(app(), nullptr, &lib().at(2));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        for (QWidget* w : std::initializer_list<QWidget*>{dlg.nameEdit(), dlg.formatNameEdit(3), dlg.pinList(4),
                                                          dlg.okButton(), dlg.cancelButton()}) {
            w->setFocus();
            QTest::keyClick(w, Qt::Key_Return);
            QTest::keyClick(w, Qt::Key_Enter, Qt::KeypadModifier);
            QVERIFY2(dlg.isVisible(), qPrintable(w->objectName()));
        }
        QVERIFY(!dlg.okButton()->isDefault() && !dlg.cancelButton()->isDefault());
        QVERIFY(prompts_.shown.empty());
    }

    // ---- Import and export

    void exportAndImportRoundTrip() {
        const QString exported = QString::fromStdString(scratch("cinema.ini").string());
        CDlgProcessors dlg(app(), nullptr);
        prompts_.files = {exported};
        runOn(dlg, "Stereo", &CDlgProcessors::exportProcessor);
        QCOMPARE(prompts_.requests.at(0).filter, QStringLiteral("Processor Definition (*.ini)|*.ini||"));
        QCOMPARE(prompts_.requests.at(0).defaultExtension, QStringLiteral("ini"));
        QVERIFY(prompts_.requests.at(0).overwritePrompt);
        QCOMPARE(readBytes(exported.toStdString()), sectionBytes(kCinema));

        prompts_.answers = {QMessageBox::Yes};
        runOn(dlg, "Cinema 7", &CDlgProcessors::deleteProcessor);
        prompts_.files = {exported};
        dlg.importProcessor();
        QCOMPARE(prompts_.shown.size(), size_t(1));  // only the delete question
        QCOMPARE(names(), (QStringList{"Default", "Rack", "Cinema 7"}));
        QCOMPARE(dlg.tree()->currentItem()->text(0), QStringLiteral("Cinema 7"));
        const CProcessorDef& back = lib().at(2);
        QCOMPARE(CProcessorDef::guidToText(back.guid), QString::fromStdString(kCinema.guid));
        QCOMPARE(int(back.modePin), 4);
        QCOMPARE(readBytes(file()), library({kDefault, kRack, kCinema}));
        QCOMPARE(readBytes(exported.toStdString()), sectionBytes(kCinema));  // the import wrote nothing
    }

    void importRefusesFilesThatAreNotDefinitions_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("why");
        DefText badPin = kRack;
        badPin.pins[3] = 9;
        DefText noGuid = kRack;
        noGuid.guid = "";
        QTest::newRow("empty") << QByteArray() << "exactly one section";
        QTest::newRow("two sections") << QByteArray::fromStdString(sectionBytes(kRack) + sectionBytes(kCinema))
                                      << "exactly one section";
        QTest::newRow("no GUID") << QByteArray::fromStdString(sectionBytes(noGuid)) << "no valid \"GUID\"";
        QTest::newRow("pin out of range") << QByteArray::fromStdString(sectionBytes(badPin)) << "\"FormatPin4\"";
        QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0[", 12) << "exactly one section";
        QTest::newRow("too large") << QByteArray(100000, '[') << "far too large";
        QTest::newRow("missing") << QByteArray("-") << "could not be read";
    }
    void importRefusesFilesThatAreNotDefinitions() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, why);
        const std::filesystem::path f = scratch("import.ini");
        if (bytes != "-") writeBytes(f, bytes.toStdString());
        CDlgProcessors dlg(app(), nullptr);
        prompts_.files = {QString::fromStdString(f.string())};
        dlg.importProcessor();
        QCOMPARE(prompts_.shown.size(), size_t(1));
        QVERIFY2(prompts_.shown[0].text.contains(why), qPrintable(prompts_.shown[0].text));
        QCOMPARE(names(), (QStringList{"Default", "Cinema 7", "Rack"}));
        QCOMPARE(readBytes(file()), library({kDefault, kCinema, kRack}));
        if (bytes != "-") QCOMPARE(readBytes(f), bytes.toStdString());
    }

    void importOfAKnownGuidAsksBeforeReplacing() {
        DefText incoming = kCinema;
        incoming.name = "Cinema 7 Mk II";
        incoming.formats[2] = "Surround";
        incoming.pins[5] = 3;
        const std::filesystem::path f = scratch("mk2.ini");
        writeBytes(f, sectionBytes(incoming));
        CDlgProcessors dlg(app(), nullptr);
        prompts_.files = {QString::fromStdString(f.string()), QString::fromStdString(f.string())};
        prompts_.answers = {QMessageBox::No, QMessageBox::Yes};
        dlg.importProcessor();
        QCOMPARE(prompts_.shown.at(0).defaultButton, QMessageBox::No);
        QCOMPARE(readBytes(file()), library({kDefault, kCinema, kRack}));
        dlg.importProcessor();
        // Replaced where it stands in the library; its old section is gone from the file.
        QCOMPARE(names(), (QStringList{"Default", "Cinema 7 Mk II", "Rack"}));
        QCOMPARE(readBytes(file()), library({kDefault, kRack, incoming}));
        QVERIFY(findItem(dlg.tree(), "Surround"));
    }

    void importRefusesTheDefaultProcessorAndTakenNames_data() {
        QTest::addColumn<QString>("guid");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        QTest::newRow("default GUID") << QString::fromStdString(kDefault.guid) << "Mine" << kRefused;
        QTest::newRow("name of another") << "0f0f0f0f-1e1e-4d2d-9c3c-4b4b4b4b4b4b"
                                         << "rack"
                                         << "A cinema processor named \"rack\" is already in the library.";
        QTest::newRow("name of another, known GUID") << QString::fromStdString(kCinema.guid) << "Default"
                                                     << "A cinema processor named \"Default\"";
    }
    void importRefusesTheDefaultProcessorAndTakenNames() {
        QFETCH(QString, guid);
        QFETCH(QString, name);
        QFETCH(QString, message);
        DefText incoming = kRack;
        incoming.guid = guid.toStdString();
        incoming.name = name.toStdString();
        const std::filesystem::path f = scratch("other.ini");
        writeBytes(f, sectionBytes(incoming));
        CDlgProcessors dlg(app(), nullptr);
        prompts_.files = {QString::fromStdString(f.string())};
        dlg.importProcessor();
        QCOMPARE(prompts_.shown.size(), size_t(1));
        QVERIFY2(prompts_.shown[0].text.contains(message), qPrintable(prompts_.shown[0].text));
        QCOMPARE(readBytes(file()), library({kDefault, kCinema, kRack}));
    }
};

static int runProcessorDialogTests(int argc, char** argv) {
    TestProcessorDialogs t;
    return QTest::qExec(&t, argc, argv);
}
CONSOLE_TEST_RUNNER(runProcessorDialogTests);

#include "TestProcessorDialogs.moc"
