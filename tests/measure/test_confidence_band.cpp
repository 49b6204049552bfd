#include "measure/confidence_band.h"
#include "measure/poisson.h"
#include "pulse_simulation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace korvinet::measure {
namespace {

using testing::PulseRig;

std::string S(const QString& s) {
    return s.toStdString();
}

// Reference values worked out to 40 digits; they span the power series, the
// continued fraction, both tails and counts up to 10^7.
TEST(Poisson, GammaFunctionsAndInverseMatchReferenceValues) {
    const struct {
        double a, x, p, q;
    } values[] = {
        {0.5, 0.01, 0.11246291601828489, 0.88753708398171511},
        {3, 0.5, 0.014387677966970687, 0.98561232203302931},
        {10, 25, 0.99977852336175122, 0.00022147663824878358},
        {50, 49, 0.46210439360094026, 0.53789560639905974},
        {200, 260, 0.99995249987555699, 4.7500124443008756e-5},
        {1e6, 999000, 0.15865521357430365, 0.84134478642569635},
        {1e6, 1002500, 0.99375964513891169, 0.0062403548610883073},
    };
    for (const auto& v : values) {
        EXPECT_NEAR(RegularizedGammaP(v.a, v.x) / v.p, 1, 1e-11) << v.a << " " << v.x;
        EXPECT_NEAR(RegularizedGammaQ(v.a, v.x) / v.q, 1, 1e-11) << v.a << " " << v.x;
    }
    const struct {
        double a, p, x;
    } inverses[] = {
        {1, 0.025, 0.025317807984289877},     {200, 0.025, 173.24088268145732},
        {10001, 0.975, 10197.951624661473},   {1e7, 0.025, 9993802.9968842669},
        {1e7 + 1, 0.975, 10006199.897731497},
    };
    for (const auto& v : inverses)
        EXPECT_NEAR(InverseRegularizedGammaP(v.a, v.p) / v.x, 1, 1e-12) << v.a << " " << v.p;
}

TEST(ConfidenceBand, KnownIntervals) {
    const struct {
        std::uint64_t n;
        double low, high;
    } cases[] = {
        {0, 0, 3.6889}, {5, 1.6235, 11.6683}, {10, 4.7954, 18.3904}, {100, 81.364, 121.627}};
    const RateConversion raw{0, 1, 0};
    for (const auto& c : cases) {
        // Over one minute the band in CPM is the interval in counts.
        const auto band = ConfidenceBand({c.n, 60000, 20, 20, 0, 3000}, raw);
        ASSERT_TRUE(band);
        EXPECT_NEAR(band->low.value, c.low, 1e-4 * c.low) << c.n;
        EXPECT_NEAR(band->high.value, c.high, 1e-4 * c.high) << c.n;
    }
    // The live time, not the nominal window, sets the scale.
    const auto band = ConfidenceBand({0, 15000, 5, 5, 0, 3000}, raw);
    EXPECT_NEAR(band->high.value, 3.6889 * 4, 1e-3);
    EXPECT_FALSE(ConfidenceBand({0, 0, 0, 5, 0, 0}, raw));
}

// Coverage worked out exactly, not by simulation: the probability that the
// interval of a Poisson count contains its mean, for means 0.2 to 60 and
// just inside and outside every interval end (where coverage dips).
TEST(ConfidenceBand, CoversEveryMeanFrom02To60AtLeast95Percent) {
    const int maxCount = 200;
    std::vector<CountInterval> intervals;
    std::vector<double> means;
    for (int n = 0; n < maxCount; ++n) {
        intervals.push_back(PoissonInterval(n));
        for (double end : {intervals.back().low, intervals.back().high})
            for (double f : {1 - 1e-9, 1 + 1e-9})
                means.push_back(end * f);
    }
    for (double m = 0.2; m <= 60; m += 0.005)
        means.push_back(m);
    double worst = 1;
    for (double m : means) {
        if (m < 0.2 || m > 60)
            continue;
        double p = std::exp(-m), coverage = 0;
        for (int n = 0; n < maxCount; ++n, p *= m / n)
            if (intervals[n].low <= m && m <= intervals[n].high)
                coverage += p;
        worst = std::min(worst, coverage);
    }
    EXPECT_GE(worst, 0.95);
    EXPECT_LT(worst, 0.96); // and the test is sharp enough to see a dip
}

TEST(ConfidenceBand, DeadTimeAndUnitsFollowTheReadings) {
    const RateConversion gm{190e-6, 600, 1};
    EXPECT_NEAR(gm.DeadTimeFactor(1e5).value, 1.4634, 1e-4);
    // Past the cap a bound is marked and reads ten times the raw rate.
    const auto capped = gm.FromRawCpm(3e5);
    EXPECT_TRUE(capped.capped);
    EXPECT_DOUBLE_EQ(capped.value, 3e6);
    EXPECT_FALSE((RateConversion{190e-6, 600, 0}.FromRawCpm(3e5).capped)); // uncompensated unit

    // The same value as the counter's own conversion in every unit, and the
    // level inverse comes back to the raw rate, below and above the cap.
    PulseRig rig(1);
    ASSERT_TRUE(rig.Opened());
    for (std::uint8_t unit = 0; unit <= 4; ++unit) {
        rig.counter.SetUnitCode(unit);
        const RateConversion conversion = RateConversion::Of(rig.counter);
        for (double cpm : {0.0, 20.0, 1e4, 3e5, 6e5, 6.5e5}) {
            const auto v = conversion.FromRawCpm(cpm);
            if (!v.capped) {
                EXPECT_DOUBLE_EQ(v.value, rig.counter.ConvertRate(cpm, unit)) << cpm;
            }
            EXPECT_NEAR(conversion.RawCpmAt(v.value), cpm, 1e-9 * cpm) << int(unit) << " " << cpm;
        }
    }
    // Both bounds are divided by the same unit factor.
    const CountWindow window{25, 15000, 5, 5, 5, 3000};
    const auto cpm = ConfidenceBand(window, {90e-6, 600, 1});
    const auto usv = ConfidenceBand(window, {90e-6, 600, 4});
    EXPECT_DOUBLE_EQ(usv->low.value, cpm->low.value * 10 / 600);
    EXPECT_DOUBLE_EQ(usv->high.value, cpm->high.value * 10 / 600);
}

TEST(ConfidenceBand, WindowComesFromTheCounterAndStartsPartlyFilled) {
    PulseRig rig(2, 5);
    ASSERT_TRUE(rig.Opened());
    rig.SampleExactly(3, 2996);
    const CountWindow w = rig.SampleExactly(4, 3004);
    EXPECT_EQ(w.counts, 7u);
    EXPECT_EQ(w.liveMs, 6000u);
    EXPECT_EQ(w.samples, 2);
    EXPECT_FALSE(w.Full());
    EXPECT_EQ(w.newestCounts, 4u);
    EXPECT_EQ(w.newestMs, 3004u);
    const auto band = ConfidenceBand(w, RateConversion{0, 1, 0});
    EXPECT_NEAR(band->low.value, PoissonInterval(7).low * 10, 1e-9);
    EXPECT_NEAR(rig.counter.CountRate(), 70.0, 1e-9); // the reading's own window

    for (int i = 0; i < 4; ++i)
        rig.SampleExactly(1);
    EXPECT_TRUE(CountWindow::Of(rig.counter).Full());
    EXPECT_EQ(CountWindow::Of(rig.counter).counts, 8u); // the oldest sample has left

    ASSERT_TRUE(rig.counter.ResetCounter());
    EXPECT_FALSE(ConfidenceBand(CountWindow::Of(rig.counter), RateConversion{0, 1, 0}));
}

TEST(ConfidenceBand, StatisticsLine) {
    PulseRig rig(3, 5);
    ASSERT_TRUE(rig.Opened());
    rig.SampleExactly(5);
    for (int i = 0; i < 4; ++i)
        rig.SampleExactly(0);
    const struct {
        std::uint8_t unit;
        const char* line;
    } cases[] = {
        {1, "95 %: 6.5 \u2013 46.7 CPM"},
        {2, "95 %: 0.011 \u2013 0.078 mR/hr"},
        {3, "95 %: 11 \u2013 78 \u00B5R/hr"},
    };
    for (const auto& c : cases) {
        rig.counter.SetUnitCode(c.unit);
        const auto band =
            ConfidenceBand(CountWindow::Of(rig.counter), RateConversion::Of(rig.counter));
        EXPECT_EQ(S(ConfidenceBandLine(*band, rig.counter)), c.line);
    }
    rig.counter.SetUnitCode(1);
    EXPECT_EQ(S(ConfidenceBandLine({{1234.5, false}, {9876.54, true}}, rig.counter)),
              "95 %: 1234.5 \u2013 \u22659876.5 CPM");
}

} // namespace
} // namespace korvinet::measure
