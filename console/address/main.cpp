// xelexec-address: shows or stores the connection address the console applies
// to the connection object on its next start (the value "Address" that the
// Communication Settings dialog writes), for scripts such as `make run`.
//
//   xelexec-address              print the stored address (exit 1 when none)
//   xelexec-address ADDRESS      store ADDRESS: COM1-COM9, USB, an IPv4 address or a host name
//   xelexec-address --version    show the suite's version
#include <cstdio>
#include <cstring>
#include <string>

#include "console/CXelExecApp.h"
#include "platform/registry/Registry.h"
#include "xelor/version.h"

namespace reg = xel::registry;

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("xelexec-address %s\n", XELOR_VERSION);
        return 0;
    }
    if (argc > 2 || (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0))) {
        std::fprintf(stderr, "usage: xelexec-address [ADDRESS | --version]\n");
        return 2;
    }
    if (argc == 1) {
        const auto stored =
            reg::getString(reg::Root::CurrentUser, CXelExecApp::kRegistryKey, CXelExecApp::kAddressValue);
        if (!stored) {
            std::fprintf(stderr, "xelexec-address: no address stored; the console uses the connection's default\n");
            return 1;
        }
        std::printf("%s\n", stored->c_str());
        return 0;
    }
    const std::string address = argv[1];
    if (address.empty() || address.size() > static_cast<size_t>(CXelExecApp::kMaxAddressLength)) {
        std::fprintf(stderr, "xelexec-address: an address has 1 to %d characters\n", CXelExecApp::kMaxAddressLength);
        return 2;
    }
    const reg::Status st =
        reg::setString(reg::Root::CurrentUser, CXelExecApp::kRegistryKey, CXelExecApp::kAddressValue, address);
    if (st != reg::Status::Ok) {
        std::fprintf(stderr, "xelexec-address: cannot store the address: %s\n", reg::toString(st));
        return 1;
    }
    return 0;
}
