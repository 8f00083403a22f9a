#include "tools/xelsim/Storage.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <cstdio>

namespace xelsim {

namespace {

bool parseQuad(const std::string& text, std::array<std::uint8_t, 4>& out) {
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) return false;
    if (a > 255 || b > 255 || c > 255 || d > 255) return false;
    out = {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(c),
           static_cast<std::uint8_t>(d)};
    return true;
}

}  // namespace

std::string dottedQuad(const std::array<std::uint8_t, 4>& a) {
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]);
}

Storage::Storage(std::string eepromPath) : eepromPath_(std::move(eepromPath)) {}

bool Storage::load(EepromImage& image, IpSettings& ip, bool& found, std::string& error) const {
    found = false;
    if (!enabled()) return true;
    struct stat st;
    if (::stat(eepromPath_.c_str(), &st) != 0) return true;  // a new unit: factory contents
    if (!loadEeprom(eepromPath_, image, error)) return false;
    found = true;
    std::vector<std::uint8_t> bytes;
    if (::stat(statePath().c_str(), &st) != 0) return true;
    if (!readFile(statePath(), bytes, error)) return false;
    auto j = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        error = statePath() + " is not a JSON object";
        return false;
    }
    if (j.contains("ip") && j["ip"].is_object()) {
        const auto& o = j["ip"];
        IpSettings loaded;
        loaded.known = true;
        if (!o.value("address", std::string()).empty() && parseQuad(o.value("address", ""), loaded.address) &&
            parseQuad(o.value("gateway", ""), loaded.gateway)) {
            loaded.hostBits = o.value("hostBits", 0);
            loaded.port = o.value("port", 0);
            ip = loaded;
        } else {
            error = statePath() + ": the IP settings are not readable";
            return false;
        }
    }
    return true;
}

bool Storage::saveEeprom(const EepromImage& image, std::string& error) const {
    if (!enabled()) return true;
    return xelsim::saveEeprom(eepromPath_, image, error);
}

bool Storage::saveIp(const IpSettings& ip, std::string& error) const {
    if (!enabled()) return true;
    nlohmann::json j = nlohmann::json::object();
    if (ip.known) {
        j["ip"] = {{"address", dottedQuad(ip.address)},
                   {"hostBits", ip.hostBits},
                   {"gateway", dottedQuad(ip.gateway)},
                   {"port", ip.port}};
    }
    const std::string text = j.dump(2) + "\n";
    return replaceFile(statePath(), std::vector<std::uint8_t>(text.begin(), text.end()), error);
}

}  // namespace xelsim
