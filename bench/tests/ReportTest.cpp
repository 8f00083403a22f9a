// bench/results.json and the goals: the fields, their order, nulls without a
// floor, and a file that is never left half written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "bench/Report.h"
#include "tests/support/XelsimProcess.h"

namespace xelbench {
namespace {

Figure make(const std::string& name, double median, double p99, std::optional<double> floor) {
    Figure f;
    f.name = name;
    f.unit = "ms";
    f.summary.count = 10;
    f.summary.median = median;
    f.summary.p99 = p99;
    f.floor = floor;
    return f;
}

TEST(Report, EachFigureHasExactlyTheDocumentedFieldsInOrder) {
    const auto j = toJson(make("exchange", 11.25, 22.5, 11.0));
    std::vector<std::string> keys;
    for (const auto& [key, value] : j.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"name", "unit", "median", "p99", "floor", "median_ratio", "p99_ratio"}));
    EXPECT_EQ(j["name"], "exchange");
    EXPECT_DOUBLE_EQ(j["median_ratio"].get<double>(), 1.023);  // 11.25 / 11, rounded
    EXPECT_DOUBLE_EQ(j["p99_ratio"].get<double>(), 2.045);
}

TEST(Report, WithoutAPositiveFloorTheFloorFieldsAreNull) {
    for (const auto floor : {std::optional<double>{}, std::optional<double>{0.0}}) {
        const auto j = toJson(make("xelctl", 4100, 4200, floor));
        EXPECT_TRUE(j["median_ratio"].is_null());
        EXPECT_TRUE(j["p99_ratio"].is_null());
        EXPECT_DOUBLE_EQ(j["median"].get<double>(), 4100);
    }
    EXPECT_TRUE(toJson(make("xelctl", 1, 1, std::nullopt))["floor"].is_null());
}

TEST(Report, ResultsFileIsAListAndReplacesTheOldOneWhole) {
    xeltest::ScratchDir dir;
    const std::string path = dir.file("results.json");
    {
        std::ofstream old(path);
        old << "old contents that are longer than what replaces them ...................";
    }
    const std::vector<Figure> figures = {make("a", 1, 2, 1.0), make("b", 3, 4, std::nullopt)};
    ASSERT_TRUE(writeJson(figures, path));
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const auto j = nlohmann::json::parse(text.str());
    ASSERT_TRUE(j.is_array());
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[1]["name"], "b");
    EXPECT_TRUE(j[1]["floor"].is_null());
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

    EXPECT_EQ(nlohmann::json::parse(resultsText({})), nlohmann::json::array());
    EXPECT_FALSE(writeJson(figures, dir.file("missing/folder/results.json")));
}

TEST(Report, GoalsAreCheckedAgainstTheFloorAndTheUnit) {
    Figure f = make("exchange", 12, 20, 11.0);
    EXPECT_FALSE(goalMet(f).has_value());  // no goal, no verdict

    f.goal.medianRatioMax = 1.2;
    f.goal.p99RatioMax = 2.0;
    EXPECT_EQ(goalMet(f), true);
    f.summary.p99 = 23;  // 2.09x
    EXPECT_EQ(goalMet(f), false);
    f.summary.p99 = 20;
    f.floor.reset();  // a ratio goal without a floor is not met
    EXPECT_EQ(goalMet(f), false);

    Figure cpu = make("cpu", 0.8, 9.5, std::nullopt);
    cpu.goal.medianMax = 10;
    cpu.goal.p99Max = 10;
    EXPECT_EQ(goalMet(cpu), true);
    cpu.summary.p99 = 10.5;
    EXPECT_EQ(goalMet(cpu), false);

    const std::string table = formatTable({f, cpu});
    EXPECT_NE(table.find("MISS"), std::string::npos) << table;
    EXPECT_NE(table.find("exchange"), std::string::npos) << table;
}

}  // namespace
}  // namespace xelbench
