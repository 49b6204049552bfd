#pragma once

#include <QString>
#include <QtGlobal>

class QByteArray;
class QDate;
class QDateTime;

namespace korvinet::platform {

// Date-time doubles count days since 30 December 1899 (day 0); the fraction is
// the time of day. They carry local wall-clock time, no time zone: 2012-03-14
// 09:00:03 local is 40982.375034722...
double DateTimeFromQt(const QDateTime& dt);
QDateTime QtFromDateTime(double value);
// The local date-time at the given offset from UTC: one moment even in the
// hour the clocks go back.
QDateTime QtFromDateTime(double value, int utcOffsetSeconds);

constexpr double kMsPerDay = 86400000.0;

// A date-time split into its day and the millisecond of that day, rounded to
// the nearest millisecond; a rounding that reaches midnight belongs to the
// next day. Every text of a date-time and every day it is filed under come
// from this one split, so a reading never lands on one day in a file name
// and on another in its line.
struct DayAndMs {
    qint64 day = 0; // days since 30 December 1899
    int ms = 0;     // 0 to 86,399,999

    QDate Date() const;
    // Cut to the whole second, as a date-time text without milliseconds
    // keeps it.
    DayAndMs WholeSecond() const { return {day, ms - ms % 1000}; }
    double DateTime() const { return static_cast<double>(day) + ms / kMsPerDay; }
};
DayAndMs SplitDateTime(double value);

// ISO 8601 local time with its offset from UTC, "2026-12-09T10:00:03+01:00",
// or with milliseconds "2026-12-09T10:00:03.120+01:00": how the station's
// lines, its MQTT readings and the journal's samples name a moment without
// ambiguity.
QString IsoLocalTimeText(const QDateTime& time, bool withMs = false);
// The same text with milliseconds for a moment (milliseconds since
// 1970-01-01 UTC) at an offset from UTC, made without the time-zone data:
// for answers of thousands of moments.
QByteArray IsoMomentText(qint64 utcMs, int utcOffsetSeconds);
// An offset from UTC as those texts end: "+01:00", "-05:30", "+00:00".
QString UtcOffsetText(int utcOffsetSeconds);

} // namespace korvinet::platform
