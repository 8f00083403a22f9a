// The object runtime's building blocks use "slots" as a name, which Qt's
// headers make a macro: they come first.
#include "platform/objrt/Object.h"

#include "console/CXelEventSink.h"

using xel::objrt::ComPtr;
using xel::objrt::Object;

namespace {

// The sink as an object of the runtime: it answers for IDispatch and for the
// event interface with the same pointer.
class SinkObject : public CXelEventSink {
public:
    using Interfaces = xel::objrt::InterfaceMap<XelEventsDispatch, xel::objrt::Through<IDispatch, XelEventsDispatch>>;

protected:
    explicit SinkObject(QObject* receiver) : CXelEventSink(receiver) {}
    ~SinkObject() = default;
};

constexpr CoreEventRow kEvents[] = {
    {xel::DISPID_InputChange, u"InputChange", VT_I4},
    {xel::DISPID_AutomationChange, u"AutomationChange", VT_I4},
    {xel::DISPID_ModeChange, u"ModeChange", VT_I4},
    {xel::DISPID_CommFail, u"CommFail", VT_EMPTY},
    {xel::DISPID_MuteChange, u"MuteChange", VT_BOOL},
    {xel::DISPID_PICDownloadStateChange, u"PICDownloadStateChange", VT_I4},
};

QEvent* makeEvent(const CoreEventRow& row, LONG value) {
    if (row.id == xel::DISPID_CommFail) return new QEvent(CXelEventSink::kCommLost);
    return new CXelEventSink::Event(row.id, value);
}

}  // namespace

CXelEventSink::CXelEventSink(QObject* receiver) : CoreEventSink(receiver, kEvents, makeEvent) {}

HRESULT CXelEventSink::create(QObject* receiver, ComPtr<CXelEventSink>& out) noexcept {
    ComPtr<Object<SinkObject>> sink;
    const HRESULT hr = Object<SinkObject>::create(sink, receiver);
    if (FAILED(hr)) return hr;
    out = ComPtr<CXelEventSink>(sink.get());
    return S_OK;
}
