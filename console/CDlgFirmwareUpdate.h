// "Firmware Update": the operator picks an Intel HEX image, the core checks it
// and writes it into the unit's bootloader, and the dialog lists the download's
// stages from the core's PICDownloadStateChange events, with a progress bar fed
// by the core's DownloadProgress events (erase rows, program rows, EEPROM rows).
//
// Busy from "Download" until the image is refused or the download ends (state
// 4 or 5): "Download" and "Done" are disabled, and the close command is ignored.
// A download that makes no progress (no stage and no progress event) for
// stallTimeout() gets "Done" back, so the operator is never locked in; the bar
// then says so. Progress arriving later makes the dialog busy again.
//
// A connected unit is disconnected before the download takes its line: through
// the main window's disconnect procedure when the dialog's parent is the main
// window (it then shows "Disconnected" and stops its meters), else on the
// connection itself.
//
// Thread contract: GUI thread only. The core's events arrive on its monitor
// thread and reach the dialog through the controller's signals (ConsoleController).
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "core/xelor.h"

class CXelExecApp;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

class CDlgFirmwareUpdate : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kCaption = "Firmware Update";
    static constexpr const char* kInstructions =
        "Power the unit on while holding down the \"Mode\" button.\n\n"
        "Choose the hex file to be downloaded and click the \"Download\" button below.";
    static constexpr const char* kHexFilter = "Hex Files (*.hex)|*.hex|All Files (*.*)|*.*||";
    static constexpr const char* kInvalidName = "Invalid image filename";
    static constexpr const char* kValidating = "Validating download image...";
    static constexpr const char* kInvalidImage = "The selected download image is invalid";
    static constexpr const char* kWaiting = "Waiting for response from PIC...";
    static constexpr const char* kErasing = "Erasing program memory...";
    static constexpr const char* kProgramming = "Writing program memory...";
    static constexpr const char* kWritingData = "Writing eeprom data...";
    static constexpr const char* kFailed = "The firmware update has failed";
    static constexpr const char* kFailedHint =
        "Please make sure the unit is powered on and is ready to receive firmware";
    static constexpr const char* kCompleted = "The firmware update has completed successfully.";
    static constexpr int kHorizontalExtent = 400;  // pixels
    static constexpr int kStallTimeoutMs = 30000;
    // The bar runs over the three long stages, 1000 steps each.
    static constexpr int kBarMaximum = 3000;

    CDlgFirmwareUpdate(CXelExecApp& app, QWidget* parent);
    ~CDlgFirmwareUpdate() override;

    // How long a download may go without progress before "Done" comes back.
    void setStallTimeout(int ms) { stallTimer_.setInterval(ms); }
    int stallTimeout() const { return stallTimer_.interval(); }

    bool busy() const { return busy_; }
    QStringList statusLines() const;

    QLabel* instructions() const { return instructions_; }
    QLineEdit* fileNameEdit() const { return fileName_; }
    QPushButton* browseButton() const { return browse_; }
    QListWidget* statusList() const { return status_; }
    QProgressBar* progressBar() const { return progress_; }
    QPushButton* downloadButton() const { return download_; }
    QPushButton* doneButton() const { return done_; }

signals:
    // A status line was added (tests and screenshots follow the download by it).
    void statusAdded(const QString& text);
    // The bar moved.
    void progressed(int value);

public slots:
    void onBrowse();
    void onDownload();
    // The close command: only while "Done" is enabled.
    void reject() override;

private:
    void buildControls();
    void addStatus(const char* text);
    void setIdle();
    void onStateChange(LONG state);
    void onProgress(LONG permille);
    void onStalled();
    void disconnectFirst();

    CXelExecApp& app_;
    bool busy_ = false;
    bool stalled_ = false;
    LONG stage_ = -1;  // the last download state reported
    QTimer stallTimer_;

    QLabel* instructions_ = nullptr;
    QLineEdit* fileName_ = nullptr;
    QPushButton* browse_ = nullptr;
    QListWidget* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* download_ = nullptr;
    QPushButton* done_ = nullptr;
};
