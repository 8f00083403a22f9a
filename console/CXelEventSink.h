// The main window's sink for the core's events (_IXelEvents).
//
// The core raises its events on its monitor thread. The sink turns each into a
// Qt event posted to its receiver (an object of the GUI thread) and returns at
// once: nothing on the monitor thread waits for the GUI thread, and no widget is
// touched there. Events are taken by dispatch id with the argument types of the
// event table below; each argument is converted as late binding converts it.
//
//   1 InputChange(long Input)        -> Event{InputChange, Input}
//   2 AutomationChange(long)         -> Event{AutomationChange, pin}
//   3 ModeChange(long Mode)          -> Event{ModeChange, Mode}
//   4 CommFail()                     -> a QEvent of type kCommLost alone
//   5 MuteChange(VARIANT_BOOL Mute)  -> Event{MuteChange, Mute}
//   6 PICDownloadStateChange(long)   -> Event{PICDownloadStateChange, State}
//
// Thread contract: Invoke may run on any thread, concurrently with disconnect();
// connectTo() and disconnect() run on the receiver's thread. Once disconnect()
// has returned, nothing more is posted, so the receiver may go.
#pragma once

#include <QEvent>

#include <mutex>

#include "core/xelor.h"
#include "platform/objrt/Ptr.h"

class QObject;

// The outgoing interface as the sink answers for it.
struct XelEventsDispatch : IDispatch {
  static constexpr IID kIID = xel::DIID__IXelEvents;
};

// The reference count and QueryInterface come with the object made by create().
class CXelEventSink : public XelEventsDispatch {
public:

  // The window's private message for a lost link (2024).
  static constexpr QEvent::Type kCommLost = static_cast<QEvent::Type>(QEvent::User + 1024);
  // Every other event of the core.
  static constexpr QEvent::Type kCoreEvent = static_cast<QEvent::Type>(QEvent::User + 1025);

  class Event : public QEvent {
  public:
    Event(DISPID id, LONG value) : QEvent(kCoreEvent), id_(id), value_(value) {}
    DISPID id() const { return id_; }
    LONG value() const { return value_; }

  private:
    DISPID id_;
    LONG value_;
  };

  // Creates a sink posting to `receiver`.
  static HRESULT create(QObject* receiver, xel::objrt::ComPtr<CXelEventSink>& out) noexcept;

  // Connects the sink to the source's _IXelEvents (the source is held until
  // disconnect()).
  HRESULT connectTo(IUnknown* source) noexcept;
  // Stops posting (waiting only for a post already under way), then leaves the
  // source. After it returns nothing more reaches the receiver.
  void disconnect() noexcept;

  HRESULT GetTypeInfoCount(UINT* pctinfo) noexcept override;
  HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) noexcept override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) noexcept override;
  HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                 VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept override;

protected:
  explicit CXelEventSink(QObject* receiver) : receiver_(receiver) {}
  ~CXelEventSink() = default;

private:
  void post(QEvent* event) noexcept;

  std::mutex mutex_;
  QObject* receiver_;  // null once disconnected
  xel::objrt::ComPtr<IUnknown> source_;
  DWORD cookie_ = 0;
};
