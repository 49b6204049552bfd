#include "mqtt/mqtt_payload.h"

#include "device/counter.h"
#include "device/display_units.h"
#include "platform/datetime.h"
#include "platform/text_format.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace korvinet::mqtt {

namespace {

QByteArray JsonString(const QString& text) {
    QByteArray out("\"");
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out += platform::FormatC("\\u%04x", static_cast<unsigned>(c)).toLatin1();
            } else {
                out += c;
            }
        }
    }
    return out + '"';
}

// A number the way the window shows it in those units; null where it shows
// no number (an unknown unit, or a value that is not finite).
QByteArray JsonNumber(double value, std::uint8_t unitCode) {
    if (!std::isfinite(value)) {
        return "null";
    }
    const QString text = device::TCounter::FormatValueOf(value, static_cast<std::int8_t>(unitCode));
    bool ok = false;
    text.toDouble(&ok);
    return ok ? text.toLatin1() : QByteArray("null");
}

QByteArray JsonTime(const QDateTime& time) {
    return time.isValid() ? JsonString(platform::IsoLocalTimeText(time)) : QByteArray("null");
}

bool LevelCharacterAllowed(QChar c) {
    return c != QLatin1Char('/') && c != QLatin1Char('+') && c != QLatin1Char('#') && c.isPrint() &&
           !c.isSpace();
}

// Home Assistant's ids: letters, digits, "_" and "-" only.
QString IdText(const QString& text) {
    QString id;
    for (const QChar c : text) {
        const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                        (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                        (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-');
        id += ok ? c : QLatin1Char('_');
    }
    return id;
}

// The counter's id under a prefix. The default prefix adds nothing, so the
// ids stay those published before prefixes were part of them.
QString DeviceId(const QString& prefix, const QString& serial) {
    const QString level = IdText(TopicLevel(serial));
    return prefix == kDefaultTopicPrefix || prefix.isEmpty()
               ? QStringLiteral("korvinet_") + level
               : QStringLiteral("korvinet_%1_%2").arg(IdText(prefix), level);
}

// One entity per display unit: the unit code's component id and name. The
// names spell the unit in ASCII, so the entity ids Home Assistant makes of
// them differ between units whatever it does with a micro sign.
struct UnitEntity {
    const char* id;
    const char* name;
};
constexpr UnitEntity kUnitEntities[] = {
    {"count_rate_uncompensated", "Uncompensated count rate (CPM)"},
    {"count_rate", "Count rate (CPM)"},
    {"dose_rate_mr_h", "Dose rate (mR/h)"},
    {"dose_rate_ur_h", "Dose rate (uR/h)"},
    {"dose_rate_usv_h", "Dose rate (uSv/h)"},
};
static_assert(std::size(kUnitEntities) == device::kDisplayUnits.size());
constexpr int kUncompensatedCpm = 0;

} // namespace

MqttReading MqttReadingOf(const device::Reading& reading) {
    MqttReading r;
    r.time = device::MomentOf(reading);
    r.value = reading.value;
    r.unitCode = reading.unitCode;
    r.cpm = reading.cpm;
    r.counts = reading.counts;
    r.intervalMs = reading.intervalMs;
    r.alarm = reading.alarm;
    if (reading.band) {
        r.ciLow = reading.band->low.value;
        r.ciHigh = reading.band->high.value;
    }
    return r;
}

QByteArray ReadingPayload(const MqttReading& r, bool replayed) {
    const bool overrange = r.value == device::TCounter::kOverrange;
    QByteArray json = "{\"seq\": " + QByteArray::number(static_cast<qulonglong>(r.seq));
    json += ", \"time\": " + JsonTime(r.time);
    json += ", \"value\": " + (overrange ? QByteArray("null") : JsonNumber(r.value, r.unitCode));
    json += ", \"unit\": " +
            JsonString(device::TCounter::UnitNameOf(static_cast<std::int8_t>(r.unitCode)));
    json += ", \"cpm\": " + JsonNumber(r.cpm, 1);
    json += ", \"counts\": " + QByteArray::number(r.counts);
    json += ", \"interval_ms\": " + QByteArray::number(r.intervalMs);
    json += QByteArray(", \"alarm\": ") + (r.alarm ? "true" : "false");
    if (overrange) {
        json += ", \"overrange\": true";
    }
    if (!r.fault.isEmpty()) {
        json += ", \"fault\": " + JsonString(r.fault);
    }
    if (r.ciLow) {
        json += ", \"ci_low\": " + JsonNumber(*r.ciLow, r.unitCode);
    }
    if (r.ciHigh) {
        json += ", \"ci_high\": " + JsonNumber(*r.ciHigh, r.unitCode);
    }
    if (!r.health.isEmpty()) {
        json += ", \"health\": " + JsonString(r.health);
    }
    if (r.healthStatistic && std::isfinite(*r.healthStatistic)) {
        json += ", \"health_statistic\": " + QByteArray::number(*r.healthStatistic, 'g', 3);
    }
    if (replayed) {
        json += ", \"replayed\": true";
    }
    return json + '}';
}

QByteArray StatePayload(const MqttReading& reading, std::uint64_t totalCounts) {
    QByteArray json = ReadingPayload(reading);
    json.chop(1);
    return json +
           ", \"total_counts\": " + QByteArray::number(static_cast<qulonglong>(totalCounts)) + '}';
}

QString TopicLevel(const QString& serial) {
    if (serial.isEmpty()) {
        return QStringLiteral("unknown");
    }
    QString level;
    for (const QChar c : serial) {
        level += LevelCharacterAllowed(c) ? c : QLatin1Char('_');
    }
    return level;
}

QString TopicPrefixProblem(const QString& prefix) {
    if (prefix.isEmpty()) {
        return QStringLiteral("the topic prefix is empty");
    }
    if (prefix.contains(QLatin1Char('+')) || prefix.contains(QLatin1Char('#'))) {
        return QStringLiteral("the topic prefix \"%1\" holds a wildcard (+ or #)").arg(prefix);
    }
    if (prefix.startsWith(QLatin1Char('$'))) {
        return QStringLiteral("the topic prefix \"%1\" starts with \"$\"").arg(prefix);
    }
    for (const QString& level : prefix.split(QLatin1Char('/'))) {
        if (level.isEmpty()) {
            return QStringLiteral("the topic prefix \"%1\" has an empty level").arg(prefix);
        }
    }
    for (const QChar c : prefix) {
        if (c.unicode() < 0x20) {
            return QStringLiteral("the topic prefix holds a control character");
        }
    }
    return {};
}

MqttTopics TopicsFor(const QString& prefix, const QString& serial) {
    const QString base = prefix + QLatin1Char('/') + TopicLevel(serial) + QLatin1Char('/');
    return {base + QStringLiteral("reading"), base + QStringLiteral("status"),
            base + QStringLiteral("counter"), base + QStringLiteral("state")};
}

QString StationClientId(const QString& prefix, const QString& level) {
    const QString id = DeviceId(prefix, level);
    // korvinet_<...> as korvinet-station-<...>
    return QStringLiteral("korvinet-station-") + id.mid(9);
}

QString HomeAssistantUnit(std::uint8_t unitCode) {
    switch (unitCode) {
    case 0:
    case 1:
        return QStringLiteral("CPM");
    case 2:
        return QStringLiteral("mR/h");
    case 3:
        return QStringLiteral("\u03BCR/h");
    default:
        return QStringLiteral("\u03BCSv/h");
    }
}

std::vector<MqttMessage> DiscoveryMessages(const MqttTopics& topics,
                                           const DiscoveryDevice& device) {
    const QString deviceId = DeviceId(device.prefix, device.serial);
    QString name = QStringLiteral("Korvinet ") + TopicLevel(device.serial);
    if (!device.prefix.isEmpty() && device.prefix != kDefaultTopicPrefix) {
        name += QStringLiteral(" (%1)").arg(device.prefix);
    }
    QJsonObject deviceInfo{
        {QStringLiteral("identifiers"), QJsonArray{deviceId}},
        {QStringLiteral("name"), name},
        {QStringLiteral("manufacturer"), QStringLiteral("Korvinet")},
        {QStringLiteral("serial_number"), device.serial},
    };
    if (!device.model.isEmpty()) {
        deviceInfo.insert(QStringLiteral("model"), device.model);
    }
    if (!device.softwareVersion.isEmpty()) {
        deviceInfo.insert(QStringLiteral("sw_version"), device.softwareVersion);
    }
    QJsonObject origin{{QStringLiteral("name"), QStringLiteral("Korvinet")}};
    if (!device.softwareVersion.isEmpty()) {
        origin.insert(QStringLiteral("sw_version"), device.softwareVersion);
    }
    const auto availability = [](const QString& topic, const QByteArray& yes,
                                 const QByteArray& no) {
        return QJsonObject{{QStringLiteral("topic"), topic},
                           {QStringLiteral("payload_available"), QString::fromLatin1(yes)},
                           {QStringLiteral("payload_not_available"), QString::fromLatin1(no)}};
    };
    const QJsonObject station = availability(topics.status, kStatusOnline, kStatusOffline);
    // Anything but "connected" (absent, stopped) makes the counter unavailable.
    QJsonObject counter = availability(topics.counter, kCounterConnected, kCounterAbsent);
    counter.insert(QStringLiteral("value_template"),
                   QStringLiteral("{{ 'connected' if value == 'connected' else 'absent' }}"));

    // A value from the state's JSON. The state emptied at a start gives an
    // empty text, which Home Assistant's sensors ignore by design, instead
    // of a template error.
    const auto fromState = [](const QString& expression) {
        return QStringLiteral("{{ (%1) if value_json is defined else '' }}").arg(expression);
    };
    const auto entity = [&](const char* platform, const char* id, const QString& title) {
        return QJsonObject{
            {QStringLiteral("p"), QLatin1String(platform)},
            {QStringLiteral("unique_id"), deviceId + QLatin1Char('_') + QLatin1String(id)},
            {QStringLiteral("name"), title},
            {QStringLiteral("expire_after"), std::max(1, device.expireAfterSeconds)},
        };
    };
    const auto measured = [&](const char* id, const QString& title, const QString& unit,
                              const char* field, int decimals) {
        QJsonObject o = entity("sensor", id, title);
        o.insert(QStringLiteral("value_template"),
                 fromState(QStringLiteral("value_json.") + QLatin1String(field)));
        o.insert(QStringLiteral("unit_of_measurement"), unit);
        o.insert(QStringLiteral("state_class"), QStringLiteral("measurement"));
        o.insert(QStringLiteral("suggested_display_precision"), decimals);
        return o;
    };

    QJsonObject components;
    // The unit's entity, and a removal (nothing but the platform) for the
    // others, so a unit change retires the old entity.
    for (int code = 0; code < static_cast<int>(std::size(kUnitEntities)); ++code) {
        const UnitEntity& e = kUnitEntities[code];
        QJsonObject o{{QStringLiteral("p"), QStringLiteral("sensor")}};
        if (code == device.unitCode) {
            o = measured(e.id, QLatin1String(e.name), HomeAssistantUnit(device.unitCode), "value",
                         device::kDisplayUnits[code].decimals);
            o.insert(QStringLiteral("icon"), QStringLiteral("mdi:radioactive"));
            o.insert(QStringLiteral("json_attributes_topic"), topics.state);
        }
        components.insert(QLatin1String(e.id), o);
    }
    // In the uncompensated CPM unit the reading is the count rate itself.
    components.insert(QStringLiteral("cpm"),
                      device.unitCode == kUncompensatedCpm
                          ? QJsonObject{{QStringLiteral("p"), QStringLiteral("sensor")}}
                          : measured("cpm", QStringLiteral("Counts per minute"),
                                     QStringLiteral("CPM"), "cpm", 1));
    QJsonObject total = entity("sensor", "total_counts", QStringLiteral("Total counts"));
    total.insert(QStringLiteral("value_template"),
                 fromState(QStringLiteral("value_json.total_counts")));
    total.insert(QStringLiteral("state_class"), QStringLiteral("total_increasing"));
    total.insert(QStringLiteral("icon"), QStringLiteral("mdi:counter"));
    components.insert(QStringLiteral("total_counts"), total);
    QJsonObject alarm = entity("binary_sensor", "alarm", QStringLiteral("Alarm"));
    alarm.insert(QStringLiteral("value_template"),
                 fromState(QStringLiteral("'ON' if value_json.alarm else 'OFF'")));
    alarm.insert(QStringLiteral("device_class"), QStringLiteral("safety"));
    components.insert(QStringLiteral("alarm"), alarm);
    // The problem needs the station alone: silent counts make the counter
    // unavailable for every other entity, and this one is where they show.
    QJsonObject problem = entity("binary_sensor", "problem", QStringLiteral("Counter problem"));
    problem.remove(QStringLiteral("expire_after"));
    problem.insert(QStringLiteral("value_template"),
                   fromState(QStringLiteral("'ON' if value_json.get('health') in "
                                            "['bursts', 'too regular', 'stopped'] else 'OFF'")));
    problem.insert(QStringLiteral("device_class"), QStringLiteral("problem"));
    problem.insert(QStringLiteral("entity_category"), QStringLiteral("diagnostic"));
    problem.insert(QStringLiteral("availability"), QJsonArray{station});
    components.insert(QStringLiteral("problem"), problem);

    const QJsonObject config{
        {QStringLiteral("device"), deviceInfo},
        {QStringLiteral("origin"), origin},
        {QStringLiteral("components"), components},
        {QStringLiteral("state_topic"), topics.state},
        {QStringLiteral("qos"), 1},
        {QStringLiteral("availability"), QJsonArray{station, counter}},
        {QStringLiteral("availability_mode"), QStringLiteral("all")},
    };
    // Earlier versions published one config per entity, named by the serial
    // alone: emptied, Home Assistant forgets them.
    const QString legacy = QStringLiteral("korvinet_") + IdText(TopicLevel(device.serial));
    const QString& under = device.discoveryPrefix;
    return {
        {QStringLiteral("%1/sensor/%2_reading/config").arg(under, legacy), {}, true},
        {QStringLiteral("%1/binary_sensor/%2_alarm/config").arg(under, legacy), {}, true},
        {QStringLiteral("%1/device/%2/config").arg(under, deviceId),
         QJsonDocument(config).toJson(QJsonDocument::Compact), true},
    };
}

} // namespace korvinet::mqtt
