#include "platform/time_of_day.h"

#include "platform/regional.h"

#include <QTime>
#include <gtest/gtest.h>

namespace korvinet::platform {
namespace {

int QtParse(const QString& text, const Regional& r) {
    const QTime time = r.Locale().toTime(text, r.LongTimePattern());
    return time.isValid() ? time.msecsSinceStartOfDay() : -1;
}

const QLocale kLocales[] = {
    QLocale::c(),
    QLocale(QLocale::German, QLocale::Germany),
    QLocale(QLocale::English, QLocale::UnitedKingdom),
    QLocale(QLocale::Japanese, QLocale::Japan),
    QLocale(QLocale::Korean, QLocale::SouthKorea),
    QLocale(QLocale::Finnish, QLocale::Finland),
    QLocale(QLocale::Arabic, QLocale::Egypt),
    QLocale(QLocale::Hindi, QLocale::India),
};

// The quick reader must agree with QLocale on every time it writes.
TEST(ParseTimeOfDay, AgreesWithQLocaleOnEveryWrittenTime) {
    for (const QLocale& locale : kLocales) {
        const Regional r(locale);
        int fastHits = 0;
        for (int second = 0; second < 86400; second += 37) {
            const QString text = r.Locale().toString(QTime::fromMSecsSinceStartOfDay(second * 1000),
                                                     r.LongTimePattern());
            ASSERT_EQ(ParseTimeOfDay(text, r.Locale(), r.LongTimePattern()), second * 1000)
                << locale.name().toStdString() << " " << text.toStdString();
            fastHits += ParseTimeOfDayFast(text, r.Locale(), r.LongTimePattern()) >= 0;
        }
        // Arabic digits are left to QLocale; the common patterns are read directly.
        if (locale.language() != QLocale::Arabic) {
            EXPECT_GT(fastHits, 2300) << locale.name().toStdString();
        }
    }
}

// Whatever the quick reader accepts, QLocale accepts with the same result.
TEST(ParseTimeOfDay, NeverAcceptsWhatQLocaleRefuses) {
    const char* texts[] = {"9:00:03 AM",  "09:00:03 am",  "12:00:00 AM",
                           "12:59:59 pm", "0:00:00 AM",   "13:00:00 PM",
                           "9:60:00 AM",  "9:00:60 AM",   "9:00 AM",
                           "9:0:03 AM",   "9:00:03",      "9:00:03 XM",
                           "9:00:03 AMX", " 9:00:03 AM",  "9:00:03  AM",
                           "23:59:59",    "24:00:00",     "07:05:09",
                           "7:05:09",     "7:5:9",        "",
                           "AM",          "9:00:03 PM x", "123:00:00"};
    for (const QLocale& locale : kLocales) {
        const Regional r(locale);
        for (const char* raw : texts) {
            const QString text = QString::fromLatin1(raw);
            const int fast = ParseTimeOfDayFast(text, r.Locale(), r.LongTimePattern());
            if (fast >= 0) {
                EXPECT_EQ(fast, QtParse(text, r))
                    << locale.name().toStdString() << " '" << raw << "'";
            }
            EXPECT_EQ(ParseTimeOfDay(text, r.Locale(), r.LongTimePattern()), QtParse(text, r))
                << locale.name().toStdString() << " '" << raw << "'";
        }
    }
}

} // namespace
} // namespace korvinet::platform
