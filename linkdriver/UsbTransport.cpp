// USB transport: the unit's bridge through libusbbridge.
#include <strings.h>

#include "linkdriver/BridgeIdentity.h"
#include "linkdriver/Transport.h"
#include "platform/usbbridge/usbbridge.h"

namespace xel::link {

namespace {

// The first matching bridge in enumeration order, or -1.
int findBridge() {
    uint32_t count = 0;
    if (UsbBridgeGetDeviceCount(&count) != USBBRIDGE_OK) return -1;
    for (uint32_t i = 0; i < count; ++i) {
        char product[USBBRIDGE_STRING_SIZE] = {};
        if (UsbBridgeGetProductString(i, product, USBBRIDGE_INFO_DESCRIPTION) == USBBRIDGE_OK &&
            ::strcasecmp(product, kBridgeIdentity) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

class UsbTransport final : public Transport {
public:
    UsbTransport(int index, uint32_t baudRate, uint16_t lineControl)
        : index_(index), baudRate_(baudRate), lineControl_(lineControl) {}
    ~UsbTransport() override { detach(); }

    // The results of the set-up calls are not checked: a bridge that refuses a
    // setting is used as it is.
    void attach() override {
        if (index_ < 0) return;
        UsbBridgeDevice* device = nullptr;
        if (UsbBridgeOpen(static_cast<uint32_t>(index_), &device) != USBBRIDGE_OK || !device) return;
        device_ = device;
        (void)UsbBridgeSetBaudRate(device_, baudRate_);
        (void)UsbBridgeSetLineControl(device_, lineControl_);
        (void)UsbBridgeFlushBuffers(device_, 1, 1);
    }

    void detach() override {
        if (!device_) return;
        (void)UsbBridgeFlushBuffers(device_, 1, 1);
        (void)UsbBridgeClose(device_);
        device_ = nullptr;
    }

    bool recheckWhileReading() const override { return device_ != nullptr; }

    IoResult receive(uint8_t* buffer, size_t capacity) override {
        if (!device_) return {};
        uint32_t waiting = 0;
        uint32_t status = 0;
        // Read only when the bridge says bytes are waiting, so the read never waits.
        if (UsbBridgeCheckRxQueue(device_, &waiting, &status) != USBBRIDGE_OK || !(status & USBBRIDGE_RX_READY))
            return {};
        uint32_t got = 0;
        if (UsbBridgeRead(device_, buffer, static_cast<uint32_t>(capacity), &got) != USBBRIDGE_OK)
            return {0, XELCOMM_ERROR_RECEIVE};
        return {got, XELCOMM_ERROR_NONE};
    }

    IoResult send(const uint8_t* bytes, size_t count, int) override {
        if (!device_) return {0, XELCOMM_ERROR_SEND};
        uint32_t written = 0;
        const int32_t result = UsbBridgeWrite(device_, bytes, static_cast<uint32_t>(count), &written);
        return {written, result == USBBRIDGE_OK ? XELCOMM_ERROR_NONE : XELCOMM_ERROR_SEND};
    }

private:
    int index_;
    uint32_t baudRate_;
    uint16_t lineControl_;
    UsbBridgeDevice* device_ = nullptr;
};

}  // namespace

// The bridge is looked for here but opened by the I/O thread. No error either way:
// a channel without a bridge reads nothing and fails every write.
std::unique_ptr<Transport> openUsb(const CommSettings& settings, uint32_t&) {
    return std::make_unique<UsbTransport>(findBridge(), settings.baudRate,
                                          UsbBridgeLineControl(settings.dataBits, settings.parity, settings.stopBits));
}

}  // namespace xel::link
