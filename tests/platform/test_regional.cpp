#include "platform/datetime.h"
#include "platform/regional.h"

#include "support/ascii_digit_locales.h"

#include <QDateTime>
#include <cmath>
#include <gtest/gtest.h>

namespace korvinet::platform {
namespace {

double At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return DateTimeFromQt(QDateTime(QDate(y, mo, d), QTime(h, mi, s)));
}

TEST(Regional, CLocaleUsesUnitedStatesPatterns) {
    Regional r(QLocale::c());
    EXPECT_EQ(r.DateTimeText(At(2012, 3, 14, 9, 0, 3)), "3/14/2012 9:00:03 AM");
    EXPECT_EQ(r.DateTimeText(At(2012, 3, 14, 21, 5, 0)), "3/14/2012 9:05:00 PM");
    EXPECT_EQ(r.DateTimeText(At(2012, 3, 14)), "3/14/2012"); // midnight: date only
    EXPECT_EQ(r.DecimalSeparator(), '.');
}

// Short dates with blanks of their own ("yy. M. d.", "d. M. yyyy",
// "d.MM.yy 'g'.") and times of every shape, across midnight and noon.
TEST(Regional, DateTimeTextReadsBackInEveryAsciiDigitLocale) {
    const double times[] = {At(2011, 12, 31, 23, 59, 57), At(2012, 1, 1), At(2012, 1, 1, 0, 0, 3),
                            At(2012, 1, 1, 12, 0, 0), At(2026, 7, 4, 13, 5, 9)};
    QStringList failures;
    for (const QLocale& locale : testing::AsciiDigitLocales()) {
        const Regional r(locale);
        for (double t : times) {
            const QString text = r.DateTimeText(t);
            double back = 0;
            if (!r.ParseDateTime(text, &back) || std::fabs(back - t) > 1e-9) {
                failures << locale.name() + QLatin1Char(' ') + locale.bcp47Name() + ": \"" + text +
                                "\" with " + r.ShortDatePattern() + " / " + r.LongTimePattern();
                break;
            }
        }
    }
    EXPECT_TRUE(failures.isEmpty()) << failures.join(QLatin1Char('\n')).toStdString();
}

// The time-zone field goes with its brackets or the separator that joined
// it; what earlier versions wrote with "()" left in still reads.
TEST(Regional, TimeZoneFieldLeavesNothingBehind) {
    const struct {
        QLocale locale;
        const char* written;
    } cases[] = {
        {QLocale(QLocale::Spanish, QLocale::Spain), "14/3/2012 9:01:00"},
        {QLocale(QLocale::Albanian, QLocale::Albania), "14.3.2012 9:01:00 E PARADITES"},
        {QLocale(QLocale::Cantonese, QLocale::HongKong), "2012/3/14 \u4e0a\u53489:01:00"},
        {QLocale(QLocale::Chinese, QLocale::China), "2012/3/14 09:01:00"},
        {QLocale(QLocale::LowGerman, QLocale::Germany), "14.03.2012 Klock 9.01:00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Regional(c.locale).DateTimeText(At(2012, 3, 14, 9, 1, 0)).toStdString(),
                  c.written);

    for (const QLocale& locale : testing::AsciiDigitLocales()) {
        const QString pattern = Regional(locale).LongTimePattern();
        EXPECT_FALSE(pattern.contains(QLatin1String("()")) ||
                     pattern.contains(QLatin1String("[]")) || pattern.endsWith(QLatin1Char(',')) ||
                     pattern.startsWith(QLatin1Char(' ')))
            << locale.name().toStdString() << " " << pattern.toStdString();
    }

    const Regional spanish(QLocale(QLocale::Spanish, QLocale::Spain));
    double back = 0;
    ASSERT_TRUE(spanish.ParseDateTime(QStringLiteral("14/3/2012 9:00:03 ()"), &back));
    EXPECT_NEAR(back, At(2012, 3, 14, 9, 0, 3), 1e-9);
}

TEST(Regional, FractionsOfASecondAreNotShown) {
    Regional r(QLocale::c());
}

TEST(Regional, RejectsTextThatIsNoDate) {
    Regional r(QLocale::c());
    double v = 0;
    for (const char* bad : {"", "hello", "13/45/2012", "3/14/2012 25:00:00 PM", "3/14/2012 junk",
                            "3/14/2012 9:00:03 AM junk", "junk 3/14/2012 9:00:03 AM"})
        EXPECT_FALSE(r.ParseDateTime(bad, &v)) << bad;
}

TEST(Regional, NumbersAcceptUserSeparatorAndFullStop) {
    Regional german(QLocale(QLocale::German, QLocale::Germany));
    Regional c(QLocale::c());
    const struct {
        const Regional* r;
        const char* text;
        bool ok;
        double value;
    } cases[] = {
        {&german, "1,5", true, 1.5}, {&german, "1.5", true, 1.5}, {&german, " 0,001 ", true, 0.001},
        {&c, "2.5", true, 2.5},      {&c, "-3", true, -3},        {&c, "abc", false, 0},
        {&c, "", false, 0},          {&c, "1.5x", false, 0},      {&c, "inf", false, 0},
        {&c, "nan", false, 0},
    };
    for (const auto& k : cases) {
        double v = 0;
        EXPECT_EQ(k.r->ParseNumber(k.text, &v), k.ok) << k.text;
        if (k.ok) {
            EXPECT_DOUBLE_EQ(v, k.value) << k.text;
        }
    }
}

TEST(Regional, GeneralFloatText) {
    Regional c(QLocale::c());
    Regional german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(c.GeneralFloatText(600.0), "600");
    EXPECT_EQ(c.GeneralFloatText(90e-6 * 1e6), "90");
    EXPECT_EQ(c.GeneralFloatText(0.1 + 0.2), "0.3");
    EXPECT_EQ(german.GeneralFloatText(2.5), "2,5");
    EXPECT_EQ(c.GeneralFloatText(1000000000000005.0), "1e+15"); // half at the 15th digit
}

} // namespace
} // namespace korvinet::platform

namespace korvinet::platform {
namespace {

TEST(Regional, EntriesRoundTripToTheirShownDecimals) {
    Regional c(QLocale::c());
    Regional german(QLocale(QLocale::German, QLocale::Germany));
    const struct {
        const Regional* r;
        const char* text;
        int decimals;
        bool ok;
        double value;
    } cases[] = {
        {&c, "2.5", 3, true, 2.5},         {&c, "0.0004", 3, true, 0.0},
        {&c, "0.0006", 3, true, 0.001},    {&c, "12.3456", 2, true, 12.35},
        {&c, "-3", 3, true, -3.0},         {&c, "abc", 3, false, 0},
        {&german, "0,006", 2, true, 0.01}, {&german, "1.5", 2, true, 1.5},
        {&c, "0.125", 2, true, 0.12}, // an exact half rounds to even, as printf does
    };
    for (const auto& k : cases) {
        double v = -99;
        EXPECT_EQ(k.r->ParseRounded(k.text, k.decimals, &v), k.ok) << k.text;
        if (k.ok) {
            EXPECT_DOUBLE_EQ(v, k.value) << k.text;
        }
    }
}

} // namespace
} // namespace korvinet::platform
