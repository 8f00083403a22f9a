// The core object (ProgID "Xelor.Xel.1"): one unit end to end. It creates the
// shared connection and the profile, format and level-meter objects, holds the
// unit-wide settings of the EEPROM (power-on format and mode, AES/EBU fallback,
// film return format) and the wanted mute state, queues its EEPROM changes for
// the monitor thread, and raises _IXelEvents (default source) on that thread.
// IXelStatus tells a client when its changes have reached the unit.
//
// One core object per process: the connection sits in one library-wide slot,
// so creating a second while one lives fails with E_ACCESSDENIED. The format
// and profile objects it creates are handed its context (ICoreAttach) and tell
// it of their puts; it takes the context back before it goes.
//
// Thread contract
// - Automation members run on client threads. Puts may run beside the monitor;
//   the settings and the mute are atomics, the pending table locks itself.
// - Query, Load, Save and SetIP exchange with the unit through the connection,
//   which serialises whole exchanges with the monitor's.
// - Events fire on the monitor thread with no lock held; a sink may unadvise,
//   call members, Cleanup, or drop the last reference from inside its handler
//   (the thread then ends on its own). WaitSettled from inside a handler would
//   wait for the very thread it blocks and is refused with E_UNEXPECTED.
// - Cleanup stops the monitor, waiting at most 5000 ms; the final release stops
//   it and waits for it to end, so it never runs on a released object.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>

#include "core/Concrete.h"
#include "core/control/DownloadState.h"
#include "core/control/Monitor.h"
#include "core/control/MonitorThread.h"
#include "core/control/QueryEpochs.h"
#include "core/control/SettleLedger.h"
#include "core/control/XelTypes.h"
#include "core/model/CoreContext.h"
#include "core/model/UnitMemory.h"
#include "core/protocol/EepromMap.h"
#include "core/protocol/UnitNumbering.h"
#include "core/xelor.h"
#include "platform/objrt/Object.h"

namespace xel::core {

class CComm;
class CFormat;
class CProfile;
class CVU;

// The byte at address 1 for a power-on format and mode.
constexpr LONG powerOnByte(LONG format, LONG mode) noexcept { return unitNumber(format) | (mode == 0 ? 0x80 : 0); }

class CXel : public ImplTag<IID_CXelImpl>,
             public objrt::Dispatch<IXel, kIXelDesc>,
             public objrt::Dispatch<IXelStatus, kIXelStatusDesc>,
             public objrt::ConnectionPointContainer<CXel>,
             public objrt::ProvideClassInfo2<kXelClass>,
             private CoreContext,
             private MonitorHost {
public:
    using Impl = ImplTag<IID_CXelImpl>;
    using Interfaces =
        objrt::InterfaceMap<IXel, objrt::Through<IDispatch, IXel>, IXelStatus, IConnectionPointContainer,
                            IProvideClassInfo2, objrt::Through<IProvideClassInfo, IProvideClassInfo2>, Impl>;

    // One name for what every base interface declares; Object<> implements them.
    HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override = 0;
    ULONG AddRef() noexcept override = 0;
    ULONG Release() noexcept override = 0;

    // Creates the connection (into the shared slot) and the three model objects
    // by ProgID and starts the monitor. Fails with E_ACCESSDENIED while another
    // core object lives, and with the creation's own code when the connection or
    // a model object cannot be created.
    HRESULT finalConstruct() noexcept;
    void finalRelease() noexcept;
    std::span<objrt::ConnectionPoint* const> connectionPoints() noexcept { return points_; }

    // IXel
    HRESULT get_Comm(IComm** pVal) noexcept override;
    HRESULT get_Profile(IProfile** pVal) noexcept override;
    HRESULT get_Format(IFormat** pVal) noexcept override;
    HRESULT get_VU(IVU** pVal) noexcept override;
    HRESULT get_PowerOnFormat(LONG* pVal) noexcept override;
    HRESULT put_PowerOnFormat(LONG newVal) noexcept override;
    HRESULT get_AESEBUFallback(LONG* pVal) noexcept override;
    HRESULT put_AESEBUFallback(LONG newVal) noexcept override;
    HRESULT Load(BSTR Filename) noexcept override;
    HRESULT Save(BSTR Filename) noexcept override;
    HRESULT get_Mute(VARIANT_BOOL* pVal) noexcept override;
    HRESULT put_Mute(VARIANT_BOOL newVal) noexcept override;
    HRESULT Query() noexcept override;
    HRESULT Cleanup() noexcept override;
    HRESULT SetIP(LONG Address, LONG HostBits, LONG Gateway) noexcept override;
    HRESULT get_PowerOnMode(LONG* pVal) noexcept override;
    HRESULT put_PowerOnMode(LONG newVal) noexcept override;
    HRESULT ParseHexFile(BSTR Filename) noexcept override;
    HRESULT DownloadToPIC() noexcept override;
    HRESULT get_FilmReturnFormat(LONG* pVal) noexcept override;
    HRESULT put_FilmReturnFormat(LONG newVal) noexcept override;

    // IXelStatus. A negative TimeoutMs waits without limit.
    HRESULT WaitSettled(LONG TimeoutMs, LONG* Result) noexcept override;
    HRESULT get_DownloadProgress(LONG* pVal) noexcept override;

protected:
    CXel() : monitor_(*this), thread_(signal_) {}
    ~CXel() = default;

private:
    HRESULT queryUnit() noexcept;

    // CoreContext: what the sub-objects' puts (and this object's own) tell it.
    void wakeMonitor() noexcept override { signal_.wake(); }
    void noteDroppedWrite() noexcept override { droppedWrites_.fetch_add(1); }
    void switchStored() noexcept override;

    // Hands each sub-object this object's context (or null, taking it back).
    void attachSubObjects(CoreContext* context) noexcept;

    // Stores one byte for the monitor; a drop (link down) is remembered.
    void queueByte(uint16_t address, LONG value) noexcept;
    SettleTargets settleTargets() const;
    bool onMonitorThread() const noexcept { return thread_.onThisThread(); }

    // Raises an event on the monitor thread. False when the core object was
    // released during it (on this thread): the caller must not touch it then.
    template <class... A>
    bool fire(objrt::ConnectionPoint& point, DISPID id, const A&... args) noexcept;

    // MonitorHost
    IComm* comm() noexcept override { return comm_.get(); }
    CComm& connection() noexcept override { return *commImpl_; }
    CFormat& format() noexcept override { return *formatImpl_; }
    CVU& levels() noexcept override { return *vuImpl_; }
    std::array<PendingEepromWrites*, kPendingTableCount> pendingTables() noexcept override;
    LONG wantedMute() const noexcept override { return mute_.load(); }
    Switches storedSwitches() const noexcept override;
    MonitorSignal& signal() noexcept override { return signal_; }
    SettleLedger& ledger() noexcept override { return ledger_; }
    QueryEpochs& queries() noexcept override { return query_; }
    DownloadState& download() noexcept override { return download_; }
    // Closes the bootloader's line.
    void endDownload() noexcept override;
    bool fireEvent(DISPID id) noexcept override { return fire(events_, id); }
    bool fireEvent(DISPID id, LONG arg) noexcept override { return fire(events_, id, arg); }
    bool fireStatusEvent(DISPID id, LONG arg) noexcept override { return fire(statusEvents_, id, arg); }

    // Sub-objects, each held through its interface and as its concrete class.
    objrt::ComPtr<IComm> comm_;
    objrt::ComPtr<IProfile> profile_;
    objrt::ComPtr<IFormat> format_;
    objrt::ComPtr<IVU> vu_;
    CComm* commImpl_ = nullptr;
    CProfile* profileImpl_ = nullptr;
    CFormat* formatImpl_ = nullptr;
    CVU* vuImpl_ = nullptr;

    std::atomic<LONG> powerOnFormat_{0};
    std::atomic<LONG> powerOnMode_{0};
    std::atomic<LONG> aesEbuFallback_{0};
    std::atomic<LONG> filmReturnFormat_{0};
    std::atomic<LONG> mute_{0};
    std::mutex powerOnMutex_;  // one put's store and its address-1 byte together
    PendingEepromWrites pending_{this};
    std::atomic<uint32_t> droppedWrites_{0};

    QueryEpochs query_;

    DownloadState download_;

    SettleLedger ledger_;
    MonitorSignal signal_;
    Monitor monitor_;
    MonitorThread thread_;
    bool ownsSlot_ = false;  // this object holds the library's core slot

    objrt::ConnectionPoint events_{this, DIID__IXelEvents};
    objrt::ConnectionPoint propertyNotify_{this, IID_IPropertyNotifySink};
    objrt::ConnectionPoint statusEvents_{this, DIID__IXelStatusEvents};
    objrt::ConnectionPoint* const points_[3] = {&events_, &propertyNotify_, &statusEvents_};
};

// True once a core object was released on this thread from inside one of its
// own events (its monitor thread then ends without touching it again).
inline bool coreReleasedOnThisThread() noexcept { return MonitorThread::releasedOnThisThread(); }

template <class... A>
bool CXel::fire(objrt::ConnectionPoint& point, DISPID id, const A&... args) noexcept {
    // Held for the call: a sink that drops the last reference makes the object
    // go with this Release, here on the monitor thread, not under the sink.
    AddRef();
    point.fire(id, args...);
    Release();
    return !coreReleasedOnThisThread();
}

}  // namespace xel::core
