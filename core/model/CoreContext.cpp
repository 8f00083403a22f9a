#include "core/model/CoreContext.h"

namespace xel::core {

void AttachedContext::attach(CoreContext* context) noexcept {
    std::lock_guard lock(mutex_);
    context_ = context;
}

void AttachedContext::wakeMonitor() noexcept {
    std::lock_guard lock(mutex_);
    if (context_) context_->wakeMonitor();
}

void AttachedContext::noteDroppedWrite() noexcept {
    std::lock_guard lock(mutex_);
    if (context_) context_->noteDroppedWrite();
}

void AttachedContext::switchStored() noexcept {
    std::lock_guard lock(mutex_);
    if (context_) context_->switchStored();
}

}  // namespace xel::core
