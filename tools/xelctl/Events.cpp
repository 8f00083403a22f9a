#include "tools/xelctl/Events.h"

#include <algorithm>

#include "tools/xelctl/Failure.h"

namespace xelctl {

ComPtr<EventSink> EventSink::create(const IID& iid) { return ComPtr<EventSink>::adopt(new EventSink(iid)); }

EventSink::EventSink(const IID& iid) : iid_(iid) { (void)wake_.create(); }

EventSink::~EventSink() = default;

ULONG EventSink::Release() noexcept {
    const ULONG left = refs_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
}

HRESULT EventSink::QueryInterface(REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == iid_) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT EventSink::GetTypeInfoCount(UINT* count) noexcept {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) noexcept {
    try {
        ReceivedEvent e;
        e.id = id;
        if (params) {
            // Positional arguments arrive last first.
            for (UINT i = params->cArgs; i > 0; --i) {
                Variant copy;
                (void)VariantCopyInd(&copy, &params->rgvarg[i - 1]);
                e.args.push_back(std::move(copy));
            }
        }
        {
            std::lock_guard lock(mutex_);
            if (forward_) forward_(e);
            queue_.push_back(std::move(e));
        }
        wake_.signal();
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

std::vector<ReceivedEvent> EventSink::take() {
    (void)wake_.consume();
    std::lock_guard lock(mutex_);
    std::vector<ReceivedEvent> out(std::make_move_iterator(queue_.begin()), std::make_move_iterator(queue_.end()));
    queue_.clear();
    return out;
}

void EventSink::forwardTo(std::function<void(const ReceivedEvent&)> forward) {
    std::lock_guard lock(mutex_);
    forward_ = std::move(forward);
}

Subscription::Subscription(IDispatch* source, const IID& iid, IUnknown* sink) {
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(source->QueryInterface(IID_IConnectionPointContainer, container.putVoid())) || !container ||
        FAILED(container->FindConnectionPoint(iid, point_.put())) || !point_)
        fail(kExitUnit, "the core offers no events to listen to");
    const HRESULT hr = point_->Advise(sink, &cookie_);
    if (FAILED(hr)) {
        point_.reset();
        fail(kExitUnit, "cannot listen to the core's events (" + statusText(hr) + ")");
    }
}

Subscription::~Subscription() {
    if (point_) (void)point_->Unadvise(cookie_);
}

namespace {

const MemberInfo* eventOf(const ReceivedEvent& e, const std::vector<MemberInfo>& events) {
    auto it = std::find_if(events.begin(), events.end(), [&](const MemberInfo& m) { return m.id == e.id; });
    return it == events.end() ? nullptr : &*it;
}

std::string argName(const MemberInfo* m, size_t i) {
    if (m && i < m->params.size() && !m->params[i].name.empty()) return m->params[i].name;
    return "Arg" + std::to_string(i + 1);
}

}  // namespace

std::string eventText(const ReceivedEvent& e, const std::vector<MemberInfo>& events) {
    const MemberInfo* m = eventOf(e, events);
    std::string text = m ? m->name : "Event" + std::to_string(e.id);
    for (const Variant& a : e.args) text += " " + valueText(a);
    return text;
}

nlohmann::ordered_json eventJson(const ReceivedEvent& e, const std::vector<MemberInfo>& events) {
    const MemberInfo* m = eventOf(e, events);
    nlohmann::ordered_json j;
    j["event"] = m ? m->name : "Event" + std::to_string(e.id);
    for (size_t i = 0; i < e.args.size(); ++i) j[argName(m, i)] = valueJson(e.args[i]);
    return j;
}

nlohmann::ordered_json levelsJson(const std::vector<Variant>& values, const MemberInfo& readLevels) {
    nlohmann::ordered_json j;
    j["event"] = "Levels";
    for (size_t i = 0; i < values.size() && i < readLevels.params.size(); ++i)
        j[readLevels.params[i].name] = valueJson(values[i]);
    return j;
}

}  // namespace xelctl
