// query: the unit's whole picture as the core holds it after Query.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <optional>

#include "core/protocol/ConfigFile.h"
#include "platform/registry/Registry.h"
#include "tools/xelctl/Commands.h"
#include "tools/xelctl/Failure.h"
#include "tools/xelctl/Text.h"

namespace xelctl {

namespace {

// The configuration file holds every format record whole, so the flag words
// (which no property hands out) come from a setup saved for the purpose and read
// through the core's own file layout.
std::optional<xel::core::UnitSetup> savedSetup(IDispatch* core) {
    const std::string folder = xel::registry::userStateDir().string();
    std::string name = folder + "/xelctl-query-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return std::nullopt;
    ::close(fd);
    std::vector<Variant> args;
    args.emplace_back(Bstr::fromUtf8(name));
    const DISPID id = idOfName(core, u"Save");
    std::optional<xel::core::UnitSetup> setup;
    if (id != DISPID_UNKNOWN && invoke(core, id, DISPATCH_METHOD, args, nullptr) == S_OK) {
        // One byte more than a file holds: a longer file is not one the core wrote.
        const auto bytes = xel::core::readFileStart(name, xel::core::kConfigFileSize + 1);
        if (bytes && bytes->size() == xel::core::kConfigFileSize) setup = xel::core::decodeConfig(*bytes);
    }
    ::unlink(name.c_str());
    return setup;
}

Variant property(IDispatch* object, const std::string& objectName, const std::string& name,
                 std::optional<LONG> index = std::nullopt) {
    const std::u16string wide(name.begin(), name.end());
    const DISPID id = idOfName(object, wide);
    if (id == DISPID_UNKNOWN) fail(kExitUnit, "the " + objectName + " object has no property " + name);
    std::vector<Variant> args;
    if (index) args.emplace_back(*index);
    Variant value;
    checkStatus(invoke(object, id, DISPATCH_PROPERTYGET, args, value.put()), "get " + objectName + "." + name);
    return value;
}

std::string pad(std::string text, size_t width) {
    // Widths count characters, not UTF-8 bytes.
    size_t chars = 0;
    for (const char c : text) chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (chars < width) text.append(width - chars, ' ');
    return text;
}

}  // namespace

void runQuery(Context& ctx, const Args&) {
    Session& s = ctx.session;
    s.ensureQueried();
    IDispatch* xel = s.object("Xel");
    IDispatch* profile = s.object("Profile");
    IDispatch* format = s.object("Format");

    struct Field {
        IDispatch* object;
        const char* objectName;
        const char* name;
    };
    const Field fields[] = {
        {xel, "Xel", "PowerOnFormat"},
        {xel, "Xel", "PowerOnMode"},
        {xel, "Xel", "AESEBUFallback"},
        {xel, "Xel", "FilmReturnFormat"},
        {xel, "Xel", "Mute"},
        {profile, "Profile", "TheaterNumber"},
        {profile, "Profile", "TheaterName"},
        {profile, "Profile", "ScreenNumber"},
        {format, "Format", "ProcessorName"},
        {format, "Format", "ProcessorGUID"},
        {format, "Format", "ModePin"},
        {format, "Format", "CurrentFormat"},
        {format, "Format", "Pin"},
        {format, "Format", "Film"},
    };
    std::vector<std::pair<std::string, Variant>> values;
    for (const Field& f : fields) values.emplace_back(f.name, property(f.object, f.objectName, f.name));

    struct Row {
        std::string name;
        LONG inputTrim, outputTrim, inputDelay, surroundDelay;
        std::optional<unsigned> flags;
    };
    const std::optional<xel::core::UnitSetup> setup = savedSetup(xel);
    std::vector<Row> rows;
    for (LONG i = 0; i < static_cast<LONG>(xel::core::kFormatCount); ++i) {
        auto number = [&](const char* name) {
            const Variant v = property(format, "Format", name, i);
            return v.vt == VT_I4 ? v.lVal : 0;
        };
        Row r{valueText(property(format, "Format", "FormatName", i)),
              number("InputTrim"),
              number("OutputTrim"),
              number("InputDelay"),
              number("SurroundDelay"),
              std::nullopt};
        if (setup) r.flags = setup->records[static_cast<size_t>(i)].flags();
        rows.push_back(std::move(r));
    }
    if (!setup) std::fprintf(stderr, "xelctl: note: the format flags could not be read (no setup could be saved)\n");

    nlohmann::ordered_json j;
    for (const auto& [name, v] : values) j[name] = valueJson(v);
    nlohmann::ordered_json formats = nlohmann::ordered_json::array();
    for (const Row& r : rows) {
        nlohmann::ordered_json f;
        f["Name"] = r.name;
        f["InputTrim"] = r.inputTrim;
        f["OutputTrim"] = r.outputTrim;
        f["InputDelay"] = r.inputDelay;
        f["SurroundDelay"] = r.surroundDelay;
        f["Flags"] = r.flags ? nlohmann::ordered_json(*r.flags) : nlohmann::ordered_json(nullptr);
        formats.push_back(std::move(f));
    }
    j["Formats"] = std::move(formats);
    printQuery(ctx, j);
}

void printQuery(Context& ctx, const nlohmann::ordered_json& j) {
    if (ctx.options.json) {
        ctx.print(j);
        return;
    }
    const nlohmann::ordered_json& formats = j.contains("Formats") ? j["Formats"] : nlohmann::ordered_json::array();
    auto number = [](const nlohmann::ordered_json& v) { return v.is_number_integer() ? v.get<long>() : 0L; };
    auto formatName = [&](const nlohmann::ordered_json& v) -> std::string {
        if (!v.is_number_integer() || v.get<long>() < 0 || v.get<size_t>() >= formats.size()) return "";
        const std::string n = formats[v.get<size_t>()].value("Name", std::string());
        return n.empty() ? "" : " (" + n + ")";
    };
    for (const auto& [name, v] : j.items()) {
        if (name == "Formats") continue;
        std::string shown = v.is_string()    ? v.get<std::string>()
                            : v.is_boolean() ? (v.get<bool>() ? "on" : "off")
                                             : v.dump();
        if (name == "PowerOnFormat" || name == "CurrentFormat") shown += formatName(v);
        ctx.line(pad(name, 18) + shown);
    }
    ctx.line("");
    ctx.line("Format  Name              Input trim  Output trim  Input delay  Surround delay  Flags");
    for (size_t i = 0; i < formats.size(); ++i) {
        const nlohmann::ordered_json& r = formats[i];
        char flags[16] = "?";
        if (r.contains("Flags") && r["Flags"].is_number_integer())
            std::snprintf(flags, sizeof flags, "0x%04X", r["Flags"].get<unsigned>());
        // Input trims are gains and output trims attenuations, in steps of 0.5 dB.
        ctx.line(pad(std::to_string(i), 8) + pad(r.value("Name", std::string()), 18) +
                 pad(trimText(number(r["InputTrim"]) * 5L), 12) + pad(trimText(-number(r["OutputTrim"]) * 5L), 13) +
                 pad(std::to_string(number(r["InputDelay"])) + "ms", 13) +
                 pad(std::to_string(number(r["SurroundDelay"])) + "ms", 16) + flags);
    }
}

}  // namespace xelctl
