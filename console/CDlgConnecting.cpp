#include "console/CDlgConnecting.h"

#include <QCloseEvent>
#include <QLabel>

#include "console/DialogUnits.h"

CDlgConnecting::CDlgConnecting(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("connectingWindow"));
    setWindowTitle(caption());
    setModal(false);
    setFont(DialogUnits::dialogFont());
    const DialogUnits du(font());
    setFixedSize(du.size(176, 30));
    auto* label = new QLabel(text(), this);
    label->setObjectName(QStringLiteral("connectingText"));
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(du.rect(7, 11, 162, 8));
}

void CDlgConnecting::showCentred() {
    if (QWidget* p = parentWidget()) {
        const QRect frame = p->frameGeometry();
        move(frame.center() - rect().center());
    }
    show();
}

void CDlgConnecting::finish() { done(QDialog::Rejected); }

void CDlgConnecting::closeEvent(QCloseEvent* event) { event->ignore(); }
