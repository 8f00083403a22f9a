// The commands through a running xeld instead of a link of our own: the same
// output and exit codes as the direct path, over xeld's HTTP interface.
#pragma once

#include <string>

#include "tools/xelctl/Commands.h"

namespace xelctl {

struct ServerOptions {
    std::string url;        // http://HOST:PORT or unix:PATH
    std::string tokenFile;  // empty: no token sent
};

// Runs one command line (words[0] is the command) through the server; prints
// a failure on stderr and returns the exit code.
int runRemote(const Options& options, const ServerOptions& server, const Args& words, std::ostream& out);

}  // namespace xelctl
