// "Connecting...": shown, centred on the main window, while a connect attempt
// runs. It has no close control and cannot be closed by the operator (Escape
// and the window system's close are refused); the connect procedure closes it.
//
// Thread safety: GUI thread only.
#pragma once

#include <QDialog>

class CDlgConnecting : public QDialog {
    Q_OBJECT

public:
    explicit CDlgConnecting(QWidget* parent);

    // Centres the window on its parent and shows it without making it modal.
    void showCentred();
    // Closes the window for good (the connect procedure's end).
    void finish();

    static QString caption() { return QStringLiteral("Connecting..."); }
    static QString text() { return QStringLiteral("Connecting to Xel please wait..."); }

public slots:
    void reject() override {}

protected:
    void closeEvent(QCloseEvent* event) override;
};
