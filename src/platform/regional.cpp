#include "platform/regional.h"

#include "platform/datetime.h"
#include "platform/text_format.h"

#include <QDateTime>
#include <QRegularExpression>
#include <cmath>

namespace korvinet {

namespace {

bool IsCLocale(const QLocale& locale) {
    return locale.language() == QLocale::C;
}

// Two-digit years are ambiguous in a data file that outlives a century.
QString FourDigitYear(QString pattern) {
    if (!pattern.contains(QLatin1String("yyyy")))
        pattern.replace(QRegularExpression(QStringLiteral("y+")), QStringLiteral("yyyy"));
    return pattern;
}

// Whole seconds, no zone: drop "t" (zone) and ".zzz" parts.
QString PlainTime(QString pattern) {
    pattern.remove(QRegularExpression(QStringLiteral("[.,]z+")));
    pattern.remove(QRegularExpression(QStringLiteral("\\s*t+")));
    return pattern.trimmed();
}

} // namespace

Regional::Regional(const QLocale& locale)
    : locale_(IsCLocale(locale) ? QLocale(QLocale::English, QLocale::UnitedStates) : locale) {
    datePattern_ = FourDigitYear(locale_.dateFormat(QLocale::ShortFormat));
    timePattern_ = PlainTime(locale_.timeFormat(QLocale::LongFormat));
    const QString dec = locale_.decimalPoint();
    decimal_ = dec.isEmpty() ? QChar('.') : dec.front();
}

QString Regional::DateText(double dateTime) const {
    return locale_.toString(QtFromDateTime(dateTime).date(), datePattern_);
}

QString Regional::LongTimeText(double dateTime) const {
    return locale_.toString(QtFromDateTime(dateTime).time(), timePattern_);
}

QString Regional::DateTimeText(double dateTime) const {
    const QDateTime dt = QtFromDateTime(dateTime);
    const QString date = locale_.toString(dt.date(), datePattern_);
    if (dt.time().msecsSinceStartOfDay() < 1000) // exactly midnight, to the second
        return date;
    return date + QLatin1Char(' ') + locale_.toString(dt.time(), timePattern_);
}

bool Regional::ParseDateTime(const QString& text, double* dateTime) const {
    const QString t = text.trimmed();
    const int blank = t.indexOf(QLatin1Char(' '));
    const QString datePart = blank < 0 ? t : t.left(blank);
    const QDate date = locale_.toDate(datePart, datePattern_);
    if (!date.isValid())
        return false;
    QTime time(0, 0);
    if (blank >= 0) {
        time = locale_.toTime(t.mid(blank + 1).trimmed(), timePattern_);
        if (!time.isValid())
            return false;
    }
    *dateTime = DateTimeFromQt(QDateTime(date, time));
    return true;
}

bool Regional::ParseNumber(const QString& text, double* value) const {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    bool ok = false;
    // Digits and sign only with the user's separator; no group separators,
    // which would make "1,500" mean fifteen hundred to one user and 1.5 to another.
    QLocale strict = locale_;
    strict.setNumberOptions(QLocale::RejectGroupSeparator);
    double v = strict.toDouble(t, &ok);
    if (!ok)
        v = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

bool Regional::ParseRounded(const QString& text, int decimals, double* value) const {
    double parsed = 0;
    if (!ParseNumber(text, &parsed))
        return false;
    return ParseNumber(FormatC("%.*f", decimals, parsed), value);
}

QString Regional::GeneralFloatText(double value) const {
    QString text = FormatC("%.15g", value);
    if (decimal_ != QLatin1Char('.'))
        text.replace(QLatin1Char('.'), decimal_);
    return text;
}

} // namespace korvinet
