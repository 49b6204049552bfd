#include "web/metrics.h"

#include "device/counter.h"

#include <charconv>
#include <utility>

namespace korvinet::web {

namespace {

// A label value with \, " and line ends escaped.
QByteArray LabelValue(const QString& text) {
    QByteArray out;
    for (const char c : text.toUtf8()) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n')
            out += "\\n";
        else if (c != '\r')
            out += c;
    }
    return out;
}

class Exposition {
public:
    explicit Exposition(QByteArray serialLabel) : serial_(std::move(serialLabel)) {}

    void Family(const char* name, const char* type, const char* help) {
        text_ += "# HELP " + QByteArray(name) + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
        name_ = name;
    }
    void Sample(double value, const QByteArray& extraLabels = {}) {
        // The shortest text that reads back as the same number.
        char digits[32];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        text_ += name_ + "{serial=\"" + serial_ + '"' + extraLabels + "} " +
                 QByteArray(digits, end - digits) + '\n';
    }
    const QByteArray& Text() const { return text_; }
    void Raw(const QByteArray& text) { text_ += text; }

private:
    QByteArray serial_;
    QByteArray name_;
    QByteArray text_;
};

} // namespace

QByteArray MetricsText(const StationStatus& s) {
    Exposition m(LabelValue(s.serial));
    m.Family("korvinet_build_info", "gauge", "The station's version, in the version label.");
    m.Raw("korvinet_build_info{version=\"" + LabelValue(s.version) + "\"} 1\n");
    m.Family("korvinet_start_time_seconds", "gauge",
             "When the station started, in seconds since 1970-01-01 UTC.");
    m.Sample(s.startUtcSeconds);
    m.Family("korvinet_device_connected", "gauge",
             "1 while the counter is open, 0 while it is "
             "looked for.");
    m.Sample(s.counter == CounterState::Looking ? 0 : 1);
    m.Family("korvinet_counts_stopped", "gauge",
             "1 while the counter has been silent for longer than a live tube would be.");
    m.Sample(s.counter == CounterState::CountsStopped ? 1 : 0);
    m.Family("korvinet_counts_health", "gauge",
             "1 for the state the counts are judged in (ok, bursts, too regular, stopped, "
             "undecided): whether they look like radiation.");
    for (const char* state : {"ok", "bursts", "too regular", "stopped", "undecided"})
        m.Sample(s.health == QLatin1String(state) ||
                         (s.health.isEmpty() && QByteArray(state) == "undecided")
                     ? 1
                     : 0,
                 QByteArray(",state=\"") + state + '"');
    if (s.healthStatistic) {
        m.Family("korvinet_counts_health_statistic", "gauge",
                 "Spread of the counts against Poisson over the last minutes: about 1 for "
                 "radiation, far above for bursts, near 0 for a too regular source.");
        m.Sample(*s.healthStatistic);
    }
    m.Family("korvinet_readings_total", "counter", "Readings taken since the station started.");
    m.Sample(static_cast<double>(s.readingsTaken));
    m.Family("korvinet_counts_total", "counter", "Counts (tube pulses) since the station started.");
    m.Sample(static_cast<double>(s.countsTotal));
    if (s.latest) {
        const Reading& r = s.latest->reading;
        const QByteArray unit =
            ",unit=\"" + LabelValue(TCounter::UnitNameOf(static_cast<std::int8_t>(r.unitCode))) +
            '"';
        m.Family("korvinet_overrange", "gauge",
                 "1 when the latest reading was beyond the "
                 "counter's range.");
        m.Sample(r.overrange ? 1 : 0);
        m.Family("korvinet_alarm", "gauge", "1 while the latest reading is in alarm.");
        m.Sample(r.alarm ? 1 : 0);
        m.Family("korvinet_reading_timestamp_seconds", "gauge",
                 "When the latest reading was taken, in seconds since 1970-01-01 UTC.");
        m.Sample(static_cast<double>(s.latest->utcMs) / 1000.0);
        if (!r.overrange) {
            m.Family("korvinet_reading", "gauge",
                     "The latest reading in its display unit (the unit label).");
            m.Sample(r.value, unit);
            m.Family("korvinet_counts_per_minute", "gauge",
                     "Counts per minute over the averaging time, without dead-time correction.");
            m.Sample(r.cpm);
        }
        if (r.band) {
            m.Family("korvinet_reading_band_low", "gauge",
                     "Lower limit of the latest reading's 95 % band, in its display unit.");
            m.Sample(r.band->low.value, unit);
            m.Family("korvinet_reading_band_high", "gauge",
                     "Upper limit of the latest reading's 95 % band, in its display unit.");
            m.Sample(r.band->high.value, unit);
        }
    }
    if (s.mqtt.configured) {
        m.Family("korvinet_mqtt_connected", "gauge", "1 while the MQTT broker is connected.");
        m.Sample(s.mqtt.connected ? 1 : 0);
        m.Family("korvinet_mqtt_outbox_readings", "gauge",
                 "Readings waiting on disk for the broker to acknowledge them.");
        m.Sample(static_cast<double>(s.mqtt.waiting));
    }
    return m.Text();
}

} // namespace korvinet::web
