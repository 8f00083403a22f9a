#include "tests/firmware/BootCallRecorder.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace xeltest {

namespace {

std::mutex g_mutex;
std::vector<BootCall> g_calls;

void record(BootCall call) {
    std::lock_guard lock(g_mutex);
    g_calls.push_back(std::move(call));
}

// The real library's definition. Loading it by the path the core links gives the
// one instance the core shares; the recorder's own definitions shadow it only in
// lookups that reach the recorder first.
template <class F>
F real(const char* name) {
    static_assert(sizeof(F) == sizeof(void*));
    static void* const library = ::dlopen(XELOR_PICBOOT_PATH, RTLD_NOW | RTLD_LOCAL);
    void* symbol = library ? ::dlsym(library, name) : nullptr;
    if (!symbol) std::abort();  // nothing to record without the real library
    F f = nullptr;
    std::memcpy(&f, &symbol, sizeof f);
    return f;
}

}  // namespace

std::vector<BootCall> recordedBootCalls() {
    std::lock_guard lock(g_mutex);
    return g_calls;
}

void clearBootCalls() {
    std::lock_guard lock(g_mutex);
    g_calls.clear();
}

}  // namespace xeltest

using xeltest::BootCall;

extern "C" {

XEL_EXPORT int32_t PicBootOpen(const char* portName, int32_t baud, int32_t timeoutMs) {
    static const auto next = xeltest::real<decltype(&PicBootOpen)>("PicBootOpen");
    BootCall c;
    c.op = BootCall::Op::Open;
    c.port = portName ? portName : "";
    c.baud = baud;
    c.timeoutMs = timeoutMs;
    c.result = c.handle = next(portName, baud, timeoutMs);
    xeltest::record(c);
    return c.result;
}

XEL_EXPORT int32_t PicBootSendPacket(int32_t handle, const uint8_t* packet, uint16_t length, uint16_t replyWaitMs,
                                     uint16_t attempts) {
    static const auto next = xeltest::real<decltype(&PicBootSendPacket)>("PicBootSendPacket");
    BootCall c;
    c.op = BootCall::Op::SendPacket;
    c.handle = handle;
    if (packet) c.packet.assign(packet, packet + length);
    c.replyWaitMs = replyWaitMs;
    c.attempts = attempts;
    c.result = next(handle, packet, length, replyWaitMs, attempts);
    xeltest::record(c);
    return c.result;
}

XEL_EXPORT int32_t PicBootWriteBlock(int32_t handle, const BootBlockRequest* request, const uint8_t* data) {
    static const auto next = xeltest::real<decltype(&PicBootWriteBlock)>("PicBootWriteBlock");
    BootCall c;
    c.op = BootCall::Op::WriteBlock;
    c.handle = handle;
    if (request) {
        c.request = *request;
        if (data) c.data.assign(data, data + request->count);
    }
    c.result = next(handle, request, data);
    xeltest::record(c);
    return c.result;
}

XEL_EXPORT int32_t PicBootClose(int32_t handle) {
    static const auto next = xeltest::real<decltype(&PicBootClose)>("PicBootClose");
    BootCall c;
    c.op = BootCall::Op::Close;
    c.handle = handle;
    c.result = next(handle);
    xeltest::record(c);
    return c.result;
}

}  // extern "C"
