// What the model objects' puts tell the core object. The core object registers
// itself here while it holds the library's one slot (and clears it before it goes).
// The calls are made under the registration's lock, so a registrant that has
// cleared it is called no more.
#pragma once

namespace xel::core {

class CoreNotice {
public:
    virtual void wakeMonitor() noexcept = 0;
    virtual void noteDroppedWrite() noexcept = 0;
    // A switch (mute; the format object's film, format and pin) was stored.
    virtual void switchStored() noexcept = 0;

protected:
    ~CoreNotice() = default;
};
void setCoreNotice(CoreNotice* core) noexcept;

// Hooks for the library's objects whose puts the monitor acts on (the format
// and profile objects): each may be called from any thread, also when no core
// object exists. A change wakes the monitor at once instead of at its next look;
// a dropped write (the link was down) makes the next WaitSettled report 1.
void notifyMonitorOfChange() noexcept;
void notifyMonitorOfDroppedWrite() noexcept;
// A switch of the format object (film, current format, pin) was stored: it is
// reported like a dropped write unless the monitor is active on a queried link.
void notifyMonitorOfSwitchStored() noexcept;

}  // namespace xel::core
