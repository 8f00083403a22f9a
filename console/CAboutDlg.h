// "About XelExec": the program icon, its name and version, and OK.
//
// Thread safety: GUI thread only.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent);

    static QString caption() { return QStringLiteral("About XelExec"); }
    static QString text() { return QStringLiteral("Xelor Laptop Interface Software Ver 2.1.0.0"); }
};
