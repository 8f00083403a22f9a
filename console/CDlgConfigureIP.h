// "Configure IP": gives a unit with the AES/EBU daughter card its IP address,
// subnet mask and gateway over a local link (USB or a serial port).
//
// "Set IP" connects on the chosen port, sends the settings ("setip") and
// disconnects, and the connection gets back the address it had before; the
// dialog stays open until "Done". The mask is sent as its number of host bits
// and shown back in its canonical form (255.0.255.0 becomes 255.255.255.0).
//
// Beside the port list a line shows where the selected serial port leads on this
// machine (R/ports mapping or /dev/ttyS(n-1)).
//
// Thread safety: GUI thread only; runs while no unit is connected.
#pragma once

#include <QDialog>
#include <QString>
#include <QtGlobal>

#include <optional>

#include "core/xelor.h"

class CCtlIPAddress;
class CXelExecApp;
class QComboBox;
class QLabel;
class QPushButton;

class CDlgConfigureIP : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kCaption = "Configure IP";
    static constexpr const char* kNote1 =
        "IP address information can only be set locally through the RS-232 port.  After the information is "
        "updated the unit will reset and will be reconfigured to use the new IP address.";
    static constexpr const char* kNote2 =
        "Please Note that IP addresses can only be assigned to units with the AES/EBU daughter card installed.";
    static constexpr const char* kFailedConnect = "Failed to connect to local or remote communication address";  // 105
    static constexpr const char* kNoResponse = "Failed to receive a valid response from the connected unit";     // 106
    static constexpr const char* kChanged = "After the unit resets the IP information has been changed.";
    static constexpr const char* kEnterAddress = "Please enter all four parts of the IP address for the unit.";

    // What the last "Set IP" did.
    struct Outcome {
        xel::CommErr connect = xel::CommErrNone;
        bool sent = false;  // SetIP was called with the values below
        quint32 address = 0;
        int hostBits = 0;
        quint32 gateway = 0;
    };

    CDlgConfigureIP(CXelExecApp& app, QWidget* parent);

    // Nothing until "Set IP" has been pressed with a complete address.
    const std::optional<Outcome>& lastOutcome() const { return outcome_; }

    QComboBox* portList() const { return ports_; }
    QLabel* portDevice() const { return device_; }
    CCtlIPAddress* addressField() const { return address_; }
    CCtlIPAddress* maskField() const { return mask_; }
    CCtlIPAddress* gatewayField() const { return gateway_; }
    QPushButton* setButton() const { return set_; }
    QPushButton* doneButton() const { return done_; }

public slots:
    void onSetIp();

private:
    void buildControls();

    CXelExecApp& app_;
    std::optional<Outcome> outcome_;

    QComboBox* ports_ = nullptr;
    QLabel* device_ = nullptr;
    CCtlIPAddress* address_ = nullptr;
    CCtlIPAddress* mask_ = nullptr;
    CCtlIPAddress* gateway_ = nullptr;
    QPushButton* set_ = nullptr;
    QPushButton* done_ = nullptr;
};
