/* The bootloader library: a channel to the unit's microcontroller bootloader
 * over a serial port, for the firmware download.
 *
 * Four calls, kept small so that another implementation can take their place:
 * open a channel, send a packet, write a block (verified by reading it back),
 * close. The wire format behind them is described in README.md beside this file.
 *
 * Thread contract: calls on different handles may run at the same time; calls
 * on one handle are serialised by the library (the download uses a handle from
 * one thread only). PicBootClose while another thread is inside a call on the
 * same handle waits for that call to end.
 */
#ifndef XELOR_PLATFORM_PICBOOT_H
#define XELOR_PLATFORM_PICBOOT_H

#include <stdint.h>

#include "platform/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What the block-write call is handed: 12 bytes, little-endian. */
typedef struct BootBlockRequest {
    uint8_t command;   /* device command: 2 program memory, 5 data EEPROM */
    uint8_t count;     /* data bytes that follow (1 to PICBOOT_MAX_BLOCK) */
    uint16_t zero;     /* must be 0 */
    uint32_t address;  /* 24 bits used */
    uint8_t unitSize;  /* write granularity: address and count are multiples of it (8 or 1) */
    uint8_t revision;  /* layout of this request: must be 1 */
    uint16_t attempts; /* sends of the block when its reply is lost or garbled (0 counts as 1) */
} BootBlockRequest;

#ifdef __cplusplus
static_assert(sizeof(BootBlockRequest) == 12, "BootBlockRequest is a 12-byte record");
#else
_Static_assert(sizeof(BootBlockRequest) == 12, "BootBlockRequest is a 12-byte record");
#endif

#define PICBOOT_INVALID_HANDLE (-1)
#define PICBOOT_MAX_BLOCK 64

/* Negative results of PicBootSendPacket. */
#define PICBOOT_ERR_ARGUMENT (-1) /* unknown handle, null or oversized packet */
#define PICBOOT_ERR_IO (-2)       /* the port failed */
#define PICBOOT_ERR_NO_REPLY (-3) /* no valid reply within the attempts and the channel's timeout */
#define PICBOOT_ERR_REFUSED (-4)  /* the device answered with an error status */

/* Opens the serial port `portName` (a name such as "COM1", resolved through
 * $XDG_CONFIG_HOME/xelor/ports/, or a device path) at `baud`, and checks that a
 * bootloader answers there within `timeoutMs`, which also bounds every later call
 * on the channel. Returns a handle > 0, or -1 on failure. */
XEL_EXPORT int32_t PicBootOpen(const char* portName, int32_t baud, int32_t timeoutMs);

/* Sends `packet` (its first byte is the device command) and waits for the
 * device's acknowledgement, waiting `replyWaitMs` per attempt (0: a quarter of
 * the timeout) for at most `attempts` attempts (0 counts as 1), all within the
 * channel's timeout. Returns 0 on success, a negative PICBOOT_ERR_ code otherwise. */
XEL_EXPORT int32_t PicBootSendPacket(int32_t handle, const uint8_t* packet, uint16_t length, uint16_t replyWaitMs,
                                     uint16_t attempts);

/* Writes `request->count` bytes from `data` at `request->address` with
 * `request->command`, then compares the bytes the device reads back from its
 * memory with `data`. Returns 1 when they match, 0 on any failure (bad request,
 * no reply, refused, different read-back). */
XEL_EXPORT int32_t PicBootWriteBlock(int32_t handle, const BootBlockRequest* request, const uint8_t* data);

/* Closes the channel. Returns 0, or -1 for a handle that is not open. */
XEL_EXPORT int32_t PicBootClose(int32_t handle);

#ifdef __cplusplus
}
#endif

#endif /* XELOR_PLATFORM_PICBOOT_H */
