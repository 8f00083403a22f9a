// xelsim's one thread: polls the link, standard input (the front panel), the signals
// that stop it and the clock (script lines, delayed and paced output). Everything the
// unit does happens here, so the model needs no locks.
#pragma once

#include "tools/xelsim/FrontPanel.h"
#include "tools/xelsim/JsonLog.h"
#include "tools/xelsim/SessionHandler.h"
#include "tools/xelsim/Transport.h"

#include <chrono>
#include <deque>
#include <string>
#include <vector>

namespace xelsim {

class EventLoop final : public Outbox {
public:
    using Clock = std::chrono::steady_clock;

    // `baud` 0 sends as fast as the link takes bytes.
    EventLoop(Transport& transport, SessionHandler& handler, FrontPanel& panel, JsonLog& log, int baud,
              std::vector<ScriptLine> script);
    ~EventLoop() override;

    // Runs until SIGINT, SIGTERM or "quit". SIGINT and SIGTERM must be blocked in the
    // calling thread (they are taken through a signalfd). Returns the exit status.
    int run();

    void send(std::string bytes, std::chrono::milliseconds after) override;
    void end(LinkEnd how) override;

private:
    struct Pending {
        bool isEnd = false;
        LinkEnd how = LinkEnd::Drop;
        std::string bytes;
        std::size_t offset = 0;
        Clock::time_point notBefore;
    };

    void readLink();
    void readStdin();
    void runPanel(const std::string& line, bool fromScript);
    // Sends what is due; returns the time of the next thing to do, or max() for none.
    Clock::time_point pump();
    void finishEnd(LinkEnd how);
    void startSession(const std::string& peer);

    Transport& transport_;
    SessionHandler& handler_;
    FrontPanel& panel_;
    JsonLog& log_;
    std::chrono::nanoseconds byteTime_{0};
    std::vector<ScriptLine> script_;
    std::size_t nextScript_ = 0;
    Clock::time_point start_;

    std::deque<Pending> queue_;
    std::size_t queuedBytes_ = 0;
    Clock::time_point lastDue_;
    Clock::time_point nextByteAt_;
    bool blocked_ = false;  // the link took no more bytes; wait for it to drain
    bool ending_ = false;   // a session end is queued; the host's bytes are discarded
    bool quit_ = false;

    int signalFd_ = -1;
    bool stdinOpen_ = true;
    std::string stdinBuf_;
};

}  // namespace xelsim
