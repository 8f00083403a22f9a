#include "core/model/CoreContext.h"

#include <mutex>

namespace xel::core {

namespace {

std::mutex g_noticeMutex;
CoreNotice* g_notice = nullptr;

}  // namespace

void setCoreNotice(CoreNotice* core) noexcept {
    std::lock_guard lock(g_noticeMutex);
    g_notice = core;
}

void notifyMonitorOfChange() noexcept {
    std::lock_guard lock(g_noticeMutex);
    if (g_notice) g_notice->wakeMonitor();
}

void notifyMonitorOfDroppedWrite() noexcept {
    std::lock_guard lock(g_noticeMutex);
    if (g_notice) g_notice->noteDroppedWrite();
}

void notifyMonitorOfSwitchStored() noexcept {
    std::lock_guard lock(g_noticeMutex);
    if (g_notice) g_notice->switchStored();
}

}  // namespace xel::core
