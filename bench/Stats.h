// Samples of one measurement and their summary: the median and the 99th
// percentile that every figure reports.
#pragma once

#include <cstddef>
#include <vector>

namespace xelbench {

struct Summary {
    size_t count = 0;
    double mean = 0;
    double median = 0;
    double p99 = 0;
    double min = 0;
    double max = 0;
};

// The q-quantile (0 <= q <= 1) by linear interpolation between the closest
// ranks of the sorted samples, so a few samples still give a sensible p99.
// Empty input gives 0.
double quantile(std::vector<double> samples, double q);

Summary summarize(const std::vector<double>& samples);

}  // namespace xelbench
