// The theatre profile (ProgID "Xelor.Profile.1"): theatre number, theatre name
// and screen number, mirrored from the unit's EEPROM (0x024, 0x044, 0x064).
//
// A put stores the caller's text (up to its first zero character, any length)
// and queues the field's bytes in pending(): the first 32 (or 4) characters,
// zero after the end. Nothing is queued while the connection is down. After
// Query each text is exactly as wide as its field, trailing zeros included.
//
// Thread contract: automation members run on the client's thread; the monitor
// thread may use pending() (self-locking) at any time. The texts are guarded by
// the object's own mutex, never held across an exchange with the unit.
#pragma once

#include <iterator>
#include <mutex>
#include <optional>
#include <string>

#include "core/Concrete.h"
#include "core/model/ProfileTypes.h"
#include "core/model/UnitMemory.h"
#include "core/protocol/EepromMap.h"
#include "core/xelor.h"
#include "platform/objrt/Object.h"

namespace xel::core {

class CProfile : public ImplTag<IID_CProfileImpl>,
                 public objrt::Dispatch<IProfile, kIProfileDesc>,
                 public objrt::ProvideClassInfo<kProfileClass>,
                 public ICoreAttach {
public:
    using Impl = ImplTag<IID_CProfileImpl>;
    using Interfaces =
        objrt::InterfaceMap<IProfile, objrt::Through<IDispatch, IProfile>, IProvideClassInfo, ICoreAttach, Impl>;

    // One name for what every base interface declares; Object<> implements them.
    HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override = 0;
    ULONG AddRef() noexcept override = 0;
    ULONG Release() noexcept override = 0;

    // IProfile. A get of a text never stored hands out a null BSTR.
    HRESULT get_TheaterNumber(BSTR* pVal) noexcept override;
    HRESULT put_TheaterNumber(BSTR pVal) noexcept override;
    HRESULT get_TheaterName(BSTR* pVal) noexcept override;
    HRESULT put_TheaterName(BSTR pVal) noexcept override;
    HRESULT get_ScreenNumber(BSTR* pVal) noexcept override;
    HRESULT put_ScreenNumber(BSTR pVal) noexcept override;
    HRESULT Query() noexcept override;
    HRESULT Cleanup() noexcept override;

    PendingEepromWrites& pending() noexcept { return pending_; }

    // ICoreAttach: the core object that created this one (null: none).
    void attachContext(CoreContext* context) noexcept override { context_.attach(context); }

protected:
    CProfile() = default;
    ~CProfile() = default;

private:
    struct Field {
        uint16_t address;
        int size;
        std::optional<std::u16string> text;  // empty: never stored
    };
    HRESULT get(const Field& field, BSTR* pVal) noexcept;
    HRESULT put(Field& field, BSTR text) noexcept;

    mutable std::mutex mutex_;  // guards the three texts
    Field theaterNumber_{kEepromTheaterNumber, kTheaterNumberSize, {}};
    Field theaterName_{kEepromTheaterName, kTheaterNameSize, {}};
    Field screenNumber_{kEepromScreenNumber, kScreenNumberSize, {}};

    AttachedContext context_;
    PendingEepromWrites pending_{&context_};
};

}  // namespace xel::core
