#pragma once

#include "device/reading.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace korvinet::mqtt {

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
    // Whether the counts look like radiation: "ok", "bursts", "too regular"
    // or "stopped" (silent for longer than a live tube would be); empty while
    // undecided. The statistic it was judged by, where there is one.
    QString health;
    std::optional<double> healthStatistic;
};

// What a reading itself carries, with no seq yet (the time with its
// offset, the band as ci_low and ci_high).
MqttReading MqttReadingOf(const device::Reading& reading);

// The reading as JSON, keys in a fixed order:
// {"seq": 12, "time": "2026-12-09T01:23:45+01:00", "value": 0.012, "unit": "mR/hr",
//  "cpm": 7.2, "counts": 3, "interval_ms": 3000, "alarm": false}
// The value (and a confidence interval) carries the digits the window shows
// in those units, cpm those of the CPM units. An overrange has "value": null
// and "overrange": true; "fault", "ci_low", "ci_high", "health" and
// "health_statistic" follow when present, and "replayed": true when the
// reading goes out later than it was taken (a backlog, or sent again).
QByteArray ReadingPayload(const MqttReading& reading, bool replayed = false);
// The latest reading as the state topic holds it: the reading's own keys
// and "total_counts", the counts since the station began publishing it.
QByteArray StatePayload(const MqttReading& reading, std::uint64_t totalCounts);

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

inline const QString kDefaultTopicPrefix = QStringLiteral("korvinet");

// The topics of one counter under a prefix (default "korvinet").
struct MqttTopics {
    QString reading; // PREFIX/SERIAL/reading: every reading, for archivers
    QString status;  // PREFIX/SERIAL/status: the station, retained "online" / "offline"
    QString counter; // PREFIX/SERIAL/counter: retained "connected" / "absent" / "stopped"
    QString state;   // PREFIX/SERIAL/state: the latest reading, retained
};
MqttTopics TopicsFor(const QString& prefix, const QString& serial);

// The MQTT client id of a station publishing under the prefix as `level`
// (a counter's serial made a topic level): two stations of one counter under
// two prefixes must not evict each other.
QString StationClientId(const QString& prefix, const QString& level);

inline const QByteArray kStatusOnline = QByteArrayLiteral("online");
inline const QByteArray kStatusOffline = QByteArrayLiteral("offline");
inline const QByteArray kCounterConnected = QByteArrayLiteral("connected");
inline const QByteArray kCounterAbsent = QByteArrayLiteral("absent");
inline const QByteArray kCounterStopped = QByteArrayLiteral("stopped");

// Where Home Assistant looks for discovery configs unless told otherwise.
inline const QString kDefaultDiscoveryPrefix = QStringLiteral("homeassistant");
// Home Assistant announces itself here ("online") when it starts, and wants
// the discovery configs again then. Its own setting of this topic ("birth
// message") is separate from its discovery prefix; the station takes the
// prefix's "status", the topic Home Assistant uses unless told otherwise.
inline QString HomeAssistantStatusTopic(const QString& discoveryPrefix) {
    return discoveryPrefix + QStringLiteral("/status");
}

// What Home Assistant's MQTT discovery shows about the counter.
struct DiscoveryDevice {
    QString serial;
    QString model;
    QString softwareVersion;
    std::uint8_t unitCode = 2;
    QString prefix = kDefaultTopicPrefix; // the topic prefix, part of every id
    // A sensor not updated for this long shows as unavailable.
    int expireAfterSeconds = 15;
    QString discoveryPrefix = kDefaultDiscoveryPrefix; // Home Assistant's
};

// The unit given to Home Assistant: "CPM", "mR/h", "μR/h", "μSv/h" (with
// the Greek mu, where the readings' own unit names have the micro sign).
// Home Assistant defines no unit of radiation and shows these as they are;
// they stay as first published, since it keeps long-term statistics under
// the unit's text and a new spelling would start them afresh.
QString HomeAssistantUnit(std::uint8_t unitCode);

// Home Assistant's device-based discovery config, retained under
// <discovery prefix>/device/: the counter as one device with its origin and a
// sensor for the reading (one entity per unit, so a unit change never mixes
// units in one history), counts per minute, the total count, the alarm
// (safety) and the counter's problem (the counts stopped or do not look like
// radiation). Every entity needs the station online and the counter
// connected, and expires when the state is not updated, except the problem,
// which needs the station alone. Before it come empty configs clearing the
// single-entity configs earlier versions published.
std::vector<MqttMessage> DiscoveryMessages(const MqttTopics& topics, const DiscoveryDevice& device);

} // namespace korvinet::mqtt
