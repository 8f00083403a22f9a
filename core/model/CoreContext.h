// What the model objects' puts tell the core object that created them.
//
// The core object creates its sub-objects by ProgID and then hands each its
// context through the private ICoreAttach interface; it detaches them again
// (attachContext(nullptr)) before it goes. A sub-object created on its own has
// no context: its puts then have no one to notify.
//
// Thread contract: AttachedContext may be used from any thread. Each notice is
// given under its lock, so once attach() has returned, the context it replaced
// is called no more.
#pragma once

#include <mutex>

namespace xel::core {

class CoreContext {
public:
    // A change for the monitor: it wakes at once instead of at its next look.
    virtual void wakeMonitor() noexcept = 0;
    // A write was dropped (the link was down): the next WaitSettled reports 1.
    virtual void noteDroppedWrite() noexcept = 0;
    // A switch (mute; the format object's film, format and pin) was stored: it
    // is reported like a dropped write unless the monitor is active on a queried
    // link.
    virtual void switchStored() noexcept = 0;

protected:
    ~CoreContext() = default;
};

// A sub-object's hold on the context it was handed, passing each notice on to
// it; with none attached the notices go nowhere.
class AttachedContext final : public CoreContext {
public:
    AttachedContext() = default;
    AttachedContext(const AttachedContext&) = delete;
    AttachedContext& operator=(const AttachedContext&) = delete;
    ~AttachedContext() = default;

    // Waits for a notice in flight to the old context.
    void attach(CoreContext* context) noexcept;

    void wakeMonitor() noexcept override;
    void noteDroppedWrite() noexcept override;
    void switchStored() noexcept override;

private:
    std::mutex mutex_;
    CoreContext* context_ = nullptr;
};

}  // namespace xel::core
