// The seam between the transports and what the unit says. The event loop owns the
// link (a TCP host or a pseudo-terminal) and hands every byte from the host to one
// SessionHandler; the handler answers through an Outbox, which delivers in order,
// no earlier than asked and no faster than the line's baud rate.
//
// The unit's command protocol is one handler (UnitHandler). The device side of the
// bootloader is meant to be another: a class implementing SessionHandler, chosen in
// main.cpp by a "--bootloader" option, with nothing in the event loop or the
// transports to change.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace xelsim {

// What becomes of the link when a handler ends a session.
enum class LinkEnd {
    Reset,  // the unit restarts: a TCP host is disconnected, a serial line stays
    Drop,   // the link is cut: a TCP host is disconnected, a pseudo-terminal is hung up
    Abort,  // as Drop, but a TCP host's connection is reset (RST) instead of closed
};

class Outbox {
public:
    virtual ~Outbox() = default;
    // Queues bytes for the host, to leave no earlier than `after` from now and never
    // before what was queued earlier.
    virtual void send(std::string bytes, std::chrono::milliseconds after = std::chrono::milliseconds{0}) = 0;
    // Ends the session once everything queued before has left. Bytes the host sends
    // after this are discarded.
    virtual void end(LinkEnd how) = 0;
};

class SessionHandler {
public:
    virtual ~SessionHandler() = default;
    // A host connected (TCP) or the line came up (pseudo-terminal). `peer` names it.
    virtual void sessionStarted(const std::string& peer) = 0;
    // The host went away or the loop ended the session.
    virtual void sessionEnded(const std::string& why) = 0;
    virtual void received(std::span<const std::uint8_t> bytes, Outbox& out) = 0;
};

}  // namespace xelsim
