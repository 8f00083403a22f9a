#include "core/connection/Frame.h"

#include <cstring>

#include "platform/codepage/CodePage.h"

namespace xel::core {

uint8_t commandChecksum(std::string_view text) noexcept {
    if (text.size() <= 1) return 0;
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(text[i]));
    return sum;
}

std::optional<std::string> frameCommand(std::u16string_view command) {
    std::string frame = cp::fromUtf16(command);
    if (frame.size() > kCommandTextMax) return std::nullopt;
    frame.push_back(static_cast<char>(commandChecksum(frame)));
    return frame;
}

std::optional<CommSettings> linkSettingsFor(std::u16string_view address) {
    CommSettings s{};
    s.baudRate = 38400;
    s.dataBits = 8;
    s.parity = 0;
    s.stopBits = 0;
    const std::string ansi = cp::fromUtf16(address);
    // An embedded NUL would silently shorten the name the driver sees.
    if (ansi.find('\0') != std::string::npos) return std::nullopt;
    if (address.find(u"COM") != std::u16string_view::npos || address.find(u"USB") != std::u16string_view::npos) {
        if (ansi.size() >= sizeof s.port) return std::nullopt;
        std::memcpy(s.port, ansi.data(), ansi.size());
    } else {
        static constexpr char kTcp[] = "TCP/IP";
        std::memcpy(s.port, kTcp, sizeof kTcp);
        if (ansi.size() >= sizeof s.host) return std::nullopt;
        std::memcpy(s.host, ansi.data(), ansi.size());
    }
    return s;
}

}  // namespace xel::core
