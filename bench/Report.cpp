#include "bench/Report.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace xelbench {

namespace {

// Three decimals are microseconds for times in ms; more would be noise.
double rounded(double v) { return std::round(v * 1000.0) / 1000.0; }

nlohmann::ordered_json number(std::optional<double> v) {
    if (!v || !std::isfinite(*v)) return nullptr;
    return rounded(*v);
}

std::string fixed(std::optional<double> v, int decimals) {
    if (!v) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, *v);
    return text;
}

std::string pad(const std::string& s, size_t width, bool right = false) {
    if (s.size() >= width) return s;
    const std::string fill(width - s.size(), ' ');
    return right ? fill + s : s + fill;
}

}  // namespace

std::optional<double> medianRatio(const Figure& f) {
    if (!f.floor || *f.floor <= 0) return std::nullopt;
    return f.summary.median / *f.floor;
}

std::optional<double> p99Ratio(const Figure& f) {
    if (!f.floor || *f.floor <= 0) return std::nullopt;
    return f.summary.p99 / *f.floor;
}

std::optional<bool> goalMet(const Figure& f) {
    const Goal& g = f.goal;
    if (!g.medianRatioMax && !g.p99RatioMax && !g.medianMax && !g.p99Max) return std::nullopt;
    bool met = true;
    const auto mr = medianRatio(f), pr = p99Ratio(f);
    // A ratio goal without a floor to compare against cannot be met.
    if (g.medianRatioMax) met = met && mr && *mr <= *g.medianRatioMax;
    if (g.p99RatioMax) met = met && pr && *pr <= *g.p99RatioMax;
    if (g.medianMax) met = met && f.summary.median <= *g.medianMax;
    if (g.p99Max) met = met && f.summary.p99 <= *g.p99Max;
    return met;
}

nlohmann::ordered_json toJson(const Figure& f) {
    nlohmann::ordered_json o;
    o["name"] = f.name;
    o["unit"] = f.unit;
    o["median"] = rounded(f.summary.median);
    o["p99"] = rounded(f.summary.p99);
    o["floor"] = number(f.floor);
    o["median_ratio"] = number(medianRatio(f));
    o["p99_ratio"] = number(p99Ratio(f));
    return o;
}

std::string resultsText(const std::vector<Figure>& figures) {
    // One figure per line, so two runs compare well with diff.
    std::string text = "[";
    for (size_t i = 0; i < figures.size(); ++i) text += (i ? ",\n  " : "\n  ") + toJson(figures[i]).dump();
    text += figures.empty() ? "]\n" : "\n]\n";
    return text;
}

bool writeJson(const std::vector<Figure>& figures, const std::string& path) {
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << resultsText(figures);
        out.flush();
        if (!out) return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

std::string formatTable(const std::vector<Figure>& figures) {
    size_t nameWidth = 6;
    for (const Figure& f : figures) nameWidth = std::max(nameWidth, f.name.size());
    std::ostringstream out;
    out << pad("Figure", nameWidth) << "  " << pad("unit", 6) << pad("n", 6, true) << pad("median", 11, true)
        << pad("p99", 11, true) << pad("floor", 11, true) << pad("med/fl", 8, true) << pad("p99/fl", 8, true)
        << "  goal  floor is\n";
    out << std::string(nameWidth + 2 + 6 + 6 + 11 * 3 + 8 * 2 + 16, '-') << '\n';
    for (const Figure& f : figures) {
        const auto met = goalMet(f);
        out << pad(f.name, nameWidth) << "  " << pad(f.unit, 6) << pad(std::to_string(f.summary.count), 6, true)
            << pad(fixed(f.summary.median, 3), 11, true) << pad(fixed(f.summary.p99, 3), 11, true)
            << pad(fixed(f.floor, 3), 11, true) << pad(fixed(medianRatio(f), 2), 8, true)
            << pad(fixed(p99Ratio(f), 2), 8, true) << "  "
            << pad(!met   ? ""
                   : *met ? "ok"
                          : "MISS",
                   4)
            << "  " << f.floorIs << '\n';
    }
    return out.str();
}

}  // namespace xelbench
