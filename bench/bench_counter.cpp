// One sampling tick's work in the counter: queue status, discard, history
// shift and the sum over the full 200-sample window. The goal is that a
// sample costs microseconds and allocates nothing; run with
// --benchmark_counters_tabular=true to see the allocation counter.
#include "device/counter.h"
#include "device/simulated_driver.h"
#include "platform/clock.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

static void BM_ReadCountsFullWindow(benchmark::State& state) {
    korvinet::platform::ManualClock clock(0, 45000.0);
    korvinet::device::SimulatedDriver driver(clock, 1);
    driver.AddDevice(korvinet::device::SimulatedDriver::DemoDevice(0, 3000));
    korvinet::device::TCounter counter(driver, clock);
    counter.ListDevices();
    if (!counter.Open(0)) {
        state.SkipWithError("open failed");
        return;
    }
    counter.SetAveragingWindow(korvinet::device::TCounter::kHistorySize);
    for (int i = 0; i < korvinet::device::TCounter::kHistorySize; ++i) {
        clock.Advance(3000);
        counter.ReadCounts();
    }
    const long before = g_allocations.load();
    for (auto _ : state) {
        clock.Advance(3000);
        benchmark::DoNotOptimize(counter.ReadCounts());
    }
    state.counters["allocations"] = static_cast<double>(g_allocations.load() - before);
}
BENCHMARK(BM_ReadCountsFullWindow);
