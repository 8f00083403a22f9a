// The core object as a client meets it: the build's libxelor.so registered in the
// test's own state folder, the core created by class id through the object
// runtime, its sub-objects fetched from its properties, an event sink advised on
// _IXelEvents, and a real peer (xelsim, or a scripted unit) to talk to.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/xelor.h"
#include "platform/objrt/Object.h"
#include "platform/objrt/Ptr.h"
#include "tests/support/XelsimProcess.h"

namespace xeltest {

using xel::objrt::Bstr;
using xel::objrt::ComPtr;

struct CoreEvent {
    CoreEvent() = default;
    CoreEvent(DISPID i, std::vector<LONG> a) : id(i), args(std::move(a)) {}
    DISPID id = 0;
    std::vector<LONG> args;  // VT_I4 as is, VT_BOOL as -1/0
    std::thread::id thread;
    bool operator==(const CoreEvent& o) const { return id == o.id && args == o.args; }
};
std::string describe(const std::vector<CoreEvent>& events);

// A dispatch sink for _IXelEvents and _IXelStatusEvents that records every event
// and can run a handler on the thread that delivers it.
class EventSink final : public IDispatch {
public:
    static ComPtr<EventSink> make();

    HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG AddRef() noexcept override { return refs_.fetch_add(1) + 1; }
    ULONG Release() noexcept override;
    HRESULT GetTypeInfoCount(UINT* n) noexcept override;
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excepInfo, UINT* argErr) noexcept override;

    std::vector<CoreEvent> events() const;
    std::vector<CoreEvent> eventsOf(DISPID id) const;
    // Waits until `done` holds for the events so far; false after the timeout.
    bool waitFor(const std::function<bool(const std::vector<CoreEvent>&)>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    bool waitForCount(DISPID id, size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    void clear();
    // Runs on the delivering thread after the event is recorded.
    void setHandler(std::function<void(const CoreEvent&)> handler);

private:
    EventSink() = default;
    ~EventSink() = default;
    std::atomic<ULONG> refs_{1};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<CoreEvent> events_;
    std::function<void(const CoreEvent&)> handler_;
};

// Creates the core by class id (the test thread is initialised for the runtime).
HRESULT createCore(ComPtr<xel::IXel>& out);

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A fresh xelsim with `args`; replaces any earlier one.
    void startSim(std::vector<std::string> args = {});
    // Sets the address (xelsim's unless `address` is given) and connects.
    void connect(const std::string& address = {});
    // Connects, queries and waits for the monitor's first pass after the Query.
    void connectAndQuery(const std::string& address = {});
    // A fresh xelsim with `args`, connected and queried, with the sink's record of
    // the set-up cleared; returns the mark where the test's own traffic starts.
    size_t startQueried(std::vector<std::string> args = {});
    // The commands a connect and a Query take against a sound xelsim, counted once
    // per process (the monitor never reads the EEPROM: they end with the Query's
    // last "rdeep"). Leaves no xelsim and no connection behind.
    int countSetupCommands();
    // Runs `work` on the monitor thread, inside the AutomationChange that a client
    // change of the pin to `pin` raises: everything it queues is pending at once
    // when the monitor goes on.
    void onMonitorThread(LONG pin, std::function<void()> work);
    LONG waitSettled(LONG timeoutMs = 5000);
    // Waits for a moment when the monitor is between readings: nothing new in
    // xelsim's log for a while.
    void waitForQuiet() const;
    // CommFail events heard so far.
    size_t commFails() const { return sink->eventsOf(xel::DISPID_CommFail).size(); }
    // Lets go of the core and its sub-objects (the sink stays).
    void releaseCore();
    // After a download: `progress` (a sink on _IXelStatusEvents) heard per mille
    // values in range, and DownloadProgress says no download runs.
    void expectDownloadProgressEnded(const EventSink& progress);

    // What the host has sent xelsim so far, and since an earlier mark.
    size_t mark() const { return sim->receivedTexts().size(); }
    std::vector<std::string> sentSince(size_t mark) const;
    // Only the "wreep" lines since the mark.
    std::vector<std::string> writesSince(size_t mark) const;

    std::unique_ptr<XelsimProcess> sim;
    ComPtr<xel::IXel> xel;
    ComPtr<xel::IXelStatus> status;
    ComPtr<xel::IComm> comm;
    ComPtr<xel::IFormat> format;
    ComPtr<xel::IProfile> profile;
    ComPtr<xel::IVU> vu;
    ComPtr<EventSink> sink;
    DWORD cookie = 0;
};

// The states of the PICDownloadStateChange events so far, in order.
std::vector<LONG> downloadStates(const EventSink& sink);
// Whether a download has ended (failed or complete) among the events.
bool downloadEnded(const std::vector<CoreEvent>& events);

// A text handed out by a get, cut at its first zero character.
std::u16string textUpToNul(BSTR b);
std::u16string u16(const std::string& ascii);

}  // namespace xeltest
