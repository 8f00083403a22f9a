// The one thread that owns the core: it creates the objects by ProgID, keeps
// the link (connect, Query, reconnect with back-off), reads the levels every
// 200 ms and runs the requests the HTTP threads hand it. Everything the fast
// routes need is in a snapshot it publishes, so they never wait for it.
//
// The core's events go out from its monitor thread as they are raised, not
// through the owner: the switch an event reports is written into the
// published snapshot first, so a client reacting to the event reads the new
// state. The owner re-reads the switches afterwards and keeps any event's
// value it has not read yet, so its own snapshots never step back.
//
// Thread contract: snapshot(), submit(), reconnect() and stop() may be called
// from any thread; every call into the core happens on the owner thread;
// forward() runs on the core's monitor thread and touches only the snapshot
// and the hub.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/xelctl/Late.h"
#include "tools/xeld/Hub.h"

namespace xelctl {
class Session;
struct ReceivedEvent;
}  // namespace xelctl

namespace xeld {

enum class LinkState { Connecting, Connected, Reconnecting, Stopped };
const char* stateName(LinkState s);

// The meters, in the order of a reading and of its JSON object.
inline constexpr const char* kChannels[] = {"Left",         "Right",         "Center", "Sub",
                                            "LeftSurround", "RightSurround", "LeftEx", "RightEx"};

struct Snapshot {
    LinkState state = LinkState::Connecting;
    std::string since;  // RFC 3339 UTC
    long reconnects = 0;
    long commFailures = 0;
    // xelctl query --json, or null; shared, since it changes far less often than
    // the levels and every reading publishes a new snapshot.
    std::shared_ptr<const nlohmann::ordered_json> unit;
    // The latest reading (raw 0-4095), kept as numbers: an idle server makes
    // five a second and needs their text only when asked.
    std::optional<std::array<long, std::size(kChannels)>> levels;

    const nlohmann::ordered_json& unitJson() const {
        static const nlohmann::ordered_json none;
        return unit ? *unit : none;
    }
    // {"Left":...,...,"RightEx":...}, or null before the first reading.
    nlohmann::ordered_json levelsJson() const;
};

// An answer to an HTTP request, made on the owner thread.
struct Reply {
    int status = 200;
    nlohmann::ordered_json body;  // sent as JSON unless `bytes` is set
    std::string bytes;            // application/octet-stream
    bool binary = false;
    static Reply error(int status, std::string message) {
        Reply r;
        r.status = status;
        r.body = {{"error", std::move(message)}};
        return r;
    }
};

class Owner {
public:
    struct Settings {
        std::string address;
        double retryMaxSeconds = 30;
        std::function<void(const std::string&)> log;
    };
    Owner(Settings settings, Hub& hub);
    ~Owner();
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;

    // False (with the reason logged) when the core cannot be created.
    bool start();
    std::shared_ptr<const Snapshot> snapshot() const;
    // Runs `job` on the owner thread with its session. 503 when the owner does
    // not take it up within 2 s; the job bounds its own work.
    Reply submit(std::function<Reply(xelctl::Session&)> job);
    // Drops the link and connects again at once (SIGHUP).
    void reconnect();
    // A serial device appeared: try at once if the link is down.
    void deviceAdded();
    // Disconnects cleanly and ends the thread.
    void stop();

    // Requests, each run on the owner thread.
    Reply getMember(const std::string& name, const std::string& index);
    Reply putMember(const std::string& name, const std::string& index, const nlohmann::json& value);
    Reply callMember(const std::string& name, const nlohmann::json& args);
    Reply getConfig();
    Reply putConfig(const std::string& bytes);

private:
    struct Job;
    void run();
    void wake();
    void tryConnect();
    void commFailed();
    void setState(LinkState s);
    void refreshUnit();
    void refreshSwitches();
    uint64_t eventsSoFar() const;
    void readLevels();
    void publish();
    void publishLocked(std::shared_ptr<Snapshot> snap);
    void forward(const xelctl::ReceivedEvent& e);

    Settings settings_;
    Hub& hub_;
    std::unique_ptr<xelctl::Session> session_;
    std::thread thread_;
    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> reconnectAsked_{false};
    std::atomic<bool> deviceAdded_{false};

    std::mutex jobsMutex_;
    std::vector<std::shared_ptr<Job>> jobs_;

    // Set before the events are subscribed to, read-only after.
    std::vector<xelctl::MemberInfo> eventInfo_;
    IDispatch* vu_ = nullptr;
    const xelctl::MemberInfo* readLevels_ = nullptr;

    mutable std::mutex snapMutex_;
    std::shared_ptr<const Snapshot> published_;
    // Switches reported by events (unit key -> value), each with the number of
    // the event; kept on top of the owner's snapshots until the owner has read
    // the switches after that event.
    struct Reported {
        nlohmann::ordered_json value;
        uint64_t event = 0;
    };
    std::map<std::string, Reported> reported_;
    uint64_t eventCount_ = 0;
    Snapshot current_;        // owner thread only
    uint64_t readAfter_ = 0;  // owner thread only: the events current_.unit's switches include

    std::mutex startMutex_;
    std::condition_variable startCv_;
    int startResult_ = -1;  // -1 pending, 0 failed, 1 running
    bool everConnected_ = false;
    int backoffStep_ = 0;
};

}  // namespace xeld
