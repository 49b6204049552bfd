#pragma once

#include "device/counter.h"
#include "device/simulated_driver.h"
#include "measure/confidence_band.h"
#include "platform/clock.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace korvinet::testing {

// Seeded draws by inversion from std::mt19937_64, whose output the standard
// fixes, so every standard library gives the same runs (its distributions
// are free to differ).
class Draws {
public:
    explicit Draws(std::uint64_t seed) : random_(seed) {}

    double Uniform() { return static_cast<double>(random_() >> 11) * 0x1.0p-53; } // [0, 1)
    std::uint32_t Poisson(double mean) {
        const double u = Uniform();
        double p = std::exp(-mean);
        double cdf = p;
        std::uint32_t k = 0;
        while (u >= cdf && p > 0) {
            ++k;
            p *= mean / k;
            cdf += p;
        }
        return k;
    }
    double Exponential(double mean) { return -mean * std::log1p(-Uniform()); }
    // A sampling interval as the 3-s timer delivers it.
    std::uint32_t IntervalMs() { return 2995 + static_cast<std::uint32_t>(random_() % 11); }

private:
    std::mt19937_64 random_;
};

// The averaging window kept as TCounter keeps it, for runs of many hours that
// skip the device layer: counts per sample drawn directly.
class DirectWindow {
public:
    explicit DirectWindow(int length) : counts_(length), ms_(length) {}

    measure::CountWindow Add(std::uint32_t counts, std::uint32_t ms) {
        next_ = (next_ + 1) % counts_.size();
        counts_[next_] = counts;
        ms_[next_] = ms;
        measure::CountWindow w;
        w.length = static_cast<int>(counts_.size());
        for (std::size_t i = 0; i < counts_.size(); ++i) {
            w.counts += counts_[i];
            w.liveMs += ms_[i];
            w.samples += ms_[i] != 0;
        }
        w.newestCounts = counts;
        w.newestMs = ms;
        return w;
    }

private:
    std::vector<std::uint32_t> counts_, ms_;
    std::size_t next_ = 0;
};

// The simulated counter as users try it, faults included, read straight
// from the driver in jittered 3-s samples: runs of days that skip TCounter.
class DriverSamples {
public:
    DriverSamples(std::uint64_t seed, double cpm, device::SimulatedFault fault,
                  std::uint64_t faultStartMs)
        : draws_(seed), driver_(clock_, seed) {
        device::SimulatedDeviceProfile profile;
        profile.countsPerMinute = cpm;
        driver_.SetFault(driver_.AddDevice(profile), fault, faultStartMs);
        std::uint32_t n = 0;
        driver_.CreateDeviceInfoList(&n);
        driver_.Open(0, &handle_);
    }
    struct Sample {
        std::uint32_t counts = 0, ms = 0;
    };
    Sample Next() {
        Sample s{0, draws_.IntervalMs()};
        clock_.Advance(s.ms);
        nowMs_ += s.ms;
        driver_.GetQueueStatus(handle_, &s.counts);
        driver_.DiscardReceived(handle_, s.counts);
        return s;
    }
    double NowMs() const { return nowMs_; }

private:
    Draws draws_;
    platform::ManualClock clock_{0, 40000.0};
    device::SimulatedDriver driver_;
    device::FtHandle handle_ = 0;
    double nowMs_ = 0;
};

// A simulated counter read by the real TCounter on the test clock: pulses
// arrive as a Poisson process in time and reach the counter as bytes, one
// sample per jittered 3-s interval. Range 1000 mR/hr, 600 CPM per mR/hr,
// dead time 90 µs.
class PulseRig {
public:
    explicit PulseRig(std::uint64_t seed, int windowSamples = 5, std::uint8_t unit = 1)
        : draws(seed) {
        device::SimulatedDeviceProfile profile;
        profile.userArea = device::SimulatedDriver::MakeConfig(1000, 1000, 90, 0x86, -5);
        device_ = driver.AddDevice(profile);
        opened_ = counter.ListDevices() == 1 && counter.Open(0);
        counter.SetAveragingWindow(windowSamples);
        counter.SetUnitCode(unit);
    }

    bool Opened() const { return opened_; }

    // One sample with pulses at cpm (CPM) from now on.
    measure::CountWindow Sample(double cpm) {
        if (cpm != rate_) {
            rate_ = cpm;
            next_ = nowMs_ + Gap();
        }
        const std::uint32_t dt = draws.IntervalMs();
        nowMs_ += dt;
        std::uint32_t n = 0;
        for (; next_ <= nowMs_; next_ += Gap()) {
            ++n;
            lastPulseMs_ = next_;
        }
        driver.InjectPulses(device_, n);
        clock.Advance(dt);
        readOk_ = counter.ReadCounts();
        return measure::CountWindow::Of(counter);
    }

    // One sample of exactly counts pulses over ms.
    measure::CountWindow SampleExactly(std::uint32_t counts, std::uint32_t ms = 3000) {
        nowMs_ += ms;
        driver.InjectPulses(device_, counts);
        clock.Advance(ms);
        readOk_ = counter.ReadCounts();
        return measure::CountWindow::Of(counter);
    }

    bool ReadOk() const { return readOk_; }
    double NowMs() const { return nowMs_; }
    double LastPulseMs() const { return lastPulseMs_; }

    Draws draws;
    platform::ManualClock clock{0xFFFF0000u, 40982.375}; // the tick count wraps early in every run
    device::SimulatedDriver driver{clock, 7};
    device::TCounter counter{driver, clock};

private:
    double Gap() {
        return rate_ > 0 ? draws.Exponential(60000.0 / rate_)
                         : std::numeric_limits<double>::infinity();
    }

    int device_ = 0;
    bool opened_ = false;
    bool readOk_ = true;
    double rate_ = -1;
    double nowMs_ = 0;
    double next_ = 0;
    double lastPulseMs_ = 0;
};

} // namespace korvinet::testing
