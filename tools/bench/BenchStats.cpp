#include "tools/bench/BenchStats.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace BenchStats {

namespace {

double rankOf(const std::vector<double>& sorted, double q) {
    if (q <= 0) return sorted.front();
    // ceil(q * n) counted from 1; the small epsilon keeps 0.99 * 100 from rounding up to 100.
    const double exact = q * static_cast<double>(sorted.size());
    std::size_t rank = static_cast<std::size_t>(std::ceil(exact - 1e-9));
    rank = std::max<std::size_t>(1, std::min(rank, sorted.size()));
    return sorted[rank - 1];
}

}  // namespace

double percentile(std::vector<double> samples, double q) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    return rankOf(samples, q);
}

BenchSummary summarize(const std::vector<double>& samples) {
    BenchSummary s;
    if (samples.empty()) return s;
    std::vector<double> sorted(samples);
    std::sort(sorted.begin(), sorted.end());
    s.count = sorted.size();
    s.p50 = rankOf(sorted, 0.50);
    s.p99 = rankOf(sorted, 0.99);
    s.min = sorted.front();
    s.max = sorted.back();
    s.mean = std::accumulate(sorted.begin(), sorted.end(), 0.0) / static_cast<double>(sorted.size());
    return s;
}

}  // namespace BenchStats
