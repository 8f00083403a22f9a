// Test support for the object runtime's tests: the test server's and tools'
// paths, regsvr as a real process, late-bound calls and an event sink.
#pragma once

#include <string>
#include <vector>

#include "platform/objrt/Object.h"
#include "tests/platform/objrt/server/Sampler.h"

namespace objrt_test {

std::string serverPath();   // the test-only in-process server
std::string noEntryPath();  // a library that is no server

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};
// Runs the build's regsvr with these arguments; the environment (and so the
// test's own XDG_CONFIG_HOME) is inherited.
RunResult regsvr(const std::vector<std::string>& args);

// Registers the test server and fails the test when that does not work.
void registerServer();

// The runtime initialised on this thread for the scope's life.
struct RuntimeScope {
    RuntimeScope() { CoInitialize(nullptr); }
    ~RuntimeScope() { CoUninitialize(); }
};

// A late-bound call. Arguments in declaration order; named ones last, with
// their ids in `named` (matched from the end of args).
HRESULT invoke(IDispatch* d, DISPID id, WORD flags, std::vector<VARIANT> args, VARIANT* result = nullptr,
               UINT* argErr = nullptr, std::vector<DISPID> named = {});
DISPID idOf(IDispatch* d, const char16_t* name);
// Property put by dispatch id, with the value named DISPID_PROPERTYPUT.
HRESULT put(IDispatch* d, DISPID id, VARIANT value, std::vector<VARIANT> index = {});

VARIANT i4(LONG v);
VARIANT i2(SHORT v);
VARIANT vbool(VARIANT_BOOL v);
// Borrowed text: the VARIANT does not own the BSTR.
VARIANT text(BSTR s);

// A sink of _ISamplerEvents that records what it receives, and fails every
// call when told to.
class EventLog : public xel::objrt::Dispatch<ISamplerEvents, kISamplerEventsDesc> {
public:
    using Interfaces = xel::objrt::InterfaceMap<ISamplerEvents, xel::objrt::Through<IDispatch, ISamplerEvents>>;
    explicit EventLog(HRESULT answer = S_OK) : answer_(answer) {}

    HRESULT LevelChanged(LONG Level, VARIANT_BOOL Enabled) noexcept override;
    HRESULT LabelChanged(BSTR Label) noexcept override;

    std::vector<std::string> events() const;
    size_t count() const;

private:
    HRESULT answer_;
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};
using Sink = xel::objrt::Object<EventLog>;
xel::objrt::ComPtr<Sink> makeSink(HRESULT answer = S_OK);

}  // namespace objrt_test
