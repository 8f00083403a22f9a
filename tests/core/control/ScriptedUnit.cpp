#include "tests/core/control/ScriptedUnit.h"

#include <algorithm>
#include <sstream>
#include <thread>

namespace xeltest {

ScriptedUnit::ScriptedUnit() : replies_(std::make_shared<Replies>()) {
    auto replies = replies_;
    peer_.setScript([replies](const std::string& command) { return answer(*replies, command); });
}

void ScriptedUnit::setReply(const std::string& keyword, std::string reply, int delayMs) {
    std::lock_guard lock(replies_->mutex);
    replies_->byKeyword[keyword] = Reply{std::move(reply), delayMs};
}

std::vector<Piece> ScriptedUnit::answer(Replies& replies, const std::string& command) {
    std::istringstream words(command);
    std::string keyword;
    words >> keyword;
    {
        std::lock_guard lock(replies.mutex);
        auto it = replies.byKeyword.find(command);
        if (it == replies.byKeyword.end()) it = replies.byKeyword.find(keyword);
        if (it != replies.byKeyword.end()) {
            if (it->second.bytes.empty()) return {};
            return {{it->second.bytes, it->second.delayMs}};
        }
    }
    if (keyword == "rdeep") {
        // "rdeep N A": N + 1 bytes, all zero.
        unsigned n = 0;
        words >> std::hex >> n;
        std::string out;
        for (unsigned i = 0; i <= n; ++i) out += i ? "\t0" : "0";
        return {{out + "\r\n>", 0}};
    }
    if (keyword == "picver" ||
        ((keyword == "mute" || keyword == "button" || keyword == "pin" || keyword == "digitalenable") &&
         command == keyword))
        return {{"1\r\n>", 0}};
    if (keyword == "vu" && command == keyword) return {{"0\t0\t0\t0\r\n>", 0}};
    return {{"\r\n>", 0}};
}

int ScriptedUnit::commandCount(const std::string& command) const {
    const auto all = peer_.commands();
    return static_cast<int>(std::count(all.begin(), all.end(), command));
}

bool ScriptedUnit::waitForCommandCount(const std::string& command, int count, std::chrono::milliseconds timeout) const {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (commandCount(command) < count) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace xeltest
