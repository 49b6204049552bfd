#pragma once

#include <QLocale>
#include <QString>
#include <QStringView>

namespace korvinet::platform {

// Time-of-day text read with a long-time pattern, giving what QLocale::toTime
// gives (milliseconds since midnight, or -1 when the text is no time).
// QLocale's parser consults the system's time-zone data on every call, far
// too slow for a file of 57,600 lines, so the usual patterns (h, hh, H, HH, m,
// mm, s, ss, AP, ap, A, a and literal text, ASCII digits) are read here
// directly; anything else is left to QLocale. Reading them here also takes
// the capitalised am/pm texts of a few locales (Bodo, Ewe) that QLocale
// writes but cannot read back.
int ParseTimeOfDay(QStringView text, const QLocale& locale, const QString& pattern);

// The fast path alone: -1 where it does not understand the text or the
// pattern, and QLocale has to decide.
int ParseTimeOfDayFast(QStringView text, const QLocale& locale, QStringView pattern);

} // namespace korvinet::platform
