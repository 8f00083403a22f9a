// The one thread that owns the core: it creates the objects by ProgID, keeps
// the link (connect, Query, reconnect with back-off), reads the levels every
// 200 ms, forwards the core's events to the hub and runs the requests the HTTP
// threads hand it. Everything the fast routes need is in a snapshot it
// publishes, so they never wait for it.
//
// Thread contract: snapshot(), submit(), reconnect() and stop() may be called
// from any thread; every call into the core happens on the owner thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "tools/xeld/Hub.h"

namespace xelctl {
class Session;
}

namespace xeld {

enum class LinkState { Connecting, Connected, Reconnecting, Stopped };
const char* stateName(LinkState s);

struct Snapshot {
    LinkState state = LinkState::Connecting;
    std::string since;  // RFC 3339 UTC
    long reconnects = 0;
    long commFailures = 0;
    // xelctl query --json, or null; shared, since it changes far less often than
    // the levels and every reading publishes a new snapshot.
    std::shared_ptr<const nlohmann::ordered_json> unit;
    nlohmann::ordered_json levels;  // the latest reading, or null
    std::map<std::string, long> events;

    const nlohmann::ordered_json& unitJson() const {
        static const nlohmann::ordered_json none;
        return unit ? *unit : none;
    }
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
    void readLevels();
    void publish();

    Settings settings_;
    Hub& hub_;
    std::unique_ptr<xelctl::Session> session_;
    std::thread thread_;
    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> reconnectAsked_{false};
    std::atomic<bool> deviceAdded_{false};

    std::mutex jobsMutex_;
    std::deque<std::shared_ptr<Job>> jobs_;

    mutable std::mutex snapMutex_;
    std::shared_ptr<const Snapshot> published_;
    Snapshot current_;  // owner thread only

    std::mutex startMutex_;
    std::condition_variable startCv_;
    int startResult_ = -1;  // -1 pending, 0 failed, 1 running
    bool everConnected_ = false;
    int backoffStep_ = 0;
};

}  // namespace xeld
