// The connection object (ProgID "Xelor.Comm.1"): IComm over one Connection,
// plus the bootloader operations the firmware download uses.
//
// Thread contract: as Connection's. Every member may be called from any
// thread; whole exchanges never overlap. The owner disconnects before its last
// release; a link still open then is closed on destruction.
#pragma once

#include "core/Concrete.h"
#include "core/connection/Connection.h"
#include "core/xelor.h"
#include "platform/objrt/Object.h"

namespace xel::core {

// Late-bound callers have room for one value in Val (a single out-parameter).
inline HRESULT writeAndReturnHexLateBound(IComm* self, BSTR Cmd, SHORT Length, LONG* Val) noexcept {
    return self->WriteAndReturnHex(Cmd, Length > 1 ? SHORT(1) : Length, Val);
}

namespace commdesc {
namespace d = objrt::desc;
// One member a line, in the order the interface lists them.
// clang-format off
inline constexpr auto kMembers = d::members(
    d::property<&IComm::get_Address, &IComm::put_Address>(1, "Address"),
    d::method<&IComm::Connect>(2, "Connect", {d::retval("pErr", "CommErr")}),
    d::method<&IComm::Disconnect>(3, "Disconnect"),
    d::method<&IComm::Write>(4, "Write", {"bstrCmd", d::retval("pErr", "CommErr")}),
    d::method<&IComm::Read>(5, "Read", {"bstrResponse", d::retval("pErr", "CommErr")}),
    d::method<&IComm::IsConnected>(6, "IsConnected", {d::retval("vbConnected")}),
    d::method<&writeAndReturnHexLateBound>(7, "WriteAndReturnHex", {"Cmd", "Length", "Val"}),
    d::method<&IComm::WriteAndWaitForResponse>(8, "WriteAndWaitForResponse", {"Cmd"}),
    d::property<&IComm::get_uhUsb, &IComm::put_uhUsb>(9, "uhUsb"));
// clang-format on
}  // namespace commdesc

inline constexpr objrt::InterfaceDesc kICommDesc = objrt::desc::dualInterface<IComm>("IComm", commdesc::kMembers);

inline constexpr objrt::EnumValueDesc kCommErrValues[] = {
    {"CommErrNone", CommErrNone},
    {"CommErrFailedConnect", CommErrFailedConnect},
    {"CommErrNotConnected", CommErrNotConnected},
    {"CommErrUnitNotFound", CommErrUnitNotFound},
    {"CommErrAlreadyConnected", CommErrAlreadyConnected},
    {"CommErrWriteFailed", CommErrWriteFailed},
    {"CommErrReadFailed", CommErrReadFailed},
    {"CommErrWriteInProgress", CommErrWriteInProgress},
    {"CommErrCheck", CommErrCheck},
};
inline constexpr objrt::EnumDesc kCommErrEnum{"CommErr", nullptr, kCommErrValues, std::size(kCommErrValues)};

inline constexpr objrt::ImplTypeDesc kCommImpls[] = {{&kICommDesc, IMPLTYPEFLAG_FDEFAULT}};
inline constexpr objrt::CoClassDesc kCommClass{CLSID_Comm, "Comm", "Comm Class", kCommImpls, std::size(kCommImpls)};

class CComm : public ImplTag<IID_CCommImpl>,
              public objrt::Dispatch<IComm, kICommDesc>,
              public objrt::ProvideClassInfo<kCommClass> {
public:
    using Impl = ImplTag<IID_CCommImpl>;
    using Interfaces = objrt::InterfaceMap<IComm, objrt::Through<IDispatch, IComm>, IProvideClassInfo, Impl>;

    // IComm
    HRESULT get_Address(BSTR* pVal) noexcept override;
    HRESULT put_Address(BSTR newVal) noexcept override;
    HRESULT Connect(CommErr* pErr) noexcept override;
    HRESULT Disconnect() noexcept override;
    HRESULT Write(BSTR bstrCmd, CommErr* pErr) noexcept override;
    // On success *bstrResponse receives a new string with the whole reply (the
    // receiver frees it; what it held before is not freed, as for any out-string).
    HRESULT Read(BSTR* bstrResponse, CommErr* pErr) noexcept override;
    HRESULT IsConnected(VARIANT_BOOL* vbConnected) noexcept override;
    HRESULT WriteAndReturnHex(BSTR Cmd, SHORT Length, LONG* Val) noexcept override;
    HRESULT WriteAndWaitForResponse(BSTR Cmd) noexcept override;
    HRESULT get_uhUsb(ULONG* pVal) noexcept override;
    HRESULT put_uhUsb(ULONG newVal) noexcept override;

    // The bootloader channel for the firmware download (monitor thread only).
    // Opening closes an open link first; closing leaves the slot empty.
    bool OpenBootloader() noexcept { return conn_.openBootloader(); }
    int32_t BootSendPacket(const uint8_t* packet, uint16_t length, uint16_t replyWaitMs, uint16_t attempts) noexcept {
        return conn_.bootSendPacket(packet, length, replyWaitMs, attempts);
    }
    int32_t BootWriteBlock(const BootBlockRequest& request, const uint8_t* data) noexcept {
        return conn_.bootWriteBlock(request, data);
    }
    void CloseBootloader() noexcept { conn_.closeBootloader(); }

    Connection& connection() noexcept { return conn_; }

protected:
    CComm() = default;
    ~CComm() = default;

private:
    Connection conn_;
};

}  // namespace xel::core
