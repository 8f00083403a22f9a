#include "bench/CoreSession.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

#include "platform/objrt/Object.h"

namespace xelbench {

namespace {

std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

void check(HRESULT hr, const std::string& what) {
    if (hr != S_OK) throw std::runtime_error(what + " failed with status " + std::to_string(hr));
}

}  // namespace

// Takes the download's state events off the monitor thread.
class CoreSession::StateSink final : public IDispatch {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == xel::DIID__IXelEvents) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() noexcept override { return refs_.fetch_add(1) + 1; }
    ULONG Release() noexcept override {
        const ULONG left = refs_.fetch_sub(1) - 1;
        if (left == 0) delete this;
        return left;
    }
    HRESULT GetTypeInfoCount(UINT* n) noexcept override {
        if (!n) return E_POINTER;
        *n = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) noexcept override {
        if (id == xel::DISPID_AutomationChange) {
            {
                std::lock_guard lock(mutex_);
                automation_.push_back(std::chrono::steady_clock::now());
            }
            changed_.notify_all();
            return S_OK;
        }
        if (id != xel::DISPID_PICDownloadStateChange || !params || params->cArgs < 1) return S_OK;
        const LONG state = params->rgvarg[0].lVal;
        if (state < xel::PICDownloadFailed) return S_OK;
        {
            std::lock_guard lock(mutex_);
            ended_ = state;
        }
        changed_.notify_all();
        return S_OK;
    }

    void reset() {
        std::lock_guard lock(mutex_);
        ended_ = -1;
    }
    LONG waitEnd(long limitMs) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(limitMs), [&] { return ended_ >= 0; });
        return ended_;
    }

    // When the count-th AutomationChange (from 1) arrived; none after `limitMs`.
    std::optional<std::chrono::steady_clock::time_point> automationAt(size_t count, long limitMs) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::milliseconds(limitMs), [&] { return automation_.size() >= count; }))
            return std::nullopt;
        return automation_[count - 1];
    }
    size_t automationCount() {
        std::lock_guard lock(mutex_);
        return automation_.size();
    }

private:
    std::atomic<ULONG> refs_{1};
    std::vector<std::chrono::steady_clock::time_point> automation_;
    std::mutex mutex_;
    std::condition_variable changed_;
    LONG ended_ = -1;
};

CoreSession::CoreSession() : mute_(std::u16string_view(u"mute\r")) {
    check(CoInitialize(nullptr), "CoInitialize");
    const HRESULT hr = CoCreateInstance(xel::CLSID_Xel, nullptr, CLSCTX_INPROC_SERVER, xel::IID_IXel, xel_.putVoid());
    if (hr != S_OK) {
        CoUninitialize();
        throw std::runtime_error("the core object cannot be created (status " + std::to_string(hr) +
                                 "); is libxelor.so registered?");
    }
    check(xel_->get_Comm(comm_.put()), "IXel.Comm");
    check(xel_->get_Format(format_.put()), "IXel.Format");
    sink_ = new StateSink();
    check(xel::objrt::advise(xel_.get(), xel::DIID__IXelEvents, sink_, &cookie_), "advising _IXelEvents");
}

CoreSession::~CoreSession() {
    if (xel_) xel_->Cleanup();
    if (comm_) comm_->Disconnect();
    if (cookie_) xel::objrt::unadvise(xel_.get(), xel::DIID__IXelEvents, cookie_);
    if (sink_) sink_->Release();
    format_ = nullptr;
    comm_ = nullptr;
    xel_ = nullptr;
    CoUninitialize();
}

void CoreSession::connect(const std::string& address) {
    check(comm_->put_Address(xel::objrt::Bstr(wide(address)).get()), "IComm.Address");
    xel::CommErr error = xel::CommErrCheck;
    const HRESULT hr = comm_->Connect(&error);
    if (hr != S_OK || error != xel::CommErrNone)
        throw std::runtime_error("cannot connect to " + address + " (CommErr " + std::to_string(error) + ")");
}

void CoreSession::disconnect() { comm_->Disconnect(); }

void CoreSession::query() { check(xel_->Query(), "IXel.Query"); }

void CoreSession::convertHex(const std::string& path) {
    check(xel_->ParseHexFile(xel::objrt::Bstr(wide(path)).get()), "IXel.ParseHexFile " + path);
}

LONG CoreSession::downloadAndWait(long limitMs) {
    sink_->reset();
    check(xel_->DownloadToPIC(), "IXel.DownloadToPIC");
    return sink_->waitEnd(limitMs);
}

size_t CoreSession::automationEvents() const { return sink_->automationCount(); }

std::optional<std::chrono::steady_clock::time_point> CoreSession::automationEventAt(size_t count, long limitMs) const {
    return sink_->automationAt(count, limitMs);
}

void CoreSession::exchangeMute() {
    LONG audio = -1;
    check(comm_->WriteAndReturnHex(mute_.get(), 1, &audio), "the exchange \"mute\"");
    if (audio != 0 && audio != 1) throw std::runtime_error("\"mute\" answered " + std::to_string(audio));
}

}  // namespace xelbench
