#include "app/open_recording.h"
#include "platform/datetime.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace korvinet {
namespace {

constexpr qint64 kH = 3600 * 1000;
constexpr qint64 kD = 24 * kH;
constexpr qint64 kNow = 1000 * kD;

// The step a span ending now is read in, from how far back the history's
// first reading, its raw readings, minute and hour summaries reach (in days
// before now; below 0: none).
TEST(OpenRecordingTest, TheStepKeepsTheGraphSmallAndTheSpanWhole) {
    const struct {
        const char* what;
        qint64 fromMs, toMs;
        double first, readings, minutes, hours;
        int step;
    } cases[] = {
        {"24 hours of readings", kNow - 24 * kH, kNow, 400, 30, 365, 400, 0},
        {"48 hours, the live graph's span", kNow - 48 * kH, kNow, 400, 30, 365, 400, 0},
        {"49 hours", kNow - 49 * kH, kNow, 400, 30, 365, 400, 60},
        {"7 days", kNow - 7 * kD, kNow, 400, 30, 365, 400, 60},
        {"30 days", kNow - 30 * kD, kNow, 400, 30, 365, 400, 60},
        {"69 days: 99,360 minutes", kNow - 69 * kD, kNow, 400, 30, 365, 400, 60},
        {"70 days: too many minutes", kNow - 70 * kD, kNow, 400, 30, 365, 400, 3600},
        {"a year", kNow - 365 * kD, kNow, 400, 30, 365, 400, 3600},
        {"twelve years", kNow - 12 * 365 * kD, kNow, 5000, 30, 365, 5000, 86400},
        {"a day whose readings expired", kNow - 40 * kD, kNow - 39 * kD, 400, 30, 365, 400, 60},
        {"a day older than the minutes", kNow - 390 * kD, kNow - 389 * kD, 400, 30, 365, 400, 3600},
        {"a day that begins before the readings", kNow - 31 * kD, kNow - 30 * kD + kH, 400, 30, 365,
         400, 60},
        {"a year of a history three days old", kNow - 365 * kD, kNow, 3, 3, 3, 3, 3600},
        {"24 hours of a history an hour old", kNow - 24 * kH, kNow, 1.0 / 24, 1.0 / 24, 1.0 / 24,
         1.0 / 24, 0},
        {"an empty history", kNow - 24 * kH, kNow, -1, -1, -1, -1, 0},
        {"a year of an empty history", kNow - 365 * kD, kNow, -1, -1, -1, -1, 3600},
    };
    const auto daysAgo = [](double days) {
        return days < 0 ? std::nullopt
                        : std::optional<qint64>(kNow - static_cast<qint64>(days * kD));
    };
    for (const auto& c : cases) {
        const HistoryReach reach = [&](HistoryReader::Resolution r) {
            switch (r) {
            case HistoryReader::Resolution::Readings:
                return daysAgo(c.readings);
            case HistoryReader::Resolution::Minutes:
                return daysAgo(c.minutes);
            case HistoryReader::Resolution::Hours:
                break;
            }
            return daysAgo(c.hours);
        };
        EXPECT_EQ(RecordingStepSeconds({c.fromMs, c.toMs}, daysAgo(c.first), reach), c.step)
            << c.what;
    }
}

TEST(OpenRecordingTest, SpansEndNowAndARangeIsLocalTime) {
    const qint64 now = QDateTime(QDate(2012, 3, 14), QTime(9, 0)).toMSecsSinceEpoch();
    const RecordingSpan year = RecordingSpanOf({true, 3, 0, 0}, now);
    EXPECT_EQ(year.toUtcMs, now);
    EXPECT_EQ(year.fromUtcMs, now - 365 * kD);
    const double from = DateTimeFromQt(QDateTime(QDate(2012, 3, 10), QTime(6, 30)));
    const RecordingSpan range = RecordingSpanOf({true, 4, from, from + 2.5}, now);
    EXPECT_EQ(range.fromUtcMs, QDateTime(QDate(2012, 3, 10), QTime(6, 30)).toMSecsSinceEpoch());
    EXPECT_EQ(range.toUtcMs, QDateTime(QDate(2012, 3, 12), QTime(18, 30)).toMSecsSinceEpoch());
}

} // namespace
} // namespace korvinet
