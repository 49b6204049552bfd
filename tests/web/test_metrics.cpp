// The metrics a Prometheus server scrapes, held against promtool, its own
// checker of the text format, and against the conventions of its naming
// guide: fixed units in the names, the same series from the start.
#include "support/journal_fixture.h"
#include "web/metrics.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace korvinet::web {
namespace {

using testing::At;

// The sample of a series, by the text before its value; "-" when absent.
QByteArray Sample(const QByteArray& text, const QByteArray& series) {
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(series + ' '))
            return line.mid(series.size() + 1);
    return "-";
}

// A station before its first reading and one with everything to show (a
// serial and model that need escaping and are not ASCII): promtool passes
// both, both have the same metrics, and what is not known yet is NaN.
TEST(MetricsTest, EveryMetricFromTheStartAndPromtoolPassesThem) {
    StationStatus idle;
    idle.mqtt.configured = true;
    StationStatus busy = idle;
    busy.serial = QStringLiteral("KV\"1\\0");
    busy.model = QStringLiteral("Z\u00E4hler \u00B5");
    busy.latest = device::TimedReading{
        testing::MakeReading(At(14, 9, 0, 0), testing::kMicroSv, "0.12", true), 1331715600000};
    busy.latest->reading.band = device::RateBand{{0.08, false}, {0.17, false}};
    busy.conversion = measure::RateConversion{0.0, 100.0, 4};
    busy.readingsTaken = 12;
    busy.healthStatistic = 1.1;
    QByteArray families[2];
    for (const StationStatus* s : {&idle, &busy}) {
        QProcess promtool;
        promtool.start("promtool", {"check", "metrics"});
        const QByteArray text = MetricsText(*s);
        promtool.write(text);
        promtool.closeWriteChannel();
        ASSERT_TRUE(promtool.waitForFinished(10000));
        EXPECT_EQ(promtool.exitCode(), 0)
            << text.toStdString() << promtool.readAllStandardError().toStdString();
        EXPECT_FALSE(std::any_of(text.begin(), text.end(), [](char c) { return c & 0x80; }));
        for (const QByteArray& line : text.split('\n'))
            families[s == &busy] += line.startsWith("# TYPE ") ? line + '\n' : "";
    }
    EXPECT_EQ(families[0], families[1]);
    const QByteArray before = MetricsText(idle), after = MetricsText(busy);
    for (const char* unknown :
         {"korvinet_dose_rate_sieverts_per_hour", "korvinet_dose_rate_band_low_sieverts_per_hour",
          "korvinet_counts_per_second", "korvinet_reading_timestamp_seconds",
          "korvinet_counts_health_statistic"}) {
        EXPECT_EQ(Sample(before, unknown), "NaN") << unknown;
        EXPECT_NE(Sample(after, unknown), "NaN") << unknown;
    }
    EXPECT_EQ(Sample(after, "korvinet_device_info{serial=\"KV\\\"1\\\\0\",model=\"Z_hler _\"}"),
              "1");
    EXPECT_EQ(Sample(after, "korvinet_alarm"), "1");
    EXPECT_EQ(Sample(after, "korvinet_reading_timestamp_seconds"), "1331715600");
}

// The dose rate and its band in Sv/h through the counter's sensitivity and
// dead time, the same whichever unit the station shows: 600 CPM counted on a
// tube of 120 CPM per mR/hr with 100 µs dead time, band 540 to 660 CPM.
TEST(MetricsTest, DoseRateIsInSievertsPerHourWhateverTheDisplayUnit) {
    const auto sievertsPerHour = [](double rawCpm) {
        return rawCpm / (1 - rawCpm * 100e-6 / 60) / 120 * 10e-6; // 1 mR/hr is 10 µSv/h
    };
    for (const std::int8_t unit : {0, 1, 2, 3, 4}) {
        SCOPED_TRACE(unit);
        StationStatus s;
        const measure::RateConversion shown{100e-6, 120.0, unit};
        s.conversion = shown;
        s.latest.emplace();
        device::Reading& r = s.latest->reading;
        r.unitCode = static_cast<std::uint8_t>(unit);
        r.cpm = 600;
        r.value = shown.FromRawCpm(600).value;
        r.band = device::RateBand{shown.FromRawCpm(540), shown.FromRawCpm(660)};
        const QByteArray text = MetricsText(s);
        const auto value = [&](const char* name) { return Sample(text, name).toDouble(); };
        EXPECT_NEAR(value("korvinet_dose_rate_sieverts_per_hour"), sievertsPerHour(600), 1e-15);
        EXPECT_NEAR(value("korvinet_dose_rate_band_low_sieverts_per_hour"), sievertsPerHour(540),
                    1e-15);
        EXPECT_NEAR(value("korvinet_dose_rate_band_high_sieverts_per_hour"), sievertsPerHour(660),
                    1e-15);
        EXPECT_EQ(value("korvinet_counts_per_second"), 10);
        EXPECT_FALSE(text.contains("unit=")) << text.toStdString();
    }
}

} // namespace
} // namespace korvinet::web
