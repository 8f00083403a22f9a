/* libxelcomm: moves raw bytes between the core and one unit over a serial port,
 * a TCP connection (port 10001) or the unit's USB bridge.
 *
 * A channel is opened with OpenComm and freed with CloseComm. Each open channel
 * has its own I/O thread, the only thread that touches the device. The caller
 * hands bytes to it through the command pipe and takes bytes from it through the
 * reply pipe: two pipes the caller creates, owns and closes (O_NONBLOCK and
 * O_CLOEXEC recommended); the driver never creates or closes a pipe.
 *
 * Every entry point sets *error to 0 on entry and reports a code through it:
 *   0  no error
 *   1  the channel handle is null (ReadCommBuf, WriteCommBuf, GetCommStats)
 *   2  OpenComm: the serial device does not open, or the socket or the channel's
 *      thread cannot be created
 *   3  I/O thread: bytes for the unit were not sent
 *   4  OpenComm: the host does not resolve, or the TCP connect failed
 *   5  I/O thread: a TCP send failed because the peer reset the connection
 *   6  I/O thread: bytes from the unit were not received
 *   other: the system error of a failed wait; the I/O thread has then ended
 * Errors of the I/O thread reach whichever ReadCommBuf or WriteCommBuf is in
 * progress when the thread records them; both calls clear the value on entry.
 *
 * Thread contract: calls for one channel come from one thread at a time (any
 * thread, but not two at once); CloseComm must not overlap another call on the
 * same channel. Different channels are independent and may be used from
 * different threads at the same time. The caller keeps the pipes open for as
 * long as the channel is open, and gives each channel its own pair.
 */
#ifndef XELOR_LINKDRIVER_XELCOMM_H
#define XELOR_LINKDRIVER_XELCOMM_H

#include <stdint.h>

/* Installed as <xelor/xelcomm.h> for programs of other makers, so it includes
 * nothing of ours; the same definition as the suite's own export marker. */
#ifndef XEL_EXPORT
#define XEL_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define XELCOMM_ERROR_NONE 0u
#define XELCOMM_ERROR_NULL_CHANNEL 1u
#define XELCOMM_ERROR_OPEN 2u
#define XELCOMM_ERROR_SEND 3u
#define XELCOMM_ERROR_CONNECT 4u
#define XELCOMM_ERROR_RESET 5u
#define XELCOMM_ERROR_RECEIVE 6u

/* port: "TCP/IP" or "USB" (any case) select those transports; anything else names
 * a serial device (see README.md for how names resolve). parity: 0 none, 1 odd,
 * 2 even, 3 mark, 4 space. stopBits: 0 one, 1 one and a half, 2 two. host: TCP
 * only, a dotted IPv4 address or a host name. Text fields need not end in NUL
 * when they are full. */
typedef struct CommSettings {
    char port[10];
    uint32_t baudRate;
    uint8_t dataBits;
    uint8_t parity;
    uint8_t stopBits;
    char host[64];
} CommSettings;
/* Bytes received from the unit, 0, bytes sent to the unit, 0. Counters wrap at 2^32. */
typedef struct CommStats {
    uint32_t bytesReceived, reserved1, bytesSent, reserved2;
} CommStats;
typedef struct CommChannel CommChannel; /* opaque */

/* A new channel whose I/O thread is running, or null with error 2 or 4. A TCP open
 * returns no sooner than the 3000 ms settle after the connect. A USB open reports
 * no error even without a bridge: that channel's writes then fail (error 3). */
XEL_EXPORT CommChannel* OpenComm(CommSettings settings, int commandPipeRead, int replyPipeWrite, uint32_t* error);
/* Stops the I/O thread, closes the device and frees the channel; takes at least
 * 1000 ms. A null channel does nothing. The error is always 0. */
XEL_EXPORT void CloseComm(CommChannel* channel, uint32_t* error);
/* Puts the bytes into the command pipe and asks the I/O thread to send them;
 * returns the number put into the pipe without waiting for them to reach the unit. */
XEL_EXPORT uint32_t WriteCommBuf(CommChannel* channel, int commandPipeWrite, const void* bytes, uint32_t count,
                                 uint32_t* error);
/* Asks the I/O thread for what the unit has sent and returns what arrives within
 * about 200 ms, as soon as the first bytes arrive; 0 when none came. */
XEL_EXPORT uint32_t ReadCommBuf(CommChannel* channel, int replyPipeRead, void* buffer, uint32_t capacity,
                                uint32_t* error);
/* Copies the counters; a null channel leaves *stats untouched. */
XEL_EXPORT void GetCommStats(CommChannel* channel, CommStats* stats, uint32_t* error);

#ifdef __cplusplus
}
#endif

#endif /* XELOR_LINKDRIVER_XELCOMM_H */
