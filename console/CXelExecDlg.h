// "Xelor Remote", the console's main window: the processor definition in use
// with its eight formats, the unit's input, mute and film state, the trims and
// delays of the current input, eight output level meters, the theatre profile
// and the connection status. It runs the connect and disconnect procedures,
// shows the core's events, opens the other dialogs and loads and saves
// configuration files. It reaches the core only through the application's
// controller (ConsoleController), whose typed signals bring the core's events.
//
// A fixed-size dialog laid out in dialog units of its font ("MS Shell Dlg" 8,
// 523 x 246). Enter never closes it; the close box, Escape and "E&xit" close it
// the same way (close()): the core and its sub-objects are asked to clean up,
// a live link is disconnected, and the dialog ends.
//
// Thread contract: everything runs on the GUI thread. The core's events arrive
// on its monitor thread and reach the window through the controller's signals;
// the connect job runs on a worker (ConnectWorker) while this thread keeps
// handling its events.
#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>

#include <array>

#include "console/CTrackBar.h"
#include "console/ConnectWorker.h"
#include "console/ConsolePrompts.h"
#include "core/xelor.h"

class CCheckPushButton;
class CCtlFormatButton;
class CStatusBox;
class CXelExecApp;
class ConsoleController;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QProgressBar;

class CXelExecDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kFormatCount = 8;
    static constexpr int kInputCount = 6;  // "Analog 2ch" .. "COAX 2", input index 0-5
    static constexpr int kMeterCount = 8;
    static constexpr int kMeterPeriodMs = 200;

    enum Slider { InputTrim, OutputTrim, InputDelay, SurroundDelay, kSliderCount };

    // Texts the window shows and the operator reads.
    static constexpr const char* kConnected = "Connected";
    static constexpr const char* kDisconnected = "Disconnected";
    static constexpr const char* kFailedConnect = "Failed to connect to local or remote communication address";
    static constexpr const char* kNoValidResponse = "Failed to receive a valid response from the connected unit";
    static constexpr const char* kCommLost = "Communication to the Xelor has been lost.";
    static constexpr const char* kLoadFailed = "Failed to load the configuration file.";
    static constexpr const char* kSaveFailed = "Failed to save the configuration file.";
    static constexpr const char* kConfigFilter = "Xelor Config (*.xel)|*.xel|All Files (*.*)|*.*||";

    explicit CXelExecDlg(CXelExecApp& app, QWidget* parent = nullptr);
    ~CXelExecDlg() override;

    // ---- The procedures (as the menu commands run them)
    void connectUnit();
    // Stops the meters, disconnects, makes the default processor current and
    // clears the formats' highlight and the theatre fields. Also run by the
    // firmware download before it takes the link.
    void disconnectUnit();
    void loadConfiguration();
    void saveConfiguration();
    void showAbout();
    void processorLibrary();
    void changeSettings();
    void communicationSettings();
    void setIpInformation();
    void firmwareUpdate();
    // Format button k (1-8), input button j (0-5), "Film", "Mute".
    void formatButtonClicked(int format);
    void inputButtonClicked(int input);
    void filmClicked();
    void muteClicked();

    // Greys the menu items for the link's state, as every opening of the menu bar does.
    void updateMenus();
    bool connecting() const { return connecting_; }
    // The connect job runs through `worker` (null: the built-in one); not owned.
    void setConnectWorker(ConnectWorker* worker) { worker_ = worker ? worker : &ownWorker_; }

    // ---- What the window shows (for its tests)
    QMenuBar* menuBar() const { return menuBar_; }
    QAction* action(const QString& text) const;
    QWidget* client() const { return client_; }
    QLabel* titleLabel() const { return title_; }
    CCtlFormatButton* formatButton(int format) const { return formatButtons_[format - 1]; }
    CCheckPushButton* inputButton(int input) const { return inputButtons_[input]; }
    CCheckPushButton* filmButton() const { return film_; }
    CCheckPushButton* muteButton() const { return mute_; }
    CTrackBar* slider(Slider s) const { return sliders_[s]; }
    QLineEdit* sliderValue(Slider s) const { return sliderValues_[s]; }
    QProgressBar* meter(int m) const { return meters_[m]; }
    QLineEdit* theaterNumberEdit() const { return theaterNumber_; }
    QLineEdit* theaterNameEdit() const { return theaterName_; }
    QLineEdit* screenNumberEdit() const { return screenNumber_; }
    CStatusBox* statusBox() const { return status_; }
    QLabel* picture() const { return picture_; }
    const QTimer& meterTimer() const { return meterTimer_; }
    double exThreshold() const { return exThreshold_; }

public slots:
    // The dialog's default (Enter) command: nothing.
    void accept() override {}
    // The close box and Escape: the window's close procedure.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void adviseAboutUnitServer();
    void buildMenus();
    void buildControls();
    void connectSignals();
    void subscribe();
    void closeWindow();

    // Refreshes (the names of the procedures the window's commands share).
    void refreshProcessorDisplay();
    void refreshInputPanel();
    void afterChangeRefresh();
    void selectMatchingDefinition();
    void showTitleFromUnit();
    void readTheaterFields();
    void transferToControls();
    void setTitle(const QString& name);
    void highlightForPin(LONG pin);
    void checkInput(LONG input);
    void setStatusText(const char* text);

    void onSliderScrolled(Slider s, CTrackBar::Code code);
    void onMeterTimer();
    void onInputChange(int input);
    void onCommLost();
    void onTheaterFieldLeft(QLineEdit* edit);
    void commitTheaterFieldInUse();

    CXelExecApp& app_;
    ConsoleController& core_;
    ConnectWorker ownWorker_;
    ConnectWorker* worker_ = &ownWorker_;
    bool connecting_ = false;
    bool connectInterrupted_ = false;  // the disconnect procedure ran during the connect
    bool closeAfterConnect_ = false;
    bool closed_ = false;

    QMenuBar* menuBar_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* commMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QAction* connectAction_ = nullptr;
    QAction* disconnectAction_ = nullptr;
    QAction* commSettingsAction_ = nullptr;
    QAction* setIpAction_ = nullptr;

    QWidget* client_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* unitLabel_ = nullptr;
    std::array<CCtlFormatButton*, kFormatCount> formatButtons_{};
    std::array<CCheckPushButton*, kInputCount> inputButtons_{};
    CCheckPushButton* film_ = nullptr;
    CCheckPushButton* mute_ = nullptr;
    std::array<CTrackBar*, kSliderCount> sliders_{};
    std::array<QLineEdit*, kSliderCount> sliderValues_{};
    std::array<QProgressBar*, kMeterCount> meters_{};
    QLineEdit* theaterNumber_ = nullptr;
    QLineEdit* theaterName_ = nullptr;
    QLineEdit* screenNumber_ = nullptr;
    QLabel* picture_ = nullptr;
    CStatusBox* status_ = nullptr;

    std::array<QString, kFormatCount> formatCaptions_;
    QString theaterNumberText_;
    QString theaterNameText_;
    QString screenNumberText_;
    double exThreshold_ = 40.0;
    QTimer meterTimer_;
};
