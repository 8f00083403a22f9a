#include "tools/xeld/Request.h"

#include <arpa/inet.h>
#include <strings.h>

#include "tools/xelctl/Failure.h"

namespace xeld {

namespace {

constexpr size_t kHeaderLimit = 8 * 1024;

bool sameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::string mediaType(std::string t) {
    t = t.substr(0, t.find(';'));
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.pop_back();
    return t;
}

// HOST:PORT split at the last colon; an IPv6 host keeps its brackets.
std::pair<std::string, std::string> hostAndPort(const std::string& text) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || text.find(']', colon) != std::string::npos) return {text, ""};
    return {text.substr(0, colon), text.substr(colon + 1)};
}

bool isAddressLiteral(const std::string& host) {
    unsigned char buffer[16];
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        return inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), buffer) == 1;
    return inet_pton(AF_INET, host.c_str(), buffer) == 1;
}

}  // namespace

bool hostAllowed(const std::string& host, const std::string& listen) {
    if (sameText(host, listen)) return true;
    // A server on every interface has no one name to ask for. A page can only
    // borrow the server's address through a name it controls (rebinding), so
    // an address typed as such, on the server's port, is as safe as the listen
    // address itself; so is "localhost", which browsers never look up.
    const auto [listenHost, listenPort] = hostAndPort(listen);
    const auto [name, port] = hostAndPort(host);
    if (port != listenPort || port.empty()) return false;
    const bool everyInterface = listenHost == "0.0.0.0" || listenHost == "[::]";
    const bool loopback = listenHost == "127.0.0.1" || listenHost == "[::1]";
    if (sameText(name, "localhost")) return everyInterface || loopback;
    return everyInterface && isAddressLiteral(name);
}

std::string RequestHead::header(const std::string& name) const {
    for (const auto& [k, v] : headers)
        if (sameText(k, name)) return v;
    return "";
}

bool tokenMatches(const std::string& given, const std::string& token) {
    if (token.empty()) return false;
    unsigned char diff = given.size() == token.size() ? 0 : 1;
    for (size_t i = 0; i < given.size(); ++i) diff |= static_cast<unsigned char>(given[i] ^ token[i % token.size()]);
    return diff == 0;
}

std::optional<Refusal> checkRequest(const RequestHead& head, const ApiSettings& settings) {
    size_t bytes = head.method.size() + head.targetSize + 12;
    for (const auto& [k, v] : head.headers) bytes += k.size() + v.size() + 4;
    if (bytes > kHeaderLimit) return Refusal{431, "the request headers exceed 8 KiB"};
    if (head.method != "PUT" && head.method != "POST") return std::nullopt;
    if (!settings.token.empty()) {
        const std::string auth = head.header("Authorization");
        const std::string prefix = "Bearer ";
        if (auth.compare(0, prefix.size(), prefix) != 0 || !tokenMatches(auth.substr(prefix.size()), settings.token))
            return Refusal{401, "a change needs the server's token (Authorization: Bearer TOKEN)"};
    }
    if (!settings.unixSocket && !hostAllowed(head.header("Host"), settings.listen))
        return Refusal{403, "the Host header must name " + settings.listen};
    const std::string want = head.path == "/v1/config" ? "application/octet-stream" : "application/json";
    if (!sameText(mediaType(head.header("Content-Type")), want)) return Refusal{415, "a change is sent as " + want};
    return std::nullopt;
}

std::variant<xelctl::Variant, Refusal> valueFromJson(const nlohmann::json& v, VARTYPE vt, const std::string& what) {
    std::string text;
    switch (vt) {
        case VT_BOOL:
            if (!v.is_boolean()) return Refusal{400, what + " takes true or false"};
            text = v.get<bool>() ? "true" : "false";
            break;
        case VT_BSTR:
            if (!v.is_string()) return Refusal{400, what + " takes a text"};
            text = v.get<std::string>();
            break;
        default:
            if (!v.is_number_integer()) return Refusal{400, what + " takes a whole number"};
            text = v.dump();
            break;
    }
    try {
        return xelctl::valueFromText(text, vt, what);
    } catch (const xelctl::Failure& f) {
        return Refusal{400, f.what()};
    }
}

}  // namespace xeld
