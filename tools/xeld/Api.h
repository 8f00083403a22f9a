// The HTTP face of the server: routes, the checks every request passes
// (token, Host, Content-Type, sizes), the event streams and the metrics.
//
// Thread contract: handlers run on the HTTP library's worker threads; they
// read the owner's snapshot or hand a request to the owner, never the core.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "tools/xeld/Hub.h"
#include "tools/xeld/Owner.h"
#include "tools/xeld/Request.h"

namespace httplib {
class Server;
}

namespace xeld {

// Installs every route on `server`.
void installRoutes(httplib::Server& server, const ApiSettings& settings, Owner& owner, Hub& hub,
                   std::function<void(const std::string&)> log);

// The Prometheus text exposition of one snapshot and the hub's figures.
std::string metricsText(const ApiSettings& settings, const Snapshot& snap, const std::map<std::string, long>& events,
                        size_t clients);

}  // namespace xeld
