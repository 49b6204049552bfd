#include "platform/time_of_day.h"

#include <QTime>

namespace korvinet::platform {

namespace {

bool IsNumericField(QChar c) {
    return c == QLatin1Char('h') || c == QLatin1Char('H') || c == QLatin1Char('m') ||
           c == QLatin1Char('s');
}

bool IsAsciiLetter(QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

bool IsAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

int ParseTimeOfDayFast(QStringView text, const QLocale& locale, QStringView pattern) {
    int hour = -1;
    int minute = 0;
    int second = 0;
    bool twelveHour = false;
    bool twentyFourHour = false;
    int meridiem = -1; // 0 am, 1 pm
    qsizetype t = 0;
    qsizetype p = 0;
    bool previousNumeric = false;
    while (p < pattern.size()) {
        const QChar c = pattern[p];
        if (c == QLatin1Char('\'')) {
            // Quoted literal; '' is one quote.
            const qsizetype close = pattern.indexOf(QLatin1Char('\''), p + 1);
            if (close < 0)
                return -1;
            const QStringView literal =
                close == p + 1 ? QStringView(u"'") : pattern.sliced(p + 1, close - p - 1);
            if (!text.sliced(t).startsWith(literal))
                return -1;
            t += literal.size();
            p = close + 1;
            previousNumeric = false;
            continue;
        }
        if (IsNumericField(c)) {
            if (previousNumeric)
                return -1; // adjacent numbers need QLocale's parser
            qsizetype count = 1;
            while (p + count < pattern.size() && pattern[p + count] == c)
                ++count;
            if (count > 2)
                return -1;
            qsizetype digits = 0;
            int value = 0;
            while (digits < 2 && t + digits < text.size() && IsAsciiDigit(text[t + digits])) {
                value = value * 10 + text[t + digits].digitValue();
                ++digits;
            }
            if (digits == 0 || (count == 2 && digits != 2))
                return -1;
            if (c == QLatin1Char('h')) {
                hour = value;
                twelveHour = true;
            } else if (c == QLatin1Char('H')) {
                hour = value;
                twentyFourHour = true;
            } else if (c == QLatin1Char('m')) {
                minute = value;
            } else {
                second = value;
            }
            t += digits;
            p += count;
            previousNumeric = true;
            continue;
        }
        previousNumeric = false;
        if (c == QLatin1Char('a') || c == QLatin1Char('A')) {
            // "AP", "ap", "A" or "a": the locale's am/pm text, any case.
            p += (p + 1 < pattern.size() &&
                  (pattern[p + 1] == QLatin1Char('p') || pattern[p + 1] == QLatin1Char('P')))
                     ? 2
                     : 1;
            const QString am = locale.amText();
            const QString pm = locale.pmText();
            const QStringView rest = text.sliced(t);
            const bool isAm = !am.isEmpty() && rest.startsWith(am, Qt::CaseInsensitive);
            const bool isPm = !pm.isEmpty() && rest.startsWith(pm, Qt::CaseInsensitive);
            if (isAm == isPm)
                return -1; // neither, or ambiguous
            meridiem = isPm ? 1 : 0;
            t += isPm ? pm.size() : am.size();
            continue;
        }
        if (IsAsciiLetter(c))
            return -1; // zone, milliseconds or anything unusual
        if (t >= text.size() || text[t] != c)
            return -1;
        ++t;
        ++p;
    }
    if (t != text.size() || hour < 0 || (twelveHour && twentyFourHour))
        return -1;
    if (meridiem >= 0) {
        if (!twelveHour || hour < 1 || hour > 12)
            return -1;
        hour = hour % 12 + (meridiem == 1 ? 12 : 0);
    } else if (twelveHour || hour > 23) {
        return -1;
    }
    if (minute > 59 || second > 59)
        return -1;
    return ((hour * 60 + minute) * 60 + second) * 1000;
}

int ParseTimeOfDay(QStringView text, const QLocale& locale, const QString& pattern) {
    const int fast = ParseTimeOfDayFast(text, locale, pattern);
    if (fast >= 0)
        return fast;
    const QTime time = locale.toTime(text.toString(), pattern);
    return time.isValid() ? time.msecsSinceStartOfDay() : -1;
}

} // namespace korvinet::platform
