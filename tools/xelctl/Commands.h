// The command table: one row per command drives parsing (argument counts),
// dispatch and the help text. Handlers get the context and their arguments;
// they report failure by throwing Failure (Failure.h) and print their results
// on the context's output, as text or, with --json, as JSON.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/xelctl/Session.h"

namespace xelctl {

struct Options {
    std::string address;  // empty: the connection object's default
    bool json = false;
    bool verbose = false;
};

struct Context {
    const Options& options;
    Session& session;
    std::ostream& out;
    bool inShell = false;

    void print(const nlohmann::ordered_json& j) const;  // one line
    void line(const std::string& text) const;           // one line of text
};

using Args = std::vector<std::string>;
using Handler = void (*)(Context&, const Args&);

struct Command {
    const char* name;
    const char* synopsis;  // the arguments, as the help shows them
    int minArgs;
    int maxArgs;  // -1: any number
    Handler run;
    const char* summary;  // one or more lines of help
};

const std::vector<Command>& commands();
const Command* findCommand(std::string_view name);

// Runs one command line (words[0] is the command). Prints a failure on stderr
// ("xelctl: ...", with `where` in front when given) and returns the exit code.
int runCommand(Context& context, const Args& words, const std::string& where = {});

std::string helpText();
std::string usageLine();

// Handlers (one file each area).
void runQuery(Context&, const Args&);
void runGet(Context&, const Args&);
void runSet(Context&, const Args&);
void runCall(Context&, const Args&);
void runSave(Context&, const Args&);
void runLoad(Context&, const Args&);
void runSetIP(Context&, const Args&);
void runHex(Context&, const Args&);
void runFirmware(Context&, const Args&);
void runWatch(Context&, const Args&);
void runSend(Context&, const Args&);
void runPorts(Context&, const Args&);
void runShell(Context&, const Args&);

// Prints the unit's picture (the object query --json prints) as text or JSON;
// shared by the direct path and the one through xeld.
void printQuery(Context& ctx, const nlohmann::ordered_json& unit);

// Judges a member's status: 0 passes; 1 is a failed exchange, 110 a file that
// cannot be opened, read or written, late-binding codes are usage errors.
void checkStatus(HRESULT status, const std::string& what);

// A path as the operator gave it, made absolute against the working folder.
std::string absolutePath(const std::string& path);

}  // namespace xelctl
