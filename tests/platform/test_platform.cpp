#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/text_format.h"

#include <QDateTime>
#include <clocale>
#include <gtest/gtest.h>

namespace korvinet::platform {
namespace {

TEST(DateTime, KnownDatesRoundTrip) {
    struct Case {
        QDateTime dt;
        double value;
    } cases[] = {
        {QDateTime(QDate(1899, 12, 30), QTime(0, 0)), 0.0},
        {QDateTime(QDate(1900, 1, 1), QTime(12, 0)), 2.5},
        {QDateTime(QDate(2012, 3, 14), QTime(9, 0, 3)), 40982.0 + (9 * 3600 + 3) / 86400.0},
        {QDateTime(QDate(2026, 12, 8), QTime(23, 59, 59, 999)), 46364.0 + 86399999 / 86400000.0},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(DateTimeFromQt(c.dt), c.value) << c.dt.toString().toStdString();
        EXPECT_EQ(QtFromDateTime(c.value), c.dt) << c.value;
    }
}

// The one split every date-time text and journal day goes by: to the nearest
// millisecond, midnight reached by rounding belonging to the next day.
TEST(DateTime, SplitsIntoDayAndMillisecond) {
    const struct {
        double value;
        qint64 day;
        int ms, wholeSecondMs;
    } cases[] = {
        {40982.0, 40982, 0, 0},
        {40982.0 + 3000.4 / 86400000.0, 40982, 3000, 3000},
        {40982.0 + 3999.6 / 86400000.0, 40982, 4000, 4000},
        {40982.0 + 3999.4 / 86400000.0, 40982, 3999, 3000},
        {40982.0 + (86400000 - 0.2) / 86400000.0, 40983, 0, 0}, // rounds to the next midnight
        {-1.25, -2, 64800000, 64800000},                        // before 1899-12-30
    };
    for (const auto& c : cases) {
        const DayAndMs split = SplitDateTime(c.value);
        EXPECT_EQ(split.day, c.day) << c.value;
        EXPECT_EQ(split.ms, c.ms) << c.value;
        EXPECT_EQ(split.WholeSecond().ms, c.wholeSecondMs) << c.value;
        EXPECT_EQ(QtFromDateTime(c.value),
                  QDateTime(split.Date(), QTime::fromMSecsSinceStartOfDay(split.ms)));
    }
}

TEST(ManualClock, AdvanceWrapsTickCountAndMovesDateTime) {
    ManualClock clock(0xFFFFFC18u /* 1000 ms before the wrap */, 40982.0);
    clock.Advance(3000);
    EXPECT_EQ(clock.TickCount(), 2000u);
    EXPECT_DOUBLE_EQ(clock.Now(), 40982.0 + 3000 / 86400000.0);
}

TEST(FormatC, DecimalPointIgnoresProcessLocale) {
    // A German LC_NUMERIC would make the C library write "1,50".
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    const bool german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    EXPECT_EQ(FormatC("%.2f|%.3f|%.0f", 1.5, 0.0125, 10091.4), "1.50|0.013|10091");
    std::setlocale(LC_NUMERIC, saved.c_str());
    if (!german)
        GTEST_SKIP() << "de_DE locale not installed; checked under the C locale only";
}

TEST(FormatC, ExactBinaryHalvesRoundToEvenAsPrintfDoes) {
    const struct {
        const char* format;
        double value;
        const char* text;
    } cases[] = {
        {"%.0f", 2.5, "2"},
        {"%.0f", 3.5, "4"},
        {"%.0f", -2.5, "-2"},
        {"%.1f", 0.25, "0.2"},
        {"%.1f", 0.75, "0.8"},
        {"%.2f", 0.125, "0.12"},
        {"%.3f", 0.0625, "0.062"},
        {"%.1f", 0.35, "0.3"}, // 0.35 lies just below the half
        {"%.15g", 1000000000000005.0, "1e+15"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatC(c.format, c.value), c.text) << c.format << " " << c.value;
}

} // namespace
} // namespace korvinet::platform
