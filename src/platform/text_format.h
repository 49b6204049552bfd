#pragma once

#include <QString>

namespace korvinet {

// printf-style formatting whose decimal point is always ".", whatever the
// user's locale: readings, alarm levels and data files must read the same
// everywhere.
QString FormatC(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

} // namespace korvinet
