#pragma once

#include <QLocale>
#include <vector>

namespace korvinet::testing {

// Every locale Qt knows that writes its digits in ASCII: the regional
// settings whose date-time texts a data file holds.
inline std::vector<QLocale> AsciiDigitLocales() {
    std::vector<QLocale> locales;
    for (const QLocale& locale : QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript,
                                                          QLocale::AnyTerritory)) {
        if (locale.zeroDigit() == QLatin1String("0"))
            locales.push_back(locale);
    }
    return locales;
}

} // namespace korvinet::testing
