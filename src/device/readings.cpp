#include "device/counter.h"

#include "platform/text_format.h"

#include <cmath>
#include <cstdlib>

namespace korvinet {

double TCounter::ConvertRate(double countRate, std::int8_t unitCode) const {
    if (countRate == kOverrange)
        return kOverrange;
    // Non-paralysable dead-time correction; r/60 is the rate in counts per second.
    const long double r = countRate;
    const double c = static_cast<double>(r / (1.0L - (1.0L / 60.0L) * r * deadTime_));
    switch (unitCode) {
    case 0:
        return countRate;
    case 1:
        return c;
    case 2:
        return c / sensitivity_;
    case 3:
        return 1000 * c / sensitivity_;
    case 4:
        return 10 * c / sensitivity_;
    default:
        // Only an unselected units list gets here; its texts are "?" anyway.
        return c;
    }
}

double TCounter::Reading() const {
    return ConvertRate(countRate_, static_cast<std::int8_t>(unitCode_));
}

QString TCounter::FormatValue(double value) const {
    return FormatValueOf(value, static_cast<std::int8_t>(unitCode_));
}

QString TCounter::FormatValueOf(double value, std::int8_t unitCode) {
    if (value == kOverrange)
        return QStringLiteral("OVERRANGE");
    switch (unitCode) {
    case 0:
    case 1:
        return FormatC("%.1f", value);
    case 2:
        return FormatC("%.3f", value);
    case 3:
        return FormatC("%.0f", value);
    case 4:
        return FormatC("%.2f", value);
    default:
        return QStringLiteral("?");
    }
}

QString TCounter::ReadingText() const {
    return FormatValue(Reading());
}

QString TCounter::UnitName() const {
    return UnitNameOf(static_cast<std::int8_t>(unitCode_));
}

QString TCounter::UnitNameOf(std::int8_t unitCode) {
    switch (unitCode) {
    case 0:
        return QStringLiteral("CPM (uncomp)");
    case 1:
        return QStringLiteral("CPM");
    case 2:
        return QStringLiteral("mR/hr");
    case 3:
        return QStringLiteral("\u00B5R/hr");
    case 4:
        return QStringLiteral("\u00B5Sv/hr");
    default:
        return QStringLiteral("?");
    }
}

QString TCounter::ElapsedText(double days) {
    long long ms = std::llround(days * 86400000.0);
    // Callers pass later minus earlier; should a clock have been set back,
    // show the span with a sign rather than a garbled field.
    const char* sign = ms < 0 ? "-" : "";
    ms = std::llabs(ms);
    const long long d = ms / 86400000;
    const long long t = ms % 86400000;
    return FormatC("%s%03lldd:%02lldh:%02lldm:%02llds", sign, d, t / 3600000, (t / 60000) % 60,
                   (t / 1000) % 60);
}

} // namespace korvinet
