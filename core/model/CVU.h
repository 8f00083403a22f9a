// The level meters (ProgID "Xelor.VU.1"): the latest raw 12-bit output levels
// of the unit's eight channels. The object never talks to the unit: the monitor
// thread reads "vu" and stores each reading here; ReadLevels hands it out.
//
// Thread contract: storeLevels/storeReading (monitor thread) and ReadLevels /
// levels() (any thread) may run at the same time; a reading is stored and handed
// out as one set under the object's mutex, so a reader never sees half of one
// reading and half of the next. Before the first reading all eight are 0.
#pragma once

#include <cstdint>
#include <iterator>
#include <mutex>

#include "core/Concrete.h"
#include "core/model/VUTypes.h"
#include "core/xelor.h"
#include "platform/objrt/Object.h"

namespace xel::core {

inline constexpr int kLevelCount = 8;     // Left, Right, Center, Sub, LeftSurround, RightSurround, LeftEx, RightEx
inline constexpr int kVuReplyValues = 4;  // one channel pair per value of the "vu" reply

class CVU : public ImplTag<IID_CVUImpl>,
            public objrt::Dispatch<IVU, kIVUDesc>,
            public objrt::ProvideClassInfo<kVUClass> {
public:
    using Impl = ImplTag<IID_CVUImpl>;
    using Interfaces = objrt::InterfaceMap<IVU, objrt::Through<IDispatch, IVU>, IProvideClassInfo, Impl>;

    // One name for what every base interface declares; Object<> implements them.
    HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override = 0;
    ULONG AddRef() noexcept override = 0;
    ULONG Release() noexcept override = 0;

    // IVU
    HRESULT ReadLevels(LONG* Left, LONG* Right, LONG* Center, LONG* Sub, LONG* LeftSurround, LONG* RightSurround,
                       LONG* LeftEx, LONG* RightEx) noexcept override;
    HRESULT Cleanup() noexcept override;

    // Replaces all eight levels at once (channel order as ReadLevels).
    void storeLevels(const int32_t levels[kLevelCount]) noexcept;
    // Stores the four values of a "vu" reply: value k carries channel pair k,
    // the first channel in bits 12-23 and the second in bits 0-11.
    void storeReading(const LONG reply[kVuReplyValues]) noexcept;
    // The eight levels of one reading.
    void levels(int32_t out[kLevelCount]) const noexcept;

    // The levels a "vu" reply carries, without storing them.
    static void decodeReading(const LONG reply[kVuReplyValues], int32_t levels[kLevelCount]) noexcept;

protected:
    CVU() = default;
    ~CVU() = default;

private:
    mutable std::mutex mutex_;
    int32_t levels_[kLevelCount] = {};
};

}  // namespace xel::core
