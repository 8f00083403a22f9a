// The console's sink for the core's progress events (_IXelStatusEvents):
// DownloadProgress(long Permille) arrives on the core's monitor thread and is
// posted to the receiver as a Progress event (see CoreEventSink.h for the threads).
#pragma once

#include "console/CoreEventSink.h"

// The outgoing interface as the sink answers for it.
struct XelStatusEventsDispatch : IDispatch {
    static constexpr IID kIID = xel::DIID__IXelStatusEvents;
};

class CXelStatusSink : public CoreEventSink<XelStatusEventsDispatch> {
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

protected:
    explicit CXelStatusSink(QObject* receiver);
    ~CXelStatusSink() = default;
};
