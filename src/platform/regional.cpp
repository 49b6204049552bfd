#include "platform/regional.h"

#include "platform/datetime.h"
#include "platform/text_format.h"
#include "platform/time_of_day.h"

#include <QDateTime>
#include <QRegularExpression>
#include <cmath>

namespace korvinet::platform {

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

// Whole seconds, no zone, as earlier versions derived the time pattern; it
// can leave "()" or ", " where the zone was. Kept to read their files.
QString FormerPlainTime(QString pattern) {
    pattern.remove(QRegularExpression(QStringLiteral("[.,]z+")));
    pattern.remove(QRegularExpression(QStringLiteral("\\s*t+")));
    return pattern.trimmed();
}

QChar LiteralMark(qsizetype index) {
    return QChar(static_cast<char16_t>(0xE000 + index));
}

// Quoted literals ('Klock', 'h') replaced by private-use characters, so that
// the letters in them are not taken for fields.
QString MaskQuoted(const QString& pattern, QStringList* literals) {
    QString masked;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != QLatin1Char('\'')) {
            masked += pattern[i];
            continue;
        }
        qsizetype close = i + 1;
        // '' inside a quote is one quote; the literal ends at a lone one.
        while (close < pattern.size()) {
            if (pattern[close] == QLatin1Char('\'')) {
                if (close + 1 < pattern.size() && pattern[close + 1] == QLatin1Char('\'')) {
                    close += 2;
                    continue;
                }
                break;
            }
            ++close;
        }
        masked += LiteralMark(literals->size());
        literals->append(pattern.mid(i, close + 1 - i));
        i = close;
    }
    return masked;
}

QString UnmaskQuoted(QString masked, const QStringList& literals) {
    for (qsizetype i = literals.size() - 1; i >= 0; --i)
        masked.replace(LiteralMark(i), literals[i]);
    return masked;
}

// Whole seconds, no zone: drop the milliseconds with their separator, and
// the zone with its brackets ("(t)", "[t]") or the comma and blanks that
// joined it to the time ("h:mm:ss AP, t", "t HH:mm:ss").
QString PlainTime(const QString& pattern) {
    QStringList literals;
    QString p = MaskQuoted(pattern, &literals);
    p.remove(QRegularExpression(QStringLiteral("[.,]?z+")));
    p.remove(QRegularExpression(QStringLiteral("\\s*[(\\[]\\s*t+\\s*[)\\]]")));
    p.remove(QRegularExpression(QStringLiteral("[\\s,]*t+")));
    p.remove(QRegularExpression(QStringLiteral("^[\\s,]+|[\\s,]+$")));
    return UnmaskQuoted(p, literals);
}

} // namespace

Regional::Regional(const QLocale& locale)
    : locale_(IsCLocale(locale) ? QLocale(QLocale::English, QLocale::UnitedStates) : locale) {
    datePattern_ = FourDigitYear(locale_.dateFormat(QLocale::ShortFormat));
    const QString longTime = locale_.timeFormat(QLocale::LongFormat);
    timePattern_ = PlainTime(longTime);
    timeReadPatterns_ << timePattern_;
    const QString former = FormerPlainTime(longTime);
    if (former != timePattern_)
        timeReadPatterns_ << former;
    dateBlanks_ = datePattern_.count(QLatin1Char(' '));
    const QString dec = locale_.decimalPoint();
    decimal_ = dec.isEmpty() ? QChar('.') : dec.front();
}

QString Regional::DateText(double dateTime) const {
    return locale_.toString(QtFromDateTime(dateTime).date(), datePattern_);
}

QString Regional::DateTimeText(double dateTime) const {
    const QDateTime dt = QtFromDateTime(dateTime);
    const QString date = locale_.toString(dt.date(), datePattern_);
    if (dt.time().msecsSinceStartOfDay() < 1000) // exactly midnight, to the second
        return date;
    return date + QLatin1Char(' ') + locale_.toString(dt.time(), timePattern_);
}

Regional::Splits Regional::DateTimeSplits(QStringView text) const {
    Splits blanks;
    for (qsizetype i = text.indexOf(QLatin1Char(' ')); i >= 0 && blanks.size() < blanks.capacity();
         i = text.indexOf(QLatin1Char(' '), i + 1))
        blanks.append(i);
    Splits splits;
    splits.append(dateBlanks_ < blanks.size() ? blanks[dateBlanks_] : -1);
    for (const qsizetype blank : blanks) {
        if (blank != splits.front())
            splits.append(blank);
    }
    if (splits.front() != -1)
        splits.append(-1);
    return splits;
}

bool Regional::ParseDateTime(const QString& text, double* dateTime) const {
    const QString t = text.trimmed();
    for (const qsizetype split : DateTimeSplits(t)) {
        const QDate date = locale_.toDate(split < 0 ? t : t.left(split), datePattern_);
        if (!date.isValid())
            continue;
        int ms = 0;
        if (split >= 0) {
            const QStringView timeText = QStringView(t).mid(split + 1).trimmed();
            ms = -1;
            for (qsizetype i = 0; i < timeReadPatterns_.size() && ms < 0; ++i)
                ms = ParseTimeOfDay(timeText, locale_, timeReadPatterns_[i]);
            if (ms < 0)
                continue;
        }
        *dateTime = DateTimeFromQt(QDateTime(date, QTime::fromMSecsSinceStartOfDay(ms)));
        return true;
    }
    return false;
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

} // namespace korvinet::platform
