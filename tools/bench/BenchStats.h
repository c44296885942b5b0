#pragma once
// Order statistics of a set of timings. Portable.
#include <cstddef>
#include <vector>

struct BenchSummary {
    std::size_t count = 0;
    double p50 = 0;
    double p99 = 0;
    double min = 0;
    double max = 0;
    double mean = 0;
};

namespace BenchStats {

// The nearest-rank percentile: the smallest sample with at least q of all samples at or below
// it (q in (0, 1]; q <= 0 gives the minimum). 0 for an empty set.
double percentile(std::vector<double> samples, double q);
BenchSummary summarize(const std::vector<double>& samples);

}  // namespace BenchStats
