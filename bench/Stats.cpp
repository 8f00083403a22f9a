#include "bench/Stats.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace xelbench {

double quantile(std::vector<double> samples, double q) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    q = std::clamp(q, 0.0, 1.0);
    const double position = q * static_cast<double>(samples.size() - 1);
    const size_t below = static_cast<size_t>(std::floor(position));
    const size_t above = std::min(below + 1, samples.size() - 1);
    const double weight = position - static_cast<double>(below);
    return samples[below] + (samples[above] - samples[below]) * weight;
}

Summary summarize(const std::vector<double>& samples) {
    Summary s;
    s.count = samples.size();
    if (samples.empty()) return s;
    s.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
    s.median = quantile(samples, 0.5);
    s.p99 = quantile(samples, 0.99);
    const auto [lo, hi] = std::minmax_element(samples.begin(), samples.end());
    s.min = *lo;
    s.max = *hi;
    return s;
}

}  // namespace xelbench
