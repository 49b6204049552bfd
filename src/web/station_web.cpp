#include "web/station_web.h"

#include "device/counter.h"
#include "device/display_units.h"
#include "files/data_file.h"
#include "files/journal_reader.h"
#include "platform/clock.h"
#include "platform/datetime.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <charconv>
#include <cmath>

namespace korvinet::web {

namespace {

constexpr qint64 kMaxStepSeconds = 30LL * 86400;

qint64 NowUtcMs(const Clock& clock) {
    const Clock::Moment now = clock.NowWithOffset();
    return QtFromDateTime(now.local, now.utcOffsetSeconds).toMSecsSinceEpoch();
}

QString TimeText(const TimedReading& t) {
    return IsoLocalTimeText(MomentOf(t.reading), true);
}

QString UtcText(qint64 utcMs) {
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC).toString(Qt::ISODateWithMs);
}

QString UnitName(std::uint8_t code) {
    return TCounter::UnitNameOf(static_cast<std::int8_t>(code));
}

int Decimals(std::uint8_t code) {
    const DisplayUnit* unit = FindDisplayUnit(code);
    return unit ? unit->decimals : 0;
}

std::optional<qint64> ParseTime(QString text) {
    text = text.trimmed();
    if (text.isEmpty() || text.size() > 40)
        return std::nullopt;
    // A "+01:00" written into a query unencoded arrives as " 01:00".
    text.replace(QLatin1Char(' '), QLatin1Char('+'));
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid()) {
        const QDate date = QDate::fromString(text, Qt::ISODate);
        if (date.isValid())
            time = date.startOfDay();
    }
    if (!time.isValid())
        return std::nullopt;
    return time.toMSecsSinceEpoch();
}

QJsonValue Number(double value) {
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

QJsonObject ReadingObject(const TimedReading& t) {
    const Reading& r = t.reading;
    QJsonObject o;
    o.insert(QStringLiteral("time"), TimeText(t));
    o.insert(QStringLiteral("value"), r.overrange ? QJsonValue() : Number(r.value));
    o.insert(QStringLiteral("unit"), UnitName(r.unitCode));
    o.insert(QStringLiteral("cpm"), r.overrange ? QJsonValue() : Number(r.cpm));
    o.insert(QStringLiteral("counts"), static_cast<qint64>(r.counts));
    o.insert(QStringLiteral("interval_ms"), static_cast<qint64>(r.intervalMs));
    o.insert(QStringLiteral("alarm"), r.alarm);
    if (r.overrange)
        o.insert(QStringLiteral("overrange"), true);
    if (r.band) {
        o.insert(QStringLiteral("band_low"), Number(r.band->low.value));
        o.insert(QStringLiteral("band_high"), Number(r.band->high.value));
    }
    return o;
}

// Sums of one step's readings, until they become its row.
class Bucket {
public:
    void Add(const JournalSample& s) {
        const Reading& r = s.reading;
        if (n_ == 0)
            first_ = {r, s.utcMs};
        ++n_;
        counts_ += r.counts;
        intervalMs_ += r.intervalMs;
        alarm_ = alarm_ || r.alarm;
        if (r.overrange)
            return;
        ++valued_;
        value_ += r.value;
        cpm_ += r.cpm;
        min_ = valued_ == 1 ? r.value : std::min(min_, r.value);
        max_ = valued_ == 1 ? r.value : std::max(max_, r.value);
        if (r.band) {
            ++banded_;
            low_ += r.band->low.value;
            high_ += r.band->high.value;
        }
    }
    bool Empty() const { return n_ == 0; }
    std::uint8_t Unit() const { return first_.reading.unitCode; }

    ReadingsRow Row(qint64 startUtcMs) const {
        ReadingsRow row;
        row.n = n_;
        TimedReading& t = row.r;
        t.utcMs = startUtcMs;
        t.reading = first_.reading;
        t.reading.time -= static_cast<double>(first_.utcMs - startUtcMs) / kMsPerDay;
        t.reading.counts = static_cast<std::uint32_t>(std::min<qint64>(counts_, UINT32_MAX));
        t.reading.intervalMs =
            static_cast<std::uint32_t>(std::min<qint64>(intervalMs_, UINT32_MAX));
        t.reading.alarm = alarm_;
        t.reading.overrange = valued_ == 0;
        t.reading.value = valued_ ? value_ / valued_ : TCounter::kOverrange;
        t.reading.cpm = valued_ ? cpm_ / valued_ : TCounter::kOverrange;
        row.min = min_;
        row.max = max_;
        t.reading.band.reset();
        if (banded_)
            t.reading.band = RateBand{{low_ / banded_, false}, {high_ / banded_, false}};
        return row;
    }

private:
    TimedReading first_;
    int n_ = 0;
    int valued_ = 0;
    int banded_ = 0;
    qint64 counts_ = 0;
    qint64 intervalMs_ = 0;
    bool alarm_ = false;
    double value_ = 0.0, cpm_ = 0.0, low_ = 0.0, high_ = 0.0, min_ = 0.0, max_ = 0.0;
};

QByteArray PageFile(const QString& name) {
    QFile file(QStringLiteral(":/web/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

HttpResponse JsonResponse(const QByteArray& body) {
    HttpResponse response;
    response.contentType = "application/json";
    response.body = body;
    response.headers.emplace_back("Cache-Control", "no-store");
    return response;
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

std::optional<ReadingsQuery> ParseReadingsQuery(const HttpRequest& request, qint64 nowUtcMs,
                                                QString* error) {
    static const QStringList kKnown = {QStringLiteral("from"), QStringLiteral("to"),
                                       QStringLiteral("format"), QStringLiteral("step")};
    for (const auto& [name, value] : request.query) {
        if (!kKnown.contains(name)) {
            *error = QStringLiteral("unknown argument \"%1\"; use from, to, format, step")
                         .arg(name.left(40));
            return std::nullopt;
        }
    }
    ReadingsQuery q;
    q.toUtcMs = nowUtcMs;
    if (const auto to = request.Argument(QStringLiteral("to"))) {
        const auto ms = ParseTime(*to);
        if (!ms) {
            *error = QStringLiteral("\"to\" is no ISO 8601 date-time (2026-12-09T10:00:00+01:00)");
            return std::nullopt;
        }
        q.toUtcMs = *ms;
    }
    q.fromUtcMs = q.toUtcMs - 3600 * 1000;
    if (const auto from = request.Argument(QStringLiteral("from"))) {
        const auto ms = ParseTime(*from);
        if (!ms) {
            *error =
                QStringLiteral("\"from\" is no ISO 8601 date-time (2026-12-09T10:00:00+01:00)");
            return std::nullopt;
        }
        q.fromUtcMs = *ms;
    }
    if (q.fromUtcMs >= q.toUtcMs) {
        *error = QStringLiteral("\"from\" must come before \"to\"");
        return std::nullopt;
    }
    const QString format = request.Argument(QStringLiteral("format")).value_or("json");
    if (format == QLatin1String("csv"))
        q.format = ReadingsQuery::Format::Csv;
    else if (format != QLatin1String("json")) {
        *error = QStringLiteral("\"format\" is json or csv");
        return std::nullopt;
    }
    if (const auto step = request.Argument(QStringLiteral("step"))) {
        const bool digits =
            !step->isEmpty() && step->size() <= 8 &&
            std::all_of(step->begin(), step->end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
        const qint64 seconds = digits ? step->toLongLong() : 0;
        if (seconds < 1 || seconds > kMaxStepSeconds) {
            *error =
                QStringLiteral("\"step\" is a number of seconds from 1 to %1").arg(kMaxStepSeconds);
            return std::nullopt;
        }
        q.stepSeconds = static_cast<int>(seconds);
    }
    return q;
}

ReadingsPage ReadReadings(const JournalReader& reader, const ReadingsQuery& query,
                          std::size_t rowLimit) {
    ReadingsPage page;
    const bool csv = query.format == ReadingsQuery::Format::Csv;
    if (query.stepSeconds == 0) {
        reader.Visit(query.fromUtcMs, query.toUtcMs, [&](const JournalSample& s) {
            const bool unitChanged =
                csv && !page.rows.empty() && s.reading.unitCode != page.rows[0].r.reading.unitCode;
            if (unitChanged || page.rows.size() >= rowLimit) {
                page.nextFromUtcMs = s.utcMs;
                return false;
            }
            page.rows.push_back({{s.reading, s.utcMs}, 1, s.reading.value, s.reading.value});
            return true;
        });
        return page;
    }

    const qint64 stepMs = static_cast<qint64>(query.stepSeconds) * 1000;
    Bucket bucket;
    qint64 index = -1;
    reader.Visit(query.fromUtcMs, query.toUtcMs, [&](const JournalSample& s) {
        const qint64 i = (s.utcMs - query.fromUtcMs) / stepMs;
        const bool unitChanged = !bucket.Empty() && s.reading.unitCode != bucket.Unit();
        if (!bucket.Empty() && (i != index || unitChanged)) {
            page.rows.push_back(bucket.Row(query.fromUtcMs + index * stepMs));
            bucket = Bucket();
        }
        if (bucket.Empty() && (page.rows.size() >= rowLimit || (csv && unitChanged))) {
            // A unit change inside a step starts the next page at its reading.
            page.nextFromUtcMs = i != index ? query.fromUtcMs + i * stepMs : s.utcMs;
            return false;
        }
        index = i;
        bucket.Add(s);
        return true;
    });
    if (!bucket.Empty())
        page.rows.push_back(bucket.Row(query.fromUtcMs + index * stepMs));
    return page;
}

QByteArray ReadingsJson(const ReadingsPage& page, int stepSeconds) {
    QJsonArray rows;
    for (const ReadingsRow& row : page.rows) {
        QJsonObject o = ReadingObject(row.r);
        if (stepSeconds > 0) {
            o.insert(QStringLiteral("n"), row.n);
            if (!row.r.reading.overrange) {
                o.insert(QStringLiteral("min"), Number(row.min));
                o.insert(QStringLiteral("max"), Number(row.max));
            }
        }
        rows.append(o);
    }
    return QJsonDocument(rows).toJson(QJsonDocument::Compact);
}

QByteArray ReadingsCsv(const ReadingsPage& page, const StationStatus& status,
                       const Regional& regional, double savedAt) {
    const std::uint8_t unit = page.rows.empty() ? status.unitCode : page.rows[0].r.reading.unitCode;
    DataFileHeader header;
    header.averagingTime = status.averagingTime;
    header.title = status.title;
    header.notes = status.notes;
    header.dateSaved = savedAt;
    header.bottomAxisTitle = QStringLiteral("Time");
    header.leftAxisTitle = UnitName(unit);
    QByteArray text = DataFileHeaderText(status.model, UnitName(unit), header, regional).toUtf8();
    DataLineWriter lines(unit, regional);
    lines.SetUtf8(true); // as the journal's files
    for (const ReadingsRow& row : page.rows) {
        const Reading& r = row.r.reading;
        lines.Append(r.time, r.overrange ? TCounter::kOverrange : r.value, text);
    }
    return text;
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
    o.insert(QStringLiteral("counter"), QString::fromLatin1(CounterStateName(s.counter)));
    QJsonObject latest;
    if (s.latest) {
        latest = ReadingObject(*s.latest);
        latest.insert(
            QStringLiteral("text"),
            TCounter::FormatValueOf(s.latest->reading.overrange ? TCounter::kOverrange
                                                                : s.latest->reading.value,
                                    static_cast<std::int8_t>(s.latest->reading.unitCode)));
    }
    o.insert(QStringLiteral("latest"), s.latest ? QJsonValue(latest) : QJsonValue());
    o.insert(QStringLiteral("alarm"), s.latest && s.latest->reading.alarm);
    if (s.latest && s.latest->reading.band) {
        o.insert(QStringLiteral("band"),
                 QJsonObject{{QStringLiteral("low"), Number(s.latest->reading.band->low.value)},
                             {QStringLiteral("high"), Number(s.latest->reading.band->high.value)}});
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
        const QByteArray unit = ",unit=\"" + LabelValue(UnitName(r.unitCode)) + '"';
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

StationWeb::StationWeb(const StatusSource& source, QString journalFolder, const Clock& clock,
                       const Regional& regional, WebLimits limits)
    : source_(source), journalFolder_(std::move(journalFolder)), clock_(clock), regional_(regional),
      limits_(limits) {}

HttpAnswer StationWeb::Answer(const HttpRequest& request) const {
    struct File {
        const char* path;
        const char* resource;
        const char* type;
    };
    static constexpr File kFiles[] = {
        {"/", "index.html", "text/html; charset=utf-8"},
        {"/page.js", "page.js", "text/javascript; charset=utf-8"},
        {"/page.css", "page.css", "text/css; charset=utf-8"},
        {"/uplot.js", "uPlot.iife.min.js", "text/javascript; charset=utf-8"},
        {"/uplot.css", "uPlot.min.css", "text/css; charset=utf-8"},
    };
    for (const File& f : kFiles) {
        if (request.path != f.path)
            continue;
        HttpResponse response;
        response.contentType = f.type;
        response.body = PageFile(QString::fromLatin1(f.resource));
        // Everything the page loads comes from here.
        response.headers.emplace_back("Content-Security-Policy",
                                      "default-src 'self'; img-src 'self' data:");
        response.headers.emplace_back("Cache-Control", "no-cache");
        return {response, {}};
    }
    if (request.path == "/api/status")
        return {JsonResponse(StatusJson(source_.Status())), {}};
    if (request.path == "/metrics") {
        HttpResponse response;
        response.contentType = "text/plain; version=0.0.4; charset=utf-8";
        response.body = MetricsText(source_.Status());
        return {response, {}};
    }
    if (request.path == "/api/readings")
        return Readings(request);
    return {PlainResponse(404, QStringLiteral("not found; the station serves /, /api/status, "
                                              "/api/readings and /metrics")),
            {}};
}

HttpAnswer StationWeb::Readings(const HttpRequest& request) const {
    QString why;
    const auto query = ParseReadingsQuery(request, NowUtcMs(clock_), &why);
    if (!query)
        return {PlainResponse(400, why), {}};
    // The job gets copies: it runs while the station goes on.
    return {{},
            [query = *query, folder = journalFolder_, status = source_.Status(),
             regional = regional_, savedAt = clock_.Now(), limit = limits_.rowLimit] {
                const JournalReader reader(folder);
                const ReadingsPage page = ReadReadings(reader, query, limit);
                const bool csv = query.format == ReadingsQuery::Format::Csv;
                HttpResponse response;
                if (csv) {
                    response.contentType = "text/csv; charset=utf-8";
                    response.body = ReadingsCsv(page, status, regional, savedAt);
                    response.headers.emplace_back(
                        "Content-Disposition", "attachment; filename=\"korvinet-" +
                                                   QDateTime::fromMSecsSinceEpoch(query.fromUtcMs)
                                                       .toString(QStringLiteral("yyyy-MM-dd_HHmm"))
                                                       .toLatin1() +
                                                   ".csv\"");
                } else {
                    response = JsonResponse(ReadingsJson(page, query.stepSeconds));
                }
                if (page.nextFromUtcMs) {
                    QString link = QStringLiteral("/api/readings?from=%1&to=%2&format=%3")
                                       .arg(UtcText(*page.nextFromUtcMs), UtcText(query.toUtcMs),
                                            csv ? QStringLiteral("csv") : QStringLiteral("json"));
                    if (query.stepSeconds)
                        link += QStringLiteral("&step=%1").arg(query.stepSeconds);
                    response.headers.emplace_back("Link",
                                                  "<" + link.toLatin1() + ">; rel=\"next\"");
                }
                return response;
            }};
}

} // namespace korvinet::web
