#include "platform/text_format.h"

#include <cstdarg>

namespace korvinet {

QString FormatC(const char* format, ...) {
    va_list args;
    va_start(args, format);
    // QString::vasprintf formats numbers in the C locale, unlike the C
    // library's vsnprintf, which follows LC_NUMERIC once Qt has set it.
    QString text = QString::vasprintf(format, args);
    va_end(args);
    return text;
}

} // namespace korvinet
