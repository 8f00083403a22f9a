// A bare host for xelsim's own tests: frames commands and collects replies up to the
// prompt over a real TCP socket or a real pseudo-terminal. Deliberately tiny and
// separate from the product's connection code.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace xelsimtest {

using Clock = std::chrono::steady_clock;

class WireHost {
public:
    static std::unique_ptr<WireHost> tcp(const std::string& address, int port);
    static std::unique_ptr<WireHost> serial(const std::string& path);
    ~WireHost();

    // text, "\r", then the sum of the text's bytes modulo 256.
    static std::string frame(const std::string& text);

    void send(const std::string& bytes);
    // Sends the framed command and returns the reply up to ">" ("" when none completes).
    std::string command(const std::string& text, int timeoutMs = 2000);
    // Bytes up to and including the first ">", or what arrived before the time-out.
    std::string readReply(int timeoutMs = 2000);
    // Bytes up to and including the first `end`, or what arrived before the time-out.
    std::string readUntil(const std::string& end, int timeoutMs = 2000);
    // Everything that arrives within `ms`.
    std::string readFor(int ms);

    struct Chunk {
        Clock::time_point at;
        std::string bytes;
    };
    // Each read as it arrives, until a chunk ends in ">" or the time-out.
    std::vector<Chunk> readChunks(int timeoutMs);

    // True when the peer closed or hung up the link within `timeoutMs` (data before the
    // close is discarded).
    bool waitClosed(int timeoutMs);

private:
    explicit WireHost(int fd, bool socket) : fd_(fd), socket_(socket) {}
    // One read with a time-out: bytes, "" on time-out; sets closed_ on EOF or error.
    std::string readOnce(int timeoutMs);

    int fd_;
    bool socket_;
    bool closed_ = false;
    std::string pending_;
};

}  // namespace xelsimtest
