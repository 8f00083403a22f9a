// The checks every request passes before it reaches a route, and the
// conversions of what a client sends, apart from the HTTP library so they can
// be examined on their own.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <variant>

#include <nlohmann/json.hpp>

#include "tools/xelctl/Late.h"

namespace xeld {

struct ApiSettings {
    std::string name;
    std::string address;
    std::string listen;  // HOST:PORT as the Host header must name it
    std::string token;   // empty: no token required
    double exThreshold = 40.0;
    bool unixSocket = false;  // any Host is accepted there
};

struct RequestHead {
    std::string method;
    std::string path;
    size_t targetSize = 0;
    std::multimap<std::string, std::string> headers;    // names as sent
    std::string header(const std::string& name) const;  // any case; "" when absent
};

// Whether a change may name `host` in its Host header on a server listening
// on `listen`: that address itself; "localhost" on a loopback or every-interface
// listen; on an every-interface listen, any address literal with its port.
bool hostAllowed(const std::string& host, const std::string& listen);

struct Refusal {
    int status;
    std::string why;
};

// Headers over 8 KiB (431); for a change: the token (401), the Host (403) and
// the Content-Type (415), in that order.
std::optional<Refusal> checkRequest(const RequestHead& head, const ApiSettings& settings);

// Compares without leaking, through its timing, how much of the token matched.
bool tokenMatches(const std::string& given, const std::string& token);

// A JSON value as a value of the member's type; a Refusal (400) when the JSON
// type does not fit or the value is out of range.
std::variant<xelctl::Variant, Refusal> valueFromJson(const nlohmann::json& v, VARTYPE vt, const std::string& what);

}  // namespace xeld
