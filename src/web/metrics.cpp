#include "web/metrics.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace korvinet::web {

namespace {

constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

// A label value in ASCII with \, " and line ends escaped: tools downstream
// of Prometheus do not all read UTF-8, so anything else becomes "_".
QByteArray LabelValue(const QString& text) {
    QByteArray out;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\' || u == '"')
            out += '\\';
        if (u == '\n')
            out += "\\n";
        else if (u >= 0x20 && u < 0x7F)
            out += static_cast<char>(u);
        else if (u != '\r')
            out += '_';
    }
    return out;
}

class Exposition {
public:
    void Family(const char* name, const char* type, const char* help) {
        text_ += "# HELP " + QByteArray(name) + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
        name_ = name;
    }
    void Sample(double value, const QByteArray& labels = {}) {
        text_ += name_;
        if (!labels.isEmpty())
            text_ += '{' + labels + '}';
        text_ += ' ';
        if (std::isnan(value)) {
            text_ += "NaN\n";
            return;
        }
        // The shortest text that reads back as the same number.
        char digits[32];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        text_ += QByteArray(digits, end - digits) + '\n';
    }
    // A gauge of one sample.
    void Gauge(const char* name, const char* help, double value) {
        Family(name, "gauge", help);
        Sample(value);
    }
    const QByteArray& Text() const { return text_; }

private:
    QByteArray name_;
    QByteArray text_;
};

double Flag(bool on) {
    return on ? 1 : 0;
}

} // namespace

QByteArray MetricsText(const StationStatus& s) {
    Exposition m;
    m.Family("korvinet_build_info", "gauge", "The station's version, in the version label.");
    m.Sample(1, "version=\"" + LabelValue(s.version) + '"');
    // Named for the device, as korvinet_device_connected is: promtool will
    // not pass a gauge with "counter" in its name.
    m.Family("korvinet_device_info", "gauge",
             "The counter read, in the serial and model labels (empty before one was found).");
    m.Sample(1, "serial=\"" + LabelValue(s.serial) + "\",model=\"" + LabelValue(s.model) + '"');
    m.Gauge("korvinet_start_time_seconds",
            "When the station started, in seconds since 1970-01-01 UTC.", s.startUtcSeconds);
    m.Gauge("korvinet_device_connected", "1 while the counter is open, 0 while it is looked for.",
            Flag(s.counter != CounterState::Looking));
    m.Gauge("korvinet_counts_stopped",
            "1 while the counter has been silent for longer than a live tube would be.",
            Flag(s.counter == CounterState::CountsStopped));
    m.Family("korvinet_counts_health", "gauge",
             "1 for the state the counts are judged in (ok, bursts, too regular, stopped, "
             "undecided): whether they look like radiation.");
    for (const char* state : {"ok", "bursts", "too regular", "stopped", "undecided"})
        m.Sample(Flag(s.health == QLatin1String(state) ||
                      (s.health.isEmpty() && QByteArray(state) == "undecided")),
                 QByteArray("state=\"") + state + '"');
    m.Gauge("korvinet_counts_health_statistic",
            "Spread of the counts against Poisson over the last minutes: about 1 for radiation, "
            "far above for bursts, near 0 for a too regular source; NaN until judged.",
            s.healthStatistic.value_or(kUnknown));
    m.Family("korvinet_readings_total", "counter", "Readings taken since the station started.");
    m.Sample(static_cast<double>(s.readingsTaken));
    m.Family("korvinet_counts_total", "counter", "Counts (tube pulses) since the station started.");
    m.Sample(static_cast<double>(s.countsTotal));

    // The latest reading in fixed units, whatever unit the station shows: a
    // change of --units must not start other series.
    const device::Reading* r = s.latest ? &s.latest->reading : nullptr;
    const bool valued = r && !r->overrange;
    m.Gauge("korvinet_overrange", "1 when the latest reading was beyond the counter's range.",
            Flag(r && r->overrange));
    m.Gauge("korvinet_alarm", "1 while the latest reading is in alarm.", Flag(r && r->alarm));
    m.Gauge("korvinet_reading_timestamp_seconds",
            "When the latest reading was taken, in seconds since 1970-01-01 UTC; NaN before the "
            "first.",
            s.latest ? static_cast<double>(s.latest->utcMs) / 1000.0 : kUnknown);
    m.Gauge("korvinet_counts_per_second",
            "Count rate over the averaging time as counted, without dead-time correction.",
            valued ? r->cpm / 60.0 : kUnknown);

    // Sieverts per hour through the counter's sensitivity and dead time, the
    // way the readings are converted; the band back from the display unit.
    const std::optional<measure::RateConversion> dose = DoseRateConversion(s);
    const auto sievertsPerHour = [&](double rawCpm) {
        return dose ? dose->FromRawCpm(rawCpm).value * 1e-6 : kUnknown;
    };
    const auto bandLimit = [&](double displayValue) {
        if (!dose)
            return kUnknown;
        measure::RateConversion shown = *s.conversion;
        shown.unitCode = static_cast<std::int8_t>(r->unitCode);
        return sievertsPerHour(shown.RawCpmAt(displayValue));
    };
    m.Gauge("korvinet_dose_rate_sieverts_per_hour",
            "The latest reading as a dose rate through the counter's calibration.",
            valued ? sievertsPerHour(r->cpm) : kUnknown);
    const bool banded = valued && r->band;
    m.Gauge("korvinet_dose_rate_band_low_sieverts_per_hour",
            "Lower limit of the latest reading's 95 % band, as a dose rate.",
            banded ? bandLimit(r->band->low.value) : kUnknown);
    m.Gauge("korvinet_dose_rate_band_high_sieverts_per_hour",
            "Upper limit of the latest reading's 95 % band, as a dose rate.",
            banded ? bandLimit(r->band->high.value) : kUnknown);

    if (s.mqtt.configured) {
        m.Gauge("korvinet_mqtt_connected", "1 while the MQTT broker is connected.",
                Flag(s.mqtt.connected));
        m.Gauge("korvinet_mqtt_outbox_readings",
                "Readings waiting on disk for the broker to acknowledge them.",
                static_cast<double>(s.mqtt.waiting));
    }
    return m.Text();
}

} // namespace korvinet::web
