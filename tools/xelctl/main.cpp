// xelctl: the command-line client of the Xelor control suite (see xelctl.1).
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "platform/registry/Registry.h"
#include "tools/xelctl/Commands.h"
#include "tools/xelctl/Failure.h"
#include "tools/xelctl/Interrupt.h"
#include "tools/xelctl/Remote.h"
#include "xelor/version.h"

namespace {

// The console keeps the connection address here.
constexpr const char* kSettingsKey = "Software\\Corvane Labs\\Xelor";

// The core's byte trace is switched on by this variable, read when the core loads.
constexpr const char* kTraceVariable = "XELOR_TRACE";

struct Parsed {
    xelctl::Options options;
    xelctl::ServerOptions server;
    bool addressGiven = false;
    xelctl::Args words;
    bool help = false;
    bool version = false;
};

Parsed parse(int argc, char** argv) {
    Parsed p;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a.empty() || a[0] != '-') break;
        if (a == "-h" || a == "--help") {
            p.help = true;
        } else if (a == "--version") {
            p.version = true;
        } else if (a == "--json") {
            p.options.json = true;
        } else if (a == "-v" || a == "--verbose") {
            p.options.verbose = true;
        } else if (a == "-a" || a == "--address") {
            if (i + 1 >= argc) xelctl::usageError(a + " needs an ADDRESS");
            p.options.address = argv[++i];
            p.addressGiven = true;
        } else if (a.rfind("--address=", 0) == 0) {
            p.options.address = a.substr(10);
            p.addressGiven = true;
        } else if (a.size() > 2 && a[0] == '-' && a[1] == 'a') {
            p.options.address = a.substr(2);
            p.addressGiven = true;
        } else if (a == "--server" || a == "--token-file") {
            if (i + 1 >= argc) xelctl::usageError(a + (a == "--server" ? " needs a URL" : " needs a FILE"));
            (a == "--server" ? p.server.url : p.server.tokenFile) = argv[++i];
        } else {
            xelctl::usageError("unknown option " + a);
        }
    }
    for (; i < argc; ++i) p.words.emplace_back(argv[i]);
    if (p.addressGiven && !p.server.url.empty())
        xelctl::usageError("-a and --server exclude each other: xeld already holds the unit's address");
    if (!p.server.tokenFile.empty() && p.server.url.empty()) xelctl::usageError("--token-file goes with --server");
    if (p.server.url.empty() && p.options.address.empty() && (p.help || !p.words.empty())) {
        if (auto saved = xel::registry::getString(xel::registry::Root::CurrentUser, kSettingsKey, "Address"))
            p.options.address = *saved;
    }
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    Parsed p;
    try {
        p = parse(argc, argv);
    } catch (const xelctl::Failure& f) {
        std::cerr << "xelctl: " << f.what() << '\n' << xelctl::usageLine() << '\n';
        return f.code();
    }
    if (p.version) {
        std::cout << "xelctl " << XELOR_VERSION << '\n';
        return xelctl::kExitOk;
    }
    if (p.help) {
        std::cout << xelctl::helpText();
        return xelctl::kExitOk;
    }
    if (p.words.empty()) {
        std::cerr << xelctl::usageLine() << "\n(xelctl --help lists the commands)\n";
        return xelctl::kExitUsage;
    }
    // Before the core is loaded: it reads the switch once, at load.
    if (p.options.verbose) ::setenv(kTraceVariable, "1", 1);
    xelctl::installInterruptHandlers();
    if (!p.server.url.empty()) return xelctl::runRemote(p.options, p.server, p.words, std::cout);

    xelctl::Session session(p.options.address);
    xelctl::Context context{p.options, session, std::cout};
    return xelctl::runCommand(context, p.words);
}
