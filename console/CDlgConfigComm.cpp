#include "console/CDlgConfigComm.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "console/CDlgIPAddress.h"
#include "console/CXelExecApp.h"
#include "console/CommAddress.h"
#include "console/ConsoleController.h"
#include "console/ConsolePrompts.h"
#include "console/DialogUnits.h"
#include "console/PortDevices.h"
#include "console/RememberedAddresses.h"

namespace {

const QString kUsb = QStringLiteral("USB");
const QString kTcpIp = QStringLiteral("TCP/IP");
const QString kCom = QStringLiteral("COM");

// Serial and USB addresses are told apart by these words, in capitals, as the
// connection object tells them apart.
bool isLocalPort(const QString& text) { return text.contains(kCom) || text.contains(kUsb); }

}  // namespace

CDlgConfigComm::CDlgConfigComm(CXelExecApp& app, QWidget* parent) : QDialog(parent), app_(app) {
    setWindowTitle(QString::fromLatin1(kCaption));
    setFont(DialogUnits::mapFont(QStringLiteral("MS Sans Serif"), -11));
    buildControls();
    fillPorts();
    selectAtOpening();

    connect(ports_, &QComboBox::currentIndexChanged, this, &CDlgConfigComm::portChanged);
    connect(ok_, &QPushButton::clicked, this, &CDlgConfigComm::onOk);
    connect(insert_, &QPushButton::clicked, this, &CDlgConfigComm::onInsert);
    connect(modify_, &QPushButton::clicked, this, &CDlgConfigComm::onModify);
    connect(delete_, &QPushButton::clicked, this, &CDlgConfigComm::onDelete);
}

void CDlgConfigComm::buildControls() {
    const DialogUnits du(font());
    setFixedSize(du.size(190, 105));

    auto* label = new QLabel(QStringLiteral("&Communications Port:"), this);
    label->setGeometry(du.rect(7, 7, 115, 8));
    ports_ = new QComboBox(this);
    ports_->setObjectName(QStringLiteral("ports"));
    ports_->setGeometry(du.rect(7, 17, 115, 13));
    label->setBuddy(ports_);
    device_ = new QLabel(this);
    device_->setObjectName(QStringLiteral("portDevice"));
    device_->setGeometry(du.rect(7, 32, 115, 8));
    device_->setForegroundRole(QPalette::PlaceholderText);

    addresses_ = new QListWidget(this);
    addresses_->setObjectName(QStringLiteral("addresses"));
    addresses_->setGeometry(du.rect(7, 43, 115, 55));
    addresses_->setSelectionMode(QAbstractItemView::SingleSelection);

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("ok"));
    ok_->setDefault(true);
    insert_ = new QPushButton(QStringLiteral("Insert..."), this);
    insert_->setObjectName(QStringLiteral("insert"));
    modify_ = new QPushButton(QStringLiteral("Modify..."), this);
    modify_->setObjectName(QStringLiteral("modify"));
    delete_ = new QPushButton(QStringLiteral("Delete"), this);
    delete_->setObjectName(QStringLiteral("delete"));
    ok_->setGeometry(du.rect(133, 7, 50, 14));
    cancel->setGeometry(du.rect(133, 24, 50, 14));
    insert_->setGeometry(du.rect(133, 50, 50, 14));
    modify_->setGeometry(du.rect(133, 67, 50, 14));
    delete_->setGeometry(du.rect(133, 84, 50, 14));
    for (QPushButton* b : {cancel, insert_, modify_, delete_}) b->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(ports_, addresses_);
    setTabOrder(addresses_, ok_);
    setTabOrder(ok_, cancel);
    setTabOrder(cancel, insert_);
    setTabOrder(insert_, modify_);
    setTabOrder(modify_, delete_);
}

void CDlgConfigComm::fillPorts() {
    ports_->addItem(kUsb);
    for (int n = 1; n <= 9; ++n) {
        const QString name = QStringLiteral("COM%1").arg(n);  // string 102, "COM%d"
        ports_->addItem(name);
        const QString device = PortDevices::describe(name);
        if (!device.isEmpty())
            ports_->setItemData(ports_->count() - 1, QStringLiteral("%1 is %2").arg(name, device), Qt::ToolTipRole);
    }
    ports_->addItem(kTcpIp);
}

void CDlgConfigComm::selectAtOpening() {
    opened_ = app_.controller().address();
    const QString& a = opened_;
    int port = -1;
    if (a.contains(kCom)) {
        for (int i = 0; i < ports_->count() && port < 0; ++i)
            if (ports_->itemText(i).startsWith(a, Qt::CaseInsensitive)) port = i;
    } else if (a.contains(kUsb)) {
        port = ports_->findText(kUsb);
    } else {
        port = ports_->findText(kTcpIp);
    }
    ports_->setCurrentIndex(port);

    addresses_->addItems(RememberedAddresses::list());
    const int match = findExact(a);
    selectRow(match >= 0 ? match : (addresses_->count() > 0 ? 0 : -1));

    enableAddresses(port >= 0 && ports_->itemText(port) == kTcpIp);
    PortDevices::showIn(device_, port >= 0 ? ports_->itemText(port) : QString());
}

void CDlgConfigComm::portChanged() {
    const QString text = ports_->currentText();
    enableAddresses(!isLocalPort(text));
    PortDevices::showIn(device_, text);
}

void CDlgConfigComm::enableAddresses(bool enable) {
    for (QWidget* w : std::initializer_list<QWidget*>{addresses_, insert_, modify_, delete_}) w->setEnabled(enable);
}

int CDlgConfigComm::selectedRow() const {
    const QList<QListWidgetItem*> items = addresses_->selectedItems();
    return items.isEmpty() ? -1 : addresses_->row(items.first());
}

void CDlgConfigComm::selectRow(int row) {
    if (row < 0) {
        addresses_->clearSelection();
        addresses_->setCurrentRow(-1);
        return;
    }
    addresses_->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
}

int CDlgConfigComm::findExact(const QString& text) const {
    for (int i = 0; i < addresses_->count(); ++i)
        if (addresses_->item(i)->text().compare(text, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

std::optional<QString> CDlgConfigComm::promptForAddress(const QString& text) {
    if (prompt_) return prompt_(text);
    CDlgIPAddress dlg(this);
    dlg.setAddress(text);
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    return dlg.address();
}

void CDlgConfigComm::onInsert() {
    const std::optional<QString> text = promptForAddress(QString());
    if (!text) return;
    const RememberedAddresses::Stored stored = RememberedAddresses::insert(*text);
    // A subkey that could not be made shows only as a missing entry.
    if (!stored.ok) return;
    int row = stored.created ? -1 : findExact(*text);
    if (row < 0) {
        addresses_->addItem(*text);
        row = addresses_->count() - 1;
    }
    selectRow(row);
}

void CDlgConfigComm::onModify() {
    const int row = selectedRow();
    if (row < 0) return;
    const QString old = addresses_->item(row)->text();
    const std::optional<QString> text = promptForAddress(old);
    if (!text) return;
    // The old address goes only together with the new one being stored, so a
    // name the registry refuses does not lose the remembered address.
    const RememberedAddresses::Stored stored = RememberedAddresses::replace(old, *text);
    if (!stored.ok) return;
    delete addresses_->takeItem(row);
    int found = stored.created ? -1 : findExact(*text);
    if (found < 0) {
        addresses_->addItem(*text);
        found = addresses_->count() - 1;
    }
    selectRow(found);
}

void CDlgConfigComm::onDelete() {
    const int row = selectedRow();
    if (row < 0) return;
    (void)RememberedAddresses::remove(addresses_->item(row)->text());
    delete addresses_->takeItem(row);
    // No entry is chosen for the operator: OK then asks for one.
    selectRow(-1);
}

void CDlgConfigComm::onOk() {
    // With no port item selected (an address such as "COM12" that no item
    // starts with), the address the dialog opened with stays.
    QString s = ports_->currentIndex() >= 0 ? ports_->currentText() : opened_;
    if (!isLocalPort(s)) {
        if (addresses_->count() == 0) {
            app_.prompts().message(this, QString::fromLatin1(kEnterAddress), QMessageBox::Warning);
            return;
        }
        const int row = selectedRow();
        if (row < 0) {
            app_.prompts().message(this, QString::fromLatin1(kSelectAddress), QMessageBox::Warning);
            return;
        }
        s = addresses_->item(row)->text();
    }
    app_.controller().setAddress(s);
    // A value that cannot be stored still reaches the connection object.
    (void)RememberedAddresses::storeAddress(s);
    address_ = s;
    accept();
}
