// The links a host reaches the unit by. The event loop polls the descriptors a
// transport exposes and calls it to accept a host, move bytes and end a session; it
// never branches on which transport it has.
#pragma once

#include "tools/xelsim/SessionHandler.h"

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace xelsim {

class Transport {
public:
    virtual ~Transport() = default;

    // The line xelsim prints on stdout once the link is ready.
    virtual std::string readyLine() const = 0;
    // A descriptor to watch for new hosts, or -1.
    virtual int listenFd() const { return -1; }
    // The current host's descriptor, or -1 while nobody is connected.
    virtual int linkFd() const = 0;
    // Called when listenFd() is readable. Returns the new host's name when a session
    // starts; a host arriving while another is served is turned away.
    virtual std::optional<std::string> accept() { return std::nullopt; }
    // A session that exists from the start (a serial line), or nullopt.
    virtual std::optional<std::string> initialSession() { return std::nullopt; }

    // Non-blocking I/O on linkFd(). read: bytes, 0 when the host hung up, -1 with errno.
    virtual ssize_t read(std::uint8_t* buf, std::size_t size) = 0;
    virtual ssize_t write(const std::uint8_t* buf, std::size_t size) = 0;

    // Ends the current session. Returns the name of a session that starts at once on
    // the same link (a serial line stays up), or nullopt.
    virtual std::optional<std::string> end(LinkEnd how) = 0;
    // The host hung up by itself (read returned 0 or failed).
    virtual std::optional<std::string> hungUp() = 0;
};

// Listens on ADDR:PORT (IPv4), one host at a time. Throws std::runtime_error.
std::unique_ptr<Transport> makeTcpTransport(const std::string& address, int port);
// Creates a pseudo-terminal in raw mode with `link` as a symlink to its slave side.
std::unique_ptr<Transport> makePtyTransport(const std::string& link, int baud);

}  // namespace xelsim
