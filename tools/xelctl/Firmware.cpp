// hex and firmware: a firmware image checked and converted by the core, and
// downloaded over the unit's serial bootloader.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/xelor.h"
#include "tools/xelctl/Commands.h"
#include "tools/xelctl/Events.h"
#include "tools/xelctl/Failure.h"
#include "tools/xelctl/Interrupt.h"

namespace xelctl {

namespace {

using Clock = std::chrono::steady_clock;
// A download that shows no sign of life for this long is given up.
constexpr auto kStallLimit = std::chrono::seconds(60);
constexpr auto kProgressPeriod = std::chrono::milliseconds(100);

// The memory images the core writes beside the image, in its order.
constexpr const char* kImageFiles[] = {"PROGMEM.MCP", "EEDATA.MCP", "USERID.MCP", "CONFIG.MCP"};

// The operator's lines for each download state, as the console shows them.
const char* stateLine(LONG state) {
    switch (state) {
        case xel::PICDownloadOpening: return "Waiting for response from PIC...";
        case xel::PICDownloadErasing: return "Erasing program memory...";
        case xel::PICDownloadProgram: return "Writing program memory...";
        case xel::PICDownloadData: return "Writing eeprom data...";
        case xel::PICDownloadFailed: return "The firmware update has failed";
        case xel::PICDownloadComplete: return "The firmware update has completed successfully.";
        default: return nullptr;
    }
}

// Checks and converts the image; returns the folder the memory images went to.
std::string convert(Context& ctx, const std::string& given) {
    const std::string path = absolutePath(given);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail(kExitFile, "cannot read " + path + ": " + std::strerror(errno));
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (!regular) fail(kExitFile, "cannot read " + path + ": not a file");
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (::access(folder.c_str(), W_OK) != 0)
        fail(kExitFile, "cannot write the memory images into " + folder + ": " + std::strerror(errno));

    IDispatch* core = ctx.session.core();
    std::vector<Variant> args;
    args.emplace_back(Bstr::fromUtf8(path));
    const DISPID id = idOfName(core, u"ParseHexFile");
    const HRESULT hr = id == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : invoke(core, id, DISPATCH_METHOD, args, nullptr);
    if (hr == 1)
        fail(kExitBadImage, path + " is not a valid firmware image (Intel HEX with a correct checksum on every line)");
    checkStatus(hr, "checking " + path);
    return folder;
}

LONG downloadProgress(Session& s) {
    Variant v;
    return getProperty(s.status(), u"DownloadProgress", v) == S_OK && v.vt == VT_I4 ? v.lVal : -1;
}

void drawBar(const char* label, LONG permille) {
    constexpr int kWidth = 30;
    const int filled = permille < 0 ? 0 : static_cast<int>(permille * kWidth / 1000);
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '-';
    bar[kWidth] = '\0';
    std::printf("\r%-32s [%s] %5.1f%%", label, bar, permille < 0 ? 0.0 : permille / 10.0);
    std::fflush(stdout);
}

}  // namespace

void runHex(Context& ctx, const Args& args) {
    const std::string folder = convert(ctx, args[0]);
    if (ctx.options.json) {
        nlohmann::ordered_json j;
        j["image"] = absolutePath(args[0]);
        j["valid"] = true;
        nlohmann::ordered_json files = nlohmann::ordered_json::array();
        for (const char* f : kImageFiles) files.push_back(folder + "/" + f);
        j["files"] = files;
        ctx.print(j);
        return;
    }
    for (const char* f : kImageFiles) ctx.line(folder + "/" + f);
}

void runFirmware(Context& ctx, const Args& args) {
    Session& s = ctx.session;
    const bool text = !ctx.options.json;
    if (text) ctx.line("Validating download image...");
    convert(ctx, args[0]);

    // The bootloader speaks on the serial line itself; the unit is not connected.
    IDispatch* core = s.core();
    s.disconnect();
    const std::vector<MemberInfo> events = describeSource(core, xel::DIID__IXelEvents);
    ComPtr<EventSink> sink = EventSink::create(xel::DIID__IXelEvents);
    Subscription subscription(core, xel::DIID__IXelEvents, sink.get());
    std::vector<Variant> none;
    const DISPID id = idOfName(core, u"DownloadToPIC");
    checkStatus(id == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : invoke(core, id, DISPATCH_METHOD, none, nullptr),
                "starting the download");

    // Ctrl-C must not cut a download short: the unit would be left half written.
    InterruptWatch interrupt;
    const bool bar = text && ::isatty(STDOUT_FILENO);
    const char* label = stateLine(xel::PICDownloadOpening);
    LONG lastProgress = -2;
    auto lastSign = Clock::now();
    for (;;) {
        pollfd fds[2] = {{sink->fd(), POLLIN, 0}, {interrupt.fd(), POLLIN, 0}};
        (void)::poll(fds, 2, static_cast<int>(kProgressPeriod.count()));
        if (interrupt.fired()) std::fprintf(stderr, "\nxelctl: a download cannot be interrupted; it ends by itself\n");
        for (const ReceivedEvent& e : sink->take()) {
            if (e.id != xel::DISPID_PICDownloadStateChange || e.args.empty() || e.args[0].vt != VT_I4) continue;
            lastSign = Clock::now();
            const LONG state = e.args[0].lVal;
            if (!text) {
                ctx.print(eventJson(e, events));
            } else if (const char* line = stateLine(state)) {
                if (bar) std::printf("\n");
                label = line;
                ctx.line(line);
            }
            if (state == xel::PICDownloadComplete) return;
            if (state == xel::PICDownloadFailed)
                fail(kExitUnit,
                     "Please make sure the unit is powered on and is ready to receive firmware (the bootloader is "
                     "reached on the serial port " +
                         s.address() + ")");
        }
        const LONG progress = downloadProgress(s);
        if (progress != lastProgress) {
            lastProgress = progress;
            lastSign = Clock::now();
            if (bar && progress >= 0) drawBar(label, progress);
        }
        if (Clock::now() - lastSign > kStallLimit) fail(kExitUnit, "the download shows no progress; giving up");
    }
}

}  // namespace xelctl
