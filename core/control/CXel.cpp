#include "core/control/CXel.h"

#include <cstdio>
#include <string>

#include "core/connection/CComm.h"
#include "core/model/CFormat.h"
#include "core/model/CProfile.h"
#include "core/model/CVU.h"
#include "core/model/ConnectionSlot.h"
#include "core/model/ModelCalls.h"
#include "core/protocol/ConfigFile.h"
#include "core/protocol/EepromText.h"
#include "core/protocol/UnitCommands.h"
#include "platform/codepage/CodePage.h"

namespace xel::core {

namespace {

// The library's core slot: one core object per process, since the connection
// it creates fills the library's one connection slot. Taken in finalConstruct,
// given back by the final release once the connection slot is empty again.
class CoreSlot {
public:
    static bool take() noexcept {
        bool taken = false;
        return taken_.compare_exchange_strong(taken, true);
    }
    static void giveBack() noexcept { taken_.store(false); }

private:
    static inline std::atomic<bool> taken_{false};
};

template <class I>
HRESULT createByProgId(const char16_t* progId, objrt::ComPtr<I>& out) noexcept {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr)) return hr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, I::kIID, out.putVoid());
    if (SUCCEEDED(hr) && !out) hr = E_NOINTERFACE;
    return hr;
}

// The concrete object behind one of our own interfaces (a reference added).
template <class T, class I>
HRESULT concrete(const objrt::ComPtr<I>& object, T*& out) noexcept {
    out = concreteOf<T>(object.get());
    return out ? S_OK : E_NOINTERFACE;
}

std::filesystem::path pathOf(BSTR text) {
    const std::u16string_view wide = textUpToNul(text);
    return std::filesystem::path(cp::utf16ToUtf8(wide));
}

std::u16string textOf(BSTR b) {
    std::u16string s = b ? std::u16string(b, SysStringLen(b)) : std::u16string();
    SysFreeString(b);
    return s;
}

template <class Object, class Get>
HRESULT getText(Object* object, Get get, std::u16string& out) noexcept {
    BSTR b = nullptr;
    const HRESULT hr = (object->*get)(&b);
    if (FAILED(hr)) return hr;
    out = textOf(b);
    return S_OK;
}

template <class Object, class Put>
void putText(Object* object, Put put, const std::u16string& text) {
    objrt::Bstr b(text);
    (object->*put)(b.get());
}

std::vector<std::pair<uint16_t, LONG>> pendingOf(const PendingEepromWrites& table) {
    std::vector<std::pair<uint16_t, LONG>> out;
    for (const auto& [address, value] : table.entries())
        if (value < 0) out.emplace_back(address, value);
    return out;
}

}  // namespace

// A switch goes out on the monitor's next pass, at once. Stored while the
// monitor is not active on a queried link (the link is down, or it failed and
// waits for a Query) it never can: the Query that must come first reads the
// unit's switch over it, so it is reported like a dropped write.
void CXel::switchStored() noexcept {
    // Its own connection, which the library's slot holds while this object lives.
    VARIANT_BOOL linked = VARIANT_FALSE;
    if (commImpl_) commImpl_->IsConnected(&linked);
    if (linked != VARIANT_TRUE || !query_.state().queried) droppedWrites_.fetch_add(1);
    signal_.wake();
}

void CXel::attachSubObjects(CoreContext* context) noexcept {
    for (IUnknown* object : {static_cast<IUnknown*>(comm_.get()), static_cast<IUnknown*>(profile_.get()),
                             static_cast<IUnknown*>(format_.get()), static_cast<IUnknown*>(vu_.get())}) {
        objrt::ComPtr<ICoreAttach> attach;
        if (object && SUCCEEDED(object->QueryInterface(ICoreAttach::kIID, attach.putVoid())) && attach)
            attach->attachContext(context);
    }
}

// ---- life ---------------------------------------------------------------------

HRESULT CXel::finalConstruct() noexcept {
    return guarded([&]() -> HRESULT {
        if (!CoreSlot::take()) return E_ACCESSDENIED;
        ownsSlot_ = true;
        HRESULT hr = createByProgId(u"Xelor.Comm", comm_);
        if (FAILED(hr)) return hr;
        if (FAILED(hr = concrete(comm_, commImpl_))) return hr;
        setSharedComm(comm_.get());
        if (FAILED(hr = createByProgId(u"Xelor.Profile", profile_))) return hr;
        if (FAILED(hr = concrete(profile_, profileImpl_))) return hr;
        if (FAILED(hr = createByProgId(u"Xelor.Format", format_))) return hr;
        if (FAILED(hr = concrete(format_, formatImpl_))) return hr;
        if (FAILED(hr = createByProgId(u"Xelor.VU", vu_))) return hr;
        if (FAILED(hr = concrete(vu_, vuImpl_))) return hr;
        attachSubObjects(this);

        thread_.start([this] { monitor_.run(); });
        return S_OK;
    });
}

void CXel::finalRelease() noexcept {
    // Released from inside an event handler, the monitor thread finishes on
    // its own and touches nothing of this object.
    if (onMonitorThread())
        thread_.finalReleaseHere();
    else
        thread_.stop(false);
    ledger_.failAll();
    // Client threads may still hold a sub-object: their puts tell this object
    // nothing more once this returns.
    attachSubObjects(nullptr);
    if (comm_) {
        IComm* inSlot = sharedComm();
        if (inSlot == comm_.get()) setSharedComm(nullptr);
        if (inSlot) inSlot->Release();
    }
    // After the connection slot is empty, so that the next core object's
    // connection is never the one cleared here.
    if (ownsSlot_) {
        ownsSlot_ = false;
        CoreSlot::giveBack();
    }
    releaseConcrete(commImpl_);
    releaseConcrete(profileImpl_);
    releaseConcrete(formatImpl_);
    releaseConcrete(vuImpl_);
    commImpl_ = nullptr;
    profileImpl_ = nullptr;
    formatImpl_ = nullptr;
    vuImpl_ = nullptr;
    vu_ = nullptr;
    format_ = nullptr;
    profile_ = nullptr;
    comm_ = nullptr;
    pending_.discardAll();
    for (objrt::ConnectionPoint* point : points_) point->unadviseAll();
}

HRESULT CXel::Cleanup() noexcept {
    if (onMonitorThread()) {
        signal_.stop();  // from inside a handler: the thread ends after it returns
        return S_OK;
    }
    thread_.stop(true);
    ledger_.failAll();
    return S_OK;
}

// ---- sub-objects ----------------------------------------------------------------

HRESULT CXel::get_Comm(IComm** pVal) noexcept { return pVal ? comm_.copyTo(pVal) : E_POINTER; }
HRESULT CXel::get_Profile(IProfile** pVal) noexcept { return pVal ? profile_.copyTo(pVal) : E_POINTER; }
HRESULT CXel::get_Format(IFormat** pVal) noexcept { return pVal ? format_.copyTo(pVal) : E_POINTER; }
HRESULT CXel::get_VU(IVU** pVal) noexcept { return pVal ? vu_.copyTo(pVal) : E_POINTER; }

// ---- settings ---------------------------------------------------------------------

void CXel::queueByte(uint16_t address, LONG value) noexcept { pending_.queueOrReportDrop(address, 1, &value); }

HRESULT CXel::get_PowerOnFormat(LONG* pVal) noexcept {
    if (!pVal) return E_POINTER;
    *pVal = powerOnFormat_.load();
    return S_OK;
}

HRESULT CXel::put_PowerOnFormat(LONG newVal) noexcept {
    std::lock_guard lock(powerOnMutex_);
    powerOnFormat_.store(newVal);
    queueByte(kEepromPowerOn, powerOnByte(newVal, powerOnMode_.load()));
    return S_OK;
}

HRESULT CXel::get_PowerOnMode(LONG* pVal) noexcept {
    if (!pVal) return E_POINTER;
    *pVal = powerOnMode_.load();
    return S_OK;
}

HRESULT CXel::put_PowerOnMode(LONG newVal) noexcept {
    std::lock_guard lock(powerOnMutex_);
    powerOnMode_.store(newVal);
    queueByte(kEepromPowerOn, powerOnByte(powerOnFormat_.load(), newVal));
    return S_OK;
}

HRESULT CXel::get_AESEBUFallback(LONG* pVal) noexcept {
    if (!pVal) return E_POINTER;
    *pVal = aesEbuFallback_.load();
    return S_OK;
}

HRESULT CXel::put_AESEBUFallback(LONG newVal) noexcept {
    aesEbuFallback_.store(newVal);
    queueByte(kEepromAesEbuFallback, unitNumber(newVal));
    return S_OK;
}

HRESULT CXel::get_FilmReturnFormat(LONG* pVal) noexcept {
    if (!pVal) return E_POINTER;
    *pVal = filmReturnFormat_.load();
    return S_OK;
}

HRESULT CXel::put_FilmReturnFormat(LONG newVal) noexcept {
    filmReturnFormat_.store(newVal);
    queueByte(kEepromFilmReturnFormat, newVal);
    return S_OK;
}

HRESULT CXel::get_Mute(VARIANT_BOOL* pVal) noexcept {
    if (!pVal) return E_POINTER;
    *pVal = mute_.load() == 1 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT CXel::put_Mute(VARIANT_BOOL newVal) noexcept {
    mute_.store(newVal == VARIANT_TRUE ? 1 : 0);
    switchStored();
    return S_OK;
}

// ---- Query ------------------------------------------------------------------------

HRESULT CXel::Query() noexcept {
    query_.begin();
    const HRESULT hr = queryUnit();
    if (hr == S_OK)
        query_.succeeded(storedSwitches());
    else
        query_.failed();
    signal_.wake();
    return hr;
}

HRESULT CXel::queryUnit() noexcept {
    // Each read starts from the value held now, so a reply without a value
    // changes nothing.
    LONG b = powerOnByte(powerOnFormat_.load(), powerOnMode_.load());
    if (ReadEeprom(kEepromPowerOn, 1, &b) != S_OK) return 1;
    powerOnFormat_.store((b & 0x7F) - 1);
    powerOnMode_.store((b & 0x80) ? 0 : 1);

    b = unitNumber(aesEbuFallback_.load());
    if (ReadEeprom(kEepromAesEbuFallback, 1, &b) != S_OK) return 1;
    aesEbuFallback_.store(ourNumber(b));

    b = filmReturnFormat_.load();
    if (ReadEeprom(kEepromFilmReturnFormat, 1, &b) != S_OK) return 1;
    filmReturnFormat_.store(b);

    // The unit answers 1 while its audio is on.
    LONG audio = unit::audioOfMute(mute_.load());
    if (unit::ask(comm_.get(), unit::readCommand(unit::Switch::Mute), 1, &audio) != S_OK) return 1;
    mute_.store(unit::muteOfAudio(audio));

    if (profile_->Query() != S_OK) return 1;
    if (format_->Query() != S_OK) return 1;
    return S_OK;
}

std::array<PendingEepromWrites*, kPendingTableCount> CXel::pendingTables() noexcept {
    return {&pending_, &profileImpl_->pending(), &formatImpl_->pending()};
}

Switches CXel::storedSwitches() const noexcept {
    return Switches{mute_.load(), formatImpl_->film(), formatImpl_->currentFormat(), formatImpl_->pin()};
}

// ---- SetIP --------------------------------------------------------------------------

HRESULT CXel::SetIP(LONG Address, LONG HostBits, LONG Gateway) noexcept {
    return guarded([&] { return unit::tell(comm_.get(), unit::setIpCommand(Address, HostBits, Gateway)); });
}

// ---- configuration files ---------------------------------------------------------------

HRESULT CXel::Save(BSTR Filename) noexcept {
    return guarded([&]() -> HRESULT {
        const std::filesystem::path path = pathOf(Filename);
        if (path.empty()) return 110;
        UnitSetup s;
        s.powerOnFormat = powerOnFormat_.load();
        s.aesEbuFallback = aesEbuFallback_.load();
        HRESULT hr = format_->get_Count(&s.formatCount);
        if (FAILED(hr)) return hr;
        for (int i = 0; i < kFormatCount; ++i)
            if (FAILED(hr = formatImpl_->GetFormatRecord(i, s.records[static_cast<size_t>(i)].bytes))) return hr;
        if (FAILED(hr = getText(format_.get(), &IFormat::get_ProcessorName, s.processorName))) return hr;
        if (FAILED(hr = getText(profile_.get(), &IProfile::get_TheaterNumber, s.theaterNumber))) return hr;
        if (FAILED(hr = getText(profile_.get(), &IProfile::get_TheaterName, s.theaterName))) return hr;
        if (FAILED(hr = getText(profile_.get(), &IProfile::get_ScreenNumber, s.screenNumber))) return hr;
        if (FAILED(hr = getText(format_.get(), &IFormat::get_ProcessorGUID, s.processorGuid))) return hr;
        s.powerOnMode = powerOnMode_.load();
        const ConfigBytes bytes = encodeConfig(s);
        return writeFileReplacing(path, bytes) ? S_OK : 110;
    });
}

HRESULT CXel::Load(BSTR Filename) noexcept {
    return guarded([&]() -> HRESULT {
        const std::filesystem::path path = pathOf(Filename);
        if (path.empty()) return 110;
        const auto bytes = readFileStart(path, kConfigFileSize);
        if (!bytes) return 110;
        // A short file or a wrong signature is refused before anything is applied.
        const auto s = decodeConfig(*bytes);
        if (!s) return 110;
        // Every value goes through the setter a client would use, so each is
        // also queued for the unit's EEPROM; PowerOnMode last re-queues address 1
        // from both loaded values.
        put_PowerOnFormat(s->powerOnFormat);
        put_AESEBUFallback(s->aesEbuFallback);
        format_->put_Count(s->formatCount);
        for (int i = 0; i < kFormatCount; ++i)
            formatImpl_->SetFormatRecord(i, s->records[static_cast<size_t>(i)].bytes);
        putText(format_.get(), &IFormat::put_ProcessorName, s->processorName);
        putText(profile_.get(), &IProfile::put_TheaterNumber, s->theaterNumber);
        putText(profile_.get(), &IProfile::put_TheaterName, s->theaterName);
        putText(profile_.get(), &IProfile::put_ScreenNumber, s->screenNumber);
        putText(format_.get(), &IFormat::put_ProcessorGUID, s->processorGuid);
        put_PowerOnMode(s->powerOnMode);
        signal_.wake();
        return S_OK;
    });
}

// ---- firmware -------------------------------------------------------------------------

HRESULT CXel::ParseHexFile(BSTR Filename) noexcept {
    return guarded([&]() -> HRESULT {
        const std::filesystem::path path = pathOf(Filename);
        if (path.empty()) return 1;
        MemoryImagePaths paths;
        if (core::ParseHexFile(path, paths) != 0) return 1;
        download_.setImages(paths);
        return S_OK;
    });
}

HRESULT CXel::DownloadToPIC() noexcept {
    download_.start();
    signal_.wake();
    return S_OK;
}

void CXel::endDownload() noexcept {
    // A DownloadToPIC that came in meanwhile keeps the download going.
    download_.end();
    if (commImpl_) commImpl_->CloseBootloader();
}

HRESULT CXel::get_DownloadProgress(LONG* pVal) noexcept {
    if (!pVal) return E_POINTER;
    *pVal = download_.reportedProgress();
    return S_OK;
}

// ---- settling -------------------------------------------------------------------------

SettleTargets CXel::settleTargets() const {
    SettleTargets t;
    t.switches = storedSwitches();
    t.pending[static_cast<size_t>(PendingTable::Core)] = pendingOf(pending_);
    t.pending[static_cast<size_t>(PendingTable::Profile)] = pendingOf(profileImpl_->pending());
    t.pending[static_cast<size_t>(PendingTable::Format)] = pendingOf(formatImpl_->pending());
    return t;
}

HRESULT CXel::WaitSettled(LONG TimeoutMs, LONG* Result) noexcept {
    if (!Result) return E_POINTER;
    if (onMonitorThread()) return E_UNEXPECTED;
    return guarded([&]() -> HRESULT {
        *Result = SettleSomeFailed;
        if (signal_.stopping()) return S_OK;
        VARIANT_BOOL connected = VARIANT_FALSE;
        comm_->IsConnected(&connected);
        if (connected != VARIANT_TRUE) {
            // Whatever was stored could not be queued: it is lost.
            droppedWrites_.store(0);
            return S_OK;
        }
        const QueryState q = query_.state();
        if (!q.queried && q.running == 0) return S_OK;  // never queried, or the monitor failed since
        const bool dropped = droppedWrites_.exchange(0) != 0;
        *Result =
            ledger_.wait(settleTargets(), dropped, std::chrono::milliseconds(TimeoutMs), [this] { signal_.wake(); });
        return S_OK;
    });
}

}  // namespace xel::core
