#include "platform/datetime.h"

#include "platform/text_format.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QTimeZone>
#include <cmath>
#include <cstdlib>

namespace korvinet {

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
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(withMs ? QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")
                                : QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           FormatC("%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

} // namespace korvinet
