#include "web/readings_query.h"

#include "device/counter.h"
#include "files/data_file.h"
#include "platform/datetime.h"
#include "recording/journal_reader.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace korvinet::web {

namespace {

constexpr qint64 kMaxStepSeconds = 30LL * 86400;

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

// Sums of one step's readings, until they become its row.
class Bucket {
public:
    void Add(const TimedReading& s) {
        const Reading& r = s.reading;
        if (n_ == 0)
            first_ = s;
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
        reader.Visit(query.fromUtcMs, query.toUtcMs, [&](const TimedReading& s) {
            const bool unitChanged =
                csv && !page.rows.empty() && s.reading.unitCode != page.rows[0].r.reading.unitCode;
            if (unitChanged || page.rows.size() >= rowLimit) {
                page.nextFromUtcMs = s.utcMs;
                return false;
            }
            page.rows.push_back({s, 1, s.reading.value, s.reading.value});
            return true;
        });
        return page;
    }

    const qint64 stepMs = static_cast<qint64>(query.stepSeconds) * 1000;
    Bucket bucket;
    qint64 index = -1;
    reader.Visit(query.fromUtcMs, query.toUtcMs, [&](const TimedReading& s) {
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
        QJsonObject o = ReadingJson(row.r);
        if (stepSeconds > 0) {
            o.insert(QStringLiteral("n"), row.n);
            if (!row.r.reading.overrange) {
                o.insert(QStringLiteral("min"), JsonNumber(row.min));
                o.insert(QStringLiteral("max"), JsonNumber(row.max));
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
    const QString unitName = TCounter::UnitNameOf(static_cast<std::int8_t>(unit));
    header.leftAxisTitle = unitName;
    QByteArray text = DataFileHeaderText(status.model, unitName, header, regional).toUtf8();
    DataLineWriter lines(unit, regional);
    lines.SetUtf8(true); // as the journal's files
    for (const ReadingsRow& row : page.rows) {
        const Reading& r = row.r.reading;
        lines.Append(r.time, r.overrange ? TCounter::kOverrange : r.value, text);
    }
    return text;
}

} // namespace korvinet::web
