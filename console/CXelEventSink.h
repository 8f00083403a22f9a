// The console's sink for the core's events (_IXelEvents), posted to the
// controller as Qt events (see CoreEventSink.h for the threads):
//
//   1 InputChange(long Input)        -> Event{InputChange, Input}
//   2 AutomationChange(long)         -> Event{AutomationChange, pin}
//   3 ModeChange(long Mode)          -> Event{ModeChange, Mode}
//   4 CommFail()                     -> a QEvent of type kCommLost alone
//   5 MuteChange(VARIANT_BOOL Mute)  -> Event{MuteChange, Mute}
//   6 PICDownloadStateChange(long)   -> Event{PICDownloadStateChange, State}
#pragma once

#include "console/CoreEventSink.h"

// The outgoing interface as the sink answers for it.
struct XelEventsDispatch : IDispatch {
    static constexpr IID kIID = xel::DIID__IXelEvents;
};

class CXelEventSink : public CoreEventSink<XelEventsDispatch> {
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

protected:
    explicit CXelEventSink(QObject* receiver);
    ~CXelEventSink() = default;
};
