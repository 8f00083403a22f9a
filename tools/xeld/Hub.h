// The event streams: one bounded queue per client. The core's events are
// published from its monitor thread, the levels and link states from the owner
// thread, into every queue without ever waiting; a client whose queue is full
// is dropped, so a reader that stalls never slows the monitor or the others.
// The hub also counts every event it was given, streams open or not.
//
// Thread contract: publish() and counts() run on any thread; open(), next()
// and close() on the HTTP thread serving that stream; shutdown() on any thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace xeld {

class Hub {
public:
    struct Client;

    Hub(size_t maxClients, size_t queueLimit) : maxClients_(maxClients), queueLimit_(queueLimit) {}

    // A new stream, or nullptr when maxClients are open already (or shutting down).
    std::shared_ptr<Client> open();
    void close(const std::shared_ptr<Client>& client);
    // One "event:/data:" frame to every client. `json` is made only when a
    // stream is open: an idle server builds no frames.
    void publish(const std::string& name, const std::function<std::string()>& json);
    void publish(const std::string& name, const std::string& json) {
        publish(name, [&json] { return json; });
    }
    // How many events of each name were published.
    std::map<std::string, long> counts() const;
    // The next frame for `client`; nullopt after waitMs without one; throws
    // nothing: `ended` is set when the client was dropped or the hub shut down.
    std::optional<std::string> next(Client& client, int waitMs, bool& ended);
    size_t clients() const;
    void shutdown();

private:
    const size_t maxClients_;
    const size_t queueLimit_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Client>> clients_;
    std::map<std::string, long> counts_;
    bool down_ = false;
};

struct Hub::Client {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::string> queue;
    bool ended = false;
};

}  // namespace xeld
