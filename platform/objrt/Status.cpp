// Status codes in words, for messages of the tools and the console.
#include <cstdio>
#include <cstring>

#include "platform/objrt/objrt.h"

namespace {

struct Known {
    HRESULT code;
    const char* name;
    const char* text;
};

constexpr Known kKnown[] = {
    {S_OK, "S_OK", "success"},
    {S_FALSE, "S_FALSE", "completed with a negative answer"},
    {E_NOTIMPL, "E_NOTIMPL", "not implemented"},
    {E_NOINTERFACE, "E_NOINTERFACE", "interface not supported"},
    {E_POINTER, "E_POINTER", "invalid pointer"},
    {E_ABORT, "E_ABORT", "operation aborted"},
    {E_FAIL, "E_FAIL", "unspecified failure"},
    {E_UNEXPECTED, "E_UNEXPECTED", "unexpected failure"},
    {E_ACCESSDENIED, "E_ACCESSDENIED", "access denied"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY", "out of memory"},
    {E_INVALIDARG, "E_INVALIDARG", "invalid argument"},
    {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION", "class cannot be aggregated this way"},
    {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE", "class not offered by the library"},
    {REGDB_E_READREGDB, "REGDB_E_READREGDB", "the registry could not be read"},
    {REGDB_E_WRITEREGDB, "REGDB_E_WRITEREGDB", "the registry could not be written"},
    {REGDB_E_KEYMISSING, "REGDB_E_KEYMISSING", "registry key missing"},
    {REGDB_E_INVALIDVALUE, "REGDB_E_INVALIDVALUE", "invalid registry value"},
    {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG", "class not registered"},
    {CO_E_NOTINITIALIZED, "CO_E_NOTINITIALIZED", "object runtime not initialised on this thread"},
    {CO_E_CLASSSTRING, "CO_E_CLASSSTRING", "unknown ProgID or invalid class id"},
    {CO_E_DLLNOTFOUND, "CO_E_DLLNOTFOUND", "server library missing or not loadable"},
    {CO_E_ERRORINDLL, "CO_E_ERRORINDLL", "server library lacks its entry point"},
    {CONNECT_E_NOCONNECTION, "CONNECT_E_NOCONNECTION", "no such connection"},
    {CONNECT_E_ADVISELIMIT, "CONNECT_E_ADVISELIMIT", "no more connections possible"},
    {CONNECT_E_CANNOTCONNECT, "CONNECT_E_CANNOTCONNECT", "sink does not implement the event interface"},
    {DISP_E_UNKNOWNINTERFACE, "DISP_E_UNKNOWNINTERFACE", "unknown interface"},
    {DISP_E_MEMBERNOTFOUND, "DISP_E_MEMBERNOTFOUND", "member not found"},
    {DISP_E_PARAMNOTFOUND, "DISP_E_PARAMNOTFOUND", "parameter not found"},
    {DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH", "type mismatch"},
    {DISP_E_UNKNOWNNAME, "DISP_E_UNKNOWNNAME", "unknown name"},
    {DISP_E_NONAMEDARGS, "DISP_E_NONAMEDARGS", "no named arguments"},
    {DISP_E_BADVARTYPE, "DISP_E_BADVARTYPE", "bad variable type"},
    {DISP_E_EXCEPTION, "DISP_E_EXCEPTION", "exception occurred"},
    {DISP_E_OVERFLOW, "DISP_E_OVERFLOW", "out of present range"},
    {DISP_E_BADINDEX, "DISP_E_BADINDEX", "invalid index"},
    {DISP_E_BADPARAMCOUNT, "DISP_E_BADPARAMCOUNT", "invalid number of parameters"},
    {DISP_E_PARAMNOTOPTIONAL, "DISP_E_PARAMNOTOPTIONAL", "parameter not optional"},
    {TYPE_E_ELEMENTNOTFOUND, "TYPE_E_ELEMENTNOTFOUND", "element not found"},
};

}  // namespace

extern "C" size_t ObjStatusText(HRESULT hr, char* buf, size_t cap) noexcept {
    char text[160];
    int n = std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    for (const Known& k : kKnown) {
        if (k.code == hr) {
            n = std::snprintf(text, sizeof text, "0x%08X %s: %s", static_cast<unsigned>(hr), k.name, k.text);
            break;
        }
    }
    size_t len = n > 0 ? static_cast<size_t>(n) : 0;
    if (buf && cap > 0) {
        size_t m = len < cap - 1 ? len : cap - 1;
        std::memcpy(buf, text, m);
        buf[m] = '\0';
    }
    return len;
}
