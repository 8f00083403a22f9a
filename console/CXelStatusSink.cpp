// The object runtime's building blocks use "slots" as a name, which Qt's
// headers make a macro: they come first.
#include "platform/objrt/Object.h"

#include "console/CXelStatusSink.h"

#include <QCoreApplication>

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

}  // namespace

HRESULT CXelStatusSink::create(QObject* receiver, ComPtr<CXelStatusSink>& out) noexcept {
  ComPtr<Object<StatusSinkObject>> sink;
  const HRESULT hr = Object<StatusSinkObject>::create(sink, receiver);
  if (FAILED(hr)) return hr;
  out = ComPtr<CXelStatusSink>(sink.get());
  return S_OK;
}

HRESULT CXelStatusSink::connectTo(IUnknown* source) noexcept {
  if (source_) return E_UNEXPECTED;
  const HRESULT hr =
      xel::objrt::advise(source, xel::DIID__IXelStatusEvents, static_cast<XelStatusEventsDispatch*>(this), &cookie_);
  if (SUCCEEDED(hr)) source_ = ComPtr<IUnknown>(source);
  return hr;
}

void CXelStatusSink::disconnect() noexcept {
  {
    std::lock_guard lock(mutex_);
    receiver_ = nullptr;
  }
  if (source_) (void)xel::objrt::unadvise(source_.get(), xel::DIID__IXelStatusEvents, cookie_);
  cookie_ = 0;
  source_ = nullptr;
}

HRESULT CXelStatusSink::GetTypeInfoCount(UINT* pctinfo) noexcept {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 0;
  return S_OK;
}

HRESULT CXelStatusSink::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) noexcept {
  if (ppTInfo) *ppTInfo = nullptr;
  return E_NOTIMPL;
}

HRESULT CXelStatusSink::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) noexcept {
  if (!rgszNames || !rgDispId) return E_POINTER;
  static const char16_t kName[] = u"downloadprogress";
  HRESULT hr = S_OK;
  for (UINT i = 0; i < cNames; ++i) {
    rgDispId[i] = -1;  // DISPID_UNKNOWN
    if (i == 0 && rgszNames[0]) {
      const OLECHAR* p = rgszNames[0];
      const char16_t* q = kName;
      for (; *p && *q; ++p, ++q) {
        const char16_t c = (*p >= u'A' && *p <= u'Z') ? static_cast<char16_t>(*p + 32) : *p;
        if (c != *q) break;
      }
      if (!*p && !*q) rgDispId[0] = xel::DISPID_DownloadProgress;
    }
    if (rgDispId[i] == -1) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT CXelStatusSink::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD, DISPPARAMS* pDispParams, VARIANT*,
                               EXCEPINFO*, UINT* puArgErr) noexcept {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (dispIdMember != xel::DISPID_DownloadProgress) return DISP_E_MEMBERNOTFOUND;
  if (!pDispParams) return E_POINTER;
  if (pDispParams->cArgs != 1) return DISP_E_BADPARAMCOUNT;
  if (pDispParams->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  try {
    VARIANT value;
    VariantInit(&value);
    const HRESULT hr = VariantChangeType(&value, &pDispParams->rgvarg[0], 0, VT_I4);
    if (FAILED(hr)) {
      if (puArgErr) *puArgErr = 0;
      return hr;
    }
    auto* event = new Progress(value.lVal);
    VariantClear(&value);
    std::unique_lock lock(mutex_);
    if (!receiver_) {
      lock.unlock();
      delete event;
      return S_OK;
    }
    // postEvent only queues: it never waits for the receiver's thread.
    QCoreApplication::postEvent(receiver_, event);
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
