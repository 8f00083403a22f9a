#include "core/model/UnitMemory.h"

#include "core/model/ConnectionSlot.h"
#include "core/protocol/UnitCommands.h"

namespace xel::core {

HRESULT ReadEeprom(uint16_t address, int count, LONG* values) noexcept {
    if (count > 0 && !values) return E_POINTER;
    if (count > 0x7FFF) return E_INVALIDARG;
    IComm* comm = sharedComm();
    if (!comm) return 1;
    HRESULT hr = 1;
    try {
        hr = unit::ask(comm, unit::readEepromCommand(address, count), count, values);
    } catch (...) {
        hr = E_OUTOFMEMORY;
    }
    comm->Release();
    return hr;
}

HRESULT WriteEeprom(uint16_t address, int count, const LONG* values) noexcept {
    if (count < 0 || count > PendingEepromWrites::kMaxRun) return E_INVALIDARG;
    if (count > 0 && !values) return E_POINTER;
    IComm* comm = sharedComm();
    if (!comm) return 1;
    HRESULT hr = 1;
    try {
        hr = unit::tell(comm, unit::writeEepromCommand(address, count, values));
    } catch (...) {
        hr = E_OUTOFMEMORY;
    }
    comm->Release();
    return hr;
}

bool PendingEepromWrites::queue(uint16_t address, int count, const LONG* values) noexcept {
    if (count <= 0 || !values || address + count - 1 > 0xFFFF) return false;
    try {
        {
            std::lock_guard lock(mutex_);
            // Not connected: the caller's field keeps its new value, the unit its old one.
            if (!sharedCommConnected()) return false;
            for (int i = 0; i < count; ++i)
                table_[static_cast<uint16_t>(address + i)] =
                    static_cast<LONG>(static_cast<uint32_t>(values[i]) | 0x80000000u);
        }
        // The monitor sleeps until its next reading is due: bytes to write wake it.
        if (notify_) notify_->wakeMonitor();
        return true;
    } catch (...) {
        return false;
    }
}

void PendingEepromWrites::queueOrReportDrop(uint16_t address, int count, const LONG* values) noexcept {
    if (!queue(address, count, values) && notify_) notify_->noteDroppedWrite();
}

bool PendingEepromWrites::anyPending() const noexcept {
    std::lock_guard lock(mutex_);
    for (const auto& [address, value] : table_)
        if (value < 0) return true;
    return false;
}

std::optional<PendingEepromWrites::Run> PendingEepromWrites::takeRun(int maxValues) noexcept {
    try {
        if (maxValues <= 0) return std::nullopt;
        std::lock_guard lock(mutex_);
        auto it = table_.begin();
        while (it != table_.end() && it->second >= 0) ++it;
        if (it == table_.end()) return std::nullopt;
        Run run;
        run.address = it->first;
        run.values.reserve(static_cast<size_t>(maxValues));
        uint32_t next = it->first;
        for (; it != table_.end() && it->first == next && it->second < 0 &&
               static_cast<int>(run.values.size()) < maxValues;
             ++it, ++next) {
            run.values.push_back(it->second & 0x00FFFFFF);
            it->second = 0;
        }
        return run;
    } catch (...) {
        return std::nullopt;
    }
}

void PendingEepromWrites::discardAll() noexcept {
    std::lock_guard lock(mutex_);
    for (auto& entry : table_) entry.second = 0;
}

std::vector<std::pair<uint16_t, LONG>> PendingEepromWrites::entries() const {
    std::lock_guard lock(mutex_);
    return {table_.begin(), table_.end()};
}

}  // namespace xel::core
