// One small interface per transport, chosen once when a channel opens: the I/O
// loop calls these and never branches on the kind of link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "linkdriver/xelcomm.h"

namespace xel::link {

// What one transfer did: bytes moved, and the driver's error code (0, 3, 5 or 6).
struct [[nodiscard]] IoResult {
    size_t count = 0;
    uint32_t error = XELCOMM_ERROR_NONE;
};

class Transport {
public:
    virtual ~Transport() = default;  // closes the device; runs after the I/O thread ended

    // On the I/O thread, before it reports ready / as it leaves. The USB bridge is
    // open exactly between the two.
    virtual void attach() {}
    virtual void detach() {}

    // A descriptor that polls readable when the unit has sent something, or -1.
    virtual int readableFd() const { return -1; }
    // True when the device has no such descriptor but can be asked again cheaply:
    // the loop then re-checks it every millisecond while a read is pending.
    virtual bool recheckWhileReading() const { return false; }

    // Takes what has arrived, without waiting. Nothing arrived is count 0, error 0.
    virtual IoResult receive(uint8_t* buffer, size_t capacity) = 0;
    // Sends all bytes, waiting at most the device write limit; gives up early when
    // `stopFd` is signalled.
    virtual IoResult send(const uint8_t* bytes, size_t count, int stopFd) = 0;
    // What a send adds to the bytes sent. Serial and USB count a send that went
    // through, nothing of one that failed or stopped short.
    virtual size_t countedAsSent(const IoResult& sent) const {
        return sent.error == XELCOMM_ERROR_NONE ? sent.count : 0;
    }
};

// The transports. Each returns the open transport, or null with `error` set to 2 or 4.
std::unique_ptr<Transport> openSerial(const CommSettings& settings, uint32_t& error);
std::unique_ptr<Transport> openTcp(const CommSettings& settings, uint32_t& error);
std::unique_ptr<Transport> openUsb(const CommSettings& settings, uint32_t& error);

// The transport a port selects: "TCP/IP" and "USB" in any case, else serial.
using OpenTransport = std::unique_ptr<Transport> (*)(const CommSettings&, uint32_t& error);
OpenTransport transportFor(const char* port, size_t portSize);

// Sends all bytes through a non-blocking descriptor within the device write limit,
// giving way to `stopFd`. `sendSome` is write(2) or send(2); `mapError` turns the
// errno of a failed call into the driver's code. A write the line does not take in
// time, or one cut short by `stopFd`, is error 3.
IoResult sendWithin(int fd, const uint8_t* bytes, size_t count, int stopFd,
                    long (*sendSome)(int fd, const uint8_t* bytes, size_t count), uint32_t (*mapError)(int err));

}  // namespace xel::link
