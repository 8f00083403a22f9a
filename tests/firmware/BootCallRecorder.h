// Records the core's calls into the bootloader library. The recorder is a
// shared library the test program links, so symbol lookup reaches it before the
// core's own libpicboot.so: it defines the four calls itself, notes each call's
// arguments and result, and hands the call on to the real library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/picboot/picboot.h"

namespace xeltest {

struct BootCall {
    enum class Op { Open, SendPacket, WriteBlock, Close };
    Op op = Op::Open;
    int32_t handle = 0;  // the handle passed in; for Open the one returned
    int32_t result = 0;
    // Open
    std::string port;
    int32_t baud = 0;
    int32_t timeoutMs = 0;
    // SendPacket
    std::vector<uint8_t> packet;  // `length` bytes
    uint16_t replyWaitMs = 0;
    uint16_t attempts = 0;
    // WriteBlock
    BootBlockRequest request{};
    std::vector<uint8_t> data;  // `request.count` bytes
};

// Every call since the last clear, in call order. Any thread.
XEL_EXPORT std::vector<BootCall> recordedBootCalls();
XEL_EXPORT void clearBootCalls();

}  // namespace xeltest
