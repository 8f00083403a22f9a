// get, set and call: members found by name on the object the core hands out;
// save, load, setip and send: the core's own operations on a unit.
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/xelctl/Commands.h"
#include "tools/xelctl/Failure.h"
#include "tools/xelctl/Text.h"

namespace xelctl {

namespace {

struct Target {
    IDispatch* object = nullptr;
    const MemberInfo* member = nullptr;
    std::string name;  // "Format.InputTrim" as the object spells it
};

Target resolve(Context& ctx, const std::string& text) {
    const size_t dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == text.size() || text.find('.', dot + 1) != std::string::npos)
        usageError("\"" + text + "\" is not a NAME of the form Object.Member (e.g. Format.InputTrim)");
    const std::string objectText = text.substr(0, dot);
    Target t;
    t.object = ctx.session.object(objectText);
    std::string objectName;
    for (const std::string& n : Session::objectNames())
        if (strcasecmp(n.c_str(), objectText.c_str()) == 0) objectName = n;
    const std::vector<MemberInfo>& members = ctx.session.members(objectName);
    if (members.empty()) fail(kExitUnit, "the " + objectName + " object does not describe its members");
    t.member = &findMember(members, text.substr(dot + 1), objectName);
    t.name = objectName + "." + t.member->name;
    return t;
}

std::string paramNames(const std::vector<ParamInfo>& params, bool outToo) {
    std::string s;
    for (const ParamInfo& p : params) {
        if (p.out && !outToo) continue;
        s += " " + (p.name.empty() ? std::string("ARG") : p.name);
    }
    return s;
}

// Index arguments converted to the types the property declares.
std::vector<Variant> indexArgs(const Target& t, const Args& given, const char* verb, const char* tail) {
    const auto& indexes = t.member->indexes;
    if (given.size() != indexes.size())
        usageError(t.name + (indexes.empty() ? " takes no index" : " takes an index:") +
                   (indexes.empty() ? std::string()
                                    : std::string(" ") + verb + " " + t.name + paramNames(indexes, true) + tail));
    std::vector<Variant> args;
    for (size_t i = 0; i < indexes.size(); ++i)
        args.push_back(valueFromText(given[i], indexes[i].vt, "the " + indexes[i].name + " of " + t.name));
    return args;
}

nlohmann::ordered_json nameJson(const Target& t, const std::vector<Variant>& indexes) {
    nlohmann::ordered_json j;
    j["name"] = t.name;
    for (size_t i = 0; i < indexes.size() && i < t.member->indexes.size(); ++i)
        j[i == 0 ? "index" : "index" + std::to_string(i + 1)] = valueJson(indexes[i]);
    return j;
}

bool isConnected(Context& ctx) {
    Variant connected;
    IDispatch* comm = ctx.session.object("Comm");
    std::vector<Variant> none;
    const DISPID id = idOfName(comm, u"IsConnected");
    return id != DISPID_UNKNOWN && invoke(comm, id, DISPATCH_METHOD, none, connected.put()) == S_OK &&
           connected.vt == VT_BOOL && connected.boolVal == VARIANT_TRUE;
}

// A file must be readable before the unit is bothered with it.
void requireReadable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail(kExitFile, "cannot read " + path + ": " + std::strerror(errno));
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (!regular) fail(kExitFile, "cannot read " + path + ": not a file");
}

HRESULT callByName(IDispatch* object, std::u16string_view name, std::vector<Variant>& args, VARIANT* result) {
    const DISPID id = idOfName(object, name);
    if (id == DISPID_UNKNOWN) return DISP_E_UNKNOWNNAME;
    return invoke(object, id, DISPATCH_METHOD, args, result);
}

}  // namespace

void runGet(Context& ctx, const Args& args) {
    const Target t = resolve(ctx, args[0]);
    if (!t.member->hasGet)
        usageError(t.name + (t.member->isMethod ? " is a method: use call " + t.name : " cannot be read"));
    const Args given(args.begin() + 1, args.end());
    std::vector<Variant> call = indexArgs(t, given, "get", "");
    ctx.session.ensureQueried();
    Variant value;
    int bad = -1;
    const HRESULT hr = invoke(t.object, t.member->id, DISPATCH_PROPERTYGET, call, value.put(), &bad);
    checkStatus(hr, "get " + t.name);
    if (ctx.options.json) {
        nlohmann::ordered_json j = nameJson(t, call);
        j["value"] = valueJson(value);
        ctx.print(j);
    } else {
        ctx.line(valueText(value));
    }
}

void runSet(Context& ctx, const Args& args) {
    const Target t = resolve(ctx, args[0]);
    if (!t.member->hasPut)
        usageError(t.name + (t.member->isMethod ? " is a method: use call " + t.name : " cannot be changed"));
    const Args given(args.begin() + 1, args.end() - 1);
    std::vector<Variant> call = indexArgs(t, given, "set", " VALUE");
    call.push_back(valueFromText(args.back(), t.member->valueType, t.name));
    ctx.session.ensureQueried();
    const HRESULT hr = invoke(t.object, t.member->id, DISPATCH_PROPERTYPUT, call, nullptr);
    checkStatus(hr, "set " + t.name);
    ctx.session.settle("set " + t.name);
}

void runCall(Context& ctx, const Args& args) {
    const Target t = resolve(ctx, args[0]);
    if (!t.member->isMethod)
        usageError(t.name + " is a property: use get " + t.name + (t.member->hasPut ? " or set " + t.name : ""));
    const std::vector<ParamInfo>& params = t.member->params;
    size_t inputs = 0;
    for (const ParamInfo& p : params) inputs += p.out ? 0 : 1;
    if (args.size() - 1 != inputs) usageError("usage: call " + t.name + paramNames(params, false));
    // In-values converted to their declared types; out-values land in slots.
    std::vector<Variant> slots(params.size());
    std::vector<Variant> call;
    size_t next = 1;
    for (size_t i = 0; i < params.size(); ++i) {
        if (params[i].out)
            call.push_back(Variant::refTo(&slots[i]));
        else
            call.push_back(valueFromText(args[next++], params[i].vt, "the " + params[i].name + " of " + t.name));
    }
    ctx.session.ensureQueried();
    Variant result;
    const HRESULT hr = invoke(t.object, t.member->id, DISPATCH_METHOD, call, result.put());
    checkStatus(hr, "call " + t.name);
    // Whatever the method stored for the unit must reach it before we go.
    if (isConnected(ctx)) ctx.session.settle("call " + t.name);

    if (ctx.options.json) {
        nlohmann::ordered_json j;
        j["name"] = t.name;
        if (t.member->resultType != VT_VOID) j["result"] = valueJson(result);
        for (size_t i = 0; i < params.size(); ++i)
            if (params[i].out) j[params[i].name] = valueJson(slots[i]);
        ctx.print(j);
        return;
    }
    if (t.member->resultType != VT_VOID) ctx.line(valueText(result));
    for (size_t i = 0; i < params.size(); ++i)
        if (params[i].out) ctx.line(params[i].name + " " + valueText(slots[i]));
}

void runSave(Context& ctx, const Args& args) {
    const std::string path = absolutePath(args[0]);
    IDispatch* core = ctx.session.core();
    ctx.session.ensureQueried();
    std::vector<Variant> call;
    call.emplace_back(Bstr::fromUtf8(path));
    const HRESULT hr = callByName(core, u"Save", call, nullptr);
    if (hr == 110) fail(kExitFile, "cannot write " + path);
    checkStatus(hr, "save " + path);
}

void runLoad(Context& ctx, const Args& args) {
    const std::string path = absolutePath(args[0]);
    requireReadable(path);
    IDispatch* core = ctx.session.core();
    ctx.session.ensureQueried();
    std::vector<Variant> call;
    call.emplace_back(Bstr::fromUtf8(path));
    const HRESULT hr = callByName(core, u"Load", call, nullptr);
    if (hr == 110) fail(kExitFile, path + " is not a configuration file (or cannot be read)");
    checkStatus(hr, "load " + path);
    ctx.session.settle("load " + path);
}

void runSetIP(Context& ctx, const Args& args) {
    const auto address = parseIPv4(args[0]);
    const auto mask = parseIPv4(args[1]);
    const auto gateway = parseIPv4(args[2]);
    if (!address) usageError("\"" + args[0] + "\" is not an IP address (a.b.c.d)");
    if (!mask) usageError("\"" + args[1] + "\" is not a subnet mask (a.b.c.d)");
    if (!gateway) usageError("\"" + args[2] + "\" is not a gateway address (a.b.c.d)");
    const int hostBits = hostBitsOfMask(*mask);
    const uint32_t used = canonicalMask(hostBits);
    if (used != *mask)
        std::fprintf(stderr, "xelctl: note: the unit takes the mask %s as %s (%d host bits)\n", args[1].c_str(),
                     formatIPv4(used).c_str(), hostBits);

    IDispatch* core = ctx.session.core();
    ctx.session.ensureQueried();
    std::vector<Variant> call;
    call.emplace_back(static_cast<LONG>(*address));
    call.emplace_back(static_cast<LONG>(hostBits));
    call.emplace_back(static_cast<LONG>(*gateway));
    const HRESULT hr = callByName(core, u"SetIP", call, nullptr);
    checkStatus(hr, "setip");
    // The unit resets without answering: this link is over.
    ctx.session.disconnect();
    if (ctx.options.json) {
        nlohmann::ordered_json j;
        j["Address"] = formatIPv4(*address);
        j["Mask"] = formatIPv4(used);
        j["HostBits"] = hostBits;
        j["Gateway"] = formatIPv4(*gateway);
        ctx.print(j);
    } else {
        ctx.line("After the unit resets the IP information has been changed.");
    }
}

void runSend(Context& ctx, const Args& args) {
    std::string text;
    for (const std::string& word : args) text += (text.empty() ? "" : " ") + word;
    if (text.empty() || text.back() != '\r') text += '\r';
    ctx.session.core();
    ctx.session.ensureQuietLink();
    IDispatch* comm = ctx.session.object("Comm");

    std::vector<Variant> write;
    write.emplace_back(Bstr::fromUtf8(text));
    Variant err;
    HRESULT hr = callByName(comm, u"Write", write, err.put());
    if (hr != S_OK) {
        ctx.session.dropLink();
        fail(kExitUnit,
             "cannot send the command (" + std::string(hr == 2250 ? "not connected" : "the link failed") + ")");
    }
    Variant reply;
    std::vector<Variant> read;
    read.push_back(Variant::refTo(&reply));
    hr = callByName(comm, u"Read", read, err.put());
    if (hr != 1 || reply.vt != VT_BSTR) {  // Read answers 1 for a complete reply
        ctx.session.dropLink();
        fail(kExitUnit, "no complete reply from the unit");
    }
    const std::string replyText = valueText(reply);
    text.pop_back();
    if (ctx.options.json) {
        nlohmann::ordered_json j;
        j["command"] = text;
        j["reply"] = replyText;
        ctx.print(j);
    } else {
        ctx.out << replyText << '\n' << std::flush;
    }
    // Only "?" between the line ends and the prompt: the unit refused it.
    std::string core = replyText;
    while (!core.empty() && (core.back() == '>' || core.back() == '\r' || core.back() == '\n' || core.back() == ' '))
        core.pop_back();
    if (core == "?") fail(kExitUnit, "the unit refused \"" + text + "\" (an unknown command or a bad checksum)");
}

}  // namespace xelctl
