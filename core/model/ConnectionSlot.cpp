#include "core/model/ConnectionSlot.h"

#include <mutex>

namespace xel::core {

namespace {

std::mutex g_slotMutex;
IComm* g_comm = nullptr;

}  // namespace

void setSharedComm(IComm* comm) noexcept {
    if (comm) comm->AddRef();
    IComm* old;
    {
        std::lock_guard lock(g_slotMutex);
        old = g_comm;
        g_comm = comm;
    }
    // Released outside the lock: a final release may run arbitrary clean-up.
    if (old) old->Release();
}

IComm* sharedComm() noexcept {
    std::lock_guard lock(g_slotMutex);
    if (g_comm) g_comm->AddRef();
    return g_comm;
}

bool sharedCommConnected() noexcept {
    IComm* comm = sharedComm();
    VARIANT_BOOL connected = VARIANT_FALSE;
    if (comm) {
        comm->IsConnected(&connected);
        comm->Release();
    }
    return connected == VARIANT_TRUE;
}

}  // namespace xel::core
