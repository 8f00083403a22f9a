/* libusbbridge: the calls the link driver needs to reach the unit's USB bridge.
 *
 * The bridge is a USB device that presents the unit's serial line. Devices are
 * counted and addressed by index in one stable order (sorted by their bus
 * position); the link driver picks the first whose product description matches.
 *
 * Linux backend: USB devices are enumerated under
 * $XELOR_SYSFS_ROOT/bus/usb/devices (default root /sys); a device counts as a
 * bridge when one of its interfaces carries a tty. That tty is opened under
 * $XELOR_DEV_ROOT (default /dev), exclusively, in raw mode. Both variables are
 * read once, on the first call.
 *
 * Every call returns a USBBRIDGE_* status; 0 is success. No call throws.
 *
 * Thread contract: enumeration (count, product string) and open may run on any
 * thread at any time. The calls taking a handle may run on any thread, but one
 * handle is used by one thread at a time; closing a handle while another thread
 * uses it is the caller's error (a closed handle is refused, not dereferenced).
 */
#pragma once

#include <stdint.h>

#include "platform/export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct UsbBridgeDevice UsbBridgeDevice; /* an open bridge, opaque */

/* Results. */
#define USBBRIDGE_OK 0
#define USBBRIDGE_NO_DEVICE 1  /* index out of range, or the device vanished */
#define USBBRIDGE_BAD_HANDLE 2 /* null, closed or unknown handle */
#define USBBRIDGE_READ_ERROR 3
#define USBBRIDGE_WRITE_ERROR 4
#define USBBRIDGE_WRITE_TIMEOUT 5 /* not all bytes left within the write time-out */
#define USBBRIDGE_BAD_PARAMETER 6
#define USBBRIDGE_SYSTEM_ERROR 7
#define USBBRIDGE_BUSY 8 /* the bridge is already open (here or in another process) */

/* Receive-queue status bits of UsbBridgeCheckRxQueue. */
#define USBBRIDGE_RX_EMPTY 0
#define USBBRIDGE_RX_READY 2 /* received bytes are waiting */

/* Selectors of UsbBridgeGetProductString. */
#define USBBRIDGE_INFO_SERIAL_NUMBER 0
#define USBBRIDGE_INFO_DESCRIPTION 1 /* the product description */
#define USBBRIDGE_INFO_TTY_PATH 2    /* the tty the bridge presents, under the device root */

#define USBBRIDGE_STRING_SIZE 256 /* size of the buffer UsbBridgeGetProductString fills */
#define USBBRIDGE_WRITE_TIMEOUT_MS 1000

/* The 16-bit line-control word:
 *   bits 15..8  data bits per character (5 to 8)
 *   bits  7..4  parity: 0 none, 1 odd, 2 even, 3 mark, 4 space
 *   bits  3..0  stop bits: 0 one, 1 one and a half, 2 two
 * Example: 8 data bits, no parity, one stop bit = 0x0800; 7 bits, even, two = 0x0722. */
#define USBBRIDGE_LC_STOP_SHIFT 0
#define USBBRIDGE_LC_PARITY_SHIFT 4
#define USBBRIDGE_LC_DATA_SHIFT 8
#define USBBRIDGE_LC_FIELD_MASK 0x0F

static inline uint16_t UsbBridgeLineControl(uint8_t dataBits, uint8_t parity, uint8_t stopBits) {
    return (uint16_t)(((unsigned)dataBits << USBBRIDGE_LC_DATA_SHIFT) |
                      (((unsigned)parity & USBBRIDGE_LC_FIELD_MASK) << USBBRIDGE_LC_PARITY_SHIFT) |
                      (((unsigned)stopBits & USBBRIDGE_LC_FIELD_MASK) << USBBRIDGE_LC_STOP_SHIFT));
}

/* Number of attached bridges: the bound of the indexes below. */
XEL_EXPORT int32_t UsbBridgeGetDeviceCount(uint32_t* count);
/* A NUL-terminated string about bridge `index` into a USBBRIDGE_STRING_SIZE-byte buffer.
 * A device without that attribute gives an empty string. */
XEL_EXPORT int32_t UsbBridgeGetProductString(uint32_t index, char* buffer, uint32_t selector);
/* Opens bridge `index`; on success *handle is non-null. */
XEL_EXPORT int32_t UsbBridgeOpen(uint32_t index, UsbBridgeDevice** handle);
XEL_EXPORT int32_t UsbBridgeClose(UsbBridgeDevice* handle);
/* Reads what has arrived, up to `capacity` bytes, without waiting; 0 bytes is success. */
XEL_EXPORT int32_t UsbBridgeRead(UsbBridgeDevice* handle, void* buffer, uint32_t capacity, uint32_t* bytesRead);
/* Writes all bytes, waiting at most USBBRIDGE_WRITE_TIMEOUT_MS for the line to take them. */
XEL_EXPORT int32_t UsbBridgeWrite(UsbBridgeDevice* handle, const void* bytes, uint32_t count, uint32_t* bytesWritten);
/* Discards bytes not yet sent (transmit) and bytes received but not read (receive). */
XEL_EXPORT int32_t UsbBridgeFlushBuffers(UsbBridgeDevice* handle, uint8_t transmit, uint8_t receive);
/* Bytes waiting to be read, and USBBRIDGE_RX_READY in *status when there are any. */
XEL_EXPORT int32_t UsbBridgeCheckRxQueue(UsbBridgeDevice* handle, uint32_t* bytesInQueue, uint32_t* status);
/* A standard line speed (50 ... 4000000); any other is USBBRIDGE_BAD_PARAMETER. */
XEL_EXPORT int32_t UsbBridgeSetBaudRate(UsbBridgeDevice* handle, uint32_t baudRate);
XEL_EXPORT int32_t UsbBridgeSetLineControl(UsbBridgeDevice* handle, uint16_t lineControl);

#ifdef __cplusplus
}
#endif
