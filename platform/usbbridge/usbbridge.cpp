// The ten bridge calls over the Linux tty the bridge presents.
#include "platform/usbbridge/usbbridge.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>

#include "platform/usbbridge/SysfsBridges.h"
#include "xelsys/Deadline.h"
#include "xelsys/Retry.h"
#include "xelsys/SerialLine.h"

struct UsbBridgeDevice {
    int fd = -1;
};

namespace {

using namespace xel::usbbridge;

// Handles handed out and not yet closed, so a stale or foreign handle is refused
// instead of dereferenced.
std::mutex g_liveMutex;
std::set<const UsbBridgeDevice*> g_live;

int fdOf(const UsbBridgeDevice* handle) {
    std::lock_guard<std::mutex> lock(g_liveMutex);
    return (handle && g_live.count(handle)) ? handle->fd : -1;
}

// Every exported call runs its body through this: nothing escapes as an exception.
template <class F>
int32_t guarded(F body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return USBBRIDGE_SYSTEM_ERROR;
    } catch (...) {
        return USBBRIDGE_SYSTEM_ERROR;
    }
}

int32_t lineStatus(xel::sys::LineResult result) {
    switch (result) {
        case xel::sys::LineResult::Ok: return USBBRIDGE_OK;
        case xel::sys::LineResult::BadSetting: return USBBRIDGE_BAD_PARAMETER;
        case xel::sys::LineResult::SystemError: break;
    }
    return USBBRIDGE_SYSTEM_ERROR;
}

}  // namespace

extern "C" {

XEL_EXPORT int32_t UsbBridgeGetDeviceCount(uint32_t* count) {
    return guarded([&]() -> int32_t {
        if (!count) return USBBRIDGE_BAD_PARAMETER;
        *count = static_cast<uint32_t>(enumerateBridges().size());
        return USBBRIDGE_OK;
    });
}

XEL_EXPORT int32_t UsbBridgeGetProductString(uint32_t index, char* buffer, uint32_t selector) {
    return guarded([&]() -> int32_t {
        if (!buffer) return USBBRIDGE_BAD_PARAMETER;
        buffer[0] = '\0';
        const auto bridges = enumerateBridges();
        if (index >= bridges.size()) return USBBRIDGE_NO_DEVICE;
        const BridgeEntry& bridge = bridges[index];
        std::string text;
        switch (selector) {
            case USBBRIDGE_INFO_SERIAL_NUMBER: text = readAttribute(bridge.deviceDir, "serial"); break;
            case USBBRIDGE_INFO_DESCRIPTION: text = readAttribute(bridge.deviceDir, "product"); break;
            case USBBRIDGE_INFO_TTY_PATH: text = devRoot() + "/" + bridge.ttyName; break;
            default: return USBBRIDGE_BAD_PARAMETER;
        }
        const size_t n = std::min<size_t>(text.size(), USBBRIDGE_STRING_SIZE - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
        return USBBRIDGE_OK;
    });
}

XEL_EXPORT int32_t UsbBridgeOpen(uint32_t index, UsbBridgeDevice** handle) {
    return guarded([&]() -> int32_t {
        if (!handle) return USBBRIDGE_BAD_PARAMETER;
        *handle = nullptr;
        const auto bridges = enumerateBridges();
        if (index >= bridges.size()) return USBBRIDGE_NO_DEVICE;
        const std::string path = devRoot() + "/" + bridges[index].ttyName;
        const int fd =
            xel::sys::retryOnSignal([&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
        if (fd < 0) return errno == EBUSY ? USBBRIDGE_BUSY : USBBRIDGE_NO_DEVICE;
        // TIOCEXCL keeps out other openers (but not root); the lock keeps out every
        // other user of this library, root included.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return USBBRIDGE_BUSY;
        }
        ::ioctl(fd, TIOCEXCL);
        // The bridge's line: raw, no flow control; speed and format come later
        // through their own calls.
        (void)xel::sys::configureLine(fd, xel::sys::LineSettings{});
        auto* device = new UsbBridgeDevice{fd};
        {
            std::lock_guard<std::mutex> lock(g_liveMutex);
            g_live.insert(device);
        }
        *handle = device;
        return USBBRIDGE_OK;
    });
}

XEL_EXPORT int32_t UsbBridgeClose(UsbBridgeDevice* handle) {
    return guarded([&]() -> int32_t {
        {
            std::lock_guard<std::mutex> lock(g_liveMutex);
            if (!handle || g_live.erase(handle) == 0) return USBBRIDGE_BAD_HANDLE;
        }
        ::close(handle->fd);
        delete handle;
        return USBBRIDGE_OK;
    });
}

XEL_EXPORT int32_t UsbBridgeRead(UsbBridgeDevice* handle, void* buffer, uint32_t capacity, uint32_t* bytesRead) {
    return guarded([&]() -> int32_t {
        const int fd = fdOf(handle);
        if (fd < 0) return USBBRIDGE_BAD_HANDLE;
        if (!bytesRead || (!buffer && capacity > 0)) return USBBRIDGE_BAD_PARAMETER;
        *bytesRead = 0;
        if (capacity == 0) return USBBRIDGE_OK;
        const ssize_t n = xel::sys::retryOnSignal([&] { return ::read(fd, buffer, capacity); });
        if (n < 0) return errno == EAGAIN ? USBBRIDGE_OK : USBBRIDGE_READ_ERROR;
        *bytesRead = static_cast<uint32_t>(n);
        return USBBRIDGE_OK;
    });
}

XEL_EXPORT int32_t UsbBridgeWrite(UsbBridgeDevice* handle, const void* bytes, uint32_t count, uint32_t* bytesWritten) {
    return guarded([&]() -> int32_t {
        const int fd = fdOf(handle);
        if (fd < 0) return USBBRIDGE_BAD_HANDLE;
        if (!bytesWritten || (!bytes && count > 0)) return USBBRIDGE_BAD_PARAMETER;
        *bytesWritten = 0;
        const auto deadline = xel::sys::Clock::now() + std::chrono::milliseconds(USBBRIDGE_WRITE_TIMEOUT_MS);
        const auto* p = static_cast<const unsigned char*>(bytes);
        uint32_t done = 0;
        while (done < count) {
            const ssize_t n = xel::sys::retryOnSignal([&] { return ::write(fd, p + done, count - done); });
            if (n > 0) {
                done += static_cast<uint32_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN) {
                *bytesWritten = done;
                return USBBRIDGE_WRITE_ERROR;
            }
            pollfd pfd{fd, POLLOUT, 0};
            const int left = xel::sys::msUntil(deadline);
            if (left == 0 || xel::sys::retryOnSignal([&] { return ::poll(&pfd, 1, left); }) <= 0) {
                *bytesWritten = done;
                return USBBRIDGE_WRITE_TIMEOUT;
            }
        }
        *bytesWritten = done;
        return USBBRIDGE_OK;
    });
}

XEL_EXPORT int32_t UsbBridgeFlushBuffers(UsbBridgeDevice* handle, uint8_t transmit, uint8_t receive) {
    return guarded([&]() -> int32_t {
        const int fd = fdOf(handle);
        if (fd < 0) return USBBRIDGE_BAD_HANDLE;
        if (!transmit && !receive) return USBBRIDGE_OK;
        const int which = transmit && receive ? TCIOFLUSH : (transmit ? TCOFLUSH : TCIFLUSH);
        return tcflush(fd, which) == 0 ? USBBRIDGE_OK : USBBRIDGE_SYSTEM_ERROR;
    });
}

XEL_EXPORT int32_t UsbBridgeCheckRxQueue(UsbBridgeDevice* handle, uint32_t* bytesInQueue, uint32_t* status) {
    return guarded([&]() -> int32_t {
        const int fd = fdOf(handle);
        if (fd < 0) return USBBRIDGE_BAD_HANDLE;
        if (!bytesInQueue || !status) return USBBRIDGE_BAD_PARAMETER;
        int waiting = 0;
        if (::ioctl(fd, FIONREAD, &waiting) != 0) return USBBRIDGE_SYSTEM_ERROR;
        *bytesInQueue = waiting > 0 ? static_cast<uint32_t>(waiting) : 0;
        *status = waiting > 0 ? USBBRIDGE_RX_READY : USBBRIDGE_RX_EMPTY;
        return USBBRIDGE_OK;
    });
}

XEL_EXPORT int32_t UsbBridgeSetBaudRate(UsbBridgeDevice* handle, uint32_t baudRate) {
    return guarded([&]() -> int32_t {
        const int fd = fdOf(handle);
        if (fd < 0) return USBBRIDGE_BAD_HANDLE;
        return lineStatus(xel::sys::setLineSpeed(fd, baudRate));
    });
}

XEL_EXPORT int32_t UsbBridgeSetLineControl(UsbBridgeDevice* handle, uint16_t lineControl) {
    return guarded([&]() -> int32_t {
        const int fd = fdOf(handle);
        if (fd < 0) return USBBRIDGE_BAD_HANDLE;
        const unsigned word = lineControl;
        return lineStatus(xel::sys::setLineFormat(fd, word >> USBBRIDGE_LC_DATA_SHIFT,
                                                  (word >> USBBRIDGE_LC_PARITY_SHIFT) & USBBRIDGE_LC_FIELD_MASK,
                                                  (word >> USBBRIDGE_LC_STOP_SHIFT) & USBBRIDGE_LC_FIELD_MASK));
    });
}

}  // extern "C"
