#include "tools/xelctl/Remote.h"

#include <cctype>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "tools/xelctl/Failure.h"
#include "tools/xelctl/HttpClient.h"
#include "tools/xelctl/Interrupt.h"
#include "tools/xelctl/Text.h"

namespace xelctl {

namespace {

using ojson = nlohmann::ordered_json;

class Server {
public:
    explicit Server(const ServerOptions& o) : url_(o.url) {
        if (o.url.rfind("unix:", 0) == 0 && o.url.size() > 5) {
            client_ = std::make_unique<HttpClient>("", 0, o.url.substr(5));
            host_ = "localhost";
        } else if (o.url.rfind("http://", 0) == 0 && o.url.size() > 7) {
            std::string hostPort = o.url.substr(7);
            while (!hostPort.empty() && hostPort.back() == '/') hostPort.pop_back();
            const size_t colon = hostPort.rfind(':');
            const auto port =
                colon == std::string::npos ? std::nullopt : parseInteger(hostPort.substr(colon + 1), 1, 65535);
            if (!port) usageError("--server takes http://HOST:PORT or unix:PATH, not \"" + o.url + "\"");
            std::string host = hostPort.substr(0, colon);
            if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
            client_ = std::make_unique<HttpClient>(host, static_cast<int>(*port));
            host_ = hostPort;
        } else {
            usageError("--server takes http://HOST:PORT or unix:PATH, not \"" + o.url + "\"");
        }
        client_->setConnectTimeoutMs(5000);
        client_->setReadTimeoutMs(30000);
        if (!o.tokenFile.empty()) {
            std::ifstream in(o.tokenFile);
            if (!in) fail(kExitFile, "cannot read the token file " + o.tokenFile);
            std::getline(in, token_);
            while (!token_.empty() && (token_.back() == '\r' || token_.back() == ' ')) token_.pop_back();
        }
    }

    HttpClient::Headers headers() const {
        HttpClient::Headers h{{"Host", host_}};
        if (!token_.empty()) h.emplace_back("Authorization", "Bearer " + token_);
        return h;
    }
    HttpClient& client() { return *client_; }

    // The response of a finished request, or the failure the operator hears.
    const HttpResponse& check(const HttpResult& r, const std::string& what) {
        if (!r.response) fail(kExitUnit, "cannot reach xeld at " + url_ + " (" + r.error + ")");
        if (r.response->status == 200) return *r.response;
        const ojson body = ojson::parse(r.response->body, nullptr, false);
        const std::string why = body.is_object() && body.contains("error") && body["error"].is_string()
                                    ? body["error"].get<std::string>()
                                    : "status " + std::to_string(r.response->status);
        const int s = r.response->status;
        if (s == 502 || s == 503 || s == 504) fail(kExitUnit, what + ": " + why);
        fail(kExitUsage, what + ": " + why);
    }

    HttpResult get(const std::string& path) { return client_->request("GET", path, headers()); }
    ojson getJson(const std::string& path, const std::string& what) { return object(check(get(path), what), what); }
    ojson send(const std::string& method, const std::string& path, const std::string& body, const std::string& type,
               const std::string& what) {
        return object(check(client_->request(method, path, headers(), body, type), what), what);
    }

private:
    // Every answer of the API is a JSON object; anything else is not xeld.
    static ojson object(const HttpResponse& r, const std::string& what) {
        ojson j = ojson::parse(r.body, nullptr, false);
        if (!j.is_object()) fail(kExitUnit, what + ": the server's answer is not xeld's JSON");
        return j;
    }

    std::string url_;
    std::string host_;
    std::string token_;
    std::unique_ptr<HttpClient> client_;
};

std::string encoded(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string jsonText(const ojson& v) {
    if (v.is_string()) return v.get<std::string>();
    if (v.is_boolean()) return v.get<bool>() ? "true" : "false";
    if (v.is_null()) return "";
    return v.dump();
}

// A word as the JSON value a method argument takes.
ojson argJson(const std::string& word) {
    if (const auto n = parseInteger(word, INT32_MIN, INT32_MAX)) return *n;
    if (word == "true" || word == "false") return word == "true";
    return word;
}

std::string memberPath(const std::string& name, const std::string* index) {
    std::string path = "/v1/members/" + encoded(name);
    if (index) path += "?index=" + encoded(*index);
    return path;
}

void get(Context& ctx, Server& s, const Args& a) {
    const ojson r = s.getJson(memberPath(a[0], a.size() > 1 ? &a[1] : nullptr), "get " + a[0]);
    const ojson value = r.value("value", ojson());
    if (!ctx.options.json) return ctx.line(jsonText(value));
    ojson j;
    j["name"] = a[0];
    if (a.size() > 1) j["index"] = argJson(a[1]);
    j["value"] = value;
    ctx.print(j);
}

void set(Context&, Server& s, const Args& a) {
    const std::string* index = a.size() > 2 ? &a[1] : nullptr;
    const std::string path = memberPath(a[0], index);
    // The value's type is the one the unit's member holds now.
    const ojson current = s.getJson(path, "set " + a[0]).value("value", ojson());
    const std::string& text = a.back();
    ojson value;
    if (current.is_boolean()) {
        const auto b = parseSwitch(text);
        if (!b) usageError(a[0] + " takes on or off (true or false), not \"" + text + "\"");
        value = *b;
    } else if (current.is_number()) {
        const auto n = parseInteger(text, INT32_MIN, INT32_MAX);
        if (!n) usageError(a[0] + " takes a whole number, not \"" + text + "\"");
        value = *n;
    } else {
        value = text;
    }
    s.send("PUT", path, ojson{{"value", value}}.dump(), "application/json", "set " + a[0]);
}

void call(Context& ctx, Server& s, const Args& a) {
    ojson args = ojson::array();
    for (size_t i = 1; i < a.size(); ++i) args.push_back(argJson(a[i]));
    const ojson r =
        s.send("POST", "/v1/calls/" + encoded(a[0]), ojson{{"args", args}}.dump(), "application/json", "call " + a[0]);
    const ojson out = r.is_object() ? r.value("out", ojson()) : ojson();
    const ojson names = r.is_object() ? r.value("out_names", ojson()) : ojson();
    if (!out.is_array() || !names.is_array() || names.size() != out.size())
        fail(kExitUnit, "call " + a[0] + ": xeld answered without the out-values' names");
    if (ctx.options.json) {
        ojson j;
        j["name"] = r.value("name", a[0]);
        if (!r.value("result", ojson()).is_null()) j["result"] = r["result"];
        for (size_t i = 0; i < out.size(); ++i) j[jsonText(names[i])] = out[i];
        return ctx.print(j);
    }
    if (!r.value("result", ojson()).is_null()) ctx.line(jsonText(r["result"]));
    for (size_t i = 0; i < out.size(); ++i) ctx.line(jsonText(names[i]) + " " + jsonText(out[i]));
}

void save(Context&, Server& s, const Args& a) {
    const std::string path = absolutePath(a[0]);
    const HttpResult result = s.get("/v1/config");
    const HttpResponse& r = s.check(result, "save " + path);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(r.body.data(), static_cast<std::streamsize>(r.body.size()));
    if (!out.flush()) fail(kExitFile, "cannot write " + path);
}

void load(Context&, Server& s, const Args& a) {
    const std::string path = absolutePath(a[0]);
    std::ifstream in(path, std::ios::binary);
    if (!in) fail(kExitFile, "cannot read " + path);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const HttpResult r = s.client().request("PUT", "/v1/config", s.headers(), bytes, "application/octet-stream");
    if (r.response && r.response->status == 400)
        fail(kExitFile, path + " is not a configuration file (or cannot be read)");
    s.check(r, "load " + path);
}

void setip(Context& ctx, Server& s, const Args& a) {
    const auto address = parseIPv4(a[0]);
    const auto mask = parseIPv4(a[1]);
    const auto gateway = parseIPv4(a[2]);
    if (!address) usageError("\"" + a[0] + "\" is not an IP address (a.b.c.d)");
    if (!mask) usageError("\"" + a[1] + "\" is not a subnet mask (a.b.c.d)");
    if (!gateway) usageError("\"" + a[2] + "\" is not a gateway address (a.b.c.d)");
    const int hostBits = hostBitsOfMask(*mask);
    const uint32_t used = canonicalMask(hostBits);
    if (used != *mask)
        std::fprintf(stderr, "xelctl: note: the unit takes the mask %s as %s (%d host bits)\n", a[1].c_str(),
                     formatIPv4(used).c_str(), hostBits);
    const ojson args = {static_cast<int32_t>(*address), hostBits, static_cast<int32_t>(*gateway)};
    s.send("POST", "/v1/calls/Xel.SetIP", ojson{{"args", args}}.dump(), "application/json", "setip");
    if (ctx.options.json) {
        ojson j;
        j["Address"] = formatIPv4(*address);
        j["Mask"] = formatIPv4(used);
        j["HostBits"] = hostBits;
        j["Gateway"] = formatIPv4(*gateway);
        return ctx.print(j);
    }
    ctx.line("After the unit resets the IP information has been changed.");
}

void watch(Context& ctx, Server& s, const Args& a) {
    long seconds = 0;
    if (!a.empty()) {
        const std::string value = a.size() == 2 && a[0] == "--seconds"                ? a[1]
                                  : a.size() == 1 && a[0].rfind("--seconds=", 0) == 0 ? a[0].substr(10)
                                                                                      : std::string();
        const auto n = parseInteger(value, 1, 24L * 3600 * 365);
        if (!n) usageError("usage: watch [--seconds N]");
        seconds = *n;
    }
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto deadline = seconds ? start + std::chrono::seconds(seconds) : Clock::time_point::max();
    auto nextLevels = start + std::chrono::seconds(1);
    InterruptWatch interrupt;
    std::string buffer;
    bool failed = false;
    auto onData = [&](const char* data, size_t n) {
        buffer.append(data, n);
        for (size_t end; (end = buffer.find("\n\n")) != std::string::npos;) {
            const std::string frame = buffer.substr(0, end);
            buffer.erase(0, end + 2);
            const size_t at = frame.find("data: ");
            if (at == std::string::npos) continue;
            const ojson e = ojson::parse(frame.substr(at + 6, frame.find('\n', at) - at - 6), nullptr, false);
            if (!e.is_object()) continue;
            const std::string name = e.value("event", std::string());
            if (name == "State") continue;
            if (name == "Levels") {
                // The server reads the levels five times a second; the operator sees one a second.
                if (Clock::now() < nextLevels) continue;
                nextLevels += std::chrono::seconds(1);
                if (nextLevels < Clock::now()) nextLevels = Clock::now() + std::chrono::seconds(1);
            }
            if (ctx.options.json) {
                ctx.print(e);
            } else {
                std::string text = name;
                for (const auto& [k, v] : e.items())
                    if (k != "event") text += " " + (name == "Levels" ? k + "=" : std::string()) + jsonText(v);
                ctx.line(text);
            }
            if (name == "CommFail") {
                failed = true;
                return false;
            }
        }
        return !interrupt.fired() && Clock::now() < deadline;
    };
    // A quiet second only means the unit had nothing to say: go on until the end.
    auto goOn = [&] { return !interrupt.fired() && Clock::now() < deadline; };
    while (!failed && goOn()) {
        const HttpResult r = s.client().request("GET", "/v1/events", s.headers(), {}, {}, onData, goOn);
        if (failed || !goOn()) break;
        if (!r.stopped) s.check(r, "watch");
    }
    if (failed) fail(kExitUnit, "the link to the unit failed");
}

void query(Context& ctx, Server& s, const Args&) {
    const ojson unit = s.getJson("/v1/unit", "query").value("unit", ojson());
    if (!unit.is_object()) fail(kExitUnit, "xeld has not read the unit's settings yet (it is not connected)");
    printQuery(ctx, unit);
}

struct RemoteCommand {
    const char* name;
    void (*run)(Context&, Server&, const Args&);
};
const RemoteCommand kRemote[] = {{"query", query}, {"get", get},   {"set", set},     {"call", call},
                                 {"save", save},   {"load", load}, {"setip", setip}, {"watch", watch}};

}  // namespace

int runRemote(const Options& options, const ServerOptions& server, const Args& words, std::ostream& out) {
    try {
        const Command* c = findCommand(words[0]);
        const RemoteCommand* r = nullptr;
        for (const RemoteCommand& rc : kRemote)
            if (words[0] == rc.name) r = &rc;
        if (!c || !r)
            usageError("\"" + words[0] +
                       "\" is not available through --server (query, get, set, call, save, load, setip and watch are)");
        const Args args(words.begin() + 1, words.end());
        if (static_cast<int>(args.size()) < c->minArgs ||
            (c->maxArgs >= 0 && static_cast<int>(args.size()) > c->maxArgs))
            usageError(std::string("usage: ") + c->name + " " + c->synopsis);
        Server s(server);
        Session unused("");
        Context ctx{options, unused, out};
        r->run(ctx, s, args);
        return kExitOk;
    } catch (const Failure& f) {
        if (*f.what()) std::cerr << "xelctl: " << f.what() << '\n';
        return f.code();
    }
}

}  // namespace xelctl
