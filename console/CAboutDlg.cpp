#include "console/CAboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "console/DialogUnits.h"
#include "console/ProgramArt.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutBox"));
    setWindowTitle(caption());
    setFont(DialogUnits::dialogFont());
    const DialogUnits du(font());
    setFixedSize(du.size(235, 55));
    const QIcon icon = console::programIcon();
    setWindowIcon(icon);

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("aboutIcon"));
    picture->setPixmap(icon.pixmap(32, 32));
    picture->setGeometry(du.x(11), du.y(14), 32, 32);

    auto* label = new QLabel(text(), this);
    label->setObjectName(QStringLiteral("aboutText"));
    label->setGeometry(du.rect(40, 14, 188, 8));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("aboutOk"));
    ok->setDefault(true);
    ok->setGeometry(du.rect(178, 34, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
