// The summary every figure reports: a wrong percentile would misstate every row.
#include <gtest/gtest.h>

#include "bench/Stats.h"

namespace xelbench {
namespace {

TEST(Stats, QuantilesInterpolateBetweenClosestRanks) {
    struct Row {
        std::vector<double> samples;
        double q;
        double expected;
    };
    const std::vector<Row> rows = {
        {{5}, 0.5, 5},        {{5}, 0.99, 5},         {{1, 2}, 0.5, 1.5}, {{4, 1, 3, 2}, 0.5, 2.5},  // unsorted input
        {{1, 2, 3}, 0.5, 2},  {{10, 20}, 0.99, 19.9}, {{0, 100}, 0.0, 0}, {{0, 100}, 1.0, 100},
        {{0, 100}, 1.5, 100},  // clamped
    };
    for (const Row& r : rows) EXPECT_DOUBLE_EQ(quantile(r.samples, r.q), r.expected) << "q=" << r.q;
    EXPECT_EQ(quantile({}, 0.5), 0);
}

TEST(Stats, SummaryOfAHundredSamples) {
    std::vector<double> samples;
    for (int i = 100; i >= 1; --i) samples.push_back(i);
    const Summary s = summarize(samples);
    EXPECT_EQ(s.count, 100u);
    EXPECT_DOUBLE_EQ(s.median, 50.5);
    EXPECT_DOUBLE_EQ(s.mean, 50.5);
    EXPECT_DOUBLE_EQ(s.p99, 99.01);
    EXPECT_EQ(s.min, 1);
    EXPECT_EQ(s.max, 100);
    // One stall among a hundred shows in the p99, not in the median.
    samples[0] = 5000;
    const Summary stalled = summarize(samples);
    EXPECT_DOUBLE_EQ(stalled.median, 50.5);
    EXPECT_DOUBLE_EQ(stalled.mean, 50.5 + 4900.0 / 100);  // what a sum of many samples grows with
    EXPECT_GT(stalled.p99, 99.01);
    EXPECT_EQ(summarize({}).count, 0u);
}

}  // namespace
}  // namespace xelbench
