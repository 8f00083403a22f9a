// "Configure Communications", "Insert/Modify IP Address" and "Configure IP"
// against the real core: the selection rules at opening, the remembered
// addresses in the registry, OK and Cancel, the IPv4 field, the mask's host
// bits, and "Set IP" reaching xelsim over a pseudo-terminal mapped to COM1.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include <filesystem>
#include <optional>
#include <string>

#include "ConsoleTestSupport.h"
#include "console/CCtlIPAddress.h"
#include "console/CDlgConfigComm.h"
#include "console/CDlgConfigureIP.h"
#include "console/CDlgIPAddress.h"
#include "console/CXelExecApp.h"
#include "console/CommAddress.h"
#include "console/ConsolePrompts.h"
#include "console/IpAssignment.h"
#include "console/RememberedAddresses.h"
#include "platform/registry/Registry.h"
#include "tests/support/CoreRegistration.h"
#include "tests/support/XelsimProcess.h"

namespace reg = xel::registry;
namespace fs = std::filesystem;

namespace {

// Answers every message box at once and keeps what it was asked.
class RecordingPrompts : public ConsolePrompts {
public:
    struct Shown {
        QString text;
        QMessageBox::Icon icon;
    };
    QList<Shown> shown;

    QMessageBox::StandardButton message(QWidget*, const QString& text, QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons, QMessageBox::StandardButton) override {
        shown.append({text, icon});
        return QMessageBox::Ok;
    }
    QString openFileName(QWidget*, const FileRequest&) override { return {}; }
    QString saveFileName(QWidget*, const FileRequest&) override { return {}; }
};

const std::string kKey = CXelExecApp::kRegistryKey;

void remember(const char* address) {
    QCOMPARE(reg::createKey(reg::Root::CurrentUser, kKey + '\\' + address), reg::Status::Ok);
}

QStringList rememberedInRegistry() { return RememberedAddresses::list(); }

std::optional<std::string> storedAddress() {
    return reg::getString(reg::Root::CurrentUser, kKey, CXelExecApp::kAddressValue);
}

QStringList listTexts(const QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
    return texts;
}

QString selectedText(const QListWidget* list) {
    const auto items = list->selectedItems();
    return items.isEmpty() ? QString() : items.first()->text();
}

fs::path portsDir() { return contest::stateDir() / "ports"; }

void mapPort(const char* name, const fs::path& target) {
    fs::create_directories(portsDir());
    fs::remove(portsDir() / name);
    fs::create_symlink(target, portsDir() / name);
}

// Types as a person does: each key goes to whichever part has the focus then.
void typeInto(CCtlIPAddress* field, const QString& text) {
    field->part(0)->setFocus();
    for (const QChar c : text) {
        QWidget* target = field->focusWidget();
        QTest::keyClick(target ? target : field->part(0), c.toLatin1());
    }
}

quint32 ip(int a, int b, int c, int d) {
    return (quint32(a) << 24) | (quint32(b) << 16) | (quint32(c) << 8) | quint32(d);
}

}  // namespace

class TestCommDialogs : public QObject {
    Q_OBJECT

    CXelExecApp& app() { return *CXelExecApp::instance(); }
    xel::IComm* comm() { return app().connection(); }
    QString commAddress() { return CommAddress::get(comm()); }
    bool connected() {
        VARIANT_BOOL v = VARIANT_FALSE;
        return comm()->IsConnected(&v) == S_OK && v != VARIANT_FALSE;
    }

    RecordingPrompts prompts_;

    QString promptsSeen() const {
        QStringList all;
        for (const auto& s : prompts_.shown) all << s.text;
        return all.join(QStringLiteral(" | "));
    }

private slots:
    void initTestCase() {
        const auto registered = xeltest::registerCore();
        QVERIFY2(registered, registered.message());
        QVERIFY2(app().createCore(), qPrintable(QStringLiteral("core status %1").arg(app().coreStatus())));
        QVERIFY(comm());
    }

    void init() {
        // Only this dialog's own state: the core's registration in R must stay.
        (void)reg::deleteKey(reg::Root::CurrentUser, kKey);
        std::error_code ec;
        fs::remove_all(portsDir(), ec);
        prompts_.shown.clear();
        app().setPrompts(&prompts_);
        QVERIFY(!connected());
    }

    void cleanup() {
        app().setPrompts(nullptr);
        CommAddress::set(comm(), QString());
    }

    // ---- The IPv4 field

    void ipFieldTypesAndYieldsTheAddress() {
        CCtlIPAddress field;
        field.resize(160, 22);
        field.show();
        QVERIFY(field.isBlank());
        QCOMPARE(field.address(), 0u);

        // Three digits move on by themselves; a "." after a full part is ignored,
        // after a short one it moves on.
        typeInto(&field, QStringLiteral("192.168.1.20"));
        QCOMPARE(field.text(), QStringLiteral("192.168.1.20"));
        QCOMPARE(field.address(), ip(192, 168, 1, 20));
        QVERIFY(field.isComplete());

        // Backspace at the start of a part goes back into the one before.
        field.part(3)->setFocus();
        field.part(3)->setCursorPosition(0);
        QTest::keyClick(field.part(3), Qt::Key_Backspace);
        QCOMPARE(field.focusWidget(), field.part(2));
        QCOMPARE(field.part(2)->cursorPosition(), 1);
        QTest::keyClick(field.part(2), Qt::Key_Right);  // at the end: on into the next part
        QCOMPARE(field.focusWidget(), field.part(3));

        field.setAddress(ip(10, 0, 255, 7));
        QCOMPARE(field.text(), QStringLiteral("10.0.255.7"));
        field.clear();
        QVERIFY(field.isBlank());
    }

    void ipFieldKeepsPartsWithinAByte() {
        CCtlIPAddress field;
        field.resize(160, 22);
        field.show();
        typeInto(&field, QStringLiteral("300"));
        QCOMPARE(field.part(0)->text(), QStringLiteral("255"));
        QCOMPARE(field.focusWidget(), field.part(1));
        QTest::keyClicks(field.part(1), QStringLiteral("1a"));  // letters are refused
        QCOMPARE(field.part(1)->text(), QStringLiteral("1"));
        // Blank parts count as 0 but leave the address incomplete.
        QCOMPARE(field.address(), ip(255, 1, 0, 0));
        QVERIFY(!field.isComplete());
        QVERIFY(!field.isBlank());
    }

    // ---- The mask's host bits

    void hostBitsOfMasks_data() {
        QTest::addColumn<quint32>("mask");
        QTest::addColumn<int>("hostBits");
        QTest::addColumn<quint32>("canonical");
        QTest::newRow("255.255.255.0") << ip(255, 255, 255, 0) << 8 << ip(255, 255, 255, 0);
        QTest::newRow("255.255.0.0") << ip(255, 255, 0, 0) << 16 << ip(255, 255, 0, 0);
        QTest::newRow("255.255.255.128") << ip(255, 255, 255, 128) << 7 << ip(255, 255, 255, 128);
        QTest::newRow("255.0.255.0 (not contiguous)") << ip(255, 0, 255, 0) << 8 << ip(255, 255, 255, 0);
        QTest::newRow("255.255.255.255") << ip(255, 255, 255, 255) << 0 << ip(255, 255, 255, 255);
        QTest::newRow("128.0.0.0") << ip(128, 0, 0, 0) << 31 << ip(128, 0, 0, 0);
        QTest::newRow("0.0.0.0") << 0u << 33 << 0u;
    }
    void hostBitsOfMasks() {
        QFETCH(quint32, mask);
        QFETCH(int, hostBits);
        QFETCH(quint32, canonical);
        QCOMPARE(IpAssignment::hostBitsOf(mask), hostBits);
        QCOMPARE(IpAssignment::canonicalMask(hostBits), canonical);
    }

    // ---- "Configure Communications": opening

    void openingSelectsTheSerialPortOfTheAddress() {
        CommAddress::set(comm(), QStringLiteral("COM4"));
        remember("10.0.0.5");
        CDlgConfigComm dlg(app(), nullptr);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Configure Communications"));
        QStringList items;
        for (int i = 0; i < dlg.portList()->count(); ++i) items << dlg.portList()->itemText(i);
        QCOMPARE(items, (QStringList{"USB", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9",
                                     "TCP/IP"}));
        QCOMPARE(dlg.portList()->currentText(), QStringLiteral("COM4"));
        for (QWidget* w : std::initializer_list<QWidget*>{dlg.addressList(), dlg.insertButton(), dlg.modifyButton(),
                                                          dlg.deleteButton()})
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));

        dlg.portList()->setCurrentText(QStringLiteral("TCP/IP"));
        QVERIFY(dlg.addressList()->isEnabled());
        QVERIFY(dlg.deleteButton()->isEnabled());
        dlg.portList()->setCurrentText(QStringLiteral("USB"));
        QVERIFY(!dlg.addressList()->isEnabled());
        QVERIFY(!dlg.insertButton()->isEnabled());
    }

    void openingSelectsTheRememberedAddress() {
        CommAddress::set(comm(), QStringLiteral("192.168.1.20"));
        remember("192.168.1.20");
        remember("10.0.0.5");
        CDlgConfigComm dlg(app(), nullptr);
        QCOMPARE(dlg.portList()->currentText(), QStringLiteral("TCP/IP"));
        QCOMPARE(listTexts(dlg.addressList()), (QStringList{"10.0.0.5", "192.168.1.20"}));
        QCOMPARE(selectedText(dlg.addressList()), QStringLiteral("192.168.1.20"));
        QVERIFY(dlg.addressList()->isEnabled());
        QVERIFY(dlg.modifyButton()->isEnabled());
    }

    void openingWithOtherAddresses_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");  // "" for no item
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("listEnabled");
        QTest::newRow("USB") << "USB"
                             << "USB"
                             << "alpha" << false;
        QTest::newRow("unknown host selects the first entry") << "unit.example"
                                                              << "TCP/IP"
                                                              << "alpha" << true;
        QTest::newRow("entry matched ignoring case") << "BETA"
                                                     << "TCP/IP"
                                                     << "beta" << true;
        // Serial words are told apart in capitals, as the connection object does.
        QTest::newRow("lower-case com is a host name") << "com2"
                                                       << "TCP/IP"
                                                       << "alpha" << true;
        QTest::newRow("no item starts with COM12") << "COM12"
                                                   << ""
                                                   << "alpha" << false;
    }
    void openingWithOtherAddresses() {
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(QString, entry);
        QFETCH(bool, listEnabled);
        CommAddress::set(comm(), address);
        remember("alpha");
        remember("beta");
        CDlgConfigComm dlg(app(), nullptr);
        QCOMPARE(dlg.portList()->currentText(), port);
        QCOMPARE(selectedText(dlg.addressList()), entry);
        QCOMPARE(dlg.addressList()->isEnabled(), listEnabled);
    }

    // ---- OK and Cancel

    void okWithTcpIpNeedsAnAddress() {
        CommAddress::set(comm(), QStringLiteral("USB"));
        CDlgConfigComm dlg(app(), nullptr);
        dlg.show();
        dlg.portList()->setCurrentText(QStringLiteral("TCP/IP"));
        dlg.okButton()->click();
        QCOMPARE(prompts_.shown.size(), 1);
        QCOMPARE(prompts_.shown[0].text, QStringLiteral("Please enter at least one valid IP address or DNS name"));
        QCOMPARE(prompts_.shown[0].icon, QMessageBox::Warning);
        QVERIFY(dlg.isVisible());
        QCOMPARE(commAddress(), QStringLiteral("USB"));
        QVERIFY(!storedAddress());

        // An entry that is there but not chosen (deleted just now) is asked for too.
        remember("10.0.0.5");
        remember("10.0.0.6");
        CDlgConfigComm again(app(), nullptr);
        again.show();
        again.portList()->setCurrentText(QStringLiteral("TCP/IP"));
        again.deleteButton()->click();
        again.okButton()->click();
        QCOMPARE(prompts_.shown.size(), 2);
        QCOMPARE(prompts_.shown[1].text, QStringLiteral("Please select a valid IP address or DNS name"));
        QVERIFY(again.isVisible());
        QCOMPARE(commAddress(), QStringLiteral("USB"));
    }

    void okSetsAndStoresTheAddress_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("expected");
        QTest::newRow("serial") << "COM3"
                                << ""
                                << "COM3";
        QTest::newRow("usb") << "USB"
                             << ""
                             << "USB";
        QTest::newRow("tcp/ip") << "TCP/IP"
                                << "10.0.0.5"
                                << "10.0.0.5";
    }
    void okSetsAndStoresTheAddress() {
        QFETCH(QString, port);
        QFETCH(QString, entry);
        QFETCH(QString, expected);
        CommAddress::set(comm(), QStringLiteral("192.168.1.20"));
        remember("10.0.0.5");
        remember("192.168.1.20");
        CDlgConfigComm dlg(app(), nullptr);
        dlg.show();
        dlg.portList()->setCurrentText(port);
        if (!entry.isEmpty()) dlg.addressList()->setCurrentRow(listTexts(dlg.addressList()).indexOf(entry));
        dlg.okButton()->click();
        QVERIFY2(prompts_.shown.isEmpty(), qPrintable(promptsSeen()));
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.address(), expected);
        QCOMPARE(commAddress(), expected);
        QCOMPARE(storedAddress().value_or("(none)"), expected.toStdString());
    }

    void okKeepsAnAddressNoPortItemNames() {
        CommAddress::set(comm(), QStringLiteral("COM12"));
        remember("10.0.0.5");
        CDlgConfigComm dlg(app(), nullptr);
        dlg.show();
        dlg.okButton()->click();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(commAddress(), QStringLiteral("COM12"));
        QCOMPARE(storedAddress().value_or("(none)"), std::string("COM12"));
    }

    void cancelKeepsTheConnectionButNotTheListEdits() {
        CommAddress::set(comm(), QStringLiteral("COM2"));
        QVERIFY(RememberedAddresses::storeAddress(QStringLiteral("COM2")));
        CDlgConfigComm dlg(app(), nullptr);
        dlg.show();
        dlg.setAddressPrompt([](const QString&) { return std::optional<QString>(QStringLiteral("10.1.1.1")); });
        dlg.portList()->setCurrentText(QStringLiteral("TCP/IP"));
        dlg.insertButton()->click();
        dlg.reject();
        QCOMPARE(commAddress(), QStringLiteral("COM2"));
        QCOMPARE(storedAddress().value_or("(none)"), std::string("COM2"));
        QCOMPARE(rememberedInRegistry(), QStringList{"10.1.1.1"});
    }

    // ---- Insert, Modify, Delete

    void insertAddsOrSelectsTheAddress() {
        remember("10.0.0.5");
        remember("192.168.1.20");
        CommAddress::set(comm(), QStringLiteral("10.0.0.5"));
        CDlgConfigComm dlg(app(), nullptr);
        QString askedWith = QStringLiteral("(not asked)");
        QString answer;
        dlg.setAddressPrompt([&](const QString& text) {
            askedWith = text;
            return std::optional<QString>(answer);
        });

        // Already there (in other letters): no second entry, the existing one selected.
        answer = QStringLiteral("192.168.1.20");
        dlg.insertButton()->click();
        QCOMPARE(askedWith, QString());
        QCOMPARE(listTexts(dlg.addressList()), (QStringList{"10.0.0.5", "192.168.1.20"}));
        QCOMPARE(selectedText(dlg.addressList()), QStringLiteral("192.168.1.20"));

        // New: at the end of the list, selected, and remembered.
        answer = QStringLiteral("unit.booth2");
        dlg.insertButton()->click();
        QCOMPARE(listTexts(dlg.addressList()), (QStringList{"10.0.0.5", "192.168.1.20", "unit.booth2"}));
        QCOMPARE(selectedText(dlg.addressList()), QStringLiteral("unit.booth2"));
        QCOMPARE(rememberedInRegistry(), (QStringList{"10.0.0.5", "192.168.1.20", "unit.booth2"}));

        // A name that cannot be a subkey is not remembered and not listed.
        for (const char* bad : {"", "a\\b"}) {
            answer = QString::fromLatin1(bad);
            dlg.insertButton()->click();
        }
        QCOMPARE(dlg.addressList()->count(), 3);
        QCOMPARE(rememberedInRegistry().size(), 3);
        QCOMPARE(selectedText(dlg.addressList()), QStringLiteral("unit.booth2"));
    }

    void modifyReplacesTheSelectedAddress() {
        remember("10.0.0.5");
        remember("10.0.0.6");
        remember("10.0.0.7");
        CommAddress::set(comm(), QStringLiteral("10.0.0.5"));
        CDlgConfigComm dlg(app(), nullptr);
        QString askedWith;
        std::optional<QString> answer;
        dlg.setAddressPrompt([&](const QString& text) {
            askedWith = text;
            return answer;
        });

        // Unchanged: the entry moves to the end of the list.
        answer = QStringLiteral("10.0.0.5");
        dlg.modifyButton()->click();
        QCOMPARE(askedWith, QStringLiteral("10.0.0.5"));
        QCOMPARE(listTexts(dlg.addressList()), (QStringList{"10.0.0.6", "10.0.0.7", "10.0.0.5"}));
        QCOMPARE(selectedText(dlg.addressList()), QStringLiteral("10.0.0.5"));

        // Renamed: the old subkey goes, the new one is remembered.
        answer = QStringLiteral("10.0.0.9");
        dlg.modifyButton()->click();
        QCOMPARE(listTexts(dlg.addressList()), (QStringList{"10.0.0.6", "10.0.0.7", "10.0.0.9"}));
        QCOMPARE(rememberedInRegistry(), (QStringList{"10.0.0.6", "10.0.0.7", "10.0.0.9"}));

        // Renamed into one that is there: one entry left, that one selected.
        answer = QStringLiteral("10.0.0.6");
        dlg.modifyButton()->click();
        QCOMPARE(listTexts(dlg.addressList()), (QStringList{"10.0.0.6", "10.0.0.7"}));
        QCOMPARE(selectedText(dlg.addressList()), QStringLiteral("10.0.0.6"));
        QCOMPARE(rememberedInRegistry(), (QStringList{"10.0.0.6", "10.0.0.7"}));

        // A new text the registry refuses, or Cancel, keeps the old address.
        for (const std::optional<QString>& refused :
             {std::optional<QString>(QString()), std::optional<QString>(QStringLiteral("x\\y")),
              std::optional<QString>()}) {
            answer = refused;
            dlg.modifyButton()->click();
            QCOMPARE(listTexts(dlg.addressList()), (QStringList{"10.0.0.6", "10.0.0.7"}));
            QCOMPARE(rememberedInRegistry(), (QStringList{"10.0.0.6", "10.0.0.7"}));
        }

        // Nothing selected: nothing is asked.
        dlg.addressList()->clearSelection();
        askedWith = QStringLiteral("(not asked)");
        dlg.modifyButton()->click();
        QCOMPARE(askedWith, QStringLiteral("(not asked)"));
    }

    void deleteForgetsTheSelectedAddress() {
        remember("10.0.0.5");
        remember("10.0.0.6");
        CommAddress::set(comm(), QStringLiteral("10.0.0.6"));
        CDlgConfigComm dlg(app(), nullptr);
        dlg.deleteButton()->click();
        QCOMPARE(listTexts(dlg.addressList()), QStringList{"10.0.0.5"});
        QCOMPARE(rememberedInRegistry(), QStringList{"10.0.0.5"});
        QCOMPARE(selectedText(dlg.addressList()), QString());
        dlg.deleteButton()->click();  // nothing selected: nothing goes
        QCOMPARE(rememberedInRegistry(), QStringList{"10.0.0.5"});
    }

    // ---- Where the serial ports lead

    void portItemsShowTheirDevice() {
        const fs::path adapter = contest::stateDir() / "adapter-ttyUSB0";
        contest::writeBytes(adapter, "");
        mapPort("COM3", adapter);
        mapPort("com6", contest::stateDir() / "gone");  // mappings compare ignoring case
        CommAddress::set(comm(), QStringLiteral("COM3"));

        CDlgConfigComm dlg(app(), nullptr);
        QComboBox* ports = dlg.portList();
        const int com3 = ports->findText(QStringLiteral("COM3"));
        QVERIFY(com3 >= 0);  // the item text stays the port name
        QCOMPARE(dlg.portDevice()->toolTip(), QString::fromStdString(adapter.string()));
        // A long path is shortened in the middle to fit beside the list.
        QVERIFY(dlg.portDevice()->fontMetrics().horizontalAdvance(dlg.portDevice()->text()) <=
                dlg.portDevice()->width());
        QVERIFY(dlg.portDevice()->text().endsWith(QStringLiteral("ttyUSB0")));
        QVERIFY(ports->itemData(com3, Qt::ToolTipRole).toString().contains(QString::fromStdString(adapter.string())));
        ports->setCurrentText(QStringLiteral("COM6"));
        QCOMPARE(dlg.portDevice()->toolTip(),
                 QString::fromStdString((contest::stateDir() / "gone").string()) + QStringLiteral(" (not present)"));
        ports->setCurrentText(QStringLiteral("COM5"));
        QVERIFY(dlg.portDevice()->toolTip().startsWith(QStringLiteral("/dev/ttyS4")));
        QCOMPARE(dlg.portDevice()->text(), dlg.portDevice()->toolTip());  // short enough to show whole
        ports->setCurrentText(QStringLiteral("TCP/IP"));
        QCOMPARE(dlg.portDevice()->toolTip(), QString());

        CDlgConfigureIP ipDlg(app(), nullptr);
        ipDlg.portList()->setCurrentText(QStringLiteral("COM3"));
        QCOMPARE(ipDlg.portDevice()->toolTip(), QString::fromStdString(adapter.string()));
    }

    // ---- "Configure IP"

    void configureIpOpensWithItsDefaults() {
        CDlgConfigureIP dlg(app(), nullptr);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Configure IP"));
        QStringList items;
        for (int i = 0; i < dlg.portList()->count(); ++i) items << dlg.portList()->itemText(i);
        QCOMPARE(items, (QStringList{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9", "USB"}));
        QCOMPARE(dlg.portList()->currentIndex(), 0);
        QVERIFY(dlg.addressField()->isBlank());
        QCOMPARE(dlg.maskField()->text(), QStringLiteral("255.255.255.0"));
        QCOMPARE(dlg.gatewayField()->text(), QStringLiteral("192.168.1.1"));
    }

    void setIpReachesTheUnitOverCom1() {
        xeltest::XelsimProcess sim({}, xeltest::XelsimProcess::Link::Pty);
        mapPort("COM1", sim.linkPath());
        CommAddress::set(comm(), QStringLiteral("10.9.8.7"));

        CDlgConfigureIP dlg(app(), nullptr);
        dlg.show();
        typeInto(dlg.addressField(), QStringLiteral("192.168.1.20"));
        dlg.maskField()->setAddress(ip(255, 0, 255, 0));
        dlg.setButton()->click();

        QCOMPARE(prompts_.shown.size(), 1);
        QCOMPARE(prompts_.shown[0].text, QStringLiteral("After the unit resets the IP information has been changed."));
        QCOMPARE(prompts_.shown[0].icon, QMessageBox::Information);
        QCOMPARE(dlg.maskField()->text(), QStringLiteral("255.255.255.0"));
        QVERIFY(dlg.isVisible());  // "Done" closes it, not "Set IP"

        const std::string want = "setip C0 A8 1 14 8 C0 A8 1 1 2711";
        const bool arrived = sim.waitForLog([&](const std::vector<xeltest::XelsimLogEntry>& log) {
            for (const auto& e : log)
                if (e.dir == "rx" && e.text == want) return true;
            return false;
        });
        QVERIFY2(arrived, sim.diagnostics().c_str());
        const xeltest::XelsimDump unit = sim.dump();
        QCOMPARE(unit.ipAddress, std::string("192.168.1.20"));
        QCOMPARE(unit.hostBits, 8);
        QCOMPARE(unit.gateway, std::string("192.168.1.1"));

        // The connection is left as it was found.
        QVERIFY(!connected());
        QCOMPARE(commAddress(), QStringLiteral("10.9.8.7"));
        QVERIFY(dlg.lastOutcome() && dlg.lastOutcome()->sent);
    }

    void setIpReportsAPortThatDoesNotOpen() {
        mapPort("COM2", contest::stateDir() / "no-such-device");
        CommAddress::set(comm(), QStringLiteral("10.9.8.7"));
        CDlgConfigureIP dlg(app(), nullptr);
        dlg.show();
        dlg.portList()->setCurrentText(QStringLiteral("COM2"));
        dlg.addressField()->setAddress(ip(192, 168, 1, 20));
        dlg.maskField()->setAddress(ip(255, 0, 255, 0));
        dlg.setButton()->click();
        QCOMPARE(prompts_.shown.size(), 1);
        QCOMPARE(prompts_.shown[0].text, QStringLiteral("Failed to connect to local or remote communication address"));
        QCOMPARE(prompts_.shown[0].icon, QMessageBox::Critical);
        QCOMPARE(dlg.maskField()->text(), QStringLiteral("255.0.255.0"));  // shown back only once sent
        QVERIFY(!dlg.lastOutcome()->sent);
        QVERIFY(!connected());
        QCOMPARE(commAddress(), QStringLiteral("10.9.8.7"));
    }

    void setIpReportsAUnitThatDoesNotAnswer() {
        xeltest::XelsimProcess sim({"--silent"}, xeltest::XelsimProcess::Link::Pty);
        mapPort("COM1", sim.linkPath());
        CommAddress::set(comm(), QStringLiteral("USB"));
        CDlgConfigureIP dlg(app(), nullptr);
        dlg.show();
        dlg.addressField()->setAddress(ip(192, 168, 1, 20));
        dlg.setButton()->click();
        QCOMPARE(prompts_.shown.size(), 1);
        QCOMPARE(prompts_.shown[0].text, QStringLiteral("Failed to receive a valid response from the connected unit"));
        QCOMPARE(prompts_.shown[0].icon, QMessageBox::Critical);
        for (const std::string& text : sim.receivedTexts()) QVERIFY2(text.rfind("setip", 0) != 0, text.c_str());
        QVERIFY(!connected());
        QCOMPARE(commAddress(), QStringLiteral("USB"));
    }

    void setIpWantsAWholeAddress() {
        CommAddress::set(comm(), QStringLiteral("USB"));
        CDlgConfigureIP dlg(app(), nullptr);
        dlg.show();
        typeInto(dlg.addressField(), QStringLiteral("192.168.1"));
        dlg.setButton()->click();
        QCOMPARE(prompts_.shown.size(), 1);
        QCOMPARE(prompts_.shown[0].icon, QMessageBox::Warning);
        QVERIFY(!dlg.lastOutcome());  // nothing was tried
        QCOMPARE(commAddress(), QStringLiteral("USB"));
    }

    // ---- Screenshots

    void screenshots() {
        remember("10.0.0.5");
        remember("192.168.1.20");
        remember("unit.booth2");
        CommAddress::set(comm(), QStringLiteral("192.168.1.20"));
        CDlgConfigComm comms(app(), nullptr);
        comms.show();
        QVERIFY(QTest::qWaitForWindowExposed(&comms));
        QVERIFY(contest::saveScreenshot(comms.grab().toImage(), QStringLiteral("configure-communications")));

        // A serial port mapped to an adapter: the line under the list says where it leads.
        const fs::path adapter = contest::stateDir() / "usb-serial-adapter";
        contest::writeBytes(adapter, "");
        mapPort("COM3", adapter);
        CommAddress::set(comm(), QStringLiteral("COM3"));
        CDlgConfigComm serial(app(), nullptr);
        serial.show();
        QVERIFY(QTest::qWaitForWindowExposed(&serial));
        QVERIFY(contest::saveScreenshot(serial.grab().toImage(), QStringLiteral("configure-communications-serial")));

        CDlgIPAddress one(nullptr);
        one.setAddress(QStringLiteral("192.168.1.20"));
        QCOMPARE(one.windowTitle(), QStringLiteral("Insert/Modify IP Address"));
        QVERIFY(one.okButton()->isDefault());
        one.show();
        QVERIFY(QTest::qWaitForWindowExposed(&one));
        QVERIFY(contest::saveScreenshot(one.grab().toImage(), QStringLiteral("ip-address")));

        CDlgConfigureIP ipDlg(app(), nullptr);
        ipDlg.addressField()->setAddress(ip(192, 168, 1, 20));
        ipDlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ipDlg));
        QVERIFY(contest::saveScreenshot(ipDlg.grab().toImage(), QStringLiteral("configure-ip")));
    }
};

int runCommDialogsTests(int argc, char** argv) {
    TestCommDialogs t;
    return QTest::qExec(&t, argc, argv);
}
CONSOLE_TEST_RUNNER(runCommDialogsTests);

#include "TestCommDialogs.moc"
