#include "core/protocol/UnitCommands.h"

#include <cstdio>
#include <new>

#include "platform/objrt/objrt.h"

namespace xel::core::unit {

namespace {

void appendHex(std::u16string& s, uint32_t value) {
    char buf[16];
    const int n = std::snprintf(buf, sizeof buf, "%X", value);
    s.append(buf, buf + n);
}

std::u16string_view nameOf(Switch which) noexcept {
    switch (which) {
        case Switch::Mute: return u"mute";
        case Switch::DigitalEnable: return u"digitalenable";
        case Switch::Button: return u"button";
        case Switch::Pin: return u"pin";
    }
    return u"";
}

}  // namespace

std::u16string readEepromCommand(uint16_t address, int count) {
    std::u16string cmd = u"rdeep ";
    appendHex(cmd, count > 1 ? static_cast<uint32_t>(count - 1) : 0u);
    cmd += u' ';
    appendHex(cmd, address);
    cmd += u'\r';
    return cmd;
}

std::u16string writeEepromCommand(uint16_t address, int count, const LONG* values) {
    std::u16string cmd = u"wreep ";
    appendHex(cmd, address);
    for (int i = 0; i < count; ++i) {
        cmd += u' ';
        appendHex(cmd, static_cast<uint32_t>(values[i]));
    }
    cmd += u'\r';
    return cmd;
}

std::u16string setCommand(Switch which, LONG value) {
    std::u16string cmd(nameOf(which));
    cmd += u' ';
    appendHex(cmd, static_cast<uint32_t>(value));
    cmd += u'\r';
    return cmd;
}

std::u16string_view readCommand(Switch which) noexcept {
    switch (which) {
        case Switch::Mute: return u"mute\r";
        case Switch::DigitalEnable: return u"digitalenable\r";
        case Switch::Button: return u"button\r";
        case Switch::Pin: return u"pin\r";
    }
    return u"";
}

std::u16string setIpCommand(LONG address, LONG hostBits, LONG gateway) {
    const auto a = static_cast<uint32_t>(address);
    const auto g = static_cast<uint32_t>(gateway);
    std::u16string cmd = u"setip";
    for (uint32_t v : {(a >> 24) & 0xFF, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF, static_cast<uint32_t>(hostBits),
                       (g >> 24) & 0xFF, (g >> 16) & 0xFF, (g >> 8) & 0xFF, g & 0xFF}) {
        cmd += u' ';
        appendHex(cmd, v);
    }
    cmd += u" 2711\r";
    return cmd;
}

HRESULT ask(IComm* comm, std::u16string_view command, int count, LONG* values) noexcept {
    if (!comm) return 1;
    BSTR text = SysAllocStringLen(command.data(), static_cast<UINT>(command.size()));
    if (!text) return E_OUTOFMEMORY;
    const HRESULT hr = comm->WriteAndReturnHex(text, static_cast<SHORT>(count < 0 ? 0 : count), values);
    SysFreeString(text);
    return hr;
}

HRESULT tell(IComm* comm, std::u16string_view command) noexcept {
    if (!comm) return 1;
    BSTR text = SysAllocStringLen(command.data(), static_cast<UINT>(command.size()));
    if (!text) return E_OUTOFMEMORY;
    const HRESULT hr = comm->WriteAndWaitForResponse(text);
    SysFreeString(text);
    return hr;
}

}  // namespace xel::core::unit
