#include "console/ConsoleController.h"

#include <QCoreApplication>

#include "console/AutomationText.h"
#include "console/CXelEventSink.h"
#include "console/CXelExecApp.h"
#include "console/CXelStatusSink.h"
#include "console/CommAddress.h"
#include "console/ConnectWorker.h"
#include "console/IpAssignment.h"

using xel::objrt::Bstr;
using xel::objrt::ComPtr;

namespace {

constexpr int kSettleAfterQueryMs = 3000;  // the resync pass after a Query, generously

VARIANT_BOOL vb(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

}  // namespace

ConsoleController::ConsoleController(CXelExecApp& app) : app_(app) {}

ConsoleController::~ConsoleController() {
    if (statusSink_) statusSink_->disconnect();
    if (sink_) sink_->disconnect();
}

// ---- Connect and the link ------------------------------------------------------------

std::optional<ConsoleController::ConnectResult> ConsoleController::runConnectJob(ConnectWorker& worker) {
    if (!canConnect()) return std::nullopt;
    // The job holds its own references: the window thread may run the disconnect
    // procedure (or anything else) while it runs.
    const ComPtr<xel::IComm> commRef(app_.connection());
    const ComPtr<xel::IXel> coreRef(app_.core());
    return static_cast<ConnectResult>(worker.run([commRef, coreRef]() -> int {
        xel::CommErr err = xel::CommErrNone;
        const HRESULT hr = commRef->Connect(&err);
        if (err == xel::CommErrFailedConnect) return FailedToConnect;
        if (err != xel::CommErrNone || hr != S_OK) return NoValidResponse;
        if (coreRef->Query() != S_OK) {
            (void)commRef->Disconnect();
            return NoValidResponse;
        }
        // The monitor's first pass after a Query adopts the unit's switches and drops
        // whatever was queued before it. Waiting for that pass here means a change the
        // operator makes right after connecting is sent, never discarded.
        ComPtr<xel::IXelStatus> status;
        if (SUCCEEDED(coreRef->QueryInterface(xel::IID_IXelStatus, status.putVoid()))) {
            LONG settled = xel::SettleAllAnswered;
            (void)status->WaitSettled(kSettleAfterQueryMs, &settled);
        }
        return Connected;
    }));
}

bool ConsoleController::canConnect() { return app_.connection() && app_.core(); }

bool ConsoleController::isConnected() {
    VARIANT_BOOL connected = VARIANT_FALSE;
    xel::IComm* comm = app_.connection();
    return comm && comm->IsConnected(&connected) == S_OK && connected == VARIANT_TRUE;
}

void ConsoleController::disconnect() {
    if (xel::IComm* comm = app_.connection()) (void)comm->Disconnect();
}

void ConsoleController::cleanupAll() {
    if (xel::IVU* vu = app_.meters()) (void)vu->Cleanup();
    if (xel::IProfile* profile = app_.profile()) (void)profile->Cleanup();
    if (xel::IFormat* format = app_.format()) (void)format->Cleanup();
    if (xel::IXel* core = app_.core()) (void)core->Cleanup();
    if (xel::IComm* comm = app_.connection()) {
        // Any non-zero answer counts as connected here.
        VARIANT_BOOL connected = VARIANT_FALSE;
        if (comm->IsConnected(&connected) == S_OK && connected != VARIANT_FALSE) (void)comm->Disconnect();
    }
}

QString ConsoleController::address() { return CommAddress::get(app_.connection()); }

void ConsoleController::setAddress(const QString& address) { CommAddress::set(app_.connection(), address); }

IpAssignment ConsoleController::ipAssignment() { return IpAssignment(app_.connection(), app_.core()); }

// ---- The definition in use ---------------------------------------------------------

void ConsoleController::selectMatchingDefinition() {
    QUuid guid;
    if (xel::IFormat* format = app_.format()) {
        Bstr text;
        if (format->get_ProcessorGUID(text.put()) == S_OK)
            guid = CProcessorDef::guidFromText(console::fromBstr(text.get())).value_or(QUuid());
    }
    const int index = guid.isNull() ? -1 : app_.findLibraryIndex(guid);
    app_.selectDefinition(app_.library().at(index >= 0 ? index : 0), false);
}

QString ConsoleController::processorName() {
    Bstr name;
    if (xel::IFormat* format = app_.format()) (void)format->get_ProcessorName(name.put());
    return console::fromBstr(name.get());
}

void ConsoleController::sendDefinition(const CProcessorDef& def) {
    app_.selectDefinition(def, true);
    if (xel::IFormat* format = app_.format()) {
        (void)format->put_ProcessorName(console::toBstr(def.name).get());
        (void)format->put_ModePin(def.modePin);
    }
}

// ---- The unit's power-on settings and film-mode pulse --------------------------------

std::optional<LONG> ConsoleController::powerOnMode() {
    LONG value = 0;
    xel::IXel* core = app_.core();
    if (!core || core->get_PowerOnMode(&value) != S_OK) return std::nullopt;
    return value;
}

std::optional<LONG> ConsoleController::powerOnFormat() {
    LONG value = 0;
    xel::IXel* core = app_.core();
    if (!core || core->get_PowerOnFormat(&value) != S_OK) return std::nullopt;
    return value;
}

LONG ConsoleController::filmReturnPin() {
    LONG pin = 0;
    xel::IXel* core = app_.core();
    if (!core || core->get_FilmReturnFormat(&pin) != S_OK) pin = 0;
    return pin;
}

void ConsoleController::sendPowerOnSettings(LONG mode, LONG format, LONG filmReturnPin) {
    if (xel::IXel* core = app_.core()) {
        (void)core->put_PowerOnMode(mode);
        (void)core->put_PowerOnFormat(format);
        (void)core->put_FilmReturnFormat(filmReturnPin);
    }
}

// ---- Firmware --------------------------------------------------------------------

bool ConsoleController::checkFirmwareImage(const QString& path) {
    xel::IXel* core = app_.core();
    return core && core->ParseHexFile(console::toBstr(path).get()) == S_OK;
}

void ConsoleController::startFirmwareDownload() {
    if (xel::IXel* core = app_.core()) (void)core->DownloadToPIC();
}

// ---- Reads -------------------------------------------------------------------------

LONG ConsoleController::currentInput() {
    LONG c = 0;
    if (xel::IFormat* format = app_.format()) (void)format->get_CurrentFormat(&c);
    return c;
}

bool ConsoleController::mute() {
    VARIANT_BOOL mute = VARIANT_FALSE;
    if (xel::IXel* core = app_.core()) (void)core->get_Mute(&mute);
    return mute == VARIANT_TRUE;
}

ConsoleController::TrimsAndDelays ConsoleController::trimsAndDelays(LONG input) {
    TrimsAndDelays v;
    if (xel::IFormat* format = app_.format())
        (void)format->GetTrimsAndDelays(input, &v.inputTrim, &v.outputTrim, &v.inputDelay, &v.surroundDelay);
    return v;
}

ConsoleController::UnitSelection ConsoleController::unitSelection() {
    UnitSelection s;
    VARIANT_BOOL film = VARIANT_FALSE;
    if (xel::IFormat* format = app_.format()) {
        (void)format->get_CurrentFormat(&s.input);
        (void)format->get_Pin(&s.pin);
        (void)format->get_Film(&film);
    }
    s.film = film == VARIANT_TRUE;
    return s;
}

std::optional<ConsoleController::Levels> ConsoleController::readLevels() {
    xel::IVU* vu = app_.meters();
    if (!vu) return std::nullopt;
    LONG left = 0, right = 0, center = 0, sub = 0, leftSurround = 0, rightSurround = 0, leftEx = 0, rightEx = 0;
    if (vu->ReadLevels(&left, &right, &center, &sub, &leftSurround, &rightSurround, &leftEx, &rightEx) != S_OK)
        return std::nullopt;
    return Levels{left, center, right, leftSurround, rightSurround, sub, leftEx, rightEx};
}

std::optional<ConsoleController::TheaterFields> ConsoleController::theaterFields() {
    xel::IProfile* profile = app_.profile();
    if (!profile) return std::nullopt;
    Bstr number, name, screen;
    (void)profile->get_TheaterNumber(number.put());
    (void)profile->get_TheaterName(name.put());
    (void)profile->get_ScreenNumber(screen.put());
    return TheaterFields{console::fromBstr(number.get()), console::fromBstr(name.get()),
                         console::fromBstr(screen.get())};
}

// ---- Writes ------------------------------------------------------------------------

void ConsoleController::sendPin(int pin) {
    if (xel::IFormat* f = app_.format()) (void)f->put_Pin(pin);
}

void ConsoleController::selectInput(LONG input) {
    if (xel::IFormat* f = app_.format()) (void)f->put_CurrentFormat(input);
}

void ConsoleController::setFilm(bool film) {
    if (xel::IFormat* f = app_.format()) (void)f->put_Film(vb(film));
}

void ConsoleController::setMute(bool mute) {
    if (xel::IXel* core = app_.core()) (void)core->put_Mute(vb(mute));
}

void ConsoleController::setInputTrim(LONG input, LONG value) {
    if (xel::IFormat* f = app_.format()) (void)f->put_InputTrim(input, value);
}

void ConsoleController::setOutputTrim(LONG input, LONG value) {
    if (xel::IFormat* f = app_.format()) (void)f->put_OutputTrim(input, value);
}

void ConsoleController::setInputDelay(LONG input, LONG value) {
    if (xel::IFormat* f = app_.format()) (void)f->put_InputDelay(input, value);
}

void ConsoleController::setSurroundDelay(LONG input, LONG value) {
    if (xel::IFormat* f = app_.format()) (void)f->put_SurroundDelay(input, value);
}

void ConsoleController::setTheaterNumber(const QString& text) {
    if (xel::IProfile* p = app_.profile()) (void)p->put_TheaterNumber(console::toBstr(text).get());
}

void ConsoleController::setTheaterName(const QString& text) {
    if (xel::IProfile* p = app_.profile()) (void)p->put_TheaterName(console::toBstr(text).get());
}

void ConsoleController::setScreenNumber(const QString& text) {
    if (xel::IProfile* p = app_.profile()) (void)p->put_ScreenNumber(console::toBstr(text).get());
}

bool ConsoleController::load(const QString& path) {
    xel::IXel* core = app_.core();
    return core && core->Load(console::toBstr(path).get()) == S_OK;
}

bool ConsoleController::save(const QString& path) {
    xel::IXel* core = app_.core();
    return core && core->Save(console::toBstr(path).get()) == S_OK;
}

// ---- The core's events -----------------------------------------------------------------

void ConsoleController::subscribe() {
    if (subscribers_++ > 0) return;
    xel::IXel* core = app_.core();
    if (!core) return;
    if (SUCCEEDED(CXelEventSink::create(this, sink_)) && FAILED(sink_->connectTo(core))) sink_ = nullptr;
    ComPtr<IUnknown> status;
    if (core->QueryInterface(xel::IID_IXelStatus, status.putVoid()) == S_OK &&
        SUCCEEDED(CXelStatusSink::create(this, statusSink_)) && FAILED(statusSink_->connectTo(status.get())))
        statusSink_ = nullptr;
}

void ConsoleController::unsubscribe() {
    if (subscribers_ == 0 || --subscribers_ > 0) return;
    // Nothing is posted here any more, even by an event being raised right now;
    // then the core lets go of the sinks.
    if (statusSink_) {
        statusSink_->disconnect();
        statusSink_ = nullptr;
    }
    if (sink_) {
        sink_->disconnect();
        sink_ = nullptr;
    }
    // What was posted for the window that has gone is not for the next one.
    QCoreApplication::removePostedEvents(this, CXelEventSink::kCoreEvent);
    QCoreApplication::removePostedEvents(this, CXelEventSink::kCommLost);
    QCoreApplication::removePostedEvents(this, CXelStatusSink::kProgress);
}

bool ConsoleController::event(QEvent* e) {
    if (e->type() == CXelEventSink::kCommLost) {
        emit commLost();
        return true;
    }
    if (e->type() == CXelStatusSink::kProgress) {
        emit downloadProgress(static_cast<CXelStatusSink::Progress*>(e)->permille());
        return true;
    }
    if (e->type() != CXelEventSink::kCoreEvent) return QObject::event(e);
    const auto* ev = static_cast<CXelEventSink::Event*>(e);
    const LONG value = ev->value();
    switch (ev->id()) {
        case xel::DISPID_InputChange: emit inputChanged(value); break;
        case xel::DISPID_AutomationChange: emit automationChanged(value); break;
        case xel::DISPID_ModeChange: emit modeChanged(value); break;
        case xel::DISPID_MuteChange: emit muteChanged(value == VARIANT_TRUE); break;
        case xel::DISPID_PICDownloadStateChange: emit downloadStateChanged(value); break;
        default: break;
    }
    return true;
}
