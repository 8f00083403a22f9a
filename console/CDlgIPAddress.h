// "Insert/Modify IP Address": one remembered TCP/IP address or host name.
//
// The caller sets the text before exec() and reads it after OK: the dialog
// needs nothing else of the console. The text is taken as typed: its form is
// not checked.
//
// Thread safety: GUI thread only.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

class CDlgIPAddress : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kCaption = "Insert/Modify IP Address";

    explicit CDlgIPAddress(QWidget* parent);

    void setAddress(const QString& address);
    // The text entered; after OK, what the operator confirmed.
    QString address() const;

    QLineEdit* addressEdit() const { return edit_; }
    QPushButton* okButton() const { return ok_; }

private:
    QLineEdit* edit_;
    QPushButton* ok_;
};
