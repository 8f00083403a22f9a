// Configuration files loaded into the core object, as an operator's "Load" does:
// every value of a file that passes goes through the core's setters, and a save
// straight after gives the loaded setup back. The core is the build's own
// libxelor.so, registered and created the way a client creates it.
//
// Input: the file.
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "core/protocol/ConfigFile.h"
#include "core/xelor.h"
#include "fuzz/FuzzSupport.h"
#include "platform/objrt/objrt.h"

#ifndef XELOR_FUZZ_CORE_LIBRARY
#error "XELOR_FUZZ_CORE_LIBRARY names the core library to load"
#endif

namespace {

namespace fs = std::filesystem;
using namespace xel::core;

xel::IXel* g_core = nullptr;

const fs::path& folder() {
    static const fs::path f = [] {
        fs::path p = xel::fuzz::scratchFolder() / "files";
        fs::create_directories(p);
        return p;
    }();
    return f;
}

// The monitor thread must end before the process takes the libraries down.
void releaseCore() {
    if (!g_core) return;
    g_core->Cleanup();
    g_core->Release();
    g_core = nullptr;
}

HRESULT callWithPath(HRESULT (xel::IXel::*member)(BSTR), const fs::path& path) {
    const std::string narrow = path.string();
    const std::u16string wide(narrow.begin(), narrow.end());
    BSTR b = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    const HRESULT hr = (g_core->*member)(b);
    SysFreeString(b);
    return hr;
}

bool startsWith(const std::u16string& text, const std::u16string& prefix) {
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Registration goes into a private state folder, never the user's.
    const fs::path home = xel::fuzz::scratchFolder() / "config";
    fs::create_directories(home);
    ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    void* library = ::dlopen(XELOR_FUZZ_CORE_LIBRARY, RTLD_NOW);
    FUZZ_CHECK(library != nullptr);
    const auto registerServer = reinterpret_cast<HRESULT (*)()>(::dlsym(library, "DllRegisterServer"));
    FUZZ_CHECK(registerServer != nullptr);
    FUZZ_CHECK(registerServer() == S_OK);
    FUZZ_CHECK(SUCCEEDED(CoInitialize(nullptr)));
    FUZZ_CHECK(CoCreateInstance(xel::CLSID_Xel, nullptr, CLSCTX_INPROC_SERVER, xel::IID_IXel,
                                reinterpret_cast<void**>(&g_core)) == S_OK);
    std::atexit(releaseCore);
    (void)folder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path loaded = folder() / "loaded.xel";
    const fs::path saved = folder() / "saved.xel";
    xel::fuzz::writeFile(loaded, {data, size});

    const HRESULT load = callWithPath(&xel::IXel::Load, loaded);
    const std::optional<UnitSetup> file = decodeConfig({data, size});
    if (!file) {
        // A file too short or without the signature is refused before anything changes.
        FUZZ_CHECK(load == 110);
        return 0;
    }
    FUZZ_CHECK(load == S_OK);
    FUZZ_CHECK(callWithPath(&xel::IXel::Save, saved) == S_OK);
    const std::string bytes = xel::fuzz::readFile(saved);
    FUZZ_CHECK(bytes.size() == kConfigFileSize);
    const std::optional<UnitSetup> back = decodeConfig({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    FUZZ_CHECK(back.has_value());

    // Every number and record comes back as loaded; a text may only have been cut
    // to what the unit holds.
    FUZZ_CHECK(back->powerOnFormat == file->powerOnFormat);
    FUZZ_CHECK(back->aesEbuFallback == file->aesEbuFallback);
    FUZZ_CHECK(back->powerOnMode == file->powerOnMode);
    for (size_t i = 0; i < kFormatCount; ++i)
        FUZZ_CHECK(
            std::equal(back->records[i].bytes, back->records[i].bytes + kFormatRecordSize, file->records[i].bytes));
    FUZZ_CHECK(startsWith(file->processorName, back->processorName));
    FUZZ_CHECK(startsWith(file->theaterNumber, back->theaterNumber));
    FUZZ_CHECK(startsWith(file->theaterName, back->theaterName));
    FUZZ_CHECK(startsWith(file->screenNumber, back->screenNumber));
    FUZZ_CHECK(startsWith(file->processorGuid, back->processorGuid));
    return 0;
}
