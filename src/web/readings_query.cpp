#include "web/readings_query.h"

#include "device/counter.h"
#include "device/display_units.h"
#include "files/data_file.h"
#include "platform/datetime.h"
#include "recording/history_reader.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <cmath>

namespace korvinet::web {

namespace {

constexpr qint64 kMaxStepSeconds = 30LL * 86400;
constexpr qint64 kUnixEpochJulianDay = 2440588;

// Digits at text[at, at + n) as a number; -1 when any is missing or no digit.
int Digits(QStringView text, qsizetype at, int n) {
    if (at + n > text.size())
        return -1;
    int value = 0;
    for (qsizetype i = at; i < at + n; ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return -1;
        value = value * 10 + (text[i].unicode() - u'0');
    }
    return value;
}

// "2026-12-09", "2026-12-09T10:00", "...T10:00:03", "...T10:00:03.120"
// (up to nine decimals), each of the last three with "Z", "+01:00" or
// "+0100" after it (a "+" written into a query unencoded arrives as a
// space). Anything else, or a time that cannot be (25:61, +99:99, 30
// February), is none.
std::optional<qint64> ParseTime(QStringView text) {
    const int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
    if (year < 0 || month < 0 || day < 0 || text[4] != u'-' || text[7] != u'-')
        return std::nullopt;
    const QDate date(year, month, day);
    if (!date.isValid())
        return std::nullopt;
    if (text.size() == 10)
        return date.startOfDay().toMSecsSinceEpoch();
    const int hour = Digits(text, 11, 2), minute = Digits(text, 14, 2);
    if (text[10] != u'T' || hour < 0 || minute < 0 || text.size() < 16 || text[13] != u':' ||
        hour > 23 || minute > 59)
        return std::nullopt;
    qsizetype at = 16;
    int second = 0, ms = 0;
    if (at < text.size() && text[at] == u':') {
        second = Digits(text, at + 1, 2);
        if (second < 0 || second > 59)
            return std::nullopt;
        at += 3;
        if (at < text.size() && text[at] == u'.') {
            int decimals = 0;
            for (++at; decimals < 9 && Digits(text, at, 1) >= 0; ++at, ++decimals)
                ms = decimals < 3 ? ms * 10 + Digits(text, at, 1) : ms;
            if (decimals == 0)
                return std::nullopt;
            for (; decimals < 3; ++decimals)
                ms *= 10;
        }
    }
    const int msOfDay = ((hour * 60 + minute) * 60 + second) * 1000 + ms;
    if (at == text.size()) // local time
        return QDateTime(date, QTime::fromMSecsSinceStartOfDay(msOfDay)).toMSecsSinceEpoch();
    int offsetMinutes = 0;
    if (text[at] != u'Z' || at + 1 != text.size()) {
        const QChar sign = text[at];
        const int oh = Digits(text, at + 1, 2);
        const bool colon = at + 3 < text.size() && text[at + 3] == u':';
        const int om = Digits(text, at + (colon ? 4 : 3), 2);
        if ((sign != u'+' && sign != u'-' && sign != u' ') || oh < 0 || om < 0 ||
            at + (colon ? 6 : 5) != text.size() || om > 59 || oh * 60 + om > 14 * 60)
            return std::nullopt;
        offsetMinutes = (sign == u'-' ? -1 : 1) * (oh * 60 + om);
    }
    return (date.toJulianDay() - kUnixEpochJulianDay) * 86400000 + msOfDay -
           qint64(offsetMinutes) * 60000;
}

std::optional<qint64> TimeArgument(const HttpRequest& request, const char* name, QString* error) {
    const auto text = request.Argument(QLatin1String(name));
    if (!text)
        return std::nullopt;
    const auto ms = text->size() <= 40 ? ParseTime(*text) : std::nullopt;
    if (!ms)
        *error = QStringLiteral("\"%1\" is no ISO 8601 date-time (2026-12-09T10:00:00+01:00)")
                     .arg(QLatin1String(name));
    return ms;
}

ReadingsRow RowOf(const recording::HistorySummary& s) {
    ReadingsRow row;
    row.n = s.n;
    row.min = s.valueMin;
    row.max = s.valueMax;
    row.alarmCount = s.alarms;
    row.r.utcMs = s.startUtcMs;
    device::Reading& r = row.r.reading;
    r.time = recording::LocalDateTime(s.startUtcMs, s.utcOffsetSeconds);
    r.utcOffsetSeconds = s.utcOffsetSeconds;
    r.unitCode = s.unitCode;
    r.value = s.Mean();
    r.cpm = s.MeanCpm();
    r.counts = static_cast<std::uint32_t>(std::min<qint64>(s.counts, UINT32_MAX));
    r.intervalMs = static_cast<std::uint32_t>(std::min<qint64>(s.intervalMs, UINT32_MAX));
    r.alarm = s.alarms > 0;
    if (s.banded > 0)
        r.band = device::RateBand{{s.lowSum / static_cast<double>(s.banded), false},
                                  {s.highSum / static_cast<double>(s.banded), false}};
    return row;
}

// Rows onto a page: the gaps between them, the row limit, and for a data
// file one unit. A step's rows (one per unit) stay on one page.
class Pager {
public:
    Pager(ReadingsPage& page, std::size_t limit, bool csv, int stepSeconds)
        : page_(page), limit_(limit), csv_(csv), stepMs_(stepSeconds * qint64(1000)) {}

    bool Add(const device::TimedReading& t) {
        return Add({t, 1, t.reading.value, t.reading.value, t.reading.alarm ? 1 : 0}, t.utcMs,
                   t.utcMs, t.reading.intervalMs);
    }
    bool Add(const recording::HistorySummary& s) {
        return Add(RowOf(s), s.firstUtcMs, s.lastUtcMs, s.SampleMs());
    }

private:
    bool Add(const ReadingsRow& row, qint64 first, qint64 last, qint64 period) {
        const qint64 at = row.r.utcMs;
        const bool sameStep = stepMs_ > 0 && taken_ > 0 && at == lastAt_;
        // No readings for longer than two sample periods: for steps, with
        // at least one step empty between. Readings that do not say how long
        // their samples were tell no gaps. A reading that covers more than
        // the ones before it (a minute of a counter's memory after samples
        // of 3 s) covers that much more of the time before it.
        const qint64 reaches = first - std::max<qint64>(0, period - lastPeriod_);
        std::optional<ReadingsRow> gap;
        if (!csv_ && taken_ > 0 && !sameStep && lastPeriod_ > 0 &&
            reaches - lastReading_ > 2 * lastPeriod_ && (stepMs_ == 0 || at > lastAt_ + stepMs_)) {
            gap.emplace();
            gap->gap = true;
            gap->r.utcMs = stepMs_ > 0 ? lastAt_ + stepMs_ : lastReading_ + lastPeriod_;
            gap->r.reading.utcOffsetSeconds = lastOffset_;
            gap->r.reading.time = recording::LocalDateTime(gap->r.utcMs, lastOffset_);
        }
        const std::uint8_t unit = row.r.reading.unitCode;
        if (csv_ && taken_ > 0 && unit != unit_) {
            if (!sameStep)
                return End(at, gap);
            // The unit changed within the step: the step goes to the page of
            // the unit it ends with.
            while (!page_.rows.empty() && page_.rows.back().r.utcMs == at) {
                page_.rows.pop_back();
                --taken_;
            }
            if (taken_ > 0)
                return End(at, gap);
        }
        if (taken_ >= limit_ && !sameStep)
            return End(at, gap);
        if (gap)
            page_.rows.push_back(*gap);
        page_.rows.push_back(row);
        ++taken_;
        unit_ = unit;
        lastAt_ = at;
        lastReading_ = sameStep ? std::max(lastReading_, last) : last;
        lastPeriod_ = period;
        lastOffset_ = row.r.reading.utcOffsetSeconds.value_or(0);
        return true;
    }

    // The page ends before the row at `at`; a gap before it is this page's.
    bool End(qint64 at, const std::optional<ReadingsRow>& gap) {
        if (gap)
            page_.rows.push_back(*gap);
        page_.nextFromUtcMs = at;
        return false;
    }

    ReadingsPage& page_;
    std::size_t limit_;
    bool csv_;
    qint64 stepMs_;
    std::size_t taken_ = 0; // rows besides gaps
    std::uint8_t unit_ = 0;
    qint64 lastAt_ = 0;      // the last row's time
    qint64 lastReading_ = 0; // the last reading it holds
    qint64 lastPeriod_ = 0;  // its readings' sample period
    int lastOffset_ = 0;
};

// The level in another unit of the same kind (a dose rate in another unit,
// a count rate); none where it would take the counter's calibration.
std::optional<double> LevelIn(const AlarmLevel& alarm, std::uint8_t unitCode) {
    const device::DisplayUnit* from = device::FindDisplayUnit(alarm.unitCode);
    const device::DisplayUnit* to = device::FindDisplayUnit(unitCode);
    if (!from || !to || from->compensated != to->compensated ||
        from->perSensitivity != to->perSensitivity)
        return std::nullopt;
    return alarm.level * to->scale / from->scale;
}

} // namespace

std::optional<ReadingsQuery> ParseReadingsQuery(const HttpRequest& request, qint64 nowUtcMs,
                                                std::optional<qint64> firstUtcMs, QString* error,
                                                std::size_t rowLimit) {
    static const QStringList kKnown = {QStringLiteral("from"), QStringLiteral("to"),
                                       QStringLiteral("format"), QStringLiteral("step"),
                                       QStringLiteral("span")};
    for (const auto& [name, value] : request.query) {
        if (!kKnown.contains(name)) {
            *error = QStringLiteral("unknown argument \"%1\"; use from, to, format, step, span")
                         .arg(name.left(40));
            return std::nullopt;
        }
    }
    ReadingsQuery q;
    q.toUtcMs = TimeArgument(request, "to", error).value_or(nowUtcMs);
    const auto from = TimeArgument(request, "from", error);
    if (!error->isEmpty())
        return std::nullopt;
    const auto span = request.Argument(QStringLiteral("span"));
    if (span && (*span != QLatin1String("all") || from)) {
        *error = from ? QStringLiteral("\"span=all\" takes no \"from\"")
                      : QStringLiteral("\"span\" is all");
        return std::nullopt;
    }
    q.fromUtcMs = from ? *from : q.toUtcMs - 3600 * 1000;
    if (span && firstUtcMs)
        q.fromUtcMs = std::min(*firstUtcMs, q.toUtcMs - 1);
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
    } else if (span) {
        for (const int seconds : {60, 3600, 86400, 7 * 86400}) {
            q.stepSeconds = seconds;
            const qint64 steps =
                (q.toUtcMs - recording::HistoryReader::GridStart(q.fromUtcMs, seconds)) /
                (seconds * 1000LL);
            if (steps < static_cast<qint64>(rowLimit))
                break;
        }
    }
    return q;
}

ReadingsPage ReadReadings(const recording::HistoryReader& history, const ReadingsQuery& query,
                          std::size_t rowLimit) {
    ReadingsPage page;
    Pager pager(page, rowLimit, query.format == ReadingsQuery::Format::Csv, query.stepSeconds);
    if (query.stepSeconds == 0)
        history.Readings(query.fromUtcMs, query.toUtcMs,
                         [&](const device::TimedReading& t) { return pager.Add(t); });
    else
        history.Steps(query.fromUtcMs, query.toUtcMs, query.stepSeconds,
                      [&](const recording::HistorySummary& s) { return pager.Add(s); });
    return page;
}

QByteArray ReadingsJson(const ReadingsPage& page, int stepSeconds,
                        std::optional<AlarmLevel> alarm) {
    // Written directly, as a QJsonDocument would write it: an answer holds
    // up to 10,000 rows, and the page polls every few seconds.
    QByteArray out = "[";
    out.reserve(static_cast<qsizetype>(page.rows.size()) * 240 + 2);
    QByteArray unitNames[device::kDisplayUnits.size()];
    const auto number = [&](double value) {
        out += std::isfinite(value) ? QByteArray::number(value, 'g', QLocale::FloatingPointShortest)
                                    : QByteArray("null");
    };
    for (const ReadingsRow& row : page.rows) {
        const device::Reading& r = row.r.reading;
        if (out.size() > 1)
            out += ',';
        out += "{\"time\":\"";
        out += r.utcOffsetSeconds
                   ? platform::IsoMomentText(row.r.utcMs, *r.utcOffsetSeconds)
                   : platform::IsoLocalTimeText(device::MomentOf(r), true).toLatin1();
        out += '"';
        if (row.gap) {
            out += ",\"gap\":true}";
            continue;
        }
        out += ",\"value\":";
        r.overrange ? void(out += "null") : number(r.value);
        // The units' names hold nothing JSON escapes.
        QByteArray& unit =
            unitNames[std::min<std::size_t>(r.unitCode, device::kDisplayUnits.size() - 1)];
        if (unit.isEmpty())
            unit = device::TCounter::UnitNameOf(static_cast<std::int8_t>(r.unitCode)).toUtf8();
        out += ",\"unit\":\"" + unit + "\",\"cpm\":";
        r.overrange ? void(out += "null") : number(r.cpm);
        out += ",\"counts\":" + QByteArray::number(r.counts) +
               ",\"interval_ms\":" + QByteArray::number(r.intervalMs) + ",\"alarm\":";
        if (stepSeconds > 0) {
            const auto level = alarm ? LevelIn(*alarm, r.unitCode) : std::nullopt;
            out += !alarm ? "false" : !level ? "null" : r.value > *level ? "true" : "false";
        } else {
            out += r.alarm ? "true" : "false";
        }
        if (r.overrange)
            out += ",\"overrange\":true";
        if (r.band) {
            out += ",\"band_low\":";
            number(r.band->low.value);
            out += ",\"band_high\":";
            number(r.band->high.value);
        }
        if (stepSeconds > 0) {
            out += ",\"n\":" + QByteArray::number(row.n) +
                   ",\"alarm_count\":" + QByteArray::number(row.alarmCount) + ",\"min\":";
            number(row.min);
            out += ",\"max\":";
            number(row.max);
        }
        out += '}';
    }
    return out + ']';
}

QByteArray ReadingsCsv(const ReadingsPage& page, const StationStatus& status,
                       const platform::Regional& regional, double savedAt) {
    const std::uint8_t unit = page.rows.empty() ? status.unitCode : page.rows[0].r.reading.unitCode;
    files::DataFileHeader header;
    header.averagingTime = status.averagingTime;
    header.title = status.title;
    header.notes = status.notes;
    header.dateSaved = savedAt;
    header.bottomAxisTitle = QStringLiteral("Time");
    const QString unitName = device::TCounter::UnitNameOf(static_cast<std::int8_t>(unit));
    header.leftAxisTitle = unitName;
    QByteArray text = files::DataFileHeaderText(status.model, unitName, header, regional).toUtf8();
    files::DataLineWriter lines(unit, regional);
    lines.SetUtf8(true); // as the journal's files
    for (const ReadingsRow& row : page.rows) {
        const device::Reading& r = row.r.reading;
        if (!row.gap)
            lines.Append(r.time, r.overrange ? device::TCounter::kOverrange : r.value, text);
    }
    return text;
}

} // namespace korvinet::web
