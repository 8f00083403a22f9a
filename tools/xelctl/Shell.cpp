// shell: commands from standard input over one session.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "tools/xelctl/Commands.h"
#include "tools/xelctl/Failure.h"
#include "tools/xelctl/Text.h"

namespace xelctl {

void runShell(Context& ctx, const Args&) {
    if (ctx.inShell) usageError("a shell cannot start another shell");
    Context inner{ctx.options, ctx.session, ctx.out, true};
    const bool interactive = ::isatty(STDIN_FILENO);
    int firstFailure = kExitOk;
    std::string line;
    for (long number = 1;; ++number) {
        if (interactive) {
            std::fputs("xelctl> ", stderr);
            std::fflush(stderr);
        }
        if (!std::getline(std::cin, line)) break;
        const auto words = splitShellLine(line);
        const std::string where = "line " + std::to_string(number);
        if (!words) {
            std::cerr << "xelctl: " << where << ": a quote is not closed\n";
            if (firstFailure == kExitOk) firstFailure = kExitUsage;
            continue;
        }
        if (words->empty()) continue;
        if ((*words)[0] == "quit" || (*words)[0] == "exit") break;
        if ((*words)[0] == "help") {
            std::cout << helpText();
            continue;
        }
        const int code = runCommand(inner, *words, interactive ? std::string() : where);
        // A link that failed is dropped; the next command that needs it connects again.
        if (code == kExitUnit) ctx.session.dropLink();
        if (code != kExitOk && firstFailure == kExitOk) firstFailure = code;
    }
    if (interactive) std::fputs("\n", stderr);
    // Each failure was reported on its line; the first one sets the exit code.
    if (firstFailure != kExitOk) throw Failure(firstFailure, "");
}

}  // namespace xelctl
