#include "tools/xeld/Owner.h"

#include "tools/xeld/Request.h"

#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>

#include <libudev.h>

#include "core/xelor.h"
#include "platform/registry/Registry.h"
#include "tools/xelctl/Commands.h"
#include "tools/xelctl/Events.h"
#include "tools/xelctl/Failure.h"
#include "tools/xelctl/Session.h"

namespace xeld {

using xelctl::Bstr;
using xelctl::ComPtr;
using xelctl::MemberInfo;
using xelctl::Variant;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kLevelPeriod = std::chrono::milliseconds(200);
constexpr auto kOwnerWait = std::chrono::seconds(2);
constexpr LONG kAckTimeoutMs = 10000;
constexpr size_t kConfigSize = 352;
constexpr double kBackoff[] = {1, 2, 4, 8, 16, 30};

std::string nowRfc3339() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char b[32];
    std::strftime(b, sizeof b, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return b;
}

HRESULT callByName(IDispatch* object, std::u16string_view name, std::vector<Variant>& args, VARIANT* result) {
    const DISPID id = xelctl::idOfName(object, name);
    if (id == DISPID_UNKNOWN) return DISP_E_UNKNOWNNAME;
    return xelctl::invoke(object, id, DISPATCH_METHOD, args, result);
}

// 0 answered, 1 refused or dropped, 2 not acknowledged in time, -1 unknown.
LONG waitSettled(xelctl::Session& s, LONG timeoutMs) {
    std::vector<Variant> args;
    args.emplace_back(timeoutMs);
    Variant result;
    if (callByName(s.status(), u"WaitSettled", args, result.put()) != S_OK || result.vt != VT_I4) return -1;
    return result.lVal;
}

bool connected(xelctl::Session& s) {
    std::vector<Variant> none;
    Variant v;
    return callByName(s.object("Comm"), u"IsConnected", none, v.put()) == S_OK && v.vt == VT_BOOL &&
           v.boolVal == VARIANT_TRUE;
}

// The members a client may reach, and why the others are closed.
struct Resolved {
    std::string object;  // canonical
    const MemberInfo* member = nullptr;
    IDispatch* target = nullptr;
};

bool isValueProperty(const MemberInfo& m) {
    return !m.isMethod && m.valueType != VT_DISPATCH && m.valueType != VT_UNKNOWN;
}

bool allowed(const std::string& object, const MemberInfo& m) {
    if (m.isMethod) return m.name == "GetTrimsAndDelays" || m.name == "ReadLevels" || m.name == "SetIP";
    return (object == "Xel" || object == "Format" || object == "Profile") && isValueProperty(m);
}

std::string refusal(const std::string& object, const MemberInfo& m) {
    if (object == "Comm") return "the server holds the link to the unit; its connection members are not offered";
    if (m.name == "Query") return "Query re-reads the unit and would discard every client's pending changes";
    if (m.name == "Load" || m.name == "Save") return "use /v1/config to save or load the configuration file";
    if (m.name == "Cleanup") return "Cleanup would end the server's use of the core";
    if (!m.isMethod) return object + "." + m.name + " is an object, not a value";
    return object + "." + m.name + " is not offered through the server (firmware and raw access need the link itself)";
}

std::string allowedList(xelctl::Session& s) {
    std::string list;
    for (const std::string& o : xelctl::Session::objectNames())
        for (const MemberInfo& m : s.members(o))
            if (allowed(o, m)) list += (list.empty() ? "" : ", ") + o + "." + m.name;
    return list;
}

// Throws a Reply for the caller to send.
Resolved resolve(xelctl::Session& s, const std::string& name) {
    const size_t dot = name.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size() || name.find('.', dot + 1) != std::string::npos)
        throw Reply::error(404, "\"" + name + "\" is not Object.Member; the members offered are " + allowedList(s));
    const std::string objectText = name.substr(0, dot);
    Resolved r;
    for (const std::string& o : xelctl::Session::objectNames())
        if (strcasecmp(o.c_str(), objectText.c_str()) == 0) r.object = o;
    if (!r.object.empty()) {
        for (const MemberInfo& m : s.members(r.object))
            if (strcasecmp(m.name.c_str(), name.c_str() + dot + 1) == 0) r.member = &m;
    }
    if (!r.member)
        throw Reply::error(404, "there is no member " + name + "; the members offered are " + allowedList(s));
    if (!allowed(r.object, *r.member)) throw Reply::error(403, refusal(r.object, *r.member));
    r.target = s.object(r.object);
    return r;
}

Variant fromJson(const nlohmann::json& v, VARTYPE vt, const std::string& what) {
    auto converted = valueFromJson(v, vt, what);
    if (const Refusal* r = std::get_if<Refusal>(&converted)) throw Reply::error(r->status, r->why);
    return std::move(std::get<Variant>(converted));
}

std::vector<Variant> indexArgs(const Resolved& r, const std::string& index, const std::string& name) {
    std::vector<Variant> args;
    const auto& indexes = r.member->indexes;
    if (indexes.empty()) {
        if (!index.empty()) throw Reply::error(400, name + " takes no index");
        return args;
    }
    if (index.empty()) throw Reply::error(400, name + " needs ?index=N");
    try {
        args.push_back(xelctl::valueFromText(index, indexes[0].vt, "the index of " + name));
    } catch (const xelctl::Failure& f) {
        throw Reply::error(400, f.what());
    }
    return args;
}

Reply statusReply(HRESULT hr, const std::string& what) {
    if (hr == 2250) return Reply::error(503, what + ": the unit is not connected");
    if (hr == 1) return Reply::error(502, what + ": the unit refused it or the link failed");
    if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW || hr == E_INVALIDARG || hr == DISP_E_BADINDEX)
        return Reply::error(400, what + ": " + xelctl::statusText(hr));
    return Reply::error(502, what + ": " + xelctl::statusText(hr));
}

// The change must be answered by the unit before the client hears 200.
std::optional<Reply> acknowledge(xelctl::Session& s, const std::string& what) {
    switch (waitSettled(s, kAckTimeoutMs)) {
        case 0: return std::nullopt;
        case 2: return Reply::error(504, what + ": the unit did not confirm the change within 10 s");
        default: return Reply::error(502, what + ": the unit refused or dropped the change");
    }
}

}  // namespace

const char* stateName(LinkState s) {
    switch (s) {
        case LinkState::Connecting: return "connecting";
        case LinkState::Connected: return "connected";
        case LinkState::Reconnecting: return "reconnecting";
        case LinkState::Stopped: return "stopped";
    }
    return "stopped";
}

struct Owner::Job {
    std::function<Reply(xelctl::Session&)> fn;
    std::mutex mutex;
    std::condition_variable cv;
    enum { Waiting, Running, Done, Abandoned } state = Waiting;
    Reply reply;
};

Owner::Owner(Settings settings, Hub& hub) : settings_(std::move(settings)), hub_(hub) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    current_.since = nowRfc3339();
    published_ = std::make_shared<Snapshot>(current_);
}

Owner::~Owner() {
    stop();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool Owner::start() {
    thread_ = std::thread([this] { run(); });
    std::unique_lock lock(startMutex_);
    startCv_.wait(lock, [&] { return startResult_ >= 0; });
    return startResult_ == 1;
}

std::shared_ptr<const Snapshot> Owner::snapshot() const {
    std::lock_guard lock(snapMutex_);
    return published_;
}

void Owner::wake() {
    const uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
}

Reply Owner::submit(std::function<Reply(xelctl::Session&)> fn) {
    auto job = std::make_shared<Job>();
    job->fn = std::move(fn);
    {
        std::lock_guard lock(jobsMutex_);
        jobs_.push_back(job);
    }
    wake();
    std::unique_lock lock(job->mutex);
    if (!job->cv.wait_for(lock, kOwnerWait, [&] { return job->state != Job::Waiting; })) {
        job->state = Job::Abandoned;
        return Reply::error(503, "the unit is busy (connecting or serving another change); try again");
    }
    job->cv.wait(lock, [&] { return job->state == Job::Done; });
    return job->reply;
}

void Owner::reconnect() {
    reconnectAsked_ = true;
    wake();
}

void Owner::deviceAdded() {
    deviceAdded_ = true;
    wake();
}

void Owner::stop() {
    stopping_ = true;
    wake();
    if (thread_.joinable()) thread_.join();
}

void Owner::setState(LinkState s) {
    if (current_.state == s) return;
    current_.state = s;
    current_.since = nowRfc3339();
    settings_.log(std::string("link ") + stateName(s) + " (" + settings_.address + ")");
    nlohmann::ordered_json j;
    j["event"] = "State";
    j["state"] = stateName(s);
    publish();
    hub_.publish("State", j.dump());
}

nlohmann::ordered_json Snapshot::levelsJson() const {
    if (!levels) return nullptr;
    nlohmann::ordered_json j;
    for (size_t i = 0; i < std::size(kChannels); ++i) j[kChannels[i]] = (*levels)[i];
    return j;
}

void Owner::publish() {
    auto snap = std::make_shared<Snapshot>(current_);
    std::lock_guard lock(snapMutex_);
    std::erase_if(reported_, [&](const auto& r) { return r.second.event <= readAfter_; });
    publishLocked(std::move(snap));
}

// With snapMutex_ held: the switches events reported go on top.
void Owner::publishLocked(std::shared_ptr<Snapshot> snap) {
    if (!reported_.empty() && snap->unit && snap->unit->is_object()) {
        auto unit = std::make_shared<nlohmann::ordered_json>(*snap->unit);
        for (const auto& [key, r] : reported_) (*unit)[key] = r.value;
        snap->unit = std::move(unit);
    }
    published_ = std::move(snap);
}

uint64_t Owner::eventsSoFar() const {
    std::lock_guard lock(snapMutex_);
    return eventCount_;
}

// On the monitor thread, as the core raises the event.
void Owner::forward(const xelctl::ReceivedEvent& e) {
    try {
        nlohmann::ordered_json j = xelctl::eventJson(e, eventInfo_);
        const char* key = e.id == xel::DISPID_InputChange        ? "CurrentFormat"
                          : e.id == xel::DISPID_AutomationChange ? "Pin"
                          : e.id == xel::DISPID_ModeChange       ? "Film"
                                                                 : nullptr;
        if (key && e.args.size() == 1 && e.args[0].vt == VT_I4) {
            // ModeChange reports the mode (1 digital, 0 film); the unit object shows Film.
            const LONG v = e.args[0].lVal;
            nlohmann::ordered_json value =
                e.id == xel::DISPID_ModeChange ? nlohmann::ordered_json(v == 0) : nlohmann::ordered_json(v);
            std::lock_guard lock(snapMutex_);
            reported_[key] = {std::move(value), ++eventCount_};
            publishLocked(std::make_shared<Snapshot>(*published_));
        }
        hub_.publish(j.value("event", std::string("Event")), j.dump());
    } catch (const std::exception& ex) {
        // Out of memory: the owner still takes the event from the queue.
        settings_.log(std::string("an event was not sent: ") + ex.what());
    }
}

void Owner::refreshUnit() {
    const uint64_t seen = eventsSoFar();
    std::ostringstream out;
    xelctl::Options options;
    options.json = true;
    xelctl::Context ctx{options, *session_, out};
    try {
        xelctl::runQuery(ctx, {});
        current_.unit = std::make_shared<const nlohmann::ordered_json>(nlohmann::ordered_json::parse(out.str()));
        readAfter_ = seen;
    } catch (const std::exception& e) {
        settings_.log(std::string("cannot read the unit's settings: ") + e.what());
    }
}

// The switches the unit's own events change (input, automation pin, film
// mode) and the mute, read from the core's objects: no unit exchange and no
// configuration file, so an event is not held up by a whole refresh. The
// formats' settings change only through requests, which refresh everything.
void Owner::refreshSwitches() {
    if (!current_.unit || !current_.unit->is_object()) return refreshUnit();
    const uint64_t seen = eventsSoFar();
    auto unit = std::make_shared<nlohmann::ordered_json>(*current_.unit);
    static const std::pair<const char*, const char16_t*> kSwitches[] = {
        {"Format", u"CurrentFormat"}, {"Format", u"Pin"}, {"Format", u"Film"}, {"Xel", u"Mute"}};
    for (const auto& [object, name] : kSwitches) {
        IDispatch* target = session_->object(object);
        const DISPID id = xelctl::idOfName(target, name);
        std::vector<Variant> none;
        Variant value;
        if (id == DISPID_UNKNOWN || xelctl::invoke(target, id, DISPATCH_PROPERTYGET, none, value.put()) != S_OK) {
            refreshUnit();
            return;
        }
        (*unit)[std::string(name, name + std::char_traits<char16_t>::length(name))] = xelctl::valueJson(value);
    }
    current_.unit = std::move(unit);
    readAfter_ = seen;
}

void Owner::readLevels() {
    if (!readLevels_ || readLevels_->params.size() != std::size(kChannels)) return;
    std::vector<Variant> slots(readLevels_->params.size());
    std::vector<Variant> args;
    for (Variant& slot : slots) args.push_back(Variant::refTo(&slot));
    if (xelctl::invoke(vu_, readLevels_->id, DISPATCH_METHOD, args, nullptr) != S_OK) return;
    hub_.publish("Levels", [&] { return xelctl::levelsJson(slots, *readLevels_).dump(); });
    std::array<long, std::size(kChannels)> reading{};
    for (size_t i = 0; i < reading.size(); ++i) reading[i] = slots[i].vt == VT_I4 ? slots[i].lVal : 0;
    current_.levels = reading;
    publish();
}

void Owner::tryConnect() {
    try {
        session_->ensureQueried();
    } catch (const xelctl::Failure& f) {
        settings_.log(std::string("connect failed: ") + f.what());
        session_->dropLink();
        return;
    }
    if (everConnected_) ++current_.reconnects;
    everConnected_ = true;
    backoffStep_ = 0;
    refreshUnit();
    setState(LinkState::Connected);
    publish();
}

void Owner::commFailed() {
    ++current_.commFailures;
    setState(LinkState::Reconnecting);
    // The link is still open after CommFail: a Query on it restarts the monitor.
    std::vector<Variant> none;
    if (connected(*session_) && callByName(session_->core(), u"Query", none, nullptr) == S_OK &&
        waitSettled(*session_, kAckTimeoutMs) == 0) {
        ++current_.reconnects;
        refreshUnit();
        setState(LinkState::Connected);
        return;
    }
    session_->dropLink();
}

void Owner::run() {
    std::mt19937 random(std::random_device{}());
    ComPtr<xelctl::EventSink> sink;
    std::unique_ptr<xelctl::Subscription> subscription;
    try {
        session_ = std::make_unique<xelctl::Session>(settings_.address);
        IDispatch* core = session_->core();
        eventInfo_ = xelctl::describeSource(core, xel::DIID__IXelEvents);
        vu_ = session_->object("VU");
        for (const MemberInfo& m : session_->members("VU"))
            if (m.name == "ReadLevels") readLevels_ = &m;
        sink = xelctl::EventSink::create(xel::DIID__IXelEvents);
        sink->forwardTo([this](const xelctl::ReceivedEvent& e) { forward(e); });
        subscription = std::make_unique<xelctl::Subscription>(core, xel::DIID__IXelEvents, sink.get());
        (void)session_->status();
    } catch (const xelctl::Failure& f) {
        settings_.log(f.what());
        subscription.reset();
        sink.reset();
        session_.reset();
        std::lock_guard lock(startMutex_);
        startResult_ = 0;
        startCv_.notify_all();
        return;
    }
    {
        std::lock_guard lock(startMutex_);
        startResult_ = 1;
        startCv_.notify_all();
    }

    // The device watch: a serial adapter plugged in again is tried at once.
    udev* u = udev_new();
    udev_monitor* monitor = u ? udev_monitor_new_from_netlink(u, "udev") : nullptr;
    if (monitor && (udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0 ||
                    udev_monitor_enable_receiving(monitor) < 0)) {
        udev_monitor_unref(monitor);
        monitor = nullptr;
    }

    Clock::time_point nextTry = Clock::now();
    Clock::time_point nextLevels = Clock::now() + kLevelPeriod;
    auto scheduleRetry = [&] {
        double wait = kBackoff[std::min<size_t>(static_cast<size_t>(backoffStep_), std::size(kBackoff) - 1)];
        ++backoffStep_;
        wait *= std::uniform_real_distribution<double>(0.9, 1.1)(random);
        wait = std::min(wait, settings_.retryMaxSeconds);
        nextTry = Clock::now() + std::chrono::milliseconds(static_cast<long>(wait * 1000));
    };

    while (!stopping_) {
        const bool up = current_.state == LinkState::Connected;
        if (!up && Clock::now() >= nextTry) {
            tryConnect();
            if (stopping_) break;
            if (current_.state != LinkState::Connected) scheduleRetry();
            nextLevels = Clock::now() + kLevelPeriod;
            continue;
        }
        const auto until = up ? nextLevels : nextTry;
        const long waitMs =
            std::max<long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count() + 1);
        pollfd fds[3] = {
            {wakeFd_, POLLIN, 0}, {sink->fd(), POLLIN, 0}, {monitor ? udev_monitor_get_fd(monitor) : -1, POLLIN, 0}};
        (void)::poll(fds, 3, static_cast<int>(std::min<long>(waitMs, 1000)));
        if (fds[0].revents & POLLIN) {
            uint64_t drained;
            (void)!::read(wakeFd_, &drained, sizeof drained);
        }

        if (fds[2].revents & POLLIN) {
            if (udev_device* d = udev_monitor_receive_device(monitor)) {
                const char* action = udev_device_get_action(d);
                if (action && std::string(action) == "add" && current_.state != LinkState::Connected) {
                    settings_.log(std::string("device ") +
                                  (udev_device_get_devnode(d) ? udev_device_get_devnode(d) : "?") +
                                  " appeared: trying the link now");
                    nextTry = Clock::now();
                }
                udev_device_unref(d);
            }
        }
        if (deviceAdded_.exchange(false) && current_.state != LinkState::Connected) nextTry = Clock::now();
        if (reconnectAsked_.exchange(false)) {
            settings_.log("reconnect asked (SIGHUP)");
            session_->dropLink();
            setState(LinkState::Reconnecting);
            backoffStep_ = 0;
            nextTry = Clock::now();
        }

        // The events went out already (forward); here the owner reads the
        // switches they report and acts on a failed link.
        const std::vector<xelctl::ReceivedEvent> received =
            (fds[1].revents & POLLIN) ? sink->take() : std::vector<xelctl::ReceivedEvent>{};
        const bool changed =
            std::any_of(received.begin(), received.end(), [](const auto& e) { return e.id != xel::DISPID_CommFail; });
        if (changed && current_.state == LinkState::Connected) {
            refreshSwitches();
            publish();
        }
        for (const xelctl::ReceivedEvent& e : received) {
            if (e.id == xel::DISPID_CommFail) {
                settings_.log("the link failed (CommFail)");
                commFailed();
                if (current_.state != LinkState::Connected) {
                    backoffStep_ = 0;
                    scheduleRetry();
                }
            }
        }

        // A vector: an empty one costs no allocation on each pass of an idle loop.
        std::vector<std::shared_ptr<Job>> jobs;
        {
            std::lock_guard lock(jobsMutex_);
            jobs.swap(jobs_);
        }
        for (const auto& job : jobs) {
            {
                std::lock_guard lock(job->mutex);
                if (job->state == Job::Abandoned) continue;
                job->state = Job::Running;
            }
            Reply reply;
            try {
                reply = job->fn(*session_);
            } catch (const Reply& r) {
                reply = r;
            } catch (const std::exception& ex) {
                reply = Reply::error(502, ex.what());
            }
            {
                std::lock_guard lock(job->mutex);
                job->reply = std::move(reply);
                job->state = Job::Done;
            }
            job->cv.notify_all();
        }
        if (!jobs.empty()) publish();

        if (current_.state == LinkState::Connected && Clock::now() >= nextLevels) {
            readLevels();
            nextLevels += kLevelPeriod;
            if (nextLevels < Clock::now()) nextLevels = Clock::now() + kLevelPeriod;
        }
    }

    // Jobs that arrived while stopping are answered, never left waiting.
    {
        std::lock_guard lock(jobsMutex_);
        for (const auto& job : jobs_) {
            std::lock_guard jl(job->mutex);
            job->reply = Reply::error(503, "the server is stopping");
            job->state = Job::Done;
            job->cv.notify_all();
        }
        jobs_.clear();
    }
    session_->dropLink();
    setState(LinkState::Stopped);
    if (monitor) udev_monitor_unref(monitor);
    if (u) udev_unref(u);
    sink->forwardTo(nullptr);
    subscription.reset();
    sink.reset();
    session_.reset();
}

// --- requests --------------------------------------------------------------

Reply Owner::getMember(const std::string& name, const std::string& index) {
    return submit([=](xelctl::Session& s) {
        const Resolved r = resolve(s, name);
        const std::string full = r.object + "." + r.member->name;
        if (!r.member->hasGet) throw Reply::error(405, full + " is a method: POST /v1/calls/" + full);
        std::vector<Variant> args = indexArgs(r, index, full);
        if (!s.queried()) throw Reply::error(503, "the unit is not connected");
        Variant value;
        const HRESULT hr = xelctl::invoke(r.target, r.member->id, DISPATCH_PROPERTYGET, args, value.put());
        if (hr != S_OK) throw statusReply(hr, "get " + full);
        Reply reply;
        reply.body = {{"value", xelctl::valueJson(value)}};
        return reply;
    });
}

Reply Owner::putMember(const std::string& name, const std::string& index, const nlohmann::json& value) {
    return submit([=, this](xelctl::Session& s) {
        const Resolved r = resolve(s, name);
        const std::string full = r.object + "." + r.member->name;
        if (r.member->isMethod) throw Reply::error(405, full + " is a method: POST /v1/calls/" + full);
        if (!r.member->hasPut) throw Reply::error(405, full + " cannot be changed");
        std::vector<Variant> args = indexArgs(r, index, full);
        std::vector<Variant> get = indexArgs(r, index, full);
        args.push_back(fromJson(value, r.member->valueType, full));
        if (current_.state != LinkState::Connected || !s.queried())
            throw Reply::error(503, "the unit is not connected");
        HRESULT hr = xelctl::invoke(r.target, r.member->id, DISPATCH_PROPERTYPUT, args, nullptr);
        if (hr != S_OK) throw statusReply(hr, "set " + full);
        if (auto refused = acknowledge(s, "set " + full)) throw *refused;
        Variant back;
        hr = xelctl::invoke(r.target, r.member->id, DISPATCH_PROPERTYGET, get, back.put());
        if (hr != S_OK) throw statusReply(hr, "get " + full);
        settings_.log("set " + full + (index.empty() ? "" : "[" + index + "]") + " = " + xelctl::valueText(back));
        refreshUnit();
        Reply reply;
        reply.body = {{"value", xelctl::valueJson(back)}};
        return reply;
    });
}

Reply Owner::callMember(const std::string& name, const nlohmann::json& given) {
    return submit([=, this](xelctl::Session& s) {
        const Resolved r = resolve(s, name);
        const std::string full = r.object + "." + r.member->name;
        if (!r.member->isMethod) throw Reply::error(405, full + " is a property: GET or PUT /v1/members/" + full);
        const auto& params = r.member->params;
        size_t inputs = 0;
        for (const auto& p : params) inputs += p.out ? 0 : 1;
        if (given.size() != inputs)
            throw Reply::error(400, full + " takes " + std::to_string(inputs) + " argument" + (inputs == 1 ? "" : "s"));
        std::vector<Variant> slots(params.size());
        std::vector<Variant> args;
        size_t next = 0;
        for (size_t i = 0; i < params.size(); ++i) {
            if (params[i].out)
                args.push_back(Variant::refTo(&slots[i]));
            else
                args.push_back(fromJson(given[next++], params[i].vt, "the " + params[i].name + " of " + full));
        }
        if (current_.state != LinkState::Connected || !s.queried())
            throw Reply::error(503, "the unit is not connected");
        Variant result;
        const HRESULT hr = xelctl::invoke(r.target, r.member->id, DISPATCH_METHOD, args, result.put());
        if (hr != S_OK) throw statusReply(hr, "call " + full);
        // SetIP resets the unit, which never answers it: the link drop that
        // follows is the expected end, and the reconnect policy takes over.
        if (r.member->name != "SetIP" && connected(s))
            if (auto refused = acknowledge(s, "call " + full)) throw *refused;
        settings_.log("call " + full);
        Reply reply;
        reply.body["result"] =
            r.member->resultType == VT_VOID ? nlohmann::ordered_json(nullptr) : xelctl::valueJson(result);
        reply.body["out"] = nlohmann::ordered_json::array();
        // The names beside the values, so a client prints what direct use prints.
        reply.body["out_names"] = nlohmann::ordered_json::array();
        reply.body["name"] = full;
        for (size_t i = 0; i < params.size(); ++i) {
            if (!params[i].out) continue;
            reply.body["out"].push_back(xelctl::valueJson(slots[i]));
            reply.body["out_names"].push_back(params[i].name);
        }
        return reply;
    });
}

namespace {

// A private file in the state folder for the core's Save and Load.
struct TempFile {
    std::string path;
    TempFile() {
        path = xel::registry::userStateDir().string() + "/xeld-config-XXXXXX";
        const int fd = ::mkstemp(path.data());
        if (fd < 0) throw Reply::error(500, "cannot make a temporary file in the state folder");
        ::close(fd);
    }
    ~TempFile() { ::unlink(path.c_str()); }
};

}  // namespace

Reply Owner::getConfig() {
    return submit([this](xelctl::Session& s) {
        if (current_.state != LinkState::Connected || !s.queried())
            throw Reply::error(503, "the unit is not connected");
        TempFile file;
        std::vector<Variant> args;
        args.emplace_back(Bstr::fromUtf8(file.path));
        const HRESULT hr = callByName(s.core(), u"Save", args, nullptr);
        if (hr != S_OK) throw statusReply(hr, "save");
        std::ifstream in(file.path, std::ios::binary);
        Reply reply;
        reply.binary = true;
        reply.bytes.assign(std::istreambuf_iterator<char>(in), {});
        return reply;
    });
}

Reply Owner::putConfig(const std::string& bytes) {
    if (bytes.size() != kConfigSize)
        return Reply::error(400, "a configuration file has exactly 352 bytes, not " + std::to_string(bytes.size()));
    return submit([=, this](xelctl::Session& s) {
        if (current_.state != LinkState::Connected || !s.queried())
            throw Reply::error(503, "the unit is not connected");
        TempFile file;
        {
            std::ofstream out(file.path, std::ios::binary | std::ios::trunc);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        std::vector<Variant> args;
        args.emplace_back(Bstr::fromUtf8(file.path));
        const HRESULT hr = callByName(s.core(), u"Load", args, nullptr);
        if (hr == 110) throw Reply::error(400, "not a valid configuration file; nothing was written to the unit");
        if (hr != S_OK) throw statusReply(hr, "load");
        if (auto refused = acknowledge(s, "load")) throw *refused;
        settings_.log("configuration file loaded");
        refreshUnit();
        Reply reply;
        reply.body = {{"loaded", true}};
        return reply;
    });
}

}  // namespace xeld
