// Where the console's serial port names lead on this machine, so a technician
// can tell which adapter "COM3" is.
//
// The link driver opens R/ports/<NAME> when it exists (normally a symlink to a
// device, e.g. ports/COM3 -> /dev/serial/by-id/...; the name compared ignoring
// case), else COMn is /dev/ttyS(n-1). This is the same rule, read-only.
//
// Thread safety: any thread; every call looks at the file system afresh
// (showIn(): GUI thread).
#pragma once

#include <QString>

class QLabel;

class PortDevices {
public:
    struct Device {
        QString path;          // where the name leads; empty for names that are not serial ports
        bool mapped = false;   // through R/ports
        bool present = false;  // something is there now
    };

    // "COM1".."COM9" (any number, any case) and names mapped in R/ports or,
    // for every user, in /etc/xelor/ports.
    static Device deviceFor(const QString& port);
    // One line for the dialogs: "/dev/ttyS2", "/dev/ttyUSB0 (not present)", or "".
    static QString describe(const QString& port);
    // For a serial address (one holding COM or USB) whose device is there but
    // may not be opened by this user: a sentence that says so and names the fix
    // (the dialout group); "" otherwise.
    static QString permissionAdvice(const QString& address);
    // Puts describe(port) into the label: elided in the middle to fit, whole in its tooltip.
    static void showIn(QLabel* label, const QString& port);
};
