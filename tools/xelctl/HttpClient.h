// One HTTP/1.1 exchange with xeld over TCP or a Unix socket, for xelctl --server.
//
// xelctl starts for every command, so its start-up is most of a command's time:
// this client is a socket, one write of the request and Debian's http-parser
// (linked statically) for the response, instead of an HTTP library that brings
// a TLS and compression stack the loader must map and relocate on every run.
// Each request uses a connection of its own ("Connection: close").
//
// Thread contract: one thread uses a client.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace xelctl {

struct HttpResponse {
    int status = 0;
    std::string body;  // empty when a body callback took it
};

struct HttpResult {
    std::optional<HttpResponse> response;
    std::string error;      // why there is no response
    bool timedOut = false;  // no byte within the read time-out
    bool stopped = false;   // a callback asked to stop
};

class HttpClient {
public:
    // `host` and `port` for TCP; `unixPath` non-empty for a Unix socket.
    HttpClient(std::string host, int port, std::string unixPath = {});

    void setConnectTimeoutMs(int ms) { connectMs_ = ms; }
    void setReadTimeoutMs(int ms) { readMs_ = ms; }

    using Headers = std::vector<std::pair<std::string, std::string>>;
    // `onBody` (when given) receives the body as it comes and returns false to
    // stop; `idle` is asked after each quiet second and returns false to stop.
    HttpResult request(const std::string& method, const std::string& target, const Headers& headers,
                       const std::string& body = {}, const std::string& contentType = {},
                       std::function<bool(const char*, size_t)> onBody = {}, std::function<bool()> idle = {});

private:
    int connectSocket(std::string& error) const;

    std::string host_;
    int port_;
    std::string unixPath_;
    int connectMs_ = 5000;
    int readMs_ = 30000;
};

}  // namespace xelctl
