#include "tools/xelctl/Session.h"

#include <cctype>
#include <chrono>
#include <thread>

#include "core/xelor.h"
#include "platform/registry/Registry.h"
#include "tools/xelctl/Failure.h"
#include "xelsys/SerialName.h"

namespace xelctl {

namespace {

constexpr char16_t kCoreProgId[] = u"Xelor.Xel.1";

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string loadError() {
    std::string text(ObjLastLoadError(nullptr, 0), '\0');
    ObjLastLoadError(text.data(), text.size() + 1);
    return text;
}

// A method without arguments by name; its status, the result in `result`.
HRESULT callMethod(IDispatch* object, std::u16string_view name, VARIANT* result = nullptr) {
    const DISPID id = idOfName(object, name);
    if (id == DISPID_UNKNOWN) return DISP_E_UNKNOWNNAME;
    std::vector<Variant> none;
    return invoke(object, id, DISPATCH_METHOD, none, result);
}

}  // namespace

Session::Session(std::string address) : address_(std::move(address)) {}

Session::~Session() {
    if (core_) {
        // The clean-up of a well-behaved client: every object's Cleanup (the
        // core's stops its monitor), then the link closed, then the references.
        try {
            for (const char* name : {"VU", "Profile", "Format", "Xel"}) (void)callMethod(object(name), u"Cleanup");
            disconnect();
        } catch (const Failure&) {
            // Nothing more can be done on the way out.
        }
    }
    objects_.clear();
    status_.reset();
    core_.reset();
    if (initialized_) CoUninitialize();
}

const std::vector<std::string>& Session::objectNames() {
    static const std::vector<std::string> names = {"Xel", "Comm", "Format", "Profile", "VU"};
    return names;
}

IDispatch* Session::core() {
    if (core_) return core_.get();
    if (!initialized_) {
        (void)CoInitialize(nullptr);
        initialized_ = true;
    }
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(kCoreProgId, &clsid);
    if (FAILED(hr))
        fail(kExitUnit,
             "the Xelor core is not registered for this user (no class \"Xelor.Xel.1\"); register it with "
             "\"regsvr libxelor.so\"");
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, core_.putVoid());
    if (FAILED(hr) || !core_) {
        std::string why = statusText(hr);
        if (hr == CO_E_DLLNOTFOUND || hr == CO_E_ERRORINDLL) why += " (" + loadError() + ")";
        if (hr == E_ACCESSDENIED) why += " (another core object is alive in this process)";
        fail(kExitUnit, "cannot create the Xelor core: " + why);
    }
    if (!address_.empty()) {
        IDispatch* comm = object("Comm");
        std::vector<Variant> args;
        args.emplace_back(Bstr::fromUtf8(address_));
        const DISPID id = idOfName(comm, u"Address");
        if (id == DISPID_UNKNOWN || invoke(comm, id, DISPATCH_PROPERTYPUT, args, nullptr) != S_OK)
            fail(kExitUnit, "the connection object does not take the address \"" + address_ + "\"");
    }
    return core_.get();
}

IDispatch* Session::object(std::string_view name) {
    std::string canonical;
    for (const std::string& n : objectNames())
        if (lower(n) == lower(name)) canonical = n;
    if (canonical.empty())
        usageError("there is no object \"" + std::string(name) +
                   "\"; the objects are Xel, Comm, Format, Profile and VU");
    IDispatch* root = core();
    if (canonical == "Xel") return root;
    if (auto it = objects_.find(canonical); it != objects_.end()) return it->second.get();
    Variant value;
    const std::u16string wide(canonical.begin(), canonical.end());
    const HRESULT hr = getProperty(root, wide, value);
    if (hr != S_OK || value.vt != VT_DISPATCH || !value.pdispVal)
        fail(kExitUnit, "the core does not hand out its " + canonical + " object (" + statusText(hr) + ")");
    ComPtr<IDispatch> held(value.pdispVal);
    return objects_.emplace(canonical, std::move(held)).first->second.get();
}

const std::vector<MemberInfo>& Session::members(std::string_view objectName) {
    IDispatch* o = object(objectName);
    std::string key;
    for (const std::string& n : objectNames())
        if (lower(n) == lower(objectName)) key = n;
    auto it = members_.find(key);
    if (it == members_.end()) it = members_.emplace(key, describeMembers(o)).first;
    return it->second;
}

std::string Session::address() {
    if (!address_.empty()) return address_;
    Variant value;
    if (getProperty(object("Comm"), u"Address", value) == S_OK && value.vt == VT_BSTR) return valueText(value);
    return "the default address";
}

IDispatch* Session::status() {
    if (status_) return status_.get();
    ComPtr<IDispatch> s;
    if (FAILED(core()->QueryInterface(xel::IID_IXelStatus, s.putVoid())) || !s)
        fail(kExitUnit, "the core offers no settling status (IXelStatus)");
    status_ = std::move(s);
    return status_.get();
}

void Session::connectNow() {
    Variant err;
    const HRESULT hr = callMethod(object("Comm"), u"Connect", err.put());
    if (hr == S_OK) {
        linked_ = true;
        queried_ = false;
        return;
    }
    const std::string where = address();
    const LONG code = err.vt == VT_I4 ? err.lVal : -1;
    switch (code) {
        case xel::CommErrFailedConnect:
            // A serial name (it holds COM or USB) whose device is there but not ours to open.
            if (where.find("COM") != std::string::npos || where.find("USB") != std::string::npos) {
                const std::string denied = xel::sys::deniedDevice(xel::registry::userStateDir().string(), where);
                if (!denied.empty())
                    fail(kExitUnit, "cannot open the link to " + where + ": " + xel::sys::permissionAdvice(denied));
            }
            fail(kExitUnit, "cannot open the link to " + where + " (no such port, or nothing listens there)");
        case xel::CommErrUnitNotFound: fail(kExitUnit, "the link to " + where + " opened, but no unit answers");
        case xel::CommErrAlreadyConnected:
            fail(kExitUnit, "the link to " + where + " is busy (a firmware download holds it)");
        default: fail(kExitUnit, "cannot connect to " + where + " (" + statusText(hr) + ")");
    }
}

void Session::ensureLink() {
    core();
    if (linked_) {
        // A "call Comm.Disconnect" may have ended the link behind our back.
        Variant connected;
        if (callMethod(object("Comm"), u"IsConnected", connected.put()) == S_OK && connected.vt == VT_BOOL &&
            connected.boolVal == VARIANT_TRUE)
            return;
        linked_ = queried_ = false;
    }
    connectNow();
}

void Session::ensureQueried() {
    ensureLink();
    if (queried_) return;
    const HRESULT hr = callMethod(core(), u"Query");
    if (hr != S_OK) {
        const std::string where = address();
        dropLink();
        fail(kExitUnit, "the unit at " + where + " did not answer while its settings were read");
    }
    queried_ = true;
    // The monitor's first pass after a Query takes the unit's state as its
    // baseline and drops whatever was stored before it: changes must wait for it.
    settle("reading the unit's settings");
}

void Session::ensureQuietLink() {
    if (queried_) {
        // The monitor polls a queried link; a raw exchange must not meet its
        // polls. It idles from the first pass that finds the link down, and its
        // longest sleep while active is the 200 ms level cadence.
        disconnect();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    ensureLink();
}

void Session::settle(const std::string& what) {
    IDispatch* s = status();
    std::vector<Variant> args;
    args.emplace_back(static_cast<LONG>(kSettleTimeoutMs));
    Variant result;
    const DISPID id = idOfName(s, u"WaitSettled");
    const HRESULT hr = id == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : invoke(s, id, DISPATCH_METHOD, args, result.put());
    if (hr != S_OK) fail(kExitUnit, what + ": cannot learn whether the unit took it (" + statusText(hr) + ")");
    const LONG r = result.vt == VT_I4 ? result.lVal : -1;
    if (r == xel::SettleAllAnswered) return;
    dropLink();
    if (r == xel::SettleTimedOut)
        fail(kExitUnit,
             what + ": the unit did not confirm the change within " + std::to_string(kSettleTimeoutMs / 1000) + " s");
    fail(kExitUnit, what + ": the unit did not take every change (the link failed or a change was lost)");
}

void Session::disconnect() {
    if (!core_) return;
    Variant connected;
    const bool up = callMethod(object("Comm"), u"IsConnected", connected.put()) == S_OK && connected.vt == VT_BOOL &&
                    connected.boolVal == VARIANT_TRUE;
    if (up || linked_) (void)callMethod(object("Comm"), u"Disconnect");
    linked_ = queried_ = false;
}

void Session::dropLink() {
    try {
        disconnect();
    } catch (const Failure&) {
        linked_ = queried_ = false;
    }
}

}  // namespace xelctl
