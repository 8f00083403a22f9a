// xelsim: the unit in software. See --help.
#include "tools/xelsim/BootHandler.h"
#include "tools/xelsim/EventLoop.h"
#include "tools/xelsim/FrontPanel.h"
#include "tools/xelsim/JsonLog.h"
#include "tools/xelsim/Options.h"
#include "tools/xelsim/PowerSwitch.h"
#include "tools/xelsim/Storage.h"
#include "tools/xelsim/Transport.h"
#include "tools/xelsim/UnitHandler.h"
#include "tools/xelsim/UnitModel.h"
#include "xelor/version.h"

#include <signal.h>

#include <cstdio>
#include <exception>
#include <random>

namespace {

int fail(const std::string& message, int status = 1) {
    std::fprintf(stderr, "xelsim: %s\n", message.c_str());
    return status;
}

int runUnit(const xelsim::Options& opt) {
    using namespace xelsim;
    std::string error;
    EepromImage image = factoryEeprom();
    IpSettings ip;
    const Storage storage = opt.eepromPath.empty() ? Storage() : Storage(opt.eepromPath);
    bool found = false;
    if (!storage.load(image, ip, found, error)) return fail(error);
    if (!opt.configPath.empty() && !seedFromConfig(opt.configPath, image, error)) return fail(error);
    if (storage.enabled() && (!found || !opt.configPath.empty()) && !storage.saveEeprom(image, error))
        return fail(error);

    std::vector<ScriptLine> script;
    if (!opt.scriptPath.empty() && !loadScript(opt.scriptPath, script, error)) return fail(error);

    JsonLog log;
    if (!opt.logPath.empty() && !log.open(opt.logPath, error)) return fail(error);

    const std::uint32_t seed = opt.seed ? *opt.seed : std::random_device{}();
    UnitModel unit(image, seed);
    unit.setIp(ip);
    UnitHandler handler(unit, opt.faults, log, storage, seed);
    BootHandler boot(log);
    if (opt.bootSilentAfter) boot.device().faults().answerLimit = *opt.bootSilentAfter;
    boot.device().faults().deadProgramCell = opt.bootDeadCell;
    PowerSwitch power(unit, handler, boot, log, !opt.ptyLink.empty(), opt.bootloader);
    FrontPanel panel(unit, handler, log);
    panel.attach(power);

    std::unique_ptr<Transport> transport =
        opt.ptyLink.empty() ? makeTcpTransport(opt.tcpAddress, opt.tcpPort) : makePtyTransport(opt.ptyLink, opt.baud);
    log.event("start", transport->readyLine());
    if (opt.bootloader) log.event("power", "on with Mode held: bootloader");
    EventLoop loop(*transport, power, panel, log, opt.baud, std::move(script));
    return loop.run();
}

}  // namespace

int main(int argc, char** argv) {
    // Writes to a host that went away must fail, not kill the unit.
    ::signal(SIGPIPE, SIG_IGN);
    // SIGINT and SIGTERM arrive through the event loop's signalfd.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &stop, nullptr);

    xelsim::Options opt;
    std::string error;
    if (!xelsim::parseOptions(std::vector<std::string>(argv + 1, argv + argc), opt, error)) return fail(error, 2);
    if (opt.version) {
        std::printf("xelsim %s\n", XELOR_VERSION);
        return 0;
    }
    if (opt.help) {
        std::fputs(xelsim::usageText().c_str(), stdout);
        return 0;
    }
    try {
        return runUnit(opt);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}
