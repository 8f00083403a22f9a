#include "console/CXelExecApp.h"

#include <QMessageBox>

#include <charconv>
#include <cstdio>

#include "console/AutomationText.h"
#include "console/CXelExecDlg.h"
#include "console/ConsoleController.h"
#include "console/ConsolePrompts.h"
#include "platform/registry/Registry.h"

namespace reg = xel::registry;

namespace {

std::filesystem::path beside(const char* fileName) {
    return std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) / fileName;
}

}  // namespace

CXelExecApp::CXelExecApp(int& argc, char** argv)
    : QApplication(argc, argv), library_(libraryFilePath()), currentGuid_(CProcessorDef::defaultProcessorGuid()) {
    setApplicationName(QStringLiteral("XelExec"));
    setOrganizationName(QStringLiteral("Corvane Labs"));
    // Start-up step 1, done with the application object so that every user of it
    // (the program and the tests alike) has the runtime. A failure is ignored: the
    // core's creation reports it.
    runtimeInitialised_ = SUCCEEDED(CoInitialize(nullptr));
    controller_ = std::make_unique<ConsoleController>(*this);
}

CXelExecApp::~CXelExecApp() {
    // Shutdown 1: the program registers no class objects of its own (step 5), so
    // there is nothing to revoke.
    // Shutdown 2; the controller goes first, so that a subscription it still
    // holds leaves the core while the core is there.
    controller_.reset();
    releaseCore();
    // Shutdown 3: destroy every processor definition.
    library_.clear();
    // Shutdown 4: the object runtime for this thread; the application base ends
    // with QApplication's destructor.
    if (runtimeInitialised_) CoUninitialize();
}

// ---- Start-up -------------------------------------------------------------------

int CXelExecApp::run() {
    // Steps 1-3: the object runtime was initialised with the application object;
    // Qt has no common controls library to initialise; the application base is
    // this QApplication.

    // Step 4.
    const Switch sw = parseCommandLine(arguments());

    // Step 5: nothing outside this process can ask the console for objects on
    // Linux, so it registers no class objects and this step cannot fail.

    // Step 6.
    switch (sw) {
        case Switch::Embedding:
            // Started for automation: no window, the event loop runs until the
            // program is told to end.
            return exec();
        case Switch::Register: return registerProgram() ? 0 : 1;
        case Switch::Unregister: return unregisterProgram() ? 0 : 1;
        case Switch::None: break;
    }

    // Step 7: the library file name is fixed (libraryFilePath()).
    // Step 8.
    currentGuid_ = CProcessorDef::defaultProcessorGuid();
    // Step 9.
    loadProcessorLibrary();

    // Step 10. Every later use of the console needs the core, so without it the
    // operator is told what to do and the program ends.
    if (!createCore()) {
        reportNoCore();
        return 2;
    }

    // Steps 11 and 12: the main window runs modally; when it returns, shutdown follows.
    return runMainWindow();
}

// ---- The core object and its sub-objects ------------------------------------------

bool CXelExecApp::createCore() {
    if (core_) return true;
    coreStatus_ = CoCreateInstance(xel::CLSID_Xel, nullptr, CLSCTX_ALL, xel::IID_IXel, core_.putVoid());
    if (FAILED(coreStatus_)) core_ = nullptr;
    return static_cast<bool>(core_);
}

void CXelExecApp::releaseCore() {
    // Each member is cleared before its release (ComPtr::reset), so nothing can
    // reach a reference that is on its way out.
    connection_.reset();
    meters_.reset();
    profile_.reset();
    format_.reset();
    core_.reset();
}

xel::IComm* CXelExecApp::connection() {
    if (!connection_ && core_) {
        (void)core_->get_Comm(connection_.put());
        // The first use of the connection object: the address the operator last
        // confirmed, before anything else is done with it.
        if (connection_) {
            if (const std::optional<QString> address = storedAddress())
                (void)connection_->put_Address(console::toBstr(*address).get());
        }
    }
    return connection_.get();
}

xel::IVU* CXelExecApp::meters() {
    if (!meters_ && core_) (void)core_->get_VU(meters_.put());
    return meters_.get();
}

xel::IProfile* CXelExecApp::profile() {
    if (!profile_ && core_) (void)core_->get_Profile(profile_.put());
    return profile_.get();
}

xel::IFormat* CXelExecApp::format() {
    if (!format_ && core_) (void)core_->get_Format(format_.put());
    return format_.get();
}

ConsolePrompts& CXelExecApp::prompts() {
    if (prompts_) return *prompts_;
    if (!interactivePrompts_) interactivePrompts_ = std::make_unique<ConsolePrompts>();
    return *interactivePrompts_;
}

int CXelExecApp::runMainWindow() {
    CXelExecDlg window(*this);
    window.exec();
    // Step 12: no message loop follows; the caller goes straight on to shutdown.
    return 0;
}

void CXelExecApp::reportNoCore() {
    char reason[160] = {};
    ObjStatusText(coreStatus_, reason, sizeof reason);
    QMessageBox box(QMessageBox::Critical, QStringLiteral("XelExec"),
                    QStringLiteral("The Xelor core object could not be created (%1).\n\n"
                                   "Register the core library with \"regsvr libxelor.so\" "
                                   "(from the folder of the installed programs) and start XelExec again.")
                        .arg(QString::fromUtf8(reason)),
                    QMessageBox::Ok);
    box.setObjectName(QStringLiteral("noCoreMessage"));
    // Also on stderr: started from a menu or a script, the message box may be
    // all there is, and nobody sees it on a display-less run.
    std::fprintf(stderr, "xelexec: %s\n", qPrintable(box.text().replace(QStringLiteral("\n\n"), QStringLiteral(" "))));
    box.exec();
}

// ---- Command line ---------------------------------------------------------------

CXelExecApp::Switch CXelExecApp::parseCommandLine(const QStringList& arguments) {
    struct Entry {
        const char* name;
        Switch sw;
    };
    static constexpr Entry kSwitches[] = {
        {"Embedding", Switch::Embedding}, {"Automation", Switch::Embedding},   {"Regserver", Switch::Register},
        {"Register", Switch::Register},   {"Unregserver", Switch::Unregister}, {"Unregister", Switch::Unregister},
    };
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg.size() < 2 || (arg[0] != u'/' && arg[0] != u'-')) continue;
        const QStringView word = QStringView(arg).mid(1);
        for (const Entry& e : kSwitches)
            if (word.compare(QLatin1String(e.name), Qt::CaseInsensitive) == 0) return e.sw;
    }
    return Switch::None;
}

bool CXelExecApp::registerProgram() {
    const reg::Status st = reg::edit([](reg::Editor& ed) {
        reg::Status s = ed.setString(reg::Root::ClassesRoot, kAppIdKey, "", "XelExec");
        if (s != reg::Status::Ok) return s;
        return ed.setString(reg::Root::ClassesRoot, kAppIdProgramKey, "AppID", kAppId);
    });
    if (st != reg::Status::Ok) std::fprintf(stderr, "xelexec: registration failed: %s\n", reg::toString(st));
    return st == reg::Status::Ok;
}

bool CXelExecApp::unregisterProgram() {
    const reg::Status st = reg::edit([](reg::Editor& ed) {
        for (const char* key : {kAppIdKey, kAppIdProgramKey}) {
            const reg::Status s = ed.deleteKey(reg::Root::ClassesRoot, key);
            if (s != reg::Status::Ok && s != reg::Status::NotFound) return s;
        }
        return reg::Status::Ok;
    });
    if (st != reg::Status::Ok) std::fprintf(stderr, "xelexec: unregistration failed: %s\n", reg::toString(st));
    return st == reg::Status::Ok;
}

// ---- Settings stores --------------------------------------------------------------

std::optional<QString> CXelExecApp::storedAddress() {
    if (reg::createKey(reg::Root::CurrentUser, kRegistryKey) != reg::Status::Ok) return std::nullopt;
    std::string value;
    if (reg::readString(reg::Root::CurrentUser, kRegistryKey, kAddressValue, value) != reg::Status::Ok)
        return std::nullopt;
    const QString address = QString::fromStdString(value);
    if (address.size() > kMaxAddressLength) return std::nullopt;
    return address;
}

std::filesystem::path CXelExecApp::xelIniPath() const {
    const std::filesystem::path local = beside("xel.ini");
    std::error_code ec;
    if (std::filesystem::exists(local, ec)) return local;
    return reg::userStateDir() / "xel.ini";
}

double CXelExecApp::exThreshold() const {
    const xel::ini::IniFile ini(xelIniPath());
    const QString text = QString::fromStdU16String(ini.readString(u"Vu", u"Ex", u"40.0")).left(39);
    return parseLeadingNumber(text);
}

double CXelExecApp::parseLeadingNumber(const QString& text) {
    const std::string s = text.trimmed().toStdString();
    const char* first = s.data();
    const char* last = s.data() + s.size();
    if (first != last && *first == '+') ++first;
    double value = 0;
    // Independent of the process locale: the file always uses ".".
    if (std::from_chars(first, last, value).ec != std::errc()) return 0;
    return value;
}

std::filesystem::path CXelExecApp::defaultLibraryPath() const {
    // Beside the program in a build tree; installed, in the suite's data folder.
    std::filesystem::path path = beside("xelexec.ini");
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) path = std::filesystem::path(XELOR_DATA_DIR) / "xelexec.ini";
    return path;
}

std::filesystem::path CXelExecApp::libraryFilePath() { return reg::userStateDir() / "xelexec.ini"; }

// ---- Processor library and the definition in use ------------------------------------

void CXelExecApp::loadProcessorLibrary() {
    // A failed seed leaves the library to the built-in default processor.
    (void)library_.seedFrom(defaultLibraryPath());
    library_.load();
}

CProcessorDef& CXelExecApp::lookUpCurrentDefinition() {
    QString text = CProcessorDef::guidToText(currentGuid_);
    fetchProcessorGuid(text);
    currentGuid_ = CProcessorDef::guidFromText(text).value_or(QUuid());
    const int index = library_.indexOf(currentGuid_);
    return library_.at(index >= 0 ? index : 0);
}

void CXelExecApp::selectDefinition(const CProcessorDef& def, bool send) {
    currentGuid_ = def.guid;
    if (send) sendProcessorGuid(CProcessorDef::guidToText(def.guid));
}

void CXelExecApp::fetchProcessorGuid(QString& text) {
    // The text stays as it is when the format object supplies nothing (no core,
    // a failed call or an empty text).
    xel::IFormat* f = format();
    if (!f) return;
    xel::objrt::Bstr got;
    if (f->get_ProcessorGUID(got.put()) != S_OK) return;
    const QString supplied = console::fromBstr(got.get());
    if (!supplied.isEmpty()) text = supplied;
}

void CXelExecApp::sendProcessorGuid(const QString& text) {
    if (xel::IFormat* f = format()) (void)f->put_ProcessorGUID(console::toBstr(text).get());
}
