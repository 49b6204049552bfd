// The metrics a Prometheus server scrapes, held against promtool, its own
// checker of the text format.
#include "support/journal_fixture.h"
#include "web/metrics.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace korvinet::web {
namespace {

using testing::At;
using testing::kMicroSv;

// promtool's own check, on a station before its first reading and on one
// with everything to show (a serial that needs escaping included).
TEST(MetricsTest, PassPrometheusChecks) {
    StationStatus idle;
    idle.version = QStringLiteral("1.0.3.0");
    StationStatus busy = idle;
    busy.serial = QStringLiteral("KV\"1\\0");
    busy.counter = CounterState::Connected;
    busy.latest = TimedReading{testing::MakeReading(At(14, 9, 0, 0), kMicroSv, "0.12", true), 0};
    busy.latest->reading.band = RateBand{{0.08, false}, {0.17, false}};
    busy.readingsTaken = 12;
    busy.mqtt.configured = true;
    for (const StationStatus& s : {idle, busy}) {
        QProcess promtool;
        promtool.start(QStringLiteral("promtool"),
                       {QStringLiteral("check"), QStringLiteral("metrics")});
        ASSERT_TRUE(promtool.waitForStarted(5000));
        const QByteArray text = MetricsText(s);
        promtool.write(text);
        promtool.closeWriteChannel();
        ASSERT_TRUE(promtool.waitForFinished(10000));
        EXPECT_EQ(promtool.exitCode(), 0)
            << text.toStdString() << promtool.readAllStandardError().toStdString();
    }
    const QByteArray text = MetricsText(busy);
    EXPECT_TRUE(
        text.contains("korvinet_reading{serial=\"KV\\\"1\\\\0\",unit=\"\u00B5Sv/hr\"} 0.12\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("korvinet_alarm{serial=\"KV\\\"1\\\\0\"} 1\n"));
    EXPECT_TRUE(text.contains("korvinet_readings_total{serial=\"KV\\\"1\\\\0\"} 12\n"));
}

} // namespace
} // namespace korvinet::web
