#include "core/model/CProfile.h"

#include "core/model/ModelCalls.h"
#include "core/protocol/EepromText.h"

namespace xel::core {

namespace {
constexpr int kLongestField = kTheaterNumberSize;
static_assert(kTheaterNameSize <= kLongestField && kScreenNumberSize <= kLongestField);
}  // namespace

HRESULT CProfile::get(const Field& field, BSTR* pVal) noexcept {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    return guarded([&] {
        std::lock_guard lock(mutex_);
        return field.text ? copyText(*field.text, pVal) : S_OK;
    });
}

HRESULT CProfile::put(Field& field, BSTR text) noexcept {
    if (!text) return E_POINTER;
    return guarded([&] {
        std::u16string copy(textUpToNul(text));
        LONG values[kLongestField];
        textToEeprom(copy, field.size, values);
        {
            std::lock_guard lock(mutex_);
            field.text = std::move(copy);
        }
        pending_.queueOrReportDrop(field.address, field.size, values);
        return S_OK;
    });
}

HRESULT CProfile::get_TheaterNumber(BSTR* pVal) noexcept { return get(theaterNumber_, pVal); }
HRESULT CProfile::put_TheaterNumber(BSTR pVal) noexcept { return put(theaterNumber_, pVal); }
HRESULT CProfile::get_TheaterName(BSTR* pVal) noexcept { return get(theaterName_, pVal); }
HRESULT CProfile::put_TheaterName(BSTR pVal) noexcept { return put(theaterName_, pVal); }
HRESULT CProfile::get_ScreenNumber(BSTR* pVal) noexcept { return get(screenNumber_, pVal); }
HRESULT CProfile::put_ScreenNumber(BSTR pVal) noexcept { return put(screenNumber_, pVal); }

// Reads the three fields in EEPROM order and stops at the first failure; the
// fields read before it keep their new texts.
HRESULT CProfile::Query() noexcept {
    return guarded([&]() -> HRESULT {
        for (Field* field : {&theaterNumber_, &theaterName_, &screenNumber_}) {
            LONG values[kLongestField] = {};
            if (ReadEeprom(field->address, field->size, values) != S_OK) return 1;
            std::u16string text = textFromEeprom(values, field->size);
            std::lock_guard lock(mutex_);
            field->text = std::move(text);
        }
        return S_OK;
    });
}

HRESULT CProfile::Cleanup() noexcept { return S_OK; }

}  // namespace xel::core
