#include "platform/datetime.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <cmath>

namespace korvinet {

namespace {
const qint64 kEpochJulianDay = QDate(1899, 12, 30).toJulianDay();
}

double DateTimeFromQt(const QDateTime& dt) {
    const qint64 days = dt.date().toJulianDay() - kEpochJulianDay;
    return static_cast<double>(days) + dt.time().msecsSinceStartOfDay() / kMsPerDay;
}

QDateTime QtFromDateTime(double value) {
    double whole = std::floor(value);
    auto ms = static_cast<qint64>(std::llround((value - whole) * kMsPerDay));
    if (ms >= static_cast<qint64>(kMsPerDay)) { // rounding reached the next midnight
        whole += 1.0;
        ms = 0;
    }
    const QDate date = QDate::fromJulianDay(kEpochJulianDay + static_cast<qint64>(whole));
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

} // namespace korvinet
