#include "console/CXelExecDlg.h"

#include <QAction>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>

#include <utility>

#include "console/AutomationText.h"
#include "console/CAboutDlg.h"
#include "console/CCheckPushButton.h"
#include "console/CCtlFormatButton.h"
#include "console/CDlgConfigComm.h"
#include "console/CDlgConfigureIP.h"
#include "console/CDlgConnecting.h"
#include "console/CDlgFirmwareUpdate.h"
#include "console/CDlgProcessors.h"
#include "console/CDlgSettings.h"
#include "console/CStatusBox.h"
#include "console/CXelExecApp.h"
#include "console/ConsoleController.h"
#include "console/DialogUnits.h"
#include "console/DisplayScales.h"
#include "console/PortDevices.h"
#include "console/ProgramArt.h"
#include "console/UnitServers.h"

namespace {

// The layout in dialog units (x, y, width, height) of the window's client area.
constexpr int kClientWidth = 523, kClientHeight = 246;
constexpr int kButtonPitch = 62;  // format buttons and the mode and input row
constexpr int kSliderX[] = {22, 54, 87, 122};
constexpr int kSliderWidth = 20;
constexpr int kMeterPitch = 14;
// The status box, in pixels, at the client area's bottom-right corner.
constexpr int kStatusWidth = 100, kStatusHeight = 20;

const char* const kDefaultFormatCaptions[] = {"MONO",     "STEREO", "FOR SR", "EXT 1 (Analog)", "EXT 2 (Digital)",
                                              "NON/SYNC", "AUX",    "MIC"};
const char* const kInputCaptions[] = {"Analog 2ch", "Analog 6ch", "AES/EBU", "Toslink", "COAX 1", "COAX 2"};
const char* const kSliderCaptions[] = {"Input Trim", "Output Trim", "Input Delay", "Surround Delay"};
const char* const kMeterLabels[] = {"L", "C", "R", "Ls", "Rs", "SW", "7", "8"};
struct ScaleMark {
    const char* text;
    int y;
};
constexpr ScaleMark kScale[] = {{"+20", 114}, {"0", 149}, {"-20", 181}, {"-40", 213}};

QString latin(const char* text) { return QString::fromLatin1(text); }

}  // namespace

CXelExecDlg::CXelExecDlg(CXelExecApp& app, QWidget* parent) : QDialog(parent), app_(app), core_(app.controller()) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Xelor Remote"));
    setFont(DialogUnits::dialogFont());
    if (app_.library().empty()) app_.loadProcessorLibrary();

    buildMenus();
    buildControls();
    connectSignals();

    // Opening.
    // 1. The small icon.
    setWindowIcon(console::programIcon());
    // 2. The title font.
    const QFont titleFont = DialogUnits::mapFont(QStringLiteral("Arial"), 20);
    title_->setFont(titleFont);
    unitLabel_->setFont(titleFont);
    // 3. Sliders.
    const int ranges[kSliderCount][2] = {{-36, 0}, {0, 40}, {-200, 0}, {-100, 0}};
    for (int s = 0; s < kSliderCount; ++s) sliders_[s]->setRange(ranges[s][0], ranges[s][1]);
    // 4. Meters.
    for (QProgressBar* m : meters_) m->setRange(0, 60);
    // 5. The display threshold of meters 7 and 8.
    exThreshold_ = app_.exThreshold();
    // 6. Theatre field lengths.
    theaterNumber_->setMaxLength(32);
    theaterName_->setMaxLength(32);
    screenNumber_->setMaxLength(4);
    // 7.
    refreshProcessorDisplay();
    // 8. The status box in its own font, its colours asked from the link on every paint.
    status_ = new CStatusBox([this] { return core_.isConnected(); }, client_);
    status_->setObjectName(QStringLiteral("statusBox"));
    status_->setFont(DialogUnits::mapFont(QStringLiteral("Tahoma"), 16));
    status_->setGeometry(client_->width() - kStatusWidth, client_->height() - kStatusHeight, kStatusWidth,
                         kStatusHeight);
    status_->setText(latin(kDisconnected));
    // 9.
    subscribe();
}

CXelExecDlg::~CXelExecDlg() {
    meterTimer_.stop();
    // Nothing more reaches this window, even from an event being raised now.
    core_.unsubscribe();
}

// ---- Building -------------------------------------------------------------------------

void CXelExecDlg::buildMenus() {
    menuBar_ = new QMenuBar(this);
    fileMenu_ = menuBar_->addMenu(QStringLiteral("&File"));
    fileMenu_->addAction(QStringLiteral("Load..."), this, &CXelExecDlg::loadConfiguration);
    fileMenu_->addAction(QStringLiteral("&Save..."), this, &CXelExecDlg::saveConfiguration);
    fileMenu_->addSeparator();
    fileMenu_->addAction(QStringLiteral("Processor Library..."), this, &CXelExecDlg::processorLibrary);
    fileMenu_->addSeparator();
    fileMenu_->addAction(QStringLiteral("E&xit"), this, &CXelExecDlg::reject);

    commMenu_ = menuBar_->addMenu(QStringLiteral("&Communication"));
    connectAction_ = commMenu_->addAction(QStringLiteral("&Connect"), this, &CXelExecDlg::connectUnit);
    disconnectAction_ = commMenu_->addAction(QStringLiteral("&Disconnect"), this, &CXelExecDlg::disconnectUnit);
    commSettingsAction_ =
        commMenu_->addAction(QStringLiteral("C&ommunication Settings..."), this, &CXelExecDlg::communicationSettings);
    commMenu_->addSeparator();
    setIpAction_ = commMenu_->addAction(QStringLiteral("&Set IP Information..."), this, &CXelExecDlg::setIpInformation);

    helpMenu_ = menuBar_->addMenu(QStringLiteral("&Help"));
    helpMenu_->addAction(QStringLiteral("&About"), this, &CXelExecDlg::showAbout);
    helpMenu_->addSeparator();
    helpMenu_->addAction(QStringLiteral("Firmware Update..."), this, &CXelExecDlg::firmwareUpdate);
}

void CXelExecDlg::buildControls() {
    const DialogUnits du(font());
    const int menuHeight = menuBar_->sizeHint().height();
    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("clientArea"));
    client_->setGeometry(QRect(QPoint(0, menuHeight), du.size(kClientWidth, kClientHeight)));
    menuBar_->setGeometry(0, 0, client_->width(), menuHeight);
    setFixedSize(client_->width(), menuHeight + client_->height());

    auto label = [&](const QString& text, QRect r, Qt::Alignment align = Qt::AlignLeft | Qt::AlignTop) {
        auto* l = new QLabel(text, client_);
        l->setGeometry(r);
        l->setAlignment(align);
        return l;
    };

    title_ = label(QStringLiteral("Processor"), du.rect(7, 7, 509, 15));
    title_->setObjectName(QStringLiteral("title"));
    for (int k = 1; k <= kFormatCount; ++k) {
        auto* b = new CCtlFormatButton(latin(kDefaultFormatCaptions[k - 1]), client_);
        b->setObjectName(QStringLiteral("format%1").arg(k));
        b->setAutoDefault(false);
        b->setGeometry(du.rect(13 + kButtonPitch * (k - 1), 24, 60, 14));
        formatButtons_[k - 1] = b;
        formatCaptions_[k - 1] = b->text();
    }
    auto* separator = new QFrame(client_);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    separator->setGeometry(du.x(0), du.y(45), du.x(521), 2);
    unitLabel_ = label(QStringLiteral("Xelor"), du.rect(8, 52, 100, 15));
    unitLabel_->setObjectName(QStringLiteral("unitLabel"));

    // The mode and input row: "Film", the six inputs, "Mute".
    auto rowButton = [&](const QString& text, int j) {
        auto* b = new CCheckPushButton(text, client_);
        b->setGeometry(du.rect(13 + kButtonPitch * j, 70, 60, 14));
        return b;
    };
    film_ = rowButton(QStringLiteral("Film"), 0);
    film_->setObjectName(QStringLiteral("film"));
    for (int j = 0; j < kInputCount; ++j) {
        inputButtons_[j] = rowButton(latin(kInputCaptions[j]), j + 1);
        inputButtons_[j]->setObjectName(QStringLiteral("input%1").arg(j));
    }
    mute_ = rowButton(QStringLiteral("Mute"), 7);
    mute_->setObjectName(QStringLiteral("mute"));

    // Sliders with their captions above and value boxes below, each centred on its slider.
    for (int s = 0; s < kSliderCount; ++s) {
        const int centre = kSliderX[s] + kSliderWidth / 2;
        QLabel* caption =
            label(latin(kSliderCaptions[s]), du.rect(centre - 16, 94, 32, 17), Qt::AlignHCenter | Qt::AlignBottom);
        caption->setWordWrap(true);
        auto* slider = new CTrackBar(client_);
        slider->setObjectName(QStringLiteral("slider%1").arg(s));
        slider->setGeometry(du.rect(kSliderX[s], 113, kSliderWidth, 110));
        sliders_[s] = slider;
        auto* value = new QLineEdit(client_);
        value->setObjectName(QStringLiteral("sliderValue%1").arg(s));
        value->setReadOnly(true);
        value->setAlignment(Qt::AlignCenter);
        value->setGeometry(du.rect(centre - 16, 225, 32, 14));
        sliderValues_[s] = value;
    }

    // Meters with their caption, scale and labels.
    label(QStringLiteral("Output Level"), du.rect(162, 99, 70, 9));
    for (const ScaleMark& mark : kScale)
        label(latin(mark.text), du.rect(158, mark.y, 18, 9), Qt::AlignRight | Qt::AlignTop);
    for (int m = 0; m < kMeterCount; ++m) {
        auto* bar = new QProgressBar(client_);
        bar->setObjectName(QStringLiteral("meter%1").arg(m));
        bar->setOrientation(Qt::Vertical);
        bar->setTextVisible(false);
        bar->setGeometry(du.rect(178 + kMeterPitch * m, 114, 12, 110));
        bar->setValue(0);
        meters_[m] = bar;
        label(latin(kMeterLabels[m]), du.rect(178 + kMeterPitch * m - 1, 231, 14, 9), Qt::AlignHCenter | Qt::AlignTop);
    }

    // The theatre profile.
    auto field = [&](const QString& caption, int y, int width) {
        label(caption, du.rect(306, y + 3, 72, 9));
        auto* edit = new QLineEdit(client_);
        edit->setGeometry(du.rect(380, y, width, 14));
        edit->installEventFilter(this);
        return edit;
    };
    theaterNumber_ = field(QStringLiteral("Theater Number:"), 113, 116);
    theaterNumber_->setObjectName(QStringLiteral("theaterNumber"));
    theaterName_ = field(QStringLiteral("Theater Name:"), 136, 116);
    theaterName_->setObjectName(QStringLiteral("theaterName"));
    screenNumber_ = field(QStringLiteral("Screen Number:"), 159, 38);
    screenNumber_->setObjectName(QStringLiteral("screenNumber"));

    auto* settings = new QPushButton(QStringLiteral("Change Settings..."), client_);
    settings->setObjectName(QStringLiteral("changeSettings"));
    settings->setAutoDefault(false);
    settings->setGeometry(du.rect(306, 198, 87, 31));
    connect(settings, &QPushButton::clicked, this, &CXelExecDlg::changeSettings);

    picture_ = new QLabel(client_);
    picture_->setObjectName(QStringLiteral("picture"));
    picture_->setGeometry(du.rect(410, 198, 87, 31));
    picture_->setAlignment(Qt::AlignCenter);
    picture_->setPixmap(console::unitPicture());
}

void CXelExecDlg::connectSignals() {
    for (QMenu* menu : {fileMenu_, commMenu_, helpMenu_})
        connect(menu, &QMenu::aboutToShow, this, &CXelExecDlg::updateMenus);
    for (int k = 1; k <= kFormatCount; ++k)
        connect(formatButtons_[k - 1], &QPushButton::clicked, this, [this, k] { formatButtonClicked(k); });
    for (int j = 0; j < kInputCount; ++j)
        connect(inputButtons_[j], &QPushButton::clicked, this, [this, j] { inputButtonClicked(j); });
    connect(film_, &QPushButton::clicked, this, &CXelExecDlg::filmClicked);
    connect(mute_, &QPushButton::clicked, this, &CXelExecDlg::muteClicked);
    for (int s = 0; s < kSliderCount; ++s)
        connect(sliders_[s], &CTrackBar::scrolled, this,
                [this, s](CTrackBar::Code code) { onSliderScrolled(static_cast<Slider>(s), code); });
    connect(&meterTimer_, &QTimer::timeout, this, &CXelExecDlg::onMeterTimer);
}

QAction* CXelExecDlg::action(const QString& text) const {
    for (QMenu* menu : {fileMenu_, commMenu_, helpMenu_})
        for (QAction* a : menu->actions())
            if (a->text() == text) return a;
    return nullptr;
}

// ---- Events of the core -------------------------------------------------------------

void CXelExecDlg::subscribe() {
    connect(&core_, &ConsoleController::inputChanged, this, &CXelExecDlg::onInputChange);
    connect(&core_, &ConsoleController::automationChanged, this, [this](int pin) { highlightForPin(pin); });
    connect(&core_, &ConsoleController::modeChanged, this, [this](int mode) { film_->setChecked(mode == 0); });
    connect(&core_, &ConsoleController::muteChanged, mute_, &CCheckPushButton::setChecked);
    connect(&core_, &ConsoleController::commLost, this, &CXelExecDlg::onCommLost);
    // PICDownloadStateChange belongs to the firmware update dialog.
    core_.subscribe();
}

void CXelExecDlg::onInputChange(int input) {
    refreshInputPanel();
    checkInput(input);
}

void CXelExecDlg::onCommLost() {
    disconnectUnit();
    app_.prompts().message(this, latin(kCommLost), QMessageBox::Critical);
}

// ---- Connect and disconnect -------------------------------------------------------------

// A unit server on this machine holding the same unit explains a failed
// connect: the unit takes one link, and the server keeps it.
void CXelExecDlg::adviseAboutUnitServer() {
    const QString advice = UnitServers::holderAdvice(core_.address());
    if (!advice.isEmpty()) app_.prompts().message(this, advice, QMessageBox::Warning);
}

void CXelExecDlg::connectUnit() {
    // The window keeps handling its events while a connect runs: a second
    // "&Connect" then must not start another one on the same link.
    if (connecting_) return;
    if (!core_.canConnect()) return;
    connecting_ = true;
    connectInterrupted_ = false;

    CDlgConnecting connecting(this);
    connecting.showCentred();
    const auto code = core_.runConnectJob(*worker_);

    // While the job ran, this thread may have run the disconnect procedure (the
    // operator's "&Disconnect" or a lost link's CommFail), and the job's result
    // cannot know it: the link itself says whether the unit is connected.
    const bool linkUp = core_.isConnected();
    const char* statusText = kDisconnected;
    if (connectInterrupted_) {
        // Asked for or already reported; a link the job opened after all goes too.
        if (linkUp) core_.disconnect();
    } else if (code == ConsoleController::FailedToConnect) {
        app_.prompts().message(this, latin(kFailedConnect), QMessageBox::Critical);
        // The message above stays as it always was; a serial device this user may
        // not open gets a second one that names the fix.
        const QString advice = PortDevices::permissionAdvice(core_.address());
        if (!advice.isEmpty()) app_.prompts().message(this, advice, QMessageBox::Warning);
        adviseAboutUnitServer();
    } else if (code != ConsoleController::Connected || !linkUp) {
        app_.prompts().message(this, latin(kNoValidResponse), QMessageBox::Critical);
        adviseAboutUnitServer();
    } else {
        statusText = kConnected;
        selectMatchingDefinition();
        showTitleFromUnit();
        readTheaterFields();
        refreshProcessorDisplay();
        const ConsoleController::UnitSelection unit = core_.unitSelection();
        checkInput(unit.input);
        highlightForPin(unit.pin);
        film_->setChecked(unit.film);
        meterTimer_.start(kMeterPeriodMs);
    }
    setStatusText(statusText);
    connecting.finish();
    connecting_ = false;

    if (closeAfterConnect_) {
        closeAfterConnect_ = false;
        closeWindow();
    }
}

void CXelExecDlg::disconnectUnit() {
    // A disconnect during a connect ends that connect.
    if (connecting_) connectInterrupted_ = true;
    meterTimer_.stop();
    core_.disconnect();
    app_.selectDefinition(CProcessorDef::defaultProcessor(), false);
    for (CCtlFormatButton* b : formatButtons_) b->setLook(CCtlFormatButton::Look::Normal);
    theaterNumberText_.clear();
    theaterNameText_.clear();
    screenNumberText_.clear();
    core_.selectInput(0);
    refreshProcessorDisplay();
    setStatusText(kDisconnected);
}

void CXelExecDlg::setStatusText(const char* text) {
    status_->setText(latin(text));
    status_->update();
}

// ---- Closing ----------------------------------------------------------------------

void CXelExecDlg::keyPressEvent(QKeyEvent* e) {
    // Enter never closes the window nor presses a button for it.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void CXelExecDlg::reject() {
    // A close during a connect waits for the connect's end: the core is not
    // cleaned up under the worker.
    if (connecting_) {
        closeAfterConnect_ = true;
        return;
    }
    closeWindow();
}

void CXelExecDlg::closeWindow() {
    meterTimer_.stop();
    core_.cleanupAll();
    QDialog::reject();
}

// ---- Menus --------------------------------------------------------------------------

void CXelExecDlg::updateMenus() {
    const bool connected = core_.isConnected();
    connectAction_->setEnabled(!connected);
    commSettingsAction_->setEnabled(!connected);
    setIpAction_->setEnabled(!connected);
    disconnectAction_->setEnabled(connected);
}

void CXelExecDlg::loadConfiguration() {
    const ConsolePrompts::FileRequest request{latin(kConfigFilter), QString(), true, true};
    const QString path = app_.prompts().openFileName(this, request);
    if (path.isEmpty()) return;
    if (!core_.load(path)) {
        app_.prompts().message(this, latin(kLoadFailed), QMessageBox::NoIcon);
        return;
    }
    afterChangeRefresh();
}

void CXelExecDlg::saveConfiguration() {
    const ConsolePrompts::FileRequest request{latin(kConfigFilter), QStringLiteral("xel"), true, true};
    const QString path = app_.prompts().saveFileName(this, request);
    if (path.isEmpty()) return;
    commitTheaterFieldInUse();
    // A save that did not happen is said, so no one leaves the booth believing
    // the unit's setup is on disk.
    if (!core_.save(path)) app_.prompts().message(this, latin(kSaveFailed), QMessageBox::NoIcon);
}

void CXelExecDlg::showAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CXelExecDlg::processorLibrary() {
    CDlgProcessors dialog(app_, this);
    (void)dialog.exec();
    showTitleFromUnit();
    readTheaterFields();
    refreshProcessorDisplay();
}

void CXelExecDlg::changeSettings() {
    CDlgSettings dialog(app_, this);
    if (dialog.exec() != QDialog::Accepted) return;
    showTitleFromUnit();
    readTheaterFields();
    refreshProcessorDisplay();
}

void CXelExecDlg::communicationSettings() {
    CDlgConfigComm dialog(app_, this);
    (void)dialog.exec();
}

void CXelExecDlg::setIpInformation() {
    CDlgConfigureIP dialog(app_, this);
    (void)dialog.exec();
}

void CXelExecDlg::firmwareUpdate() {
    CDlgFirmwareUpdate dialog(app_, this);
    (void)dialog.exec();
}

// ---- Commands of the controls ----------------------------------------------------------

void CXelExecDlg::formatButtonClicked(int format) {
    const CProcessorDef& def = app_.lookUpCurrentDefinition();
    const int pin = def.firstPinFor(format);
    // The highlight follows the unit: AutomationChange, once the pin was sent.
    if (pin == 0) return;
    core_.sendPin(pin);
}

void CXelExecDlg::inputButtonClicked(int input) {
    core_.selectInput(input);
    refreshInputPanel();
}

void CXelExecDlg::filmClicked() {
    const bool film = !film_->isChecked();
    film_->setChecked(film);
    core_.setFilm(film);
}

void CXelExecDlg::muteClicked() {
    const bool mute = !mute_->isChecked();
    mute_->setChecked(mute);
    core_.setMute(mute);
}

bool CXelExecDlg::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::FocusOut) {
        // A menu (the menu bar's or the box's own) leaves the caret in the box: the
        // box is not left, and a write queued for it would only be dropped by a
        // "&Disconnect" chosen from that menu.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(e)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::MenuBarFocusReason) {
            for (QLineEdit* edit : {theaterNumber_, theaterName_, screenNumber_})
                if (watched == edit) onTheaterFieldLeft(edit);
        }
    }
    return QDialog::eventFilter(watched, e);
}

void CXelExecDlg::commitTheaterFieldInUse() {
    // The box holding the caret was not left when its command was chosen from a
    // menu; what was typed there is written as a focus loss would write it.
    const QWidget* focused = focusWidget();
    const std::pair<QLineEdit*, const QString*> fields[] = {
        {theaterNumber_, &theaterNumberText_}, {theaterName_, &theaterNameText_}, {screenNumber_, &screenNumberText_}};
    for (const auto& [edit, written] : fields)
        if (focused == edit && edit->text() != *written) onTheaterFieldLeft(edit);
}

void CXelExecDlg::onTheaterFieldLeft(QLineEdit* edit) {
    // Written whether it changed or not, as the box is left.
    const QString text = edit->text();
    if (edit == theaterNumber_) {
        theaterNumberText_ = text;
        core_.setTheaterNumber(text);
    } else if (edit == theaterName_) {
        theaterNameText_ = text;
        core_.setTheaterName(text);
    } else {
        screenNumberText_ = text;
        core_.setScreenNumber(text);
    }
}

void CXelExecDlg::onSliderScrolled(Slider s, CTrackBar::Code code) {
    switch (code) {
        case CTrackBar::PageUp:
        case CTrackBar::PageDown:
        case CTrackBar::ThumbPosition: return;
        default: break;
    }
    const LONG c = core_.currentInput();
    const int p = sliders_[s]->sliderPosition();
    const bool end = code == CTrackBar::EndScroll;
    switch (s) {
        case InputTrim:
            sliderValues_[s]->setText(console::trimText(-p * 5));
            core_.setInputTrim(c, -p);
            break;
        case OutputTrim:
            sliderValues_[s]->setText(console::trimText(-p * 5));
            core_.setOutputTrim(c, p);
            break;
        case InputDelay:
            sliderValues_[s]->setText(console::delayText(-p));
            if (end) core_.setInputDelay(c, -p);
            break;
        case SurroundDelay:
            sliderValues_[s]->setText(console::delayText(-p));
            if (end) core_.setSurroundDelay(c, -p);
            break;
        case kSliderCount: break;
    }
}

void CXelExecDlg::onMeterTimer() {
    const std::optional<ConsoleController::Levels> levels = core_.readLevels();
    if (!levels) return;
    // Left to right: L, C, R, Ls, Rs, SW, 7, 8.
    for (int m = 0; m < kMeterCount; ++m)
        meters_[m]->setValue(console::meterPosition((*levels)[m], m >= 6, exThreshold_));
}

// ---- Refreshing ----------------------------------------------------------------------

void CXelExecDlg::refreshProcessorDisplay() {
    const CProcessorDef& def = app_.lookUpCurrentDefinition();
    setTitle(def.name);
    formatCaptions_ = def.formatNames;
    refreshInputPanel();
    transferToControls();
}

void CXelExecDlg::refreshInputPanel() {
    const LONG c = core_.currentInput();
    checkInput(c);
    mute_->setChecked(core_.mute());

    const auto [t, u, d, s] = core_.trimsAndDelays(c);
    sliders_[InputTrim]->setValue(-t);
    sliderValues_[InputTrim]->setText(console::trimText(t * 5));
    sliders_[OutputTrim]->setValue(u);
    sliderValues_[OutputTrim]->setText(console::trimText(-u * 5));
    sliders_[InputDelay]->setValue(-d);
    sliderValues_[InputDelay]->setText(console::delayText(d));
    sliders_[SurroundDelay]->setValue(-s);
    sliderValues_[SurroundDelay]->setText(console::delayText(s));
}

void CXelExecDlg::afterChangeRefresh() {
    selectMatchingDefinition();
    showTitleFromUnit();
    readTheaterFields();
    refreshProcessorDisplay();
}

void CXelExecDlg::selectMatchingDefinition() { core_.selectMatchingDefinition(); }

void CXelExecDlg::showTitleFromUnit() { setTitle(core_.processorName()); }

void CXelExecDlg::readTheaterFields() {
    const std::optional<ConsoleController::TheaterFields> fields = core_.theaterFields();
    if (!fields) return;
    theaterNumberText_ = fields->number;
    theaterNameText_ = fields->name;
    screenNumberText_ = fields->screen;
}

void CXelExecDlg::transferToControls() {
    for (int k = 0; k < kFormatCount; ++k) formatButtons_[k]->setText(formatCaptions_[k]);
    theaterNumber_->setText(theaterNumberText_);
    theaterName_->setText(theaterNameText_);
    screenNumber_->setText(screenNumberText_);
}

void CXelExecDlg::setTitle(const QString& name) { title_->setText(QStringLiteral("Processor - %1").arg(name)); }

void CXelExecDlg::highlightForPin(LONG pin) {
    // Pin 16 and anything outside the automation pins change nothing.
    if (pin < 1 || pin > 15) return;
    for (CCtlFormatButton* b : formatButtons_) b->setLook(CCtlFormatButton::Look::Normal);
    const CProcessorDef& def = app_.lookUpCurrentDefinition();
    const int f = def.pinFormat[static_cast<size_t>(pin - 1)];
    if (f >= 1 && f <= kFormatCount) formatButtons_[f - 1]->setLook(CCtlFormatButton::Look::Highlighted);
    for (CCtlFormatButton* b : formatButtons_) b->update();
}

void CXelExecDlg::checkInput(LONG input) {
    for (CCheckPushButton* b : inputButtons_) b->setChecked(false);
    if (input >= 0 && input < kInputCount) inputButtons_[input]->setChecked(true);
}
