#include "tools/xelsim/BootHandler.h"

#include <nlohmann/json.hpp>

namespace xelsim {

namespace {

std::string hex(const std::vector<std::uint8_t>& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0xF]);
    }
    return out;
}

}  // namespace

BootHandler::BootHandler(JsonLog& log) : log_(log) {}

void BootHandler::sessionStarted(const std::string& peer) { log_.event("connect", "bootloader " + peer); }

void BootHandler::sessionEnded(const std::string& why) { log_.event("disconnect", "bootloader " + why); }

void BootHandler::received(std::span<const std::uint8_t> bytes, Outbox& out) {
    std::string reply = device_.received(bytes);
    if (!reply.empty()) out.send(std::move(reply));
    const long limit = device_.faults().answerLimit;
    if (!silenceLogged_ && limit >= 0 && device_.counters().requests >= limit) {
        // Once, so a test's failure message shows where the device went quiet.
        silenceLogged_ = true;
        log_.event("withheld", "boot-silent-after " + std::to_string(limit));
    }
}

std::string BootHandler::dump() const {
    const BootDevice::Counters& c = device_.counters();
    nlohmann::json j;
    j["mode"] = "bootloader";
    j["program"] = hex(device_.programMemory());
    j["data_eeprom"] = hex(device_.eeprom());
    if (auto flag = device_.bootFlag())
        j["boot_flag"] = *flag;
    else
        j["boot_flag"] = nullptr;
    j["requests"] = c.requests;
    j["bad_frames"] = c.badFrames;
    j["erased_rows"] = c.erasedRows;
    j["writes"] = c.writes;
    return j.dump();
}

}  // namespace xelsim
