// The counts health check's work per 3-s sample: binning the window and the
// trimmed successive-difference statistic. The goal is under 1 us a sample.
#include "measure/counts_health.h"

#include <benchmark/benchmark.h>
#include <random>
#include <vector>

// Arg: counts per minute. 1000 CPM judges 100 one-sample bins, 20 CPM 50
// bins of five samples.
static void BM_CountsHealthUpdate(benchmark::State& state) {
    std::mt19937_64 random(1);
    std::poisson_distribution<std::uint32_t> poisson(static_cast<double>(state.range(0)) / 20);
    std::vector<std::uint32_t> counts(4096);
    for (auto& c : counts)
        c = poisson(random);
    korvinet::measure::CountsHealthCheck check;
    for (std::size_t i = 0; i < 1000; ++i) // a full window to judge
        check.Update(counts[i % counts.size()], 3000);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(check.Update(counts[i++ % counts.size()], 3000));
    }
}
BENCHMARK(BM_CountsHealthUpdate)->Arg(20)->Arg(60)->Arg(1000);
