#pragma once
// The ratio ours / reference of each alternating pair a benchmark timed, and
// their minimum and median: on a shared machine one slow pair moves the mean
// of either side, while the median and the best pair stay readable.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

namespace benchfiles {

class PairRatios {
public:
    void Add(double ours, double reference)
    {
        if (reference > 0) m_ratios.push_back(ours / reference);
    }
    // Sets "<prefix>ratio_min" and "<prefix>ratio_median" (nothing without pairs).
    void Report(benchmark::State& state, const std::string& prefix = std::string())
    {
        if (m_ratios.empty()) return;
        std::vector<double> sorted = m_ratios;
        std::sort(sorted.begin(), sorted.end());
        const size_t n = sorted.size();
        const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
        state.counters[prefix + "ratio_min"] = sorted.front();
        state.counters[prefix + "ratio_median"] = median;
    }

private:
    std::vector<double> m_ratios;
};

}  // namespace benchfiles
