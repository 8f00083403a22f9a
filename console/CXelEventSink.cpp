// The object runtime's building blocks use "slots" as a name, which Qt's
// headers make a macro: they come first.
#include "platform/objrt/Object.h"

#include "console/CXelEventSink.h"

#include <QCoreApplication>

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

// The events of _IXelEvents: id, name and the type of the one argument
// (VT_EMPTY for none).
struct EventRow {
  DISPID id;
  const char16_t* name;
  VARTYPE argument;
};
constexpr EventRow kEvents[] = {
    {xel::DISPID_InputChange, u"InputChange", VT_I4},
    {xel::DISPID_AutomationChange, u"AutomationChange", VT_I4},
    {xel::DISPID_ModeChange, u"ModeChange", VT_I4},
    {xel::DISPID_CommFail, u"CommFail", VT_EMPTY},
    {xel::DISPID_MuteChange, u"MuteChange", VT_BOOL},
    {xel::DISPID_PICDownloadStateChange, u"PICDownloadStateChange", VT_I4},
};

const EventRow* findEvent(DISPID id) {
  for (const EventRow& r : kEvents)
    if (r.id == id) return &r;
  return nullptr;
}

bool sameNameIgnoringCase(const char16_t* a, const OLECHAR* b) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
  for (; *a && *b; ++a, ++b)
    if (lower(*a) != lower(*b)) return false;
  return *a == *b;
}

}  // namespace

HRESULT CXelEventSink::create(QObject* receiver, ComPtr<CXelEventSink>& out) noexcept {
  ComPtr<Object<SinkObject>> sink;
  const HRESULT hr = Object<SinkObject>::create(sink, receiver);
  if (FAILED(hr)) return hr;
  out = ComPtr<CXelEventSink>(sink.get());
  return S_OK;
}

HRESULT CXelEventSink::connectTo(IUnknown* source) noexcept {
  if (source_) return E_UNEXPECTED;
  const HRESULT hr = xel::objrt::advise(source, xel::DIID__IXelEvents, static_cast<XelEventsDispatch*>(this), &cookie_);
  if (SUCCEEDED(hr)) source_ = ComPtr<IUnknown>(source);
  return hr;
}

void CXelEventSink::disconnect() noexcept {
  {
    std::lock_guard lock(mutex_);
    receiver_ = nullptr;
  }
  if (source_) (void)xel::objrt::unadvise(source_.get(), xel::DIID__IXelEvents, cookie_);
  cookie_ = 0;
  source_ = nullptr;
}

void CXelEventSink::post(QEvent* event) noexcept {
  std::unique_lock lock(mutex_);
  if (!receiver_) {
    lock.unlock();
    delete event;
    return;
  }
  // postEvent only queues: it never waits for the receiver's thread.
  QCoreApplication::postEvent(receiver_, event);
}

HRESULT CXelEventSink::GetTypeInfoCount(UINT* pctinfo) noexcept {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 0;
  return S_OK;
}

HRESULT CXelEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) noexcept {
  if (ppTInfo) *ppTInfo = nullptr;
  return E_NOTIMPL;
}

HRESULT CXelEventSink::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) noexcept {
  if (!rgszNames || !rgDispId) return E_POINTER;
  HRESULT hr = S_OK;
  for (UINT i = 0; i < cNames; ++i) {
    rgDispId[i] = -1;  // DISPID_UNKNOWN
    if (i == 0 && rgszNames[0]) {
      for (const EventRow& r : kEvents)
        if (sameNameIgnoringCase(r.name, rgszNames[0])) rgDispId[0] = r.id;
    }
    if (rgDispId[i] == -1) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT CXelEventSink::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD, DISPPARAMS* pDispParams, VARIANT*,
                              EXCEPINFO*, UINT* puArgErr) noexcept {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  const EventRow* row = findEvent(dispIdMember);
  if (!row) return DISP_E_MEMBERNOTFOUND;
  if (!pDispParams) return E_POINTER;
  const UINT wanted = row->argument == VT_EMPTY ? 0 : 1;
  if (pDispParams->cArgs != wanted) return DISP_E_BADPARAMCOUNT;
  if (pDispParams->cNamedArgs != 0) return DISP_E_NONAMEDARGS;

  try {
    if (wanted == 0) {
      post(new QEvent(kCommLost));
      return S_OK;
    }
    VARIANT value;
    VariantInit(&value);
    const HRESULT hr = VariantChangeType(&value, &pDispParams->rgvarg[0], 0, row->argument);
    if (FAILED(hr)) {
      if (puArgErr) *puArgErr = 0;
      return hr;
    }
    const LONG number = row->argument == VT_BOOL ? static_cast<LONG>(value.boolVal) : value.lVal;
    VariantClear(&value);
    post(new Event(dispIdMember, number));
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
