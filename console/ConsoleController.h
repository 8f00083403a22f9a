// The console's one way to the core: the connect job, every call the windows
// make on the core and its sub-objects, and the core's events as typed signals.
// The application object owns it and keeps what it works with (the sub-object
// references, the processor library, the current GUID and its lookup); the
// windows keep their commands and hand the core work to it.
//
// Results of the core's calls are not examined unless a method says otherwise;
// without a core every call does nothing and every read answers its default.
//
// Thread contract: everything runs on the GUI thread except the connect job,
// which runs on the ConnectWorker's thread and touches only references it holds
// itself. The core's events arrive on its monitor thread as posted events and
// are emitted here, on the GUI thread.
#pragma once

#include <QObject>
#include <QString>

#include <array>
#include <optional>

#include "core/xelor.h"
#include "platform/objrt/Ptr.h"

class CProcessorDef;
class CXelEventSink;
class CXelExecApp;
class CXelStatusSink;
class ConnectWorker;
class IpAssignment;

class ConsoleController : public QObject {
    Q_OBJECT

public:
    // Exit codes of the connect job.
    enum ConnectResult { Connected = -1, FailedToConnect = -2, NoValidResponse = -3 };

    struct TrimsAndDelays {
        LONG inputTrim = 0, outputTrim = 0, inputDelay = 0, surroundDelay = 0;
    };
    struct TheaterFields {
        QString number, name, screen;
    };
    // What the unit's format object says right after a connect.
    struct UnitSelection {
        LONG input = -1, pin = 0;
        bool film = false;
    };
    // IVU ReadLevels in the meters' order: L, C, R, Ls, Rs, SW, 7, 8.
    using Levels = std::array<LONG, 8>;

    explicit ConsoleController(CXelExecApp& app);
    ~ConsoleController() override;

    // ---- Connect and the link
    // There is a core with a connection object to connect.
    bool canConnect();
    // Runs Connect, Query and the wait for the first settled pass through `worker`;
    // the calling thread keeps handling its events meanwhile. Null when there is no
    // core; else the job's exit code.
    std::optional<ConnectResult> runConnectJob(ConnectWorker& worker);
    bool isConnected();
    void disconnect();
    // The close of the main window: every Cleanup in order, then a live link goes.
    void cleanupAll();

    // The connection object's address ("" without one).
    QString address();
    void setAddress(const QString& address);
    // A session giving the unit its IP settings over a local link.
    IpAssignment ipAssignment();

    // ---- The definition in use
    // Takes the unit's ProcessorGUID and selects the first library entry with it
    // (entry 0 when none) without sending.
    void selectMatchingDefinition();
    QString processorName();
    // Makes the definition current and sends its GUID, name and mode pin.
    void sendDefinition(const CProcessorDef& def);

    // ---- The unit's power-on settings and film-mode pulse
    // Null where the core supplies nothing.
    std::optional<LONG> powerOnMode();
    std::optional<LONG> powerOnFormat();
    // 0 where the core supplies nothing.
    LONG filmReturnPin();
    void sendPowerOnSettings(LONG mode, LONG format, LONG filmReturnPin);

    // ---- Firmware
    // True when the core took the image.
    bool checkFirmwareImage(const QString& path);
    void startFirmwareDownload();

    // ---- Reads
    LONG currentInput();
    bool mute();
    TrimsAndDelays trimsAndDelays(LONG input);
    UnitSelection unitSelection();
    // Null when there are no meters or the read failed.
    std::optional<Levels> readLevels();
    // Null without a profile object.
    std::optional<TheaterFields> theaterFields();

    // ---- Writes
    void sendPin(int pin);
    void selectInput(LONG input);
    void setFilm(bool film);
    void setMute(bool mute);
    void setInputTrim(LONG input, LONG value);
    void setOutputTrim(LONG input, LONG value);
    void setInputDelay(LONG input, LONG value);
    void setSurroundDelay(LONG input, LONG value);
    void setTheaterNumber(const QString& text);
    void setTheaterName(const QString& text);
    void setScreenNumber(const QString& text);
    // True when the core took the file.
    bool load(const QString& path);
    bool save(const QString& path);

    // ---- The core's events
    // Counted: the first subscription advises the core (its events and its
    // download progress), the last unsubscribe leaves it and drops whatever was
    // posted and not yet emitted.
    void subscribe();
    void unsubscribe();

signals:
    void inputChanged(int input);
    void automationChanged(int pin);
    void modeChanged(int mode);
    void muteChanged(bool mute);
    void downloadStateChanged(int state);
    void downloadProgress(int permille);
    // CommFail, after the event has returned on the monitor thread.
    void commLost();

protected:
    bool event(QEvent* event) override;

private:
    CXelExecApp& app_;
    xel::objrt::ComPtr<CXelEventSink> sink_;
    xel::objrt::ComPtr<CXelStatusSink> statusSink_;
    int subscribers_ = 0;
};
