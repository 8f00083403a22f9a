#include "console/CDlgIPAddress.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "console/DialogUnits.h"

CDlgIPAddress::CDlgIPAddress(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(kCaption));
    setFont(DialogUnits::mapFont(QStringLiteral("MS Sans Serif"), -11));
    const DialogUnits du(font());
    setFixedSize(du.size(144, 60));

    auto* label = new QLabel(QStringLiteral("IP address:"), this);
    label->setGeometry(du.rect(7, 9, 40, 8));
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("address"));
    edit_->setGeometry(du.rect(48, 7, 89, 12));
    label->setBuddy(edit_);

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("ok"));
    ok_->setGeometry(du.rect(26, 39, 50, 14));
    ok_->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    cancel->setGeometry(du.rect(82, 39, 50, 14));
    cancel->setAutoDefault(false);

    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CDlgIPAddress::setAddress(const QString& address) { edit_->setText(address); }

QString CDlgIPAddress::address() const { return edit_->text(); }
