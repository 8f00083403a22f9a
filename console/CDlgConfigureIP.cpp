#include "console/CDlgConfigureIP.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

#include "console/CCtlIPAddress.h"
#include "console/CXelExecApp.h"
#include "console/ConsoleController.h"
#include "console/ConsolePrompts.h"
#include "console/DialogUnits.h"
#include "console/IpAssignment.h"
#include "console/PortDevices.h"

namespace {

constexpr quint32 kDefaultMask = 0xFFFFFF00u;     // 255.255.255.0
constexpr quint32 kDefaultGateway = 0xC0A80101u;  // 192.168.1.1

// The wait cursor while the dialog talks to the unit, put back on every way out.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace

CDlgConfigureIP::CDlgConfigureIP(CXelExecApp& app, QWidget* parent) : QDialog(parent), app_(app) {
    setWindowTitle(QString::fromLatin1(kCaption));
    setFont(DialogUnits::dialogFont());
    buildControls();

    // A sorted list: "COM1".."COM9", then "USB"; the first one is selected.
    QStringList names{QStringLiteral("USB")};
    for (int n = 1; n <= 9; ++n) names << QStringLiteral("COM%1").arg(n);  // string 102, "COM%d"
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    for (const QString& name : names) {
        ports_->addItem(name);
        const QString device = PortDevices::describe(name);
        if (!device.isEmpty())
            ports_->setItemData(ports_->count() - 1, QStringLiteral("%1 is %2").arg(name, device), Qt::ToolTipRole);
    }
    ports_->setCurrentIndex(0);
    PortDevices::showIn(device_, ports_->currentText());

    mask_->setAddress(kDefaultMask);
    gateway_->setAddress(kDefaultGateway);

    connect(ports_, &QComboBox::currentIndexChanged, this,
            [this] { PortDevices::showIn(device_, ports_->currentText()); });
    connect(set_, &QPushButton::clicked, this, &CDlgConfigureIP::onSetIp);
    connect(done_, &QPushButton::clicked, this, &QDialog::reject);
}

void CDlgConfigureIP::buildControls() {
    const DialogUnits du(font());
    setFixedSize(du.size(186, 196));

    auto* note1 = new QLabel(QString::fromLatin1(kNote1), this);
    note1->setWordWrap(true);
    note1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    note1->setGeometry(du.rect(7, 7, 172, 42));
    auto* note2 = new QLabel(QString::fromLatin1(kNote2), this);
    note2->setWordWrap(true);
    note2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    note2->setGeometry(du.rect(7, 52, 172, 26));

    auto addLabel = [&](const char* text, int y) {
        auto* label = new QLabel(QString::fromLatin1(text), this);
        label->setGeometry(du.rect(7, y + 2, 50, 8));
        return label;
    };

    ports_ = new QComboBox(this);
    addLabel("COM Port:", 83)->setBuddy(ports_);
    ports_->setObjectName(QStringLiteral("ports"));
    ports_->setGeometry(du.rect(62, 83, 70, 13));
    device_ = new QLabel(this);
    device_->setObjectName(QStringLiteral("portDevice"));
    device_->setGeometry(du.rect(62, 98, 117, 8));
    device_->setForegroundRole(QPalette::PlaceholderText);

    address_ = new CCtlIPAddress(this);
    addLabel("IP Address:", 111)->setBuddy(address_);
    address_->setObjectName(QStringLiteral("address"));
    address_->setGeometry(du.rect(62, 111, 80, 13));
    mask_ = new CCtlIPAddress(this);
    addLabel("Subnet Mask:", 128)->setBuddy(mask_);
    mask_->setObjectName(QStringLiteral("mask"));
    mask_->setGeometry(du.rect(62, 128, 80, 13));
    gateway_ = new CCtlIPAddress(this);
    addLabel("Gateway:", 145)->setBuddy(gateway_);
    gateway_->setObjectName(QStringLiteral("gateway"));
    gateway_->setGeometry(du.rect(62, 145, 80, 13));

    set_ = new QPushButton(QStringLiteral("Set IP"), this);
    set_->setObjectName(QStringLiteral("setIp"));
    set_->setGeometry(du.rect(35, 172, 50, 14));
    done_ = new QPushButton(QStringLiteral("Done"), this);
    done_->setObjectName(QStringLiteral("done"));
    done_->setGeometry(du.rect(101, 172, 50, 14));
    // Enter does not send settings to a unit by itself; Escape is "Done".
    set_->setAutoDefault(false);
    done_->setAutoDefault(false);

    setTabOrder(ports_, address_);
    setTabOrder(address_, mask_);
    setTabOrder(mask_, gateway_);
    setTabOrder(gateway_, set_);
    setTabOrder(set_, done_);
}

void CDlgConfigureIP::onSetIp() {
    // A blank part would reach the unit as 0 and leave it unreachable on the
    // network after its reset, so nothing is sent without a whole address.
    if (!address_->isComplete()) {
        app_.prompts().message(this, QString::fromLatin1(kEnterAddress), QMessageBox::Warning);
        address_->setFocus();
        return;
    }

    Outcome outcome;
    const quint32 mask = mask_->address();
    outcome.hostBits = IpAssignment::hostBitsOf(mask);

    IpAssignment session = app_.controller().ipAssignment();
    {
        const BusyCursor busy;
        outcome.connect = session.connect(ports_->currentText());
        if (outcome.connect == xel::CommErrNone) {
            outcome.address = address_->address();
            outcome.gateway = gateway_->address();
            mask_->setAddress(IpAssignment::canonicalMask(outcome.hostBits));
            session.send(outcome.address, outcome.hostBits, outcome.gateway);
            outcome.sent = true;
        }
    }
    outcome_ = outcome;

    if (outcome.connect == xel::CommErrFailedConnect)
        app_.prompts().message(this, QString::fromLatin1(kFailedConnect), QMessageBox::Critical);
    else if (outcome.connect != xel::CommErrNone)
        app_.prompts().message(this, QString::fromLatin1(kNoResponse), QMessageBox::Critical);
    else
        app_.prompts().message(this, QString::fromLatin1(kChanged), QMessageBox::Information);
    // The session ends here: disconnected, and the connection's address as it was.
}
