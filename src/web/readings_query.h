#pragma once

#include "platform/regional.h"
#include "web/http_server.h"
#include "web/station_status.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace korvinet {

class JournalReader;

namespace web {

// What /api/readings is asked for.
struct ReadingsQuery {
    enum class Format { Json, Csv };
    qint64 fromUtcMs = 0; // inclusive
    qint64 toUtcMs = 0;   // exclusive
    Format format = Format::Json;
    int stepSeconds = 0; // 0: every reading; else the mean of each step
};

// from and to are ISO 8601 date-times ("2026-12-09T10:00:00+01:00", "...Z";
// without an offset in local time; a bare date is its local midnight); to
// defaults to nowUtcMs and from to an hour before to. None with a one-line
// reason for anything that does not read.
std::optional<ReadingsQuery> ParseReadingsQuery(const HttpRequest& request, qint64 nowUtcMs,
                                                QString* error);

// One row of an answer: a reading or, with a step, the readings of one step
// of the range: the time of its start, value, count rate and band limits
// their means, counts their sum, alarm if any had it.
struct ReadingsRow {
    TimedReading r;
    int n = 1; // readings in the row
    double min = 0.0;
    double max = 0.0;
};

struct ReadingsPage {
    std::vector<ReadingsRow> rows;
    // The range holds more, from this moment on: the next page's from.
    std::optional<qint64> nextFromUtcMs;
};

// Reads one page of the query from the journal, in time order: at most
// rowLimit rows. A CSV page also ends where the unit changes, as a data file
// holds one unit.
ReadingsPage ReadReadings(const JournalReader& reader, const ReadingsQuery& query,
                          std::size_t rowLimit);

// An array of {"time", "value", "unit", "cpm", "counts", "interval_ms",
// "alarm"[, "band_low", "band_high"][, "n", "min", "max"]}.
QByteArray ReadingsJson(const ReadingsPage& page, int stepSeconds);
// The data file the window opens: its header lines (model, averaging time,
// title and notes from the status), the column titles, one line a row.
QByteArray ReadingsCsv(const ReadingsPage& page, const StationStatus& status,
                       const Regional& regional, double savedAt);

} // namespace web
} // namespace korvinet
