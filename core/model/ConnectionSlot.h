// The library-wide connection slot: the one connection every command of the
// library goes through (one per process; the core object fills it on creation
// and empties it on its final release).
//
// Thread contract: any function may be called from any thread.
#pragma once

#include "core/xelor.h"

namespace xel::core {

// The slot holds a reference; sharedComm() returns it with a reference added
// (null when empty).
void setSharedComm(IComm* comm) noexcept;
IComm* sharedComm() noexcept;
// Whether the slot holds a connection that is connected.
bool sharedCommConnected() noexcept;

}  // namespace xel::core
