#pragma once

class QDateTime;

namespace korvinet {

// Date-time doubles count days since 30 December 1899 (day 0); the fraction is
// the time of day. They carry local wall-clock time, no time zone: 2012-03-14
// 09:00:03 local is 40982.375034722...
double DateTimeFromQt(const QDateTime& dt);
QDateTime QtFromDateTime(double value);

constexpr double kMsPerDay = 86400000.0;

} // namespace korvinet
