#pragma once

#include "platform/regional.h"
#include "web/http_server.h"
#include "web/station_status.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace korvinet::recording {
class HistoryReader;
} // namespace korvinet::recording

namespace korvinet::web {

// What /api/readings is asked for.
struct ReadingsQuery {
    enum class Format { Json, Csv };
    qint64 fromUtcMs = 0; // inclusive
    qint64 toUtcMs = 0;   // exclusive
    Format format = Format::Json;
    int stepSeconds = 0; // 0: every reading; else the summary of each step
};

// from and to are ISO 8601 date-times ("2026-12-09T10:00:00+01:00", "...Z",
// seconds and their fraction optional; without an offset in local time; a
// bare date is its local midnight), read whole or refused; to defaults to
// nowUtcMs and from to an hour before to. span=all takes from the oldest
// moment the history answers for (firstUtcMs) and, without a step, the
// finest of a minute, an hour, a day or a week that answers in rowLimit rows.
// None with a one-line reason for anything that does not read.
std::optional<ReadingsQuery> ParseReadingsQuery(const HttpRequest& request, qint64 nowUtcMs,
                                                std::optional<qint64> firstUtcMs, QString* error,
                                                std::size_t rowLimit = 10000);

// One row of an answer: a reading; or, with a step, the summary of the
// readings of one unit in one step: the time of the step's start, value,
// count rate and band limits their means, counts and interval their sums; or
// a gap: no readings for longer than two sample periods from its time on.
struct ReadingsRow {
    device::TimedReading r;
    std::int64_t n = 1; // readings in the row
    double min = 0.0;
    double max = 0.0;
    std::int64_t alarmCount = 0; // readings taken with the alarm on
    bool gap = false;
};

struct ReadingsPage {
    std::vector<ReadingsRow> rows;
    // The range holds more, from this moment on: the next page's from.
    std::optional<qint64> nextFromUtcMs;
};

// Reads one page of the query from the history, in time order: at most
// rowLimit rows besides the gaps. A CSV page holds no gaps and ends where the
// unit changes, as a data file holds one unit (a step in which the unit
// changed goes to the next page, in the unit it ends with).
ReadingsPage ReadReadings(const recording::HistoryReader& history, const ReadingsQuery& query,
                          std::size_t rowLimit);

// The alarm level in force and the unit it is in.
struct AlarmLevel {
    double level = 0.0;
    std::uint8_t unitCode = 2;
};

// An array of {"time", "value", "unit", "cpm", "counts", "interval_ms",
// "alarm"[, "band_low", "band_high"]}; with a step also "n", "min", "max"
// and "alarm_count", "alarm" then telling whether the mean is above the
// level (null where the level does not convert into the row's unit); gaps
// as {"time", "gap": true}.
QByteArray ReadingsJson(const ReadingsPage& page, int stepSeconds, std::optional<AlarmLevel> alarm);
// The data file the window opens: its header lines (model, averaging time,
// title and notes from the status), the column titles, one line a row.
QByteArray ReadingsCsv(const ReadingsPage& page, const StationStatus& status,
                       const platform::Regional& regional, double savedAt);

} // namespace korvinet::web
