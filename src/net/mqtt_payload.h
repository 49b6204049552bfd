#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace korvinet::net {

// One reading as a station publishes it. The value is in the counter's units
// (TCounter unit codes); TCounter::kOverrange marks an overrange.
struct MqttReading {
    std::uint64_t seq = 0; // one more per reading, kept across restarts
    QDateTime time;        // local time; published with its UTC offset
    double value = 0.0;
    std::uint8_t unitCode = 2;
    double cpm = 0.0;
    std::uint32_t counts = 0;     // counts in this sample
    std::uint32_t intervalMs = 0; // length of this sample
    bool alarm = false;
    // Written only when present.
    QString fault;
    std::optional<double> ciLow;
    std::optional<double> ciHigh;
};

// The reading as JSON, keys in a fixed order:
// {"seq": 12, "time": "2026-12-09T01:23:45+01:00", "value": 0.012, "unit": "mR/hr",
//  "cpm": 7.2, "counts": 3, "interval_ms": 3000, "alarm": false}
// The value (and a confidence interval) carries the digits the window shows
// in those units, cpm those of the CPM units. An overrange has "value": null
// and "overrange": true; "fault", "ci_low" and "ci_high" follow when present.
QByteArray ReadingPayload(const MqttReading& reading);

// One message with its topic, as the publisher hands it to the broker.
struct MqttMessage {
    QString topic;
    QByteArray payload;
    bool retain = false;
};

// A counter serial number made fit for one topic level: "/", "+", "#",
// control characters and blanks become "_"; an empty serial is "unknown".
QString TopicLevel(const QString& serial);

// Empty when the prefix can start a topic; otherwise why not. It may span
// levels ("site/korvinet") but not hold wildcards or empty levels.
QString TopicPrefixProblem(const QString& prefix);

// The topics of one counter under a prefix (default "korvinet").
struct MqttTopics {
    QString reading; // PREFIX/SERIAL/reading
    QString status;  // PREFIX/SERIAL/status: retained "online" / "offline"
};
MqttTopics TopicsFor(const QString& prefix, const QString& serial);

inline const QByteArray kStatusOnline = QByteArrayLiteral("online");
inline const QByteArray kStatusOffline = QByteArrayLiteral("offline");

// What Home Assistant's MQTT discovery shows about the counter.
struct DiscoveryDevice {
    QString serial;
    QString model;
    QString softwareVersion;
    std::uint8_t unitCode = 2;
};

// Retained discovery configs under homeassistant/: a sensor for the reading
// (in the counter's units, with the reading's other fields as attributes)
// and a binary sensor of the safety class for the alarm, both available while
// the status topic says "online".
std::vector<MqttMessage> DiscoveryMessages(const MqttTopics& topics, const DiscoveryDevice& device);

} // namespace korvinet::net
