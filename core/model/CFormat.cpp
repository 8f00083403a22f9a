#include "core/model/CFormat.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "core/model/ConnectionSlot.h"
#include "core/model/ModelCalls.h"
#include "core/protocol/EepromText.h"
#include "core/protocol/UnitCommands.h"
#include "core/protocol/UnitNumbering.h"
#include "platform/codepage/CodePage.h"
#include "xelsys/TestTiming.h"

namespace xel::core {

namespace {

constexpr char16_t kDefaultProcessorName[] = u"Default";
constexpr char16_t kDefaultProcessorGuid[] = u"5B1E7C3A-42D9-4f0e-A6C2-9D83E1F04A27";
// The name a FormatName get hands out: up to 16 characters, then zero characters.
constexpr size_t kFormatNameTextLength = 17;
// Query reads records 0-6; record 7 stays as it is (only a configuration file
// load writes it), and ModePin puts leave it alone as well.
constexpr int kRecordsWithModePin = 7;

// Read once when the library loads, the same test seam as the connection's pauses.
int loadModePinPause() noexcept { return sys::testScaled(50); }
const int g_modePinPauseMs = loadModePinPause();

bool validIndex(LONG index) noexcept { return index >= 0 && index < kFormatCount; }

// A text padded with zero characters (or cut) to exactly `length` characters.
std::u16string fixedWidth(std::u16string_view text, size_t length) {
    std::u16string out(text.substr(0, length));
    out.resize(length, u'\0');
    return out;
}

}  // namespace

CFormat::CFormat() : processorName_(kDefaultProcessorName), processorGuid_(kDefaultProcessorGuid) {
    // Building the default table touches nothing on the unit: nothing is queued.
    for (int i = 0; i < kFormatCount; ++i) records_[static_cast<size_t>(i)] = defaultFormatRecord(i);
}

int CFormat::modePinPauseMs() noexcept { return g_modePinPauseMs; }

// ---- records ---------------------------------------------------------------------

FormatRecord CFormat::record(int index) const {
    std::lock_guard lock(mutex_);
    return records_[static_cast<size_t>(index)];
}

void CFormat::queueRecord(int index, const FormatRecord& record) noexcept {
    LONG values[kFormatRecordSize];
    for (int i = 0; i < kFormatRecordSize; ++i) values[i] = record.bytes[i];
    pending_.queueOrReportDrop(formatRecordAddress(index), kFormatRecordSize, values);
}

template <class F>
HRESULT CFormat::updateRecord(LONG index, F&& change) noexcept {
    if (!validIndex(index)) return E_INVALIDARG;
    return guarded([&] {
        FormatRecord copy;
        {
            std::lock_guard lock(mutex_);
            FormatRecord& r = records_[static_cast<size_t>(index)];
            change(r);
            copy = r;
        }
        queueRecord(index, copy);
        return S_OK;
    });
}

HRESULT CFormat::SetFormatRecord(int index, const uint8_t record[kFormatRecordSize]) noexcept {
    if (!record) return E_POINTER;
    return updateRecord(index, [&](FormatRecord& r) { std::memcpy(r.bytes, record, kFormatRecordSize); });
}

HRESULT CFormat::GetFormatRecord(int index, uint8_t record[kFormatRecordSize]) const noexcept {
    if (!record) return E_POINTER;
    if (!validIndex(index)) return E_INVALIDARG;
    return guarded([&] {
        const FormatRecord r = this->record(index);
        std::memcpy(record, r.bytes, kFormatRecordSize);
        return S_OK;
    });
}

// ---- texts ---------------------------------------------------------------------------

HRESULT CFormat::get_ProcessorName(BSTR* pVal) noexcept {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    return guarded([&] {
        std::lock_guard lock(mutex_);
        return copyText(processorName_, pVal);
    });
}

HRESULT CFormat::put_ProcessorName(BSTR newVal) noexcept {
    if (!newVal) return E_POINTER;
    return guarded([&] {
        std::u16string text = fixedWidth(textUpToNul(newVal), kProcessorNameSize);
        LONG values[kProcessorNameSize];
        textToEeprom(text, kProcessorNameSize, values);
        {
            std::lock_guard lock(mutex_);
            processorName_.swap(text);
        }
        pending_.queueOrReportDrop(kEepromProcessorName, kProcessorNameSize, values);
        return S_OK;
    });
}

HRESULT CFormat::get_ProcessorGUID(BSTR* pVal) noexcept {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    return guarded([&] {
        std::lock_guard lock(mutex_);
        return copyText(processorGuid_, pVal);
    });
}

HRESULT CFormat::put_ProcessorGUID(BSTR newVal) noexcept {
    if (!newVal) return E_POINTER;
    return guarded([&] {
        std::u16string text = fixedWidth(textUpToNul(newVal), kProcessorGuidSize);
        LONG values[kProcessorGuidSize];
        textToEeprom(text, kProcessorGuidSize, values);
        {
            std::lock_guard lock(mutex_);
            processorGuid_.swap(text);
        }
        pending_.queueOrReportDrop(kEepromProcessorGuid, kProcessorGuidSize, values);
        return S_OK;
    });
}

HRESULT CFormat::get_FormatName(LONG Format, BSTR* pVal) noexcept {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    if (!validIndex(Format)) return E_INVALIDARG;
    return guarded([&] {
        const std::u16string name = fixedWidth(cp::toUtf16(record(Format).name()), kFormatNameTextLength);
        return copyText(name, pVal);
    });
}

// A rename starts the format afresh: trims, delays and flags of the record are
// cleared with it, and all 24 bytes are queued.
HRESULT CFormat::put_FormatName(LONG Format, BSTR newVal) noexcept {
    if (!validIndex(Format)) return E_INVALIDARG;
    return guarded([&] {
        const std::string ansi = cp::fromUtf16(textUpToNul(newVal));
        return updateRecord(Format, [&](FormatRecord& r) {
            r = FormatRecord{};
            r.setName(ansi);
        });
    });
}

// ---- trims and delays --------------------------------------------------------------

HRESULT CFormat::get_InputTrim(LONG Format, LONG* pVal) noexcept {
    if (!pVal) return E_POINTER;
    if (!validIndex(Format)) return E_INVALIDARG;
    return guarded([&] {
        *pVal = record(Format).inputTrim();
        return S_OK;
    });
}

HRESULT CFormat::put_InputTrim(LONG Format, LONG newVal) noexcept {
    return updateRecord(Format, [&](FormatRecord& r) { r.setInputTrim(static_cast<uint8_t>(newVal & 0xFF)); });
}

HRESULT CFormat::get_OutputTrim(LONG Format, LONG* pVal) noexcept {
    if (!pVal) return E_POINTER;
    if (!validIndex(Format)) return E_INVALIDARG;
    return guarded([&] {
        *pVal = record(Format).outputTrim();
        return S_OK;
    });
}

HRESULT CFormat::put_OutputTrim(LONG Format, LONG newVal) noexcept {
    return updateRecord(Format, [&](FormatRecord& r) { r.setOutputTrim(static_cast<uint8_t>(newVal & 0xFF)); });
}

HRESULT CFormat::get_InputDelay(LONG Format, LONG* pVal) noexcept {
    if (!pVal) return E_POINTER;
    if (!validIndex(Format)) return E_INVALIDARG;
    return guarded([&] {
        *pVal = record(Format).inputDelay();
        return S_OK;
    });
}

HRESULT CFormat::put_InputDelay(LONG Format, LONG newVal) noexcept {
    return updateRecord(Format, [&](FormatRecord& r) { r.setInputDelay(static_cast<uint16_t>(newVal & 0xFFFF)); });
}

HRESULT CFormat::get_SurroundDelay(LONG Format, LONG* pVal) noexcept {
    if (!pVal) return E_POINTER;
    if (!validIndex(Format)) return E_INVALIDARG;
    return guarded([&] {
        *pVal = record(Format).surroundDelay();
        return S_OK;
    });
}

HRESULT CFormat::put_SurroundDelay(LONG Format, LONG newVal) noexcept {
    return updateRecord(Format, [&](FormatRecord& r) { r.setSurroundDelay(static_cast<uint16_t>(newVal & 0xFFFF)); });
}

HRESULT CFormat::GetTrimsAndDelays(LONG Format, LONG* InputTrim, LONG* OutputTrim, LONG* InputDelay,
                                   LONG* SurroundDelay) noexcept {
    if (!InputTrim || !OutputTrim || !InputDelay || !SurroundDelay) return E_POINTER;
    if (!validIndex(Format)) return E_INVALIDARG;
    return guarded([&] {
        const FormatRecord r = record(Format);
        *InputTrim = r.inputTrim();
        *OutputTrim = r.outputTrim();
        *InputDelay = r.inputDelay();
        *SurroundDelay = r.surroundDelay();
        return S_OK;
    });
}

// ---- count, live switches, mode pin --------------------------------------------------

HRESULT CFormat::get_Count(LONG* pVal) noexcept {
    if (!pVal) return E_POINTER;
    *pVal = count_.load();
    return S_OK;
}

// The unit always has eight formats: whatever is put, 8 is stored and written.
HRESULT CFormat::put_Count(LONG) noexcept {
    count_.store(kFormatCount);
    const LONG value = kFormatCount;
    pending_.queueOrReportDrop(kEepromFormatCount, 1, &value);
    return S_OK;
}

HRESULT CFormat::get_CurrentFormat(LONG* pVal) noexcept {
    if (!pVal) return E_POINTER;
    *pVal = currentFormat_.load();
    return S_OK;
}

HRESULT CFormat::put_CurrentFormat(LONG newVal) noexcept {
    currentFormat_.store(newVal);
    context_.switchStored();
    return S_OK;
}

HRESULT CFormat::get_Pin(LONG* pVal) noexcept {
    if (!pVal) return E_POINTER;
    *pVal = pin_.load();
    return S_OK;
}

HRESULT CFormat::put_Pin(LONG newVal) noexcept {
    pin_.store(newVal);
    context_.switchStored();
    return S_OK;
}

HRESULT CFormat::get_Film(VARIANT_BOOL* pVal) noexcept {
    if (!pVal) return E_POINTER;
    *pVal = film_.load() == 1 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT CFormat::put_Film(VARIANT_BOOL newVal) noexcept {
    film_.store(newVal == VARIANT_TRUE ? 1 : 0);
    context_.switchStored();
    return S_OK;
}

HRESULT CFormat::get_ModePin(LONG* pVal) noexcept {
    if (!pVal) return E_POINTER;
    *pVal = modePin_.load();
    return S_OK;
}

// Each record is queued after a pause of its own, so the monitor writes the
// seven records one by one rather than as one long run.
HRESULT CFormat::put_ModePin(LONG newVal) noexcept {
    modePin_.store(newVal);
    return guarded([&] {
        for (int i = 0; i < kRecordsWithModePin; ++i) {
            FormatRecord r = record(i);
            r.setModePin(newVal & 0x0F);
            std::this_thread::sleep_for(std::chrono::milliseconds(g_modePinPauseMs));
            (void)SetFormatRecord(i, r.bytes);
        }
        return S_OK;
    });
}

HRESULT CFormat::Cleanup() noexcept { return S_OK; }

// ---- reading the definition from the unit -------------------------------------------

HRESULT CFormat::Query() noexcept {
    return guarded([&]() -> HRESULT {
        LONG name[kProcessorNameSize] = {};
        if (ReadEeprom(kEepromProcessorName, kProcessorNameSize, name) != S_OK) return 1;
        {
            std::u16string text = textFromEeprom(name, kProcessorNameSize);
            std::lock_guard lock(mutex_);
            processorName_.swap(text);
        }
        count_.store(kFormatCount);

        auto comm = objrt::ComPtr<IComm>::adopt(sharedComm());
        if (!comm) return 1;

        // The unit numbers its buttons 1-8; anything else leaves the format as
        // it is, and a failed "button" fails the query. A failed "pin" or one
        // without a value keeps the pin; the query goes on. Digital enable 0 is
        // film mode; no answer counts as film mode too.
        bool buttonRead = false;
        const auto preset = [&](unit::Switch which) -> LONG { return which == unit::Switch::Pin ? pin_.load() : 0; };
        unit::readStatusTriple(comm.get(), preset, [&](unit::Switch which, HRESULT status, LONG value) {
            switch (which) {
                case unit::Switch::Button:
                    if (status != S_OK) return false;
                    buttonRead = true;
                    if (const auto named = formatOfButton(value)) currentFormat_.store(*named);
                    return true;
                case unit::Switch::Pin:
                    if (status == S_OK) pin_.store(value);
                    return true;
                default: film_.store(status != S_OK ? 1 : unit::filmOfDigitalEnable(value)); return false;
            }
        });
        if (!buttonRead) return 1;

        LONG guid[kProcessorGuidSize] = {};
        if (ReadEeprom(kEepromProcessorGuid, kProcessorGuidSize, guid) != S_OK) return 1;
        {
            std::u16string text = textFromEeprom(guid, kProcessorGuidSize);
            std::lock_guard lock(mutex_);
            processorGuid_.swap(text);
        }

        for (int i = 0; i < kRecordsWithModePin; ++i) {
            LONG values[kFormatRecordSize] = {};
            if (ReadEeprom(formatRecordAddress(i), kFormatRecordSize, values) != S_OK) return 1;
            FormatRecord r;
            for (int b = 0; b < kFormatRecordSize; ++b) r.bytes[b] = static_cast<uint8_t>(values[b] & 0xFF);
            std::lock_guard lock(mutex_);
            records_[static_cast<size_t>(i)] = r;
        }
        modePin_.store(record(0).modePin());
        return S_OK;
    });
}

}  // namespace xel::core
