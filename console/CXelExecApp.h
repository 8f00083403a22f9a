// The console's application object: start-up, the settings stores, the
// processor library and the definition in use, and shutdown.
//
// Start-up goes in this order (step 1 with the application object, so that the
// tests, which share it, have the runtime too; the rest in run()):
//   1 object runtime for the window thread   7 library file name
//   2 common controls (nothing to do in Qt)  8 current GUID = default processor
//   3 application base (the QApplication)    9 load the processor library
//   4 command line                          10 create the core object by class id
//   5 the program's own class objects       11 main window, run modally
//   6 act on the switches                   12 straight on to shutdown
// Shutdown (the destructor) releases the sub-objects, then the core, destroys the
// library's definitions and ends the object runtime for the thread.
//
// The core object and its four sub-objects: core() is the object created at
// start-up; connection(), meters(), profile() and format() fetch the core's
// Comm, VU, Profile and Format on first use and keep them until shutdown. The
// first connection() also applies the stored "Address" (storedAddress()).
// Without a core object every accessor answers null.
//
// Settings on Linux, all under R (xel::registry::userStateDir()):
//   - registry: HKEY_CURRENT_USER "Software\Corvane Labs\Xelor", value "Address"
//     and one subkey per remembered TCP/IP address;
//   - "xel.ini" beside the program, else in R: [Vu] Ex=, default "40.0";
//   - the processor library R/xelexec.ini, seeded from the xelexec.ini installed
//     beside the program.
//
// Thread safety: everything here runs on the window thread.
#pragma once

#include <QApplication>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <filesystem>
#include <memory>
#include <optional>

#include "console/CProcessorLibrary.h"
#include "core/xelor.h"
#include "platform/objrt/Ptr.h"

class ConsolePrompts;
class ConsoleController;

class CXelExecApp : public QApplication {
    Q_OBJECT

public:
    // The switches of the command line ("/" or "-", any case).
    enum class Switch {
        None,        // normal start-up
        Embedding,   // "Embedding" or "Automation": no window, keep running
        Register,    // "Regserver" or "Register": write the program's registration and exit
        Unregister,  // "Unregserver" or "Unregister": remove it and exit
    };

    static constexpr const char* kRegistryKey = "Software\\Corvane Labs\\Xelor";
    static constexpr const char* kAddressValue = "Address";
    // Where the program's own registration lives under HKEY_CLASSES_ROOT.
    static constexpr const char* kAppIdKey = "AppID\\{8C3E5F21-6A4B-4D7E-9F10-2B5C7A9E3D46}";
    static constexpr const char* kAppIdProgramKey = "AppID\\xelexec";
    static constexpr const char* kAppId = "{8C3E5F21-6A4B-4D7E-9F10-2B5C7A9E3D46}";
    // Stored addresses longer than the longest host name are not applied.
    static constexpr int kMaxAddressLength = 255;

    CXelExecApp(int& argc, char** argv);
    ~CXelExecApp() override;

    static CXelExecApp* instance() { return static_cast<CXelExecApp*>(QCoreApplication::instance()); }

    // The whole start-up; returns the program's exit status.
    int run();

    // ---- The core object and its sub-objects
    xel::IXel* core() const { return core_.get(); }
    xel::IComm* connection();
    xel::IVU* meters();
    xel::IProfile* profile();
    xel::IFormat* format();
    // Start-up step 10: creates the core object by its class id (CLSID_Xel through
    // the object runtime) unless there is one. True when there is a core object;
    // coreStatus() keeps the creation's result.
    bool createCore();
    HRESULT coreStatus() const { return coreStatus_; }
    // Shutdown step 2: releases the connection, meters, profile and format (those
    // fetched), then the core; each reference is cleared before its release. A
    // later createCore() starts afresh (the stored address is applied again).
    void releaseCore();

    // Message boxes and file dialogs of the console's windows. Tests put their own
    // in place (the application keeps it, never owns it); null restores the
    // interactive one.
    ConsolePrompts& prompts();
    void setPrompts(ConsolePrompts* prompts) { prompts_ = prompts; }

    // The windows' way to the core: the connect job, the core calls and the
    // core's events (ConsoleController.h). Lives as long as the application.
    ConsoleController& controller() { return *controller_; }

    // ---- Command line
    // The first switch that means something wins; the program name (arguments[0])
    // is skipped.
    static Switch parseCommandLine(const QStringList& arguments);
    // Writes or removes the program's application identifier entries. True on success.
    static bool registerProgram();
    static bool unregisterProgram();

    // ---- Settings stores
    // The stored connection address (value "Address" of kRegistryKey, the key
    // created when absent), or nothing when it is missing, not a string,
    // unreadable or longer than kMaxAddressLength.
    static std::optional<QString> storedAddress();
    // "xel.ini" beside the program if it exists, else in R.
    std::filesystem::path xelIniPath() const;
    // [Vu] Ex of "xel.ini" (default "40.0", at most 39 characters) as a number;
    // text that is not a number reads as 0.
    double exThreshold() const;
    static double parseLeadingNumber(const QString& text);
    // The default library: beside the program, else in the installed data folder.
    std::filesystem::path defaultLibraryPath() const;
    // The processor library file: R/xelexec.ini.
    static std::filesystem::path libraryFilePath();

    // ---- Processor library and the definition in use
    CProcessorLibrary& library() { return library_; }
    // Seeds the library file when needed and loads it.
    void loadProcessorLibrary();

    const QUuid& currentGuid() const { return currentGuid_; }
    // The definition in use: asks the unit's format object for its processor GUID
    // (keeping the current one when it supplies none), makes that the current GUID
    // and returns the first definition with it, else entry 0. A GUID text that
    // does not parse matches no definition.
    CProcessorDef& lookUpCurrentDefinition();
    // Makes the definition current; with `send`, the unit is told its GUID too.
    void selectDefinition(const CProcessorDef& def, bool send);
    // The first library index whose definition has this GUID, or -1.
    int findLibraryIndex(const QUuid& guid) const { return library_.indexOf(guid); }

private:
    // Steps 11 and 12: the main window, run modally.
    int runMainWindow();
    void reportNoCore();
    // IFormat ProcessorGUID: get (text stays when nothing is supplied) and put.
    void fetchProcessorGuid(QString& text);
    void sendProcessorGuid(const QString& text);

    CProcessorLibrary library_;
    QUuid currentGuid_;

    bool runtimeInitialised_ = false;
    HRESULT coreStatus_ = S_OK;
    xel::objrt::ComPtr<xel::IXel> core_;
    xel::objrt::ComPtr<xel::IComm> connection_;
    xel::objrt::ComPtr<xel::IVU> meters_;
    xel::objrt::ComPtr<xel::IProfile> profile_;
    xel::objrt::ComPtr<xel::IFormat> format_;
    ConsolePrompts* prompts_ = nullptr;
    std::unique_ptr<ConsolePrompts> interactivePrompts_;
    std::unique_ptr<ConsoleController> controller_;
};
