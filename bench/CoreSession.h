// The core as a client meets it: libxelor.so created by class id through the
// object runtime, with its connection and format objects. Failures throw
// std::runtime_error, which ends the run with the reason.
//
// Thread contract: created, used and destroyed on one thread.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "core/xelor.h"
#include "platform/objrt/Ptr.h"

namespace xelbench {

class CoreSession {
public:
    CoreSession();
    ~CoreSession();  // stops the monitor, disconnects, releases
    CoreSession(const CoreSession&) = delete;
    CoreSession& operator=(const CoreSession&) = delete;

    // Sets the address ("127.0.0.N" for TCP, "COMn" for a mapped serial port) and
    // connects.
    void connect(const std::string& address);
    void disconnect();
    void query();

    // One "mute\r" exchange through IComm::WriteAndReturnHex.
    void exchangeMute();

    // IXel.ParseHexFile: the memory images for the next download.
    void convertHex(const std::string& path);
    // IXel.DownloadToPIC, then waits for the download's last state event;
    // returns that state (PICDownloadComplete or PICDownloadFailed), or -1 when
    // none came within `limitMs`.
    LONG downloadAndWait(long limitMs);

    // AutomationChange events as the sink received them: how many so far, and
    // when the count-th (from 1) arrived, waiting up to `limitMs` for it.
    size_t automationEvents() const;
    std::optional<std::chrono::steady_clock::time_point> automationEventAt(size_t count, long limitMs) const;

    xel::IXel* xel() const { return xel_.get(); }
    xel::IComm* comm() const { return comm_.get(); }
    xel::IFormat* format() const { return format_.get(); }

private:
    class StateSink;

    xel::objrt::ComPtr<xel::IXel> xel_;
    xel::objrt::ComPtr<xel::IComm> comm_;
    xel::objrt::ComPtr<xel::IFormat> format_;
    xel::objrt::Bstr mute_;
    StateSink* sink_ = nullptr;  // advised on _IXelEvents for the object's life
    DWORD cookie_ = 0;
};

}  // namespace xelbench
