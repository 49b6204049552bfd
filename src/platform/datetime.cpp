#include "platform/datetime.h"

#include "platform/text_format.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QTimeZone>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace korvinet::platform {

namespace {
const qint64 kEpochJulianDay = QDate(1899, 12, 30).toJulianDay();
}

DayAndMs SplitDateTime(double value) {
    double whole = std::floor(value);
    auto ms = static_cast<qint64>(std::llround((value - whole) * kMsPerDay));
    if (ms >= static_cast<qint64>(kMsPerDay)) { // rounding reached the next midnight
        whole += 1.0;
        ms = 0;
    }
    return {static_cast<qint64>(whole), static_cast<int>(ms)};
}

QDate DayAndMs::Date() const {
    return QDate::fromJulianDay(kEpochJulianDay + day);
}

double DateTimeFromQt(const QDateTime& dt) {
    const qint64 days = dt.date().toJulianDay() - kEpochJulianDay;
    return static_cast<double>(days) + dt.time().msecsSinceStartOfDay() / kMsPerDay;
}

QDateTime QtFromDateTime(double value) {
    const DayAndMs split = SplitDateTime(value);
    return QDateTime(split.Date(), QTime::fromMSecsSinceStartOfDay(split.ms));
}

QDateTime QtFromDateTime(double value, int utcOffsetSeconds) {
    const DayAndMs split = SplitDateTime(value);
    return QDateTime(split.Date(), QTime::fromMSecsSinceStartOfDay(split.ms),
                     QTimeZone(utcOffsetSeconds));
}

QString IsoLocalTimeText(const QDateTime& time, bool withMs) {
    return time.toString(withMs ? QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")
                                : QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           UtcOffsetText(time.offsetFromUtc());
}

QByteArray IsoMomentText(qint64 utcMs, int utcOffsetSeconds) {
    constexpr qint64 kUnixEpochJulianDay = 2440588;
    const qint64 local = utcMs + qint64(utcOffsetSeconds) * 1000;
    const qint64 day = local >= 0 ? local / 86400000 : (local - 86399999) / 86400000;
    const int ms = static_cast<int>(local - day * 86400000);
    int year = 0, month = 0, dayOfMonth = 0;
    QDate::fromJulianDay(day + kUnixEpochJulianDay).getDate(&year, &month, &dayOfMonth);
    const int minutes = std::abs(utcOffsetSeconds) / 60;
    char text[40];
    const int n =
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", year,
                      month, dayOfMonth, ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000,
                      utcOffsetSeconds < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return QByteArray(text, n);
}

QString UtcOffsetText(int utcOffsetSeconds) {
    const int minutes = std::abs(utcOffsetSeconds) / 60;
    return FormatC("%c%02d:%02d", utcOffsetSeconds < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

} // namespace korvinet::platform
