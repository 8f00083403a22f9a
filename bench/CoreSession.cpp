#include "bench/CoreSession.h"

#include <stdexcept>

namespace xelbench {

namespace {

std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

void check(HRESULT hr, const std::string& what) {
    if (hr != S_OK) throw std::runtime_error(what + " failed with status " + std::to_string(hr));
}

}  // namespace

CoreSession::CoreSession() : mute_(std::u16string_view(u"mute\r")) {
    check(CoInitialize(nullptr), "CoInitialize");
    const HRESULT hr =
        CoCreateInstance(xel::CLSID_Xel, nullptr, CLSCTX_INPROC_SERVER, xel::IID_IXel, xel_.putVoid());
    if (hr != S_OK) {
        CoUninitialize();
        throw std::runtime_error("the core object cannot be created (status " + std::to_string(hr) +
                                 "); is libxelor.so registered?");
    }
    check(xel_->get_Comm(comm_.put()), "IXel.Comm");
    check(xel_->get_Format(format_.put()), "IXel.Format");
}

CoreSession::~CoreSession() {
    if (xel_) xel_->Cleanup();
    if (comm_) comm_->Disconnect();
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

void CoreSession::exchangeMute() {
    LONG audio = -1;
    check(comm_->WriteAndReturnHex(mute_.get(), 1, &audio), "the exchange \"mute\"");
    if (audio != 0 && audio != 1) throw std::runtime_error("\"mute\" answered " + std::to_string(audio));
}

}  // namespace xelbench
