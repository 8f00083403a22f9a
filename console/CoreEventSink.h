// What the console's sinks for the core's events share (CXelEventSink for
// _IXelEvents, CXelStatusSink for _IXelStatusEvents).
//
// The core raises its events on its monitor thread. A sink turns each into a Qt
// event posted to its receiver (an object of the GUI thread) and returns at
// once: nothing on the monitor thread waits for the GUI thread, and no widget is
// touched there. Events are taken by dispatch id with the argument types of the
// sink's event table; each argument is converted as late binding converts it.
//
// Thread contract: Invoke may run on any thread, concurrently with disconnect();
// connectTo() and disconnect() run on the receiver's thread. Once disconnect()
// has returned, nothing more is posted, so the receiver may go.
#pragma once

#include <QEvent>

#include <mutex>
#include <span>

#include "core/xelor.h"
#include "platform/objrt/Ptr.h"

class QObject;

// One event of an outgoing interface: its dispatch id, its name, and the type of
// its one argument (VT_EMPTY for none).
struct CoreEventRow {
    DISPID id;
    const char16_t* name;
    VARTYPE argument;
};

// Makes the Qt event for one event of the table; `value` is its argument as a
// number (VT_BOOL as -1/0, 0 when it has none).
using MakeCoreEvent = QEvent* (*)(const CoreEventRow& row, LONG value);

// The link from a source's connection point to a receiver.
class CoreEventPoster {
public:
    explicit CoreEventPoster(QObject* receiver) : receiver_(receiver) {}

    // Advises `sink` on the source's `events` (the source is held until disconnect()).
    HRESULT connect(IUnknown* source, REFIID events, IUnknown* sink) noexcept;
    // Stops posting (waiting only for a post already under way), then leaves the source.
    void disconnect(REFIID events) noexcept;
    // Queues the event for the receiver, or deletes it once disconnected.
    void post(QEvent* event) noexcept;

private:
    std::mutex mutex_;
    QObject* receiver_;  // null once disconnected
    xel::objrt::ComPtr<IUnknown> source_;
    DWORD cookie_ = 0;
};

// GetIDsOfNames over an event table: names compare ignoring case.
HRESULT coreEventIdsOfNames(std::span<const CoreEventRow> events, LPOLESTR* names, UINT count, DISPID* ids) noexcept;
// Invoke over an event table: checks the call, converts the argument and posts
// what `make` builds.
HRESULT invokeCoreEvent(std::span<const CoreEventRow> events, MakeCoreEvent make, CoreEventPoster& poster, DISPID id,
                        REFIID riid, DISPPARAMS* params, UINT* argErr) noexcept;

// The sink for one outgoing interface; `Dispatch` is IDispatch with the event
// interface's id as kIID. The reference count and QueryInterface come with the
// runtime object the concrete sink's create() makes.
template <class Dispatch>
class CoreEventSink : public Dispatch {
public:
    // Connects to the source's events (the source is held until disconnect()).
    HRESULT connectTo(IUnknown* source) noexcept {
        return poster_.connect(source, Dispatch::kIID, static_cast<Dispatch*>(this));
    }
    // After it returns nothing more reaches the receiver.
    void disconnect() noexcept { poster_.disconnect(Dispatch::kIID); }

    HRESULT GetTypeInfoCount(UINT* pctinfo) noexcept override {
        if (!pctinfo) return E_POINTER;
        *pctinfo = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) noexcept override {
        if (ppTInfo) *ppTInfo = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) noexcept override {
        return coreEventIdsOfNames(events_, rgszNames, cNames, rgDispId);
    }
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD, DISPPARAMS* pDispParams, VARIANT*, EXCEPINFO*,
                   UINT* puArgErr) noexcept override {
        return invokeCoreEvent(events_, make_, poster_, dispIdMember, riid, pDispParams, puArgErr);
    }

protected:
    CoreEventSink(QObject* receiver, std::span<const CoreEventRow> events, MakeCoreEvent make)
        : poster_(receiver), events_(events), make_(make) {}
    ~CoreEventSink() = default;

private:
    CoreEventPoster poster_;
    std::span<const CoreEventRow> events_;
    MakeCoreEvent make_;
};
