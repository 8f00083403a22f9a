#include "tools/xelsim/UnitHandler.h"

#include <cstdio>

namespace xelsim {

using std::chrono::milliseconds;

UnitHandler::UnitHandler(UnitModel& unit, const FaultPlan& faults, JsonLog& log, const Storage& storage,
                         std::uint32_t seed)
    : unit_(unit), faults_(faults), log_(log), storage_(storage), rng_(seed ^ 0x5EEDu) {}

void UnitHandler::sessionStarted(const std::string& peer) {
    ++sessions_;
    sessionCommands_ = 0;
    ending_ = false;
    framer_.reset();
    log_.event("connect", peer);
}

void UnitHandler::sessionEnded(const std::string& why) {
    framer_.reset();
    log_.event("disconnect", why);
}

void UnitHandler::received(std::span<const std::uint8_t> bytes, Outbox& out) {
    if (ending_) return;
    for (const Frame& frame : framer_.push(bytes)) {
        ++sessionCommands_;
        ++commands_;
        log_.received(frame, unit_.verdict(frame));
        const long n = sessionCommands_;
        if (faults_.resetAfter && n > *faults_.resetAfter) {
            restart(out, "reset-after");
            return;
        }
        if (faults_.dropAfter && n > *faults_.dropAfter) {
            drop(out, "drop-after");
            return;
        }
        if (faults_.rstAfter && n > *faults_.rstAfter) {
            drop(out, "rst-after", LinkEnd::Abort);
            return;
        }
        const Reply reply = unit_.execute(frame);
        persist(reply);
        if (reply.resets) {
            // Bytes behind "setip" in the same read are lost with the restart.
            restart(out, "setip");
            return;
        }
        answer(reply, out);
    }
}

void UnitHandler::answer(const Reply& reply, Outbox& out) {
    const long n = sessionCommands_;
    if (faults_.silent || (faults_.silentAfter && n > *faults_.silentAfter)) {
        log_.event("withheld", "silent");
        return;
    }
    std::string bytes = reply.bytes;
    std::vector<std::string> applied;
    if (faults_.garbageAfter && n > *faults_.garbageAfter) {
        bytes = garbage();
        applied.push_back("garbage");
    } else if (faults_.noPromptAfter && n > *faults_.noPromptAfter) {
        if (!bytes.empty() && bytes.back() == '>') bytes.pop_back();
        applied.push_back("no-prompt");
    }
    if (faults_.delayMs > 0) applied.push_back("delay");
    if (faults_.split && bytes.size() > 1) applied.push_back("split");
    log_.sent(bytes, applied);

    const milliseconds delay{faults_.delayMs};
    if (!faults_.split || bytes.size() < 2) {
        out.send(std::move(bytes), delay);
        return;
    }
    // Three pieces (fewer for a two-byte reply), so the prompt comes only with the last.
    const std::size_t pieces = bytes.size() >= 3 ? 3 : 2;
    std::size_t at = 0;
    for (std::size_t i = 0; i < pieces; ++i) {
        const std::size_t end = bytes.size() * (i + 1) / pieces;
        out.send(bytes.substr(at, end - at), delay + milliseconds{faults_.splitMs} * static_cast<int>(i));
        at = end;
    }
}

std::string UnitHandler::garbage() {
    std::uniform_int_distribution<int> length(4, 40);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string out;
    for (int i = length(rng_); i > 0; --i) {
        int b = byte(rng_);
        if (b == '>') b = '<';
        out.push_back(static_cast<char>(b));
    }
    return out + ">";
}

void UnitHandler::persist(const Reply& reply) {
    std::string error;
    if (reply.eepromChanged && !storage_.saveEeprom(unit_.eeprom(), error)) {
        std::fprintf(stderr, "xelsim: %s\n", error.c_str());
        log_.event("storage-error", error);
    }
    if (reply.ipChanged && !storage_.saveIp(unit_.ip(), error)) {
        std::fprintf(stderr, "xelsim: %s\n", error.c_str());
        log_.event("storage-error", error);
    }
}

void UnitHandler::eepromChanged() {
    Reply r;
    r.eepromChanged = true;
    persist(r);
}

void UnitHandler::restart(Outbox& out, const std::string& why) {
    log_.event("reset", why);
    unit_.powerOn();
    ++resets_;
    framer_.reset();
    ending_ = true;
    out.end(LinkEnd::Reset);
}

void UnitHandler::drop(Outbox& out, const std::string& why, LinkEnd how) {
    log_.event(how == LinkEnd::Abort ? "rst" : "drop", why);
    framer_.reset();
    ending_ = true;
    out.end(how);
}

}  // namespace xelsim
