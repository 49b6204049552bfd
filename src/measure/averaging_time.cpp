#include "measure/averaging_time.h"

#include <algorithm>
#include <limits>

namespace korvinet::measure {

const QStringList& CountTimeEntries() {
    static const QStringList entries = {
        QStringLiteral("15 seconds"), QStringLiteral("30 seconds"), QStringLiteral("45 seconds"),
        QStringLiteral("1 minute"),   QStringLiteral("3 minutes"),  QStringLiteral("5 minutes"),
        QStringLiteral("10 minutes"),
    };
    return entries;
}

namespace {

// Leading decimal integer after white space and at most one sign; 0 without digits.
long long LeadingInteger(const QString& text) {
    int i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        negative = text[i++] == QLatin1Char('-');
    long long value = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > 1'000'000'000)
            break; // far beyond any averaging time; keeps the arithmetic in range
    }
    return negative ? -value : value;
}

} // namespace

int AveragingWindowFor(const QString& entryText, int intervalMs) {
    // Trim blanks and control characters at both ends.
    int from = 0, to = static_cast<int>(entryText.size());
    while (from < to && entryText[from].unicode() <= ' ')
        ++from;
    while (to > from && entryText[to - 1].unicode() <= ' ')
        --to;
    const QString text = entryText.mid(from, to - from);

    long long seconds = LeadingInteger(text);
    if (text.contains(QLatin1String("min"), Qt::CaseSensitive))
        seconds *= 60;
    const double window = static_cast<double>(seconds) / (intervalMs * 0.001);
    return static_cast<int>(std::clamp<double>(window, std::numeric_limits<int>::min(),
                                               std::numeric_limits<int>::max()));
}

} // namespace korvinet::measure
