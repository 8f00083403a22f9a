// The web panel: the page xeld serves at "/", built into the program from
// tools/xeld/web. It uses only the public API (/v1/unit, /v1/events,
// /v1/members), so it can do nothing a script with the same token cannot.
#pragma once

#include <span>
#include <string_view>

namespace xeld {

struct WebFile {
    std::string_view path;  // "/index.html", "/panel.js", ...
    std::string_view type;  // the Content-Type it is served with
    std::string_view body;
};

// Every file of the panel, generated at build time.
std::span<const WebFile> webFiles();

}  // namespace xeld
