// The object runtime's building blocks use "slots" as a name, which Qt's
// headers make a macro: they come first.
#include "platform/objrt/Object.h"

#include "console/CXelStatusSink.h"

using xel::objrt::ComPtr;
using xel::objrt::Object;

namespace {

class StatusSinkObject : public CXelStatusSink {
public:
    using Interfaces =
        xel::objrt::InterfaceMap<XelStatusEventsDispatch, xel::objrt::Through<IDispatch, XelStatusEventsDispatch>>;

protected:
    explicit StatusSinkObject(QObject* receiver) : CXelStatusSink(receiver) {}
    ~StatusSinkObject() = default;
};

constexpr CoreEventRow kEvents[] = {
    {xel::DISPID_DownloadProgress, u"DownloadProgress", VT_I4},
};

QEvent* makeEvent(const CoreEventRow&, LONG permille) { return new CXelStatusSink::Progress(permille); }

}  // namespace

CXelStatusSink::CXelStatusSink(QObject* receiver) : CoreEventSink(receiver, kEvents, makeEvent) {}

HRESULT CXelStatusSink::create(QObject* receiver, ComPtr<CXelStatusSink>& out) noexcept {
    ComPtr<Object<StatusSinkObject>> sink;
    const HRESULT hr = Object<StatusSinkObject>::create(sink, receiver);
    if (FAILED(hr)) return hr;
    out = ComPtr<CXelStatusSink>(sink.get());
    return S_OK;
}
