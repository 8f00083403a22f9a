// xeld: the unit server (see xeld.8). One process holds one unit's link and
// serves many clients over HTTP; one thread owns the core.
#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <httplib.h>
#include <systemd/sd-daemon.h>

#include "tools/xeld/Api.h"
#include "tools/xeld/Hub.h"
#include "tools/xeld/Owner.h"
#include "xelor/version.h"

namespace {

constexpr int kExitUsage = 2;
constexpr size_t kMaxConnections = 64;
constexpr size_t kMaxStreams = 48;
constexpr size_t kStreamQueue = 256;
constexpr size_t kBodyLimit = 64 * 1024;

const char kUsage[] =
    "usage: xeld --address ADDRESS [--name NAME] [--listen HOST:PORT] [--socket PATH]\n"
    "            [--token-file FILE] [--retry-max SECONDS] [--ex-threshold DB]\n";

struct Options {
    std::string address, name = "xelor", listen = "127.0.0.1:8710", socket, tokenFile;
    double retryMax = 30, exThreshold = 40.0;
};

[[noreturn]] void usage(const std::string& why) {
    std::fprintf(stderr, "xeld: %s\n%s", why.c_str(), kUsage);
    std::exit(kExitUsage);
}

double positive(const std::string& flag, const std::string& v) {
    char* end = nullptr;
    const double d = std::strtod(v.c_str(), &end);
    if (v.empty() || *end || !(d > 0) || d > 1e6) usage(flag + " takes a positive number, not \"" + v + "\"");
    return d;
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (a == "--version") {
            std::printf("xeld %s\n", XELOR_VERSION);
            std::exit(0);
        }
        if (i + 1 >= argc) usage("unknown option or missing value: " + a);
        const std::string v = argv[++i];
        if (a == "--address")
            o.address = v;
        else if (a == "--name")
            o.name = v;
        else if (a == "--listen")
            o.listen = v;
        else if (a == "--socket")
            o.socket = v;
        else if (a == "--token-file")
            o.tokenFile = v;
        else if (a == "--retry-max")
            o.retryMax = positive(a, v);
        else if (a == "--ex-threshold") {
            char* end = nullptr;
            o.exThreshold = std::strtod(v.c_str(), &end);
            if (v.empty() || *end) usage("--ex-threshold takes a number of dB, not \"" + v + "\"");
        } else
            usage("unknown option " + a);
    }
    if (o.address.empty()) usage("--address is required");
    if (o.name.empty()) usage("--name must not be empty");
    return o;
}

bool splitListen(const std::string& listen, std::string& host, int& port) {
    const size_t colon = listen.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    host = listen.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    char* end = nullptr;
    const long p = std::strtol(listen.c_str() + colon + 1, &end, 10);
    if (*end || p < 1 || p > 65535) return false;
    port = static_cast<int>(p);
    return true;
}

bool isLoopback(const std::string& host) {
    in_addr a4{};
    if (inet_pton(AF_INET, host.c_str(), &a4) == 1) return (ntohl(a4.s_addr) >> 24) == 127;
    in6_addr a6{};
    if (inet_pton(AF_INET6, host.c_str(), &a6) == 1) return IN6_IS_ADDR_LOOPBACK(&a6);
    return host == "localhost";
}

std::string readToken(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) usage("cannot read the token file " + path);
    if (st.st_mode & (S_IRWXG | S_IRWXO))
        usage("the token file " + path + " may be read by other users; make it mode 0600 or 0400");
    std::ifstream in(path);
    std::string token;
    std::getline(in, token);
    while (!token.empty() && (token.back() == '\r' || token.back() == ' ')) token.pop_back();
    if (token.empty()) usage("the token file " + path + " holds no token");
    return token;
}

std::mutex logMutex;

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    std::string host;
    int port = 0;
    if (!splitListen(o.listen, host, port)) usage("--listen takes HOST:PORT, not \"" + o.listen + "\"");
    std::string token;
    if (!o.tokenFile.empty()) token = readToken(o.tokenFile);
    if (!isLoopback(host) && token.empty()) usage("listening on " + host + " (not loopback) needs --token-file");

    // The signals are taken by this thread alone, before any other starts.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    const std::string tag = "xeld[" + o.name + "]: ";
    auto log = [tag](const std::string& line) {
        std::lock_guard lock(logMutex);
        std::fprintf(stderr, "%s%s\n", tag.c_str(), line.c_str());
        std::fflush(stderr);
    };

    xeld::Hub hub(kMaxStreams, kStreamQueue);
    xeld::Owner owner({o.address, o.retryMax, log}, hub);
    if (!owner.start()) return 1;

    xeld::ApiSettings api{o.name, o.address, o.listen, token, o.exThreshold, false};
    auto configure = [&](httplib::Server& server, const xeld::ApiSettings& s) {
        server.new_task_queue = [] { return new httplib::ThreadPool(kMaxConnections); };
        server.set_read_timeout(10);
        server.set_write_timeout(5);
        server.set_payload_max_length(kBodyLimit);
        // One request per connection: the HTTP library waits for a kept-alive
        // connection's next request by looking every 10 ms, which for 5 s after
        // each scrape or page request tripled an idle server's CPU time.
        server.set_keep_alive_max_count(1);
        xeld::installRoutes(server, s, owner, hub, log);
    };
    httplib::Server tcp;
    configure(tcp, api);
    // An event is one small write: sent at once, never held back behind the
    // last one's acknowledgement.
    tcp.set_tcp_nodelay(true);
    if (!tcp.bind_to_port(host, port)) {
        log("cannot listen on " + o.listen);
        owner.stop();
        return 1;
    }
    std::unique_ptr<httplib::Server> local;
    if (!o.socket.empty()) {
        xeld::ApiSettings localApi = api;
        localApi.unixSocket = true;
        local = std::make_unique<httplib::Server>();
        configure(*local, localApi);
        local->set_address_family(AF_UNIX);
        ::unlink(o.socket.c_str());
        if (!local->bind_to_port(o.socket, 80) || ::chmod(o.socket.c_str(), 0660) != 0) {
            log("cannot listen on " + o.socket);
            owner.stop();
            return 1;
        }
    }
    std::thread tcpThread([&] { tcp.listen_after_bind(); });
    std::thread localThread;
    if (local) localThread = std::thread([&] { local->listen_after_bind(); });
    log("serving " + o.address + " on " + o.listen + (o.socket.empty() ? "" : " and " + o.socket));
    sd_notify(0, "READY=1");

    for (;;) {
        int sig = 0;
        if (sigwait(&signals, &sig) != 0) continue;
        if (sig == SIGHUP) {
            owner.reconnect();
            continue;
        }
        break;
    }
    log("stopping");
    sd_notify(0, "STOPPING=1");
    hub.shutdown();
    tcp.stop();
    if (local) local->stop();
    tcpThread.join();
    if (localThread.joinable()) localThread.join();
    if (local) ::unlink(o.socket.c_str());
    owner.stop();
    return 0;
}
