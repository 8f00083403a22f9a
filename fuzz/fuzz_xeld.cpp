// What a client sends the unit server before any route sees it: request
// heads (method, path, headers) through the token, Host, Content-Type and
// size checks, and JSON bodies converted to the members' value types.
//
// Input: [settings][method][type][head lines "Name: value\n"...]\0[body].
#include <string>

#include <nlohmann/json.hpp>

#include "fuzz/FuzzSupport.h"
#include "tools/xeld/Request.h"

namespace {

using xel::fuzz::Input;

constexpr const char* kMethods[] = {"GET", "PUT", "POST", "DELETE"};
constexpr VARTYPE kTypes[] = {VT_BOOL, VT_BSTR, VT_I4, VT_I2, VT_UI4};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint8_t choice = in.byte();
    xeld::ApiSettings settings{"xelor", "127.0.0.1",      "127.0.0.1:8710", (choice & 1) ? "s3cret" : "",
                               40.0,    (choice & 2) != 0};
    xeld::RequestHead head;
    head.method = kMethods[in.byte() % 4];
    const VARTYPE vt = kTypes[in.byte() % 5];
    const std::string all(xel::fuzz::asText(in.rest()));
    const size_t split = all.find('\0');
    const std::string lines = all.substr(0, split);
    const std::string body = split == std::string::npos ? "" : all.substr(split + 1);

    size_t at = 0;
    bool first = true;
    while (at <= lines.size()) {
        size_t end = lines.find('\n', at);
        if (end == std::string::npos) end = lines.size();
        const std::string line = lines.substr(at, end - at);
        if (first) {
            head.path = line;
            first = false;
        } else if (const size_t colon = line.find(':'); colon != std::string::npos) {
            head.headers.emplace(line.substr(0, colon), line.substr(colon + 1));
        }
        at = end + 1;
    }
    head.targetSize = head.path.size();

    const auto refusal = xeld::checkRequest(head, settings);
    if (refusal) {
        const int s = refusal->status;
        FUZZ_CHECK(s == 401 || s == 403 || s == 415 || s == 431);
        FUZZ_CHECK(!refusal->why.empty());
        // Reads are never refused for their token, Host or type.
        if (head.method == "GET") FUZZ_CHECK(s == 431);
    } else if (head.method == "PUT" || head.method == "POST") {
        // A change that passed named the server, carried the token and its type.
        if (!settings.unixSocket) FUZZ_CHECK(!head.header("Host").empty());
        if (!settings.token.empty()) FUZZ_CHECK(head.header("Authorization") == "Bearer s3cret");
        FUZZ_CHECK(!head.header("Content-Type").empty());
    }
    FUZZ_CHECK(!xeld::tokenMatches("", "") && xeld::tokenMatches("s3cret", "s3cret"));

    const nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
    if (parsed.is_object() && parsed.contains("value")) {
        auto converted = xeld::valueFromJson(parsed["value"], vt, "the value");
        if (const auto* r = std::get_if<xeld::Refusal>(&converted)) {
            FUZZ_CHECK(r->status == 400);
        } else {
            const xelctl::Variant& v = std::get<xelctl::Variant>(converted);
            // The value keeps the JSON type it was sent as.
            if (vt == VT_BOOL) FUZZ_CHECK(parsed["value"].is_boolean());
            if (vt == VT_BSTR) FUZZ_CHECK(parsed["value"].is_string());
            if (vt != VT_BOOL && vt != VT_BSTR) FUZZ_CHECK(parsed["value"].is_number_integer());
            (void)v;
        }
    }
    return 0;
}
