#include "platform/text_format.h"

#include <cstdarg>
#include <cstdio>
#include <locale.h>
#include <string>

namespace korvinet::platform {

namespace {

// The C library's own printf, so numbers round as C programs and data files
// elsewhere round them (an exact binary half to even: "%.0f" of 2.5 is 2),
// in the C locale whatever LC_NUMERIC says, for "." as the decimal point.
// Qt's printf rounds such halves away from zero. Like vsnprintf, the result
// is the length of the whole text, written only when it fits.
int FormatInCLocale(char* buffer, std::size_t size, const char* format, va_list args) {
#if defined(_WIN32)
    static const _locale_t c = _create_locale(LC_ALL, "C");
    va_list measure;
    va_copy(measure, args);
    const int length = _vscprintf_l(format, c, measure);
    va_end(measure);
    if (length >= 0 && static_cast<std::size_t>(length) < size)
        _vsnprintf_l(buffer, size, format, c, args);
    return length;
#else
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const locale_t previous = uselocale(c); // this thread only
    const int length = std::vsnprintf(buffer, size, format, args);
    uselocale(previous);
    return length;
#endif
}

} // namespace

QString FormatC(const char* format, ...) {
    char small[128];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = FormatInCLocale(small, sizeof small, format, args);
    va_end(args);
    QString text;
    if (length < 0) {
        // Only a malformed format gets here.
    } else if (static_cast<std::size_t>(length) < sizeof small) {
        text = QString::fromUtf8(small, length);
    } else {
        std::string large(static_cast<std::size_t>(length) + 1, '\0');
        FormatInCLocale(large.data(), large.size(), format, again);
        text = QString::fromUtf8(large.data(), length);
    }
    va_end(again);
    return text;
}

} // namespace korvinet::platform
