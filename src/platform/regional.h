#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QVarLengthArray>

namespace korvinet::platform {

// The user's regional conventions for date-times and numbers, as the program
// shows and reads them: short date, a blank, long time (the time left out at
// exactly midnight), whole seconds, four-digit years, no time zone. Under the
// C/POSIX locale (servers, CI) the United States patterns apply, so
// 2012-03-14 09:00:03 reads "3/14/2012 9:00:03 AM".
//
// Built once from the system locale and passed to whoever needs it; tests
// build it from the locale they pin.
class Regional {
public:
    explicit Regional(const QLocale& locale = QLocale::system());

    const QLocale& Locale() const { return locale_; }
    const QString& ShortDatePattern() const { return datePattern_; }
    const QString& LongTimePattern() const { return timePattern_; }
    QChar DecimalSeparator() const { return decimal_; }

    // The patterns a time text is read with: LongTimePattern() first, then
    // the one earlier versions derived where it differs. Those left the
    // brackets or the separator of the removed time-zone field behind
    // ("H:mm:ss ()"), and the files they wrote still open.
    const QStringList& TimeReadPatterns() const { return timeReadPatterns_; }

    // Where a trimmed date-time text may divide into its date and its time,
    // most likely first: at the blank that follows the short date's own
    // blanks ("d. M. yyyy" has two), then at every other blank, then not at
    // all (-1: a bare date). A reader takes the first division whose date
    // and time both read.
    using Splits = QVarLengthArray<qsizetype, 8>;
    Splits DateTimeSplits(QStringView text) const;

    // Date-time double (days since 30 December 1899) to text and back.
    QString DateTimeText(double dateTime) const;
    QString DateText(double dateTime) const;
    // Accepts "date time" and a bare date (midnight); false when the text is
    // neither.
    bool ParseDateTime(const QString& text, double* dateTime) const;

    // A decimal number with the user's separator; "." is accepted as well, so
    // what the program wrote itself always reads back.
    bool ParseNumber(const QString& text, double* value) const;
    // The entry check of numeric edit boxes: parse, print with the given
    // number of decimals, parse again. The result is the entry rounded the
    // way it will be shown; false when the text is no number.
    bool ParseRounded(const QString& text, int decimals, double* value) const;
    // At most 15 significant digits, no trailing zeros, user's separator.
    QString GeneralFloatText(double value) const;

private:
    QLocale locale_;
    QString datePattern_;
    QString timePattern_;
    QStringList timeReadPatterns_;
    qsizetype dateBlanks_ = 0;
    QChar decimal_;
};

} // namespace korvinet::platform
