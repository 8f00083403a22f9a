// The figures of one run: the table printed at the end and bench/results.json.
//
// results.json is a list of objects with exactly these fields: name, unit,
// median, p99, floor, median_ratio (median / floor) and p99_ratio (p99 / floor).
// A figure without a floor has null in the last three.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/Stats.h"

namespace xelbench {

// What a figure should achieve; an absent bound is not checked.
struct Goal {
    std::optional<double> medianRatioMax;  // median / floor
    std::optional<double> p99RatioMax;     // p99 / floor
    std::optional<double> medianMax;       // in the figure's unit
    std::optional<double> p99Max;          // in the figure's unit
};

struct Figure {
    std::string name;
    std::string unit;
    Summary summary;
    std::optional<double> floor;  // in the figure's unit
    std::string floorIs;          // what the floor is made of, for the table
    Goal goal;
};

// median / floor and p99 / floor; none without a positive floor.
std::optional<double> medianRatio(const Figure& f);
std::optional<double> p99Ratio(const Figure& f);

// Whether the figure meets its goal; none when it has no goal.
std::optional<bool> goalMet(const Figure& f);

// One figure as it appears in results.json, fields in the documented order.
nlohmann::ordered_json toJson(const Figure& figure);
// The whole results.json text: a list, one figure per line.
std::string resultsText(const std::vector<Figure>& figures);
// Writes resultsText() through a temporary file and a rename; false on failure.
bool writeJson(const std::vector<Figure>& figures, const std::string& path);

std::string formatTable(const std::vector<Figure>& figures);

}  // namespace xelbench
