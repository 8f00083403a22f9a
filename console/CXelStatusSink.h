// The firmware dialog's sink for the core's progress events (_IXelStatusEvents).
//
// DownloadProgress(long Permille) arrives on the core's monitor thread; the sink
// posts it to its receiver (an object of the GUI thread) as a Progress event and
// returns at once, as CXelEventSink does for _IXelEvents.
//
// Thread contract: Invoke may run on any thread, concurrently with disconnect();
// connectTo() and disconnect() run on the receiver's thread. Once disconnect()
// has returned, nothing more is posted.
#pragma once

#include <QEvent>

#include <mutex>

#include "core/xelor.h"
#include "platform/objrt/Ptr.h"

class QObject;

// The outgoing interface as the sink answers for it.
struct XelStatusEventsDispatch : IDispatch {
  static constexpr IID kIID = xel::DIID__IXelStatusEvents;
};

class CXelStatusSink : public XelStatusEventsDispatch {
public:
  static constexpr QEvent::Type kProgress = static_cast<QEvent::Type>(QEvent::User + 1026);

  class Progress : public QEvent {
  public:
    explicit Progress(LONG permille) : QEvent(kProgress), permille_(permille) {}
    LONG permille() const { return permille_; }

  private:
    LONG permille_;
  };

  static HRESULT create(QObject* receiver, xel::objrt::ComPtr<CXelStatusSink>& out) noexcept;

  // Connects to the source's _IXelStatusEvents (the source is held until disconnect()).
  HRESULT connectTo(IUnknown* source) noexcept;
  void disconnect() noexcept;

  HRESULT GetTypeInfoCount(UINT* pctinfo) noexcept override;
  HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) noexcept override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) noexcept override;
  HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                 VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept override;

protected:
  explicit CXelStatusSink(QObject* receiver) : receiver_(receiver) {}
  ~CXelStatusSink() = default;

private:
  std::mutex mutex_;
  QObject* receiver_;  // null once disconnected
  xel::objrt::ComPtr<IUnknown> source_;
  DWORD cookie_ = 0;
};
