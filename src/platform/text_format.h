#pragma once

#include <QString>

namespace korvinet::platform {

// The C library's printf, rounding included, with "." as the decimal point
// whatever the user's locale: readings, alarm levels and data files must
// read the same everywhere.
QString FormatC(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

} // namespace korvinet::platform
