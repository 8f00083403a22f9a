#include "tools/xeld/Request.h"

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

}  // namespace

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
    if (!settings.unixSocket && !sameText(head.header("Host"), settings.listen))
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
