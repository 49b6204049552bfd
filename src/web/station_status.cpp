#include "web/station_status.h"

#include "device/counter.h"
#include "device/display_units.h"
#include "platform/datetime.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace korvinet::web {

namespace {

QString UnitName(std::uint8_t code) {
    return device::TCounter::UnitNameOf(static_cast<std::int8_t>(code));
}

int Decimals(std::uint8_t code) {
    const device::DisplayUnit* unit = device::FindDisplayUnit(code);
    return unit ? unit->decimals : 0;
}

const char* CounterStateName(CounterState state) {
    switch (state) {
    case CounterState::Connected:
        return "connected";
    case CounterState::CountsStopped:
        return "counts_stopped";
    case CounterState::Looking:
        break;
    }
    return "looking";
}

} // namespace

std::optional<measure::RateConversion> DoseRateConversion(const StationStatus& status) {
    if (!status.conversion || !(status.conversion->sensitivity > 0))
        return std::nullopt;
    measure::RateConversion dose = *status.conversion;
    dose.unitCode = device::kMicroSievertPerHour;
    return dose;
}

QJsonValue JsonNumber(double value) {
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

QJsonObject ReadingJson(const device::TimedReading& t) {
    const device::Reading& r = t.reading;
    QJsonObject o;
    o.insert(QStringLiteral("time"), platform::IsoLocalTimeText(device::MomentOf(r), true));
    o.insert(QStringLiteral("value"), r.overrange ? QJsonValue() : JsonNumber(r.value));
    o.insert(QStringLiteral("unit"), UnitName(r.unitCode));
    o.insert(QStringLiteral("cpm"), r.overrange ? QJsonValue() : JsonNumber(r.cpm));
    o.insert(QStringLiteral("counts"), static_cast<qint64>(r.counts));
    o.insert(QStringLiteral("interval_ms"), static_cast<qint64>(r.intervalMs));
    o.insert(QStringLiteral("alarm"), r.alarm);
    if (r.overrange)
        o.insert(QStringLiteral("overrange"), true);
    if (r.band) {
        o.insert(QStringLiteral("band_low"), JsonNumber(r.band->low.value));
        o.insert(QStringLiteral("band_high"), JsonNumber(r.band->high.value));
    }
    return o;
}

QByteArray StatusJson(const StationStatus& s) {
    QJsonObject o;
    o.insert(QStringLiteral("serial"), s.serial);
    o.insert(QStringLiteral("model"), s.model);
    o.insert(QStringLiteral("version"), s.version);
    o.insert(QStringLiteral("unit"), UnitName(s.unitCode));
    o.insert(QStringLiteral("unit_code"), s.unitCode);
    o.insert(QStringLiteral("decimals"), Decimals(s.unitCode));
    o.insert(QStringLiteral("averaging"), s.averagingTime);
    o.insert(QStringLiteral("sample_ms"), s.sampleMs);
    o.insert(QStringLiteral("utc_offset"), platform::UtcOffsetText(s.utcOffsetSeconds));
    o.insert(QStringLiteral("first_reading"),
             s.firstReading ? QJsonValue(platform::IsoLocalTimeText(
                                  device::MomentOf(s.firstReading->reading), true))
                            : QJsonValue());
    // What the page needs to turn counts into a dose: µSv/h per compensated
    // count per minute, and the dead time the compensation takes.
    const std::optional<measure::RateConversion> dose = DoseRateConversion(s);
    o.insert(QStringLiteral("usvh_per_cpm"), dose ? JsonNumber(dose->UnitsPerCpm()) : QJsonValue());
    o.insert(QStringLiteral("dead_time_s"), dose ? JsonNumber(dose->deadTime) : QJsonValue());
    o.insert(QStringLiteral("counter"), QString::fromLatin1(CounterStateName(s.counter)));
    QJsonObject latest;
    if (s.latest) {
        latest = ReadingJson(*s.latest);
        latest.insert(QStringLiteral("text"),
                      device::TCounter::FormatValueOf(
                          s.latest->reading.overrange ? device::TCounter::kOverrange
                                                      : s.latest->reading.value,
                          static_cast<std::int8_t>(s.latest->reading.unitCode)));
    }
    o.insert(QStringLiteral("latest"), s.latest ? QJsonValue(latest) : QJsonValue());
    o.insert(QStringLiteral("alarm"), s.latest && s.latest->reading.alarm);
    o.insert(QStringLiteral("alarm_level"),
             s.alarmLevel ? JsonNumber(*s.alarmLevel) : QJsonValue());
    if (s.latest && s.latest->reading.band) {
        o.insert(
            QStringLiteral("band"),
            QJsonObject{{QStringLiteral("low"), JsonNumber(s.latest->reading.band->low.value)},
                        {QStringLiteral("high"), JsonNumber(s.latest->reading.band->high.value)}});
    } else {
        o.insert(QStringLiteral("band"), QJsonValue());
    }
    o.insert(QStringLiteral("health"), s.health.isEmpty() ? QJsonValue() : QJsonValue(s.health));
    o.insert(QStringLiteral("health_statistic"),
             s.healthStatistic ? QJsonValue(*s.healthStatistic) : QJsonValue());
    if (s.calibration)
        o.insert(
            QStringLiteral("calibration"),
            QJsonObject{{QStringLiteral("cpm_per_usvh"), s.calibration->cpmPerMicrosievertHour},
                        {QStringLiteral("dead_time_s"), s.calibration->deadTimeSeconds},
                        {QStringLiteral("source"), s.calibration->source}});
    else
        o.insert(QStringLiteral("calibration"), QJsonValue());
    o.insert(QStringLiteral("readings_taken"), s.readingsTaken);
    o.insert(QStringLiteral("counts_total"), static_cast<qint64>(s.countsTotal));
    o.insert(QStringLiteral("uptime_s"), std::floor(s.uptimeSeconds));
    o.insert(QStringLiteral("title"), s.title);
    QJsonObject mqtt;
    mqtt.insert(QStringLiteral("configured"), s.mqtt.configured);
    mqtt.insert(QStringLiteral("connected"), s.mqtt.connected);
    mqtt.insert(QStringLiteral("state"), s.mqtt.configured ? s.mqtt.state : QStringLiteral("off"));
    mqtt.insert(QStringLiteral("waiting"), s.mqtt.waiting);
    o.insert(QStringLiteral("mqtt"), mqtt);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace korvinet::web
