// The format object (ProgID "Xelor.Format.1"): the processor definition the unit
// runs — processor name and GUID text, eight FormatRecords, the automation mode
// pin — and the three live switches (current format, automation pin, film).
//
// EEPROM-backed puts change the object's copy at once and queue the changed
// bytes in pending() (nothing is queued while the connection is down); the
// monitor thread writes them. The live switches are only stored here: the
// monitor sends them and mirrors the unit's changes back.
//
// Thread contract
// - Automation members run on the client's thread (one at a time).
// - The monitor thread may at any time use currentFormat()/mirrorCurrentFormat(),
//   pin()/mirrorPin(), film()/mirrorFilm() (atomics) and pending() (self-locking).
// - The configuration file uses the puts, SetFormatRecord and GetFormatRecord,
//   which may run beside the monitor.
// - Texts and records are guarded by the object's own mutex, never held across
//   an exchange with the unit.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <iterator>
#include <mutex>
#include <string>

#include "core/Concrete.h"
#include "core/model/FormatTypes.h"
#include "core/model/UnitMemory.h"
#include "core/protocol/FormatRecord.h"
#include "core/xelor.h"
#include "platform/objrt/Object.h"

namespace xel::core {

class CFormat : public ImplTag<IID_CFormatImpl>,
                public objrt::Dispatch<IFormat, kIFormatDesc>,
                public objrt::ProvideClassInfo<kFormatClass>,
                public ICoreAttach {
public:
    using Impl = ImplTag<IID_CFormatImpl>;
    using Interfaces =
        objrt::InterfaceMap<IFormat, objrt::Through<IDispatch, IFormat>, IProvideClassInfo, ICoreAttach, Impl>;

    // One name for what every base interface declares; Object<> implements them.
    HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override = 0;
    ULONG AddRef() noexcept override = 0;
    ULONG Release() noexcept override = 0;

    // IFormat. Format is a record index 0-7; any other index is E_INVALIDARG
    // and changes nothing.
    HRESULT get_ProcessorName(BSTR* pVal) noexcept override;
    HRESULT put_ProcessorName(BSTR newVal) noexcept override;
    HRESULT get_Count(LONG* pVal) noexcept override;
    HRESULT put_Count(LONG newVal) noexcept override;
    HRESULT get_FormatName(LONG Format, BSTR* pVal) noexcept override;
    HRESULT put_FormatName(LONG Format, BSTR newVal) noexcept override;
    HRESULT get_InputTrim(LONG Format, LONG* pVal) noexcept override;
    HRESULT put_InputTrim(LONG Format, LONG newVal) noexcept override;
    HRESULT get_OutputTrim(LONG Format, LONG* pVal) noexcept override;
    HRESULT put_OutputTrim(LONG Format, LONG newVal) noexcept override;
    HRESULT get_InputDelay(LONG Format, LONG* pVal) noexcept override;
    HRESULT put_InputDelay(LONG Format, LONG newVal) noexcept override;
    HRESULT get_SurroundDelay(LONG Format, LONG* pVal) noexcept override;
    HRESULT put_SurroundDelay(LONG Format, LONG newVal) noexcept override;
    HRESULT get_CurrentFormat(LONG* pVal) noexcept override;
    HRESULT put_CurrentFormat(LONG newVal) noexcept override;
    HRESULT get_ProcessorGUID(BSTR* pVal) noexcept override;
    HRESULT put_ProcessorGUID(BSTR newVal) noexcept override;
    HRESULT GetTrimsAndDelays(LONG Format, LONG* InputTrim, LONG* OutputTrim, LONG* InputDelay,
                              LONG* SurroundDelay) noexcept override;
    HRESULT Query() noexcept override;
    HRESULT Cleanup() noexcept override;
    HRESULT get_Pin(LONG* pVal) noexcept override;
    HRESULT put_Pin(LONG newVal) noexcept override;
    HRESULT get_ModePin(LONG* pVal) noexcept override;
    HRESULT put_ModePin(LONG newVal) noexcept override;
    HRESULT get_Film(VARIANT_BOOL* pVal) noexcept override;
    HRESULT put_Film(VARIANT_BOOL newVal) noexcept override;

    // Copies the 24 bytes into record `index` and queues them at its EEPROM
    // address. E_INVALIDARG (nothing changed) for an index outside 0-7.
    HRESULT SetFormatRecord(int index, const uint8_t record[kFormatRecordSize]) noexcept;
    HRESULT GetFormatRecord(int index, uint8_t record[kFormatRecordSize]) const noexcept;

    // The live switches, for the monitor thread. CurrentFormat is 0-7, Pin the
    // unit's pin value, Film 1 in film (bypass) mode, else 0.
    // A mirror stores the unit's value only while the switch still holds `seen`,
    // in one step: a client put that lands in between is kept, and goes out.
    int32_t currentFormat() const noexcept { return currentFormat_.load(); }
    bool mirrorCurrentFormat(int32_t seen, int32_t found) noexcept {
        return currentFormat_.compare_exchange_strong(seen, found);
    }
    int32_t pin() const noexcept { return pin_.load(); }
    bool mirrorPin(int32_t seen, int32_t found) noexcept { return pin_.compare_exchange_strong(seen, found); }
    int32_t film() const noexcept { return film_.load(); }
    bool mirrorFilm(int32_t seen, int32_t found) noexcept { return film_.compare_exchange_strong(seen, found); }

    PendingEepromWrites& pending() noexcept { return pending_; }

    // ICoreAttach: the core object that created this one (null: none).
    void attachContext(CoreContext* context) noexcept override { context_.attach(context); }

    // The pause before each of the seven records a ModePin put queues
    // (50 ms; a tenth of it under XELOR_TEST_TIMING=fast).
    static int modePinPauseMs() noexcept;

protected:
    CFormat();
    ~CFormat() = default;

private:
    // Changes record `index` under the lock, then queues its 24 bytes.
    template <class F>
    HRESULT updateRecord(LONG index, F&& change) noexcept;
    FormatRecord record(int index) const;
    void queueRecord(int index, const FormatRecord& record) noexcept;

    mutable std::mutex mutex_;  // guards the texts and the records
    std::u16string processorName_;
    std::u16string processorGuid_;
    std::array<FormatRecord, kFormatCount> records_;

    std::atomic<int32_t> count_{kFormatCount};
    std::atomic<int32_t> currentFormat_{0};
    std::atomic<int32_t> pin_{1};
    std::atomic<int32_t> modePin_{1};
    std::atomic<int32_t> film_{0};

    AttachedContext context_;
    PendingEepromWrites pending_{&context_};
};

}  // namespace xel::core
