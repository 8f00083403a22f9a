// The core library's automation interfaces: the binary contract between
// libxelor.so and its clients (the console binds to these vtables; xelctl goes
// through IDispatch by name). Vtable order is dispatch-id order with each
// property's get before its put; every method is noexcept and returns a status.
//
// Status values a caller sees: 0 success; 1 a failed exchange with the unit (or
// an invalid firmware image); 110 a configuration file that cannot be opened,
// read or written; 2250 IComm::Write while not connected; E_POINTER and the
// DISP_E_* codes of late binding. Success is a status of exactly 0.
//
// Threads. The core object runs one monitor thread of its own, active on the
// link once a Query succeeds. Every event (_IXelEvents, _IXelStatusEvents) is
// fired on it with no lock of the library held, so a handler may call back into
// the objects while the client's own thread calls them too: the library guards
// what those two share, and reference counts are atomic. A client that calls
// from several threads of its own serialises those calls itself. A handler must
// never wait for a thread that is itself inside Cleanup, Disconnect or the final
// Release of the core (they wait for the monitor); a GUI hands events to its own
// thread instead. A final Release from inside a handler is allowed: the monitor
// then ends on its own. Exchanges with the unit never overlap, so a call that
// needs the link waits for the one in progress (a TCP Connect holds it through
// its settle time).
#pragma once

#include "platform/objrt/objrt.h"

namespace xel {

// ---- identifiers ------------------------------------------------------------
inline constexpr GUID LIBID_Xelor = makeGuid("ba21878f-8973-4d57-b43e-7c333d715481");
inline constexpr GUID APPID_Xelor = makeGuid("7448f539-e1d1-4997-978b-b5151d13023b");
inline constexpr GUID CLSID_Comm = makeGuid("fe1e6893-f694-4ff8-8ae1-ed888e771fda");
inline constexpr GUID CLSID_Profile = makeGuid("f9ae1063-b7ed-4cc8-93bc-1b2dd3ea3ab0");
inline constexpr GUID CLSID_Format = makeGuid("73381036-3021-46d3-a6e8-a6904c36895a");
inline constexpr GUID CLSID_VU = makeGuid("1c7eddde-5e03-4100-aa3f-2da053e9c0a6");
inline constexpr GUID CLSID_Xel = makeGuid("02db008d-9821-47b7-a33b-93f480944990");
inline constexpr GUID CLSID_Stubby = makeGuid("3c0735b6-8186-4017-aa73-7f1331e19853");
inline constexpr GUID IID_IComm = makeGuid("b256a661-d12a-4ef2-a1f9-e7fffead0fc5");
inline constexpr GUID IID_IProfile = makeGuid("ae86804d-e1e6-4e6f-bb83-7f31cdc29608");
inline constexpr GUID IID_IFormat = makeGuid("b6603b6a-9aec-41e7-a81a-ed025d039efd");
inline constexpr GUID IID_IVU = makeGuid("7c021251-a881-49ea-8aa3-d3cc24d90b75");
inline constexpr GUID IID_IXel = makeGuid("fee72bc2-ccef-44a5-806e-11e4aa7b4a45");
inline constexpr GUID IID_IStubby = makeGuid("b0255516-3681-49b6-b997-f19cc76f5228");
inline constexpr GUID DIID__IXelEvents = makeGuid("8984d9a3-260f-4e78-9d81-0234520758ee");
inline constexpr GUID DIID__IStubbyEvents = makeGuid("ef875dd2-728c-4006-8f3d-d165464d1585");
inline constexpr GUID IID_IXelStatus = makeGuid("44288991-fb7a-46c8-9666-d5e695365d1a");
inline constexpr GUID DIID__IXelStatusEvents = makeGuid("d23f56c8-876a-411f-a40e-a956f4d79c12");

// ---- enumerations -----------------------------------------------------------

enum CommErr : int32_t {
    CommErrNone = 0,
    CommErrFailedConnect = 1,
    CommErrNotConnected = 2,
    CommErrUnitNotFound = 3,
    CommErrAlreadyConnected = 4,
    CommErrWriteFailed = 5,
    CommErrReadFailed = 6,
    CommErrWriteInProgress = 7,
    CommErrCheck = 8,
};

// States of PICDownloadStateChange.
enum PICDownloadState : int32_t {
    PICDownloadOpening = 0,
    PICDownloadErasing = 1,
    PICDownloadProgram = 2,
    PICDownloadData = 3,
    PICDownloadFailed = 4,
    PICDownloadComplete = 5,
};

// Dispatch ids of the outgoing _IXelEvents interface.
enum XelEventId : DISPID {
    DISPID_InputChange = 1,             // (long Input) 0-7
    DISPID_AutomationChange = 2,        // (long Automation)
    DISPID_ModeChange = 3,              // (long Mode) 1 digital, 0 film
    DISPID_CommFail = 4,                // ()
    DISPID_MuteChange = 5,              // (VARIANT_BOOL Mute), declared, never raised
    DISPID_PICDownloadStateChange = 6,  // (long State) 0-5
};

// Dispatch id of the outgoing _IXelStatusEvents interface.
enum XelStatusEventId : DISPID {
    DISPID_DownloadProgress = 1,  // (long Permille)
};

// Results of IXelStatus::WaitSettled.
enum SettleResult : LONG {
    SettleAllAnswered = 0,
    SettleSomeFailed = 1,  // a change was dropped (not connected), discarded by a resync, or failed
    SettleTimedOut = 2,
};

// ---- interfaces ---------------------------------------------------------------

// The connection to one unit (ProgID "Xelor.Comm.1").
struct IComm : public IDispatch {
    static constexpr IID kIID = IID_IComm;
    virtual HRESULT get_Address(BSTR* pVal) noexcept = 0;                               // 1
    virtual HRESULT put_Address(BSTR newVal) noexcept = 0;                              // 1
    virtual HRESULT Connect(CommErr* pErr) noexcept = 0;                                // 2
    virtual HRESULT Disconnect() noexcept = 0;                                          // 3
    virtual HRESULT Write(BSTR bstrCmd, CommErr* pErr) noexcept = 0;                    // 4
    virtual HRESULT Read(BSTR* bstrResponse, CommErr* pErr) noexcept = 0;               // 5
    virtual HRESULT IsConnected(VARIANT_BOOL* vbConnected) noexcept = 0;                // 6
    virtual HRESULT WriteAndReturnHex(BSTR Cmd, SHORT Length, LONG* Val) noexcept = 0;  // 7
    virtual HRESULT WriteAndWaitForResponse(BSTR Cmd) noexcept = 0;                     // 8
    virtual HRESULT get_uhUsb(ULONG* pVal) noexcept = 0;                                // 9
    virtual HRESULT put_uhUsb(ULONG newVal) noexcept = 0;                               // 9
};

// The theatre profile (ProgID "Xelor.Profile.1").
struct IProfile : public IDispatch {
    static constexpr IID kIID = IID_IProfile;
    virtual HRESULT get_TheaterNumber(BSTR* pVal) noexcept = 0;  // 1
    virtual HRESULT put_TheaterNumber(BSTR pVal) noexcept = 0;   // 1
    virtual HRESULT get_TheaterName(BSTR* pVal) noexcept = 0;    // 2
    virtual HRESULT put_TheaterName(BSTR pVal) noexcept = 0;     // 2
    virtual HRESULT get_ScreenNumber(BSTR* pVal) noexcept = 0;   // 3
    virtual HRESULT put_ScreenNumber(BSTR pVal) noexcept = 0;    // 3
    virtual HRESULT Query() noexcept = 0;                        // 4
    virtual HRESULT Cleanup() noexcept = 0;                      // 5
};

// The format table (ProgID "Xelor.Format.1"). Format is a record index 0-7.
struct IFormat : public IDispatch {
    static constexpr IID kIID = IID_IFormat;
    virtual HRESULT get_ProcessorName(BSTR* pVal) noexcept = 0;                // 1
    virtual HRESULT put_ProcessorName(BSTR newVal) noexcept = 0;               // 1
    virtual HRESULT get_Count(LONG* pVal) noexcept = 0;                        // 2
    virtual HRESULT put_Count(LONG newVal) noexcept = 0;                       // 2
    virtual HRESULT get_FormatName(LONG Format, BSTR* pVal) noexcept = 0;      // 3
    virtual HRESULT put_FormatName(LONG Format, BSTR newVal) noexcept = 0;     // 3
    virtual HRESULT get_InputTrim(LONG Format, LONG* pVal) noexcept = 0;       // 4
    virtual HRESULT put_InputTrim(LONG Format, LONG newVal) noexcept = 0;      // 4
    virtual HRESULT get_OutputTrim(LONG Format, LONG* pVal) noexcept = 0;      // 5
    virtual HRESULT put_OutputTrim(LONG Format, LONG newVal) noexcept = 0;     // 5
    virtual HRESULT get_InputDelay(LONG Format, LONG* pVal) noexcept = 0;      // 6
    virtual HRESULT put_InputDelay(LONG Format, LONG newVal) noexcept = 0;     // 6
    virtual HRESULT get_SurroundDelay(LONG Format, LONG* pVal) noexcept = 0;   // 7
    virtual HRESULT put_SurroundDelay(LONG Format, LONG newVal) noexcept = 0;  // 7
    virtual HRESULT get_CurrentFormat(LONG* pVal) noexcept = 0;                // 8
    virtual HRESULT put_CurrentFormat(LONG newVal) noexcept = 0;               // 8
    virtual HRESULT get_ProcessorGUID(BSTR* pVal) noexcept = 0;                // 9
    virtual HRESULT put_ProcessorGUID(BSTR newVal) noexcept = 0;               // 9
    virtual HRESULT GetTrimsAndDelays(LONG Format, LONG* InputTrim, LONG* OutputTrim, LONG* InputDelay,
                                      LONG* SurroundDelay) noexcept = 0;  // 10
    virtual HRESULT Query() noexcept = 0;                                 // 11
    virtual HRESULT Cleanup() noexcept = 0;                               // 12
    virtual HRESULT get_Pin(LONG* pVal) noexcept = 0;                     // 13
    virtual HRESULT put_Pin(LONG newVal) noexcept = 0;                    // 13
    virtual HRESULT get_ModePin(LONG* pVal) noexcept = 0;                 // 14
    virtual HRESULT put_ModePin(LONG newVal) noexcept = 0;                // 14
    virtual HRESULT get_Film(VARIANT_BOOL* pVal) noexcept = 0;            // 15
    virtual HRESULT put_Film(VARIANT_BOOL newVal) noexcept = 0;           // 15
};

// The level meters (ProgID "Xelor.VU.1"). Levels are raw 12-bit values.
struct IVU : public IDispatch {
    static constexpr IID kIID = IID_IVU;
    virtual HRESULT ReadLevels(LONG* Left, LONG* Right, LONG* Center, LONG* Sub, LONG* LeftSurround,
                               LONG* RightSurround, LONG* LeftEx, LONG* RightEx) noexcept = 0;  // 1
    virtual HRESULT Cleanup() noexcept = 0;                                                     // 2
};

// The core object for one unit (ProgID "Xelor.Xel.1"); default source _IXelEvents.
struct IXel : public IDispatch {
    static constexpr IID kIID = IID_IXel;
    virtual HRESULT get_Comm(IComm** pVal) noexcept = 0;                            // 1
    virtual HRESULT get_Profile(IProfile** pVal) noexcept = 0;                      // 2
    virtual HRESULT get_Format(IFormat** pVal) noexcept = 0;                        // 3
    virtual HRESULT get_VU(IVU** pVal) noexcept = 0;                                // 4
    virtual HRESULT get_PowerOnFormat(LONG* pVal) noexcept = 0;                     // 5
    virtual HRESULT put_PowerOnFormat(LONG newVal) noexcept = 0;                    // 5
    virtual HRESULT get_AESEBUFallback(LONG* pVal) noexcept = 0;                    // 6
    virtual HRESULT put_AESEBUFallback(LONG newVal) noexcept = 0;                   // 6
    virtual HRESULT Load(BSTR Filename) noexcept = 0;                               // 7
    virtual HRESULT Save(BSTR Filename) noexcept = 0;                               // 8
    virtual HRESULT get_Mute(VARIANT_BOOL* pVal) noexcept = 0;                      // 9
    virtual HRESULT put_Mute(VARIANT_BOOL newVal) noexcept = 0;                     // 9
    virtual HRESULT Query() noexcept = 0;                                           // 10
    virtual HRESULT Cleanup() noexcept = 0;                                         // 11
    virtual HRESULT SetIP(LONG Address, LONG HostBits, LONG Gateway) noexcept = 0;  // 12
    virtual HRESULT get_PowerOnMode(LONG* pVal) noexcept = 0;                       // 13
    virtual HRESULT put_PowerOnMode(LONG newVal) noexcept = 0;                      // 13
    virtual HRESULT ParseHexFile(BSTR Filename) noexcept = 0;                       // 14
    virtual HRESULT DownloadToPIC() noexcept = 0;                                   // 15
    virtual HRESULT get_FilmReturnFormat(LONG* pVal) noexcept = 0;                  // 16
    virtual HRESULT put_FilmReturnFormat(LONG newVal) noexcept = 0;                 // 16
};

// Settling and progress, reached from the core object by QueryInterface.
struct IXelStatus : public IDispatch {
    static constexpr IID kIID = IID_IXelStatus;
    // Waits until the monitor is active on a queried link and every change stored
    // or queued before the call has been answered by the unit (SettleResult).
    virtual HRESULT WaitSettled(LONG TimeoutMs, LONG* Result) noexcept = 0;  // 1
    // Per mille of the current download state; -1 when no download runs.
    virtual HRESULT get_DownloadProgress(LONG* pVal) noexcept = 0;  // 2
};

// The placeholder class (ProgID "Xelor.Stubby.1"): no members of its own.
struct IStubby : public IDispatch {
    static constexpr IID kIID = IID_IStubby;
};

}  // namespace xel
