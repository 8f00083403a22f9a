// watch: the unit's events as the core raises them, and its output levels.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

#include "core/xelor.h"
#include "tools/xelctl/Commands.h"
#include "tools/xelctl/Events.h"
#include "tools/xelctl/Failure.h"
#include "tools/xelctl/Interrupt.h"
#include "tools/xelctl/Text.h"

namespace xelctl {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLevelPeriod = std::chrono::seconds(1);

std::optional<long> parseSeconds(const Args& args) {
    if (args.empty()) return std::nullopt;
    std::string value;
    if (args.size() == 2 && args[0] == "--seconds")
        value = args[1];
    else if (args.size() == 1 && args[0].rfind("--seconds=", 0) == 0)
        value = args[0].substr(10);
    else
        usageError("usage: watch [--seconds N]");
    const auto n = parseInteger(value, 1, 24L * 3600 * 365);
    if (!n) usageError("--seconds takes a whole number of seconds from 1 up, not \"" + value + "\"");
    return *n;
}

void printLevels(Context& ctx, IDispatch* vu, const MemberInfo& readLevels) {
    std::vector<Variant> slots(readLevels.params.size());
    std::vector<Variant> args;
    for (Variant& slot : slots) args.push_back(Variant::refTo(&slot));
    checkStatus(invoke(vu, readLevels.id, DISPATCH_METHOD, args, nullptr), "reading the levels");
    if (ctx.options.json) {
        ctx.print(levelsJson(slots, readLevels));
        return;
    }
    std::string text = "Levels";
    for (size_t i = 0; i < slots.size(); ++i) text += " " + readLevels.params[i].name + "=" + valueText(slots[i]);
    ctx.line(text);
}

}  // namespace

void runWatch(Context& ctx, const Args& args) {
    const std::optional<long> seconds = parseSeconds(args);
    Session& s = ctx.session;
    IDispatch* core = s.core();
    const std::vector<MemberInfo> events = describeSource(core, xel::DIID__IXelEvents);
    const MemberInfo& readLevels = findMember(s.members("VU"), "ReadLevels", "VU");
    IDispatch* vu = s.object("VU");

    // Ctrl-C from here on ends the watch cleanly, once connecting is over.
    InterruptWatch interrupt;
    // Listening before the settings are read: nothing the monitor raises is missed.
    ComPtr<EventSink> sink = EventSink::create(xel::DIID__IXelEvents);
    Subscription subscription(core, xel::DIID__IXelEvents, sink.get());
    s.ensureQueried();
    if (interrupt.fired()) return;

    if (::isatty(STDERR_FILENO))
        std::fprintf(stderr, "xelctl: watching the unit at %s (Ctrl-C ends)\n", s.address().c_str());
    const auto start = Clock::now();
    const Clock::time_point deadline = seconds ? start + std::chrono::seconds(*seconds) : Clock::time_point::max();
    auto nextLevels = start + kLevelPeriod;

    for (;;) {
        const auto until = std::min(nextLevels, deadline);
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        pollfd fds[2] = {{sink->fd(), POLLIN, 0}, {interrupt.fd(), POLLIN, 0}};
        (void)::poll(fds, 2, wait > 0 ? static_cast<int>(wait) + 1 : 0);

        for (const ReceivedEvent& e : sink->take()) {
            if (ctx.options.json)
                ctx.print(eventJson(e, events));
            else
                ctx.line(eventText(e, events));
            if (e.id == xel::DISPID_CommFail) {
                s.dropLink();
                fail(kExitUnit, "the link to the unit failed");
            }
        }
        if (interrupt.fired()) return;
        const auto now = Clock::now();
        if (now >= nextLevels) {
            printLevels(ctx, vu, readLevels);
            nextLevels += kLevelPeriod;
            if (nextLevels < now) nextLevels = now + kLevelPeriod;
        }
        if (now >= deadline) return;
    }
}

}  // namespace xelctl
