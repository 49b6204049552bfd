#include "net/mqtt_payload.h"

#include "device/counter.h"
#include "platform/datetime.h"
#include "platform/text_format.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstdlib>

namespace korvinet::net {

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
                out += FormatC("\\u%04x", static_cast<unsigned>(c)).toLatin1();
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
    const QString text = TCounter::FormatValueOf(value, static_cast<std::int8_t>(unitCode));
    bool ok = false;
    text.toDouble(&ok);
    return ok ? text.toLatin1() : QByteArray("null");
}

QByteArray JsonTime(const QDateTime& time) {
    return time.isValid() ? JsonString(IsoLocalTimeText(time)) : QByteArray("null");
}

bool LevelCharacterAllowed(QChar c) {
    return c != QLatin1Char('/') && c != QLatin1Char('+') && c != QLatin1Char('#') && c.isPrint() &&
           !c.isSpace();
}

// Home Assistant's ids: letters, digits, "_" and "-" only.
QString DeviceId(const QString& serial) {
    QString id = QStringLiteral("korvinet_");
    for (const QChar c : TopicLevel(serial)) {
        const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                        (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                        (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-');
        id += ok ? c : QLatin1Char('_');
    }
    return id;
}

QString ObjectId(const QString& serial, const char* what) {
    return DeviceId(serial) + QLatin1Char('_') + QLatin1String(what);
}

} // namespace

QByteArray ReadingPayload(const MqttReading& r) {
    const bool overrange = r.value == TCounter::kOverrange;
    QByteArray json = "{\"seq\": " + QByteArray::number(static_cast<qulonglong>(r.seq));
    json += ", \"time\": " + JsonTime(r.time);
    json += ", \"value\": " + (overrange ? QByteArray("null") : JsonNumber(r.value, r.unitCode));
    json += ", \"unit\": " + JsonString(TCounter::UnitNameOf(static_cast<std::int8_t>(r.unitCode)));
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
    return json + '}';
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
    return {base + QStringLiteral("reading"), base + QStringLiteral("status")};
}

std::vector<MqttMessage> DiscoveryMessages(const MqttTopics& topics,
                                           const DiscoveryDevice& device) {
    QJsonObject deviceInfo{
        {QStringLiteral("identifiers"), QJsonArray{DeviceId(device.serial)}},
        {QStringLiteral("name"), QStringLiteral("Korvinet ") + TopicLevel(device.serial)},
        {QStringLiteral("manufacturer"), QStringLiteral("Korvinet")},
        {QStringLiteral("serial_number"), device.serial},
    };
    if (!device.model.isEmpty()) {
        deviceInfo.insert(QStringLiteral("model"), device.model);
    }
    if (!device.softwareVersion.isEmpty()) {
        deviceInfo.insert(QStringLiteral("sw_version"), device.softwareVersion);
    }
    const auto common = [&](const char* what, const QString& name) {
        return QJsonObject{
            {QStringLiteral("name"), name},
            {QStringLiteral("unique_id"), ObjectId(device.serial, what)},
            {QStringLiteral("state_topic"), topics.reading},
            {QStringLiteral("availability_topic"), topics.status},
            {QStringLiteral("payload_available"), QString::fromLatin1(kStatusOnline)},
            {QStringLiteral("payload_not_available"), QString::fromLatin1(kStatusOffline)},
            {QStringLiteral("device"), deviceInfo},
        };
    };

    QJsonObject reading = common("reading", QStringLiteral("Reading"));
    reading.insert(QStringLiteral("value_template"), QStringLiteral("{{ value_json.value }}"));
    reading.insert(QStringLiteral("unit_of_measurement"),
                   TCounter::UnitNameOf(static_cast<std::int8_t>(device.unitCode)));
    reading.insert(QStringLiteral("state_class"), QStringLiteral("measurement"));
    reading.insert(QStringLiteral("json_attributes_topic"), topics.reading);

    QJsonObject alarm = common("alarm", QStringLiteral("Alarm"));
    alarm.insert(QStringLiteral("value_template"),
                 QStringLiteral("{{ 'ON' if value_json.alarm else 'OFF' }}"));
    alarm.insert(QStringLiteral("device_class"), QStringLiteral("safety"));

    const auto topic = [&](const char* component, const char* what) {
        return QStringLiteral("homeassistant/%1/%2/config")
            .arg(QLatin1String(component), ObjectId(device.serial, what));
    };
    return {
        {topic("sensor", "reading"), QJsonDocument(reading).toJson(QJsonDocument::Compact), true},
        {topic("binary_sensor", "alarm"), QJsonDocument(alarm).toJson(QJsonDocument::Compact),
         true},
    };
}

} // namespace korvinet::net
