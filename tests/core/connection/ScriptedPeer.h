// A unit that plays back scripted bytes: a TCP listener on the unit's port of a
// leased loopback address, which splits what a host sends into frames (text up
// to "\r" plus the checksum byte) and answers each with the pieces its script
// returns, each after its own pause. Records every byte it received.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Loopback.h"

namespace xeltest {

struct Piece {
    std::string bytes;
    int delayMs = 0;  // before this piece is sent
};
using Script = std::function<std::vector<Piece>(const std::string& command)>;

// Answers "\r\n>" to everything (the handshake included).
std::vector<Piece> emptyReply(const std::string& command);

class ScriptedPeer {
public:
    explicit ScriptedPeer(Script script = emptyReply);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    const std::string& address() const { return lease_.address(); }
    void setScript(Script script);

    // Everything received so far on every connection, and the frames' texts
    // (without "\r"; the checksum byte is checked and counted in badChecksums()).
    std::string received() const;
    std::vector<std::string> commands() const;
    int badChecksums() const;
    void clear();
    // Waits until `count` commands have arrived; false after the timeout.
    bool waitForCommands(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    // Sends bytes unasked on the current connection.
    void sendNow(const std::string& bytes);

private:
    void run();
    void serve(int fd);

    LoopbackLease lease_;
    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Script script_;
    std::string received_;
    std::vector<std::string> commands_;
    int badChecksums_ = 0;
    int clientFd_ = -1;
    std::thread thread_;
};

}  // namespace xeltest
