// Bare round trips of the unit's bytes: the floor an exchange through the link
// driver and the connection should approach. A peer thread plays the unit with
// nothing in between: it waits for the whole frame and sends the reply back,
// in pieces when asked; the client side times write-to-last-byte.
//
// Thread contract: one EchoLink is used from one thread; roundTrips() runs the
// peer on a thread of its own for the duration of the call.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace xelbench {

// One exchange as the bare peer plays it. Piece i leaves `gap * i` after the
// whole frame has arrived (as xelsim schedules the pieces of a split reply).
struct EchoScript {
    std::string frame;
    std::vector<std::string> pieces;
    std::chrono::microseconds gap{0};
};

// A reply cut into `count` pieces the way xelsim's split fault cuts it (the
// prompt travels with the last piece); fewer pieces for a shorter reply.
std::vector<std::string> splitReply(const std::string& reply, size_t count);

class EchoLink {
public:
    virtual ~EchoLink();
    EchoLink(const EchoLink&) = delete;
    EchoLink& operator=(const EchoLink&) = delete;

    // TCP over the loopback interface, Nagle off at both ends as the driver has it.
    static std::unique_ptr<EchoLink> tcp();
    // A pseudo-terminal in raw mode: the client holds the terminal, the peer the master.
    static std::unique_ptr<EchoLink> pty();

    // The round trip of each of `rounds` exchanges, in milliseconds. Both sides
    // check the bytes they get. Throws std::runtime_error when the line fails,
    // stalls or changes the bytes.
    std::vector<double> roundTrips(const EchoScript& script, int rounds);

protected:
    EchoLink(int client, int peer) : client_(client), peer_(peer) {}

private:
    int client_;
    int peer_;
};

}  // namespace xelbench
