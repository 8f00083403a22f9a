// "Configure Communications": how the console reaches the unit ("USB", a serial
// port "COM1".."COM9", or "TCP/IP" with one of the remembered addresses) and the
// list of remembered TCP/IP addresses.
//
// Opening selects the port of the connection's address and the remembered entry
// equal to it. "Insert...", "Modify..." and "Delete" change the remembered
// addresses in the registry at once; OK sets the connection's address and stores
// it as "Address"; Cancel leaves the connection alone.
//
// Beside the port list a line shows where the selected serial port leads on this
// machine (R/ports mapping or /dev/ttyS(n-1)); each COM item says so in its tooltip.
//
// Thread safety: GUI thread only; runs while no unit is connected.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class CXelExecApp;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

class CDlgConfigComm : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kCaption = "Configure Communications";
    static constexpr const char* kSelectAddress = "Please select a valid IP address or DNS name";           // 103
    static constexpr const char* kEnterAddress = "Please enter at least one valid IP address or DNS name";  // 104

    // Asks for one address, starting from `text`; nothing when cancelled. By
    // default it runs "Insert/Modify IP Address".
    using AddressPrompt = std::function<std::optional<QString>(const QString& text)>;

    CDlgConfigComm(CXelExecApp& app, QWidget* parent);

    // The address confirmed with OK ("" until then).
    const QString& address() const { return address_; }

    void setAddressPrompt(AddressPrompt prompt) { prompt_ = std::move(prompt); }

    QComboBox* portList() const { return ports_; }
    QListWidget* addressList() const { return addresses_; }
    QLabel* portDevice() const { return device_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* insertButton() const { return insert_; }
    QPushButton* modifyButton() const { return modify_; }
    QPushButton* deleteButton() const { return delete_; }

public slots:
    void onInsert();
    void onModify();
    void onDelete();
    void onOk();

private:
    void buildControls();
    void fillPorts();
    void selectAtOpening();
    void portChanged();
    void enableAddresses(bool enable);
    int selectedRow() const;
    void selectRow(int row);
    int findExact(const QString& text) const;
    std::optional<QString> promptForAddress(const QString& text);

    CXelExecApp& app_;
    QString opened_;   // the connection's address when the dialog opened
    QString address_;  // confirmed with OK
    AddressPrompt prompt_;

    QComboBox* ports_ = nullptr;
    QLabel* device_ = nullptr;
    QListWidget* addresses_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* insert_ = nullptr;
    QPushButton* modify_ = nullptr;
    QPushButton* delete_ = nullptr;
};
