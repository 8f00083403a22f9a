// Receiving the core's events: a dispatch sink that queues what the monitor
// thread delivers and wakes the main thread through a file descriptor, and the
// advise / unadvise of one connection point.
//
// Thread contract: Invoke runs on the core's monitor thread and only copies the
// event into the queue (it never waits for the main thread); take() and fd()
// belong to the main thread. A forward, when set, also runs on the monitor
// thread, so it must be quick and never wait for the main thread either.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "xelsys/Event.h"

#include <nlohmann/json.hpp>

#include "tools/xelctl/Late.h"

namespace xelctl {

struct ReceivedEvent {
    DISPID id = 0;
    std::vector<Variant> args;  // in parameter order
};

class EventSink final : public IDispatch {
public:
    static ComPtr<EventSink> create(const IID& iid);

    HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG AddRef() noexcept override { return refs_.fetch_add(1) + 1; }
    ULONG Release() noexcept override;
    HRESULT GetTypeInfoCount(UINT* count) noexcept override;
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excepInfo, UINT* argErr) noexcept override;

    // Readable while events wait in the queue.
    int fd() const { return wake_.fd(); }
    std::vector<ReceivedEvent> take();

    // Hands each event to `forward` on the monitor thread as it arrives, before
    // it is queued for take(). Null ends it: once that call returns, no forward
    // is running or will run.
    void forwardTo(std::function<void(const ReceivedEvent&)> forward);

private:
    explicit EventSink(const IID& iid);
    ~EventSink();

    std::atomic<ULONG> refs_{1};
    IID iid_;
    xel::sys::Event wake_;
    std::mutex mutex_;
    std::deque<ReceivedEvent> queue_;
    std::function<void(const ReceivedEvent&)> forward_;
};

// Advises `sink` on the source's connection point for `iid` for its lifetime.
class Subscription {
public:
    Subscription(IDispatch* source, const IID& iid, IUnknown* sink);
    ~Subscription();
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// An event as a line: "InputChange 2", or with json {"event":"InputChange","Input":2}.
// Names come from the event interface's description; unknown ids print as "Event7".
std::string eventText(const ReceivedEvent& e, const std::vector<MemberInfo>& events);
nlohmann::ordered_json eventJson(const ReceivedEvent& e, const std::vector<MemberInfo>& events);

// One reading of VU.ReadLevels (its out-values in parameter order) as the
// Levels event: {"event":"Levels","Left":...,...}.
nlohmann::ordered_json levelsJson(const std::vector<Variant>& values, const MemberInfo& readLevels);

}  // namespace xelctl
