#pragma once

#include "app/ui_services.h"
#include "files/data_file.h"
#include "recording/history_reader.h"

#include <QStringList>
#include <functional>
#include <optional>

namespace korvinet {

class Regional;

// The spans "Open Recording..." offers, in its dialog's order; the last is
// the range.
QStringList RecordingSpanNames();

// The moments [from, to) of the span chosen: one ending at nowUtcMs, or the
// range between its local date-times.
struct RecordingSpan {
    qint64 fromUtcMs = 0;
    qint64 toUtcMs = 0;
};
RecordingSpan RecordingSpanOf(const RecordingSpanChoice& choice, qint64 nowUtcMs);

// How a span is read, so that the graph holds few enough points to draw well
// and the reading takes well under a second: every reading for up to 48
// hours (the live graph's span), else the means of minutes, hours or days,
// the finest of them that gives at most kMaxRecordingPoints. A resolution
// that does not reach back to the span's start (the journal keeps its raw
// readings a month and the minute summaries a year, the hour summaries for
// good) gives way to the next coarser one, unless nothing is older than
// where it reaches (firstUtcMs, the history's oldest reading). Returns the
// step in seconds; 0 for every reading.
inline constexpr qint64 kMaxRecordingPoints = 100000;
using HistoryReach = std::function<std::optional<qint64>(HistoryReader::Resolution)>;
int RecordingStepSeconds(const RecordingSpan& span, std::optional<qint64> firstUtcMs,
                         const HistoryReach& reach);

// Reads a span of the history as a data file's contents, the step chosen as
// above: one point per reading or per step (at its local time, or its
// step's start, with its value or mean), in the unit of the span's last
// reading, readings in other units left out; the column titles "Time" and
// that unit; header lines that say the span, the step and how many readings
// were left out. Tells progress how far it got (contents->cancelled when it
// said stop).
void ReadRecording(const HistoryReader& history, const RecordingSpan& span,
                   const QStringList& unitNames, const Regional& regional,
                   const DataFileProgress& progress, DataFileContents* contents);

} // namespace korvinet
