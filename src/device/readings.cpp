#include "device/counter.h"

#include "platform/text_format.h"

#include <cmath>
#include <cstdlib>

namespace korvinet::device {

double TCounter::ConvertRate(double countRate, std::int8_t unitCode) const {
    if (countRate == kOverrange)
        return kOverrange;
    // Non-paralysable dead-time correction; r/60 is the rate in counts per second.
    const long double r = countRate;
    const double c = static_cast<double>(r / (1.0L - (1.0L / 60.0L) * r * deadTime_));
    const DisplayUnit* unit = FindDisplayUnit(unitCode);
    // Only an unselected units list has no unit; its texts are "?" anyway.
    if (!unit)
        return c;
    const double value = (unit->compensated ? c : countRate) * unit->scale;
    return unit->perSensitivity ? value / sensitivity_ : value;
}

double TCounter::Reading() const {
    return ConvertRate(countRate_, static_cast<std::int8_t>(UnitCode()));
}

QString TCounter::FormatValue(double value) const {
    return FormatValueOf(value, static_cast<std::int8_t>(UnitCode()));
}

QString TCounter::FormatValueOf(double value, std::int8_t unitCode) {
    if (value == kOverrange)
        return QStringLiteral("OVERRANGE");
    const DisplayUnit* unit = FindDisplayUnit(unitCode);
    return unit ? platform::FormatC("%.*f", unit->decimals, value) : QStringLiteral("?");
}

QString TCounter::ReadingText() const {
    return FormatValue(Reading());
}

QString TCounter::UnitName() const {
    return UnitNameOf(static_cast<std::int8_t>(UnitCode()));
}

QString TCounter::UnitNameOf(std::int8_t unitCode) {
    const DisplayUnit* unit = FindDisplayUnit(unitCode);
    return unit ? unit->name.toString() : QStringLiteral("?");
}

QString TCounter::ElapsedText(double days) {
    long long ms = std::llround(days * 86400000.0);
    // Callers pass later minus earlier; should a clock have been set back,
    // show the span with a sign rather than a garbled field.
    const char* sign = ms < 0 ? "-" : "";
    ms = std::llabs(ms);
    const long long d = ms / 86400000;
    const long long t = ms % 86400000;
    return platform::FormatC("%s%03lldd:%02lldh:%02lldm:%02llds", sign, d, t / 3600000,
                             (t / 60000) % 60, (t / 1000) % 60);
}

} // namespace korvinet::device
