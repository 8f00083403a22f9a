#include "tools/xeld/Hub.h"

#include <algorithm>
#include <chrono>

namespace xeld {

std::shared_ptr<Hub::Client> Hub::open() {
    std::lock_guard lock(mutex_);
    if (down_ || clients_.size() >= maxClients_) return nullptr;
    clients_.push_back(std::make_shared<Client>());
    return clients_.back();
}

void Hub::close(const std::shared_ptr<Client>& client) {
    std::lock_guard lock(mutex_);
    clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

void Hub::publish(const std::string& name, const std::function<std::string()>& json) {
    {
        std::lock_guard lock(mutex_);
        ++counts_[name];
        if (clients_.empty()) return;
    }
    // Made outside the lock, so a level frame never holds up an event's.
    const std::string frame = "event: " + name + "\ndata: " + json() + "\n\n";
    std::lock_guard lock(mutex_);
    for (auto it = clients_.begin(); it != clients_.end();) {
        Client& c = **it;
        bool drop = false;
        {
            std::lock_guard clientLock(c.mutex);
            if (c.queue.size() >= queueLimit_) {
                c.ended = true;
                c.queue.clear();
                drop = true;
            } else {
                c.queue.push_back(frame);
            }
        }
        c.cv.notify_one();
        it = drop ? clients_.erase(it) : it + 1;
    }
}

std::optional<std::string> Hub::next(Client& client, int waitMs, bool& ended) {
    std::unique_lock lock(client.mutex);
    client.cv.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return client.ended || !client.queue.empty(); });
    ended = client.ended;
    if (ended || client.queue.empty()) return std::nullopt;
    std::string frame = std::move(client.queue.front());
    client.queue.pop_front();
    return frame;
}

std::map<std::string, long> Hub::counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

size_t Hub::clients() const {
    std::lock_guard lock(mutex_);
    return clients_.size();
}

void Hub::shutdown() {
    std::lock_guard lock(mutex_);
    down_ = true;
    for (const auto& c : clients_) {
        {
            std::lock_guard clientLock(c->mutex);
            c->ended = true;
        }
        c->cv.notify_all();
    }
    clients_.clear();
}

}  // namespace xeld
