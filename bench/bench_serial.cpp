// What reading a serial counter costs: for each kind, one 3-s sample's
// worth of the counter's output written into a pseudo-terminal as it would
// arrive (the text-line kit's three lines; pulse bytes in the 20-ms chunks
// of a bridge's latency, at most one write per pulse; a GMC's three
// heartbeats), read by the link's thread, and the sample taken (a Rad Pro
// counter's is a request and its reply, answered by the simulation's thread). The time reported is
// the process's CPU time per sample (every thread: the link's reads, the decoding, the sample, and
// the simulated counter's writes as well), against the goal of at most 1 ms of CPU per sample per
// counter. BM_SerialIdle is the cost of a link with nothing arriving over one real 3-s sample.
#include "device/counter.h"
#include "device/serial_finder.h"
#include "device/serial_kinds.h"
#include "device/serial_simulator.h"
#include "device/simulated_driver.h"
#include "platform/clock.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>
#include <thread>

namespace {

using namespace korvinet;

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A counter of the kind on a pty, opened by TCounter and calibrated.
struct Rig {
    explicit Rig(QStringView kind)
        : counter(ports.Add(std::make_unique<device::PtyCounter>(
              device::MakeSimulation(kind),
              device::PtyCounter::Identity{
                  QStringLiteral("B1"), {}, device::SimulatedSerialKind(kind)}))),
          finder(ports, clock) {
        device::CounterChoice choice;
        choice.counter = QStringLiteral("B1");
        choice.tube = QStringLiteral("SBM-20");
        finder.SetChoices({choice});
        const bool answers = kind == device::kRadProKind || kind.startsWith(u"gmc");
        opened = counter.Plug();
        if (answers)
            counter.Run(nullptr);
        opened = opened && tcounter.ListDevices() == 1 && tcounter.OpenListed(0);
        tcounter.SetAveragingWindow(device::TCounter::kHistorySize);
        // A GMC's heartbeat flows once its simulation has heard it asked for.
        for (int i = 0;
             i < 100 && opened && kind.startsWith(u"gmc") && tcounter.LinkStatus().lines == 0;
             ++i) {
            counter.Count(0);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    // Waits until the link has what was written.
    bool Settle(std::uint64_t bytes, std::uint64_t lines) const {
        for (int i = 0; i < 5000; ++i) {
            const device::CounterLinkStatus link = tcounter.LinkStatus();
            if (link.bytes >= bytes && link.lines >= lines)
                return true;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return false;
    }

    platform::ManualClock clock{0, 45000.0};
    device::SimulatedDriver none{clock, 1};
    device::SimulatedSerialPorts ports;
    device::PtyCounter& counter;
    device::SerialFinder finder;
    device::TCounter tcounter{none, clock, &finder};
    bool opened = false;
};

void SamplePath(benchmark::State& state, QStringView kind) {
    Rig rig(kind);
    if (!rig.opened) {
        state.SkipWithError("cannot open the counter on a pty");
        return;
    }
    const auto cpm = static_cast<std::uint32_t>(state.range(0));
    const std::uint32_t perSample = cpm / 20; // 3 s of counts
    std::uint64_t lines = rig.tcounter.LinkStatus().lines;
    for (auto _ : state) {
        const double start = CpuSeconds();
        const std::uint64_t bytes = rig.tcounter.LinkStatus().bytes;
        if (kind == device::kRadProKind) {
            rig.counter.Count(perSample); // asked for by the sample
        } else if (kind == device::kTextLineKind || kind.startsWith(u"gmc")) {
            for (int second = 0; second < 3; ++second)
                rig.counter.Count(perSample / 3);
            lines += 3;
            if (!rig.Settle(0, lines)) {
                state.SkipWithError("lines did not arrive");
                return;
            }
        } else {
            const std::uint32_t chunks = std::min<std::uint32_t>(perSample, 150);
            for (std::uint32_t i = 0; i < chunks; ++i)
                rig.counter.Count(perSample / chunks + (i < perSample % chunks ? 1 : 0));
            if (!rig.Settle(bytes + perSample, 0)) {
                state.SkipWithError("bytes did not arrive");
                return;
            }
        }
        rig.clock.Advance(3000);
        benchmark::DoNotOptimize(rig.tcounter.ReadCounts());
        state.SetIterationTime(CpuSeconds() - start);
    }
    state.counters["cpm"] = rig.tcounter.CountRate();
}

void BM_TextLineSample(benchmark::State& state) {
    SamplePath(state, device::kTextLineKind);
}
void BM_PulseByteSample(benchmark::State& state) {
    SamplePath(state, device::kPulseByteKind);
}
void BM_RadProSample(benchmark::State& state) {
    SamplePath(state, device::kRadProKind);
}
void BM_GmcSample(benchmark::State& state) {
    SamplePath(state, u"gmc-500");
}
BENCHMARK(BM_TextLineSample)
    ->Arg(60)
    ->Arg(600)
    ->Arg(60000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PulseByteSample)
    ->Arg(60)
    ->Arg(600)
    ->Arg(60000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

void BM_SerialIdle(benchmark::State& state) {
    Rig rig(device::kPulseByteKind);
    if (!rig.opened) {
        state.SkipWithError("cannot open the counter on a pty");
        return;
    }
    for (auto _ : state) {
        const double start = CpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        rig.clock.Advance(3000);
        benchmark::DoNotOptimize(rig.tcounter.ReadCounts());
        state.SetIterationTime(CpuSeconds() - start);
    }
}
BENCHMARK(BM_RadProSample)->Arg(600)->Arg(60000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GmcSample)->Arg(600)->Arg(60000)->UseManualTime()->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_SerialIdle)->Iterations(3)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace
