#include "tools/xeld/Api.h"

#include <httplib.h>
#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <mutex>

#include "tools/xeld/WebPanel.h"

namespace xeld {

namespace {

constexpr int kStreamWaitMs = 1000;

// The HTTP library writes a stream's last chunk through a buffer that all
// connections share: streams ending together take turns.
std::mutex streamEndMutex;

void send(httplib::Response& res, const Reply& r) {
    res.status = r.status;
    if (r.binary)
        res.set_content(r.bytes, "application/octet-stream");
    else
        res.set_content(r.body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n",
                        "application/json");
}

double number(const nlohmann::ordered_json& unit, const char* key) {
    if (!unit.is_object() || !unit.contains(key)) return 0;
    const auto& v = unit[key];
    if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
    if (v.is_number()) return v.get<double>();
    return 0;
}

std::string text(const nlohmann::ordered_json& unit, const char* key) {
    if (!unit.is_object() || !unit.contains(key) || !unit[key].is_string()) return "";
    return unit[key].get<std::string>();
}

// The page runs only its own files and talks only to this server.
const char kPageSecurityPolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

}  // namespace

std::string metricsText(const ApiSettings& s, const Snapshot& snap, const std::map<std::string, long>& events,
                        size_t clients) {
    using namespace prometheus;
    Registry reg;
    const Labels unit{{"unit", s.name}};
    auto gauge = [&](const char* name, const char* help, double v, Labels extra = {}) {
        Labels l = unit;
        l.insert(extra.begin(), extra.end());
        BuildGauge().Name(name).Help(help).Register(reg).Add(l).Set(v);
    };
    const bool up = snap.state == LinkState::Connected;
    gauge("xelor_up", "1 when the unit is connected and answering.", up ? 1 : 0);
    gauge("xelor_info", "The unit's identity.", 1,
          {{"name", s.name},
           {"address", s.address},
           {"processor_name", text(snap.unitJson(), "ProcessorName")},
           {"processor_guid", text(snap.unitJson(), "ProcessorGUID")}});
    auto& levels =
        BuildGauge().Name("xelor_output_level").Help("Latest output meter reading (raw 0-4095).").Register(reg);
    for (size_t i = 0; i < std::size(kChannels); ++i) {
        Labels l = unit;
        l["channel"] = kChannels[i];
        levels.Add(l).Set(snap.levels ? static_cast<double>((*snap.levels)[i]) : 0);
    }
    gauge("xelor_muted", "1 when muted, as last read or set through the server.", number(snap.unitJson(), "Mute"));
    gauge("xelor_film_mode", "1 in film (bypass) mode.", number(snap.unitJson(), "Film"));
    gauge("xelor_current_format", "The selected format, 0-7.", number(snap.unitJson(), "CurrentFormat"));
    gauge("xelor_automation_pin", "The automation input pin.", number(snap.unitJson(), "Pin"));
    auto counter = [&](const char* name, const char* help, double v) {
        BuildCounter().Name(name).Help(help).Register(reg).Add(unit).Increment(v);
    };
    counter("xelor_reconnects_total", "Links re-established after a loss.", static_cast<double>(snap.reconnects));
    counter("xelor_comm_failures_total", "Link failures the core reported.", static_cast<double>(snap.commFailures));
    auto& sent = BuildCounter().Name("xelor_events_total").Help("Events sent to the event streams.").Register(reg);
    for (const auto& [name, n] : events) {
        Labels l = unit;
        l["event"] = name;
        sent.Add(l).Increment(static_cast<double>(n));
    }
    gauge("xelor_clients", "Open event streams.", static_cast<double>(clients));
    return TextSerializer().Serialize(reg.Collect());
}

void installRoutes(httplib::Server& server, const ApiSettings& settings, Owner& owner, Hub& hub,
                   std::function<void(const std::string&)> log) {
    auto refuse = [log](const httplib::Request& req, httplib::Response& res, int status, const std::string& why) {
        log("refused " + req.method + " " + req.path + " (" + std::to_string(status) + "): " + why);
        send(res, Reply::error(status, why));
        return httplib::Server::HandlerResponse::Handled;
    };

    server.set_pre_routing_handler([=](const httplib::Request& req, httplib::Response& res) {
        RequestHead head{req.method, req.path, req.target.size(), {}};
        for (const auto& [k, v] : req.headers) head.headers.emplace(k, v);
        if (const auto refusal = checkRequest(head, settings)) return refuse(req, res, refusal->status, refusal->why);
        return httplib::Server::HandlerResponse::Unhandled;
    });

    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        // A request that could not be read leaves the connection in no state to go on.
        if (res.status == 400 || res.status == 413) res.set_header("Connection", "close");
        if (!res.body.empty()) return;
        std::string why = "no such route";
        if (res.status == 400) why = "malformed request";
        if (res.status == 413) why = "the body exceeds 64 KiB";
        if (res.status == 405) why = "method not allowed here";
        res.set_content(nlohmann::json{{"error", why}}.dump() + "\n", "application/json");
    });

    // The web panel is public like every read; its changes need the token.
    for (const WebFile& file : webFiles()) {
        // Routes are patterns: a dot in a file name must match only a dot.
        std::string route;
        for (const char c : file.path) {
            if (c == '.') route += '\\';
            route += c;
        }
        if (file.path == "/index.html") route = "/";
        server.Get(route, [file](const httplib::Request&, httplib::Response& res) {
            res.set_header("Cache-Control", "no-cache");
            res.set_header("Content-Security-Policy", kPageSecurityPolicy);
            res.set_header("X-Content-Type-Options", "nosniff");
            res.set_header("Referrer-Policy", "no-referrer");
            res.set_content(file.body.data(), file.body.size(), std::string(file.type));
        });
    }

    server.Get("/healthz", [&owner](const httplib::Request&, httplib::Response& res) {
        const bool up = owner.snapshot()->state == LinkState::Connected;
        res.status = up ? 200 : 503;
        res.set_content(up ? "ok\n" : "not connected\n", "text/plain");
    });

    server.Get("/metrics", [&owner, &hub, settings](const httplib::Request&, httplib::Response& res) {
        res.set_content(metricsText(settings, *owner.snapshot(), hub.counts(), hub.clients()),
                        "text/plain; version=0.0.4");
    });

    server.Get("/v1/unit", [&owner, settings](const httplib::Request&, httplib::Response& res) {
        const auto snap = owner.snapshot();
        Reply r;
        r.body["name"] = settings.name;
        r.body["address"] = settings.address;
        r.body["state"] = stateName(snap->state);
        r.body["since"] = snap->since;
        r.body["reconnects"] = snap->reconnects;
        r.body["token_required"] = !settings.token.empty();
        r.body["ex_threshold"] = settings.exThreshold;
        r.body["unit"] = snap->unitJson();
        r.body["levels"] = snap->levelsJson();
        send(res, r);
    });

    server.Get(R"(/v1/members/([^/]+))", [&owner, refuse](const httplib::Request& req, httplib::Response& res) {
        const Reply r = owner.getMember(req.matches[1], req.get_param_value("index"));
        if (r.status != 200) refuse(req, res, r.status, r.body.value("error", std::string()));
        send(res, r);
    });
    server.Put(R"(/v1/members/([^/]+))", [&owner, refuse](const httplib::Request& req, httplib::Response& res) {
        const nlohmann::json body = nlohmann::json::parse(req.body, nullptr, false);
        if (!body.is_object() || !body.contains("value")) {
            refuse(req, res, 400, "the body must be a JSON object {\"value\": V}");
            return;
        }
        const Reply r = owner.putMember(req.matches[1], req.get_param_value("index"), body["value"]);
        if (r.status != 200) refuse(req, res, r.status, r.body.value("error", std::string()));
        send(res, r);
    });
    server.Post(R"(/v1/calls/([^/]+))", [&owner, refuse](const httplib::Request& req, httplib::Response& res) {
        const nlohmann::json body = nlohmann::json::parse(req.body, nullptr, false);
        if (!body.is_object() || (body.contains("args") && !body["args"].is_array())) {
            refuse(req, res, 400, "the body must be a JSON object {\"args\": [...]}");
            return;
        }
        const Reply r = owner.callMember(req.matches[1], body.value("args", nlohmann::json::array()));
        if (r.status != 200) refuse(req, res, r.status, r.body.value("error", std::string()));
        send(res, r);
    });
    server.Get("/v1/config",
               [&owner](const httplib::Request&, httplib::Response& res) { send(res, owner.getConfig()); });
    server.Put("/v1/config", [&owner, refuse](const httplib::Request& req, httplib::Response& res) {
        const Reply r = owner.putConfig(req.body);
        if (r.status != 200) refuse(req, res, r.status, r.body.value("error", std::string()));
        send(res, r);
    });

    server.Get("/v1/events", [&hub, refuse](const httplib::Request& req, httplib::Response& res) {
        auto client = hub.open();
        if (!client) {
            refuse(req, res, 503, "too many event streams are open");
            return;
        }
        res.set_header("Cache-Control", "no-cache");
        res.set_chunked_content_provider(
            "text/event-stream",
            [&hub, client](size_t, httplib::DataSink& sink) {
                bool ended = false;
                const auto frame = hub.next(*client, kStreamWaitMs, ended);
                // An ended stream is closed with its last chunk, so a browser
                // reads a clean end and reconnects rather than reporting an error.
                if (ended) {
                    std::lock_guard lock(streamEndMutex);
                    sink.done();
                    return true;
                }
                // A comment line when idle finds a peer that has gone.
                const std::string out = frame ? *frame : std::string(":\n\n");
                return sink.write(out.data(), out.size());
            },
            [&hub, client](bool) { hub.close(client); });
    });
}

}  // namespace xeld
