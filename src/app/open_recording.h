#pragma once

#include "app/ui_services.h"
#include "files/data_file.h"
#include "files/file_commands.h"
#include "recording/history_reader.h"

#include <QStringList>
#include <functional>
#include <optional>

namespace korvinet::platform {
class Regional;
} // namespace korvinet::platform

namespace korvinet::recording {
class HistoryLive;
} // namespace korvinet::recording

namespace korvinet::app {

// The spans "Open Recording..." offers, in its dialog's order; the last is
// the range.
QStringList RecordingSpanNames();

// The moments [from, to) of the span chosen: one ending with nowUtcMs (a
// reading taken now is in it), or the range between its local date-times.
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
using HistoryReach = std::function<std::optional<qint64>(recording::HistoryReader::Resolution)>;
int RecordingStepSeconds(const RecordingSpan& span, std::optional<qint64> firstUtcMs,
                         const HistoryReach& reach);

// Reads a span of the history as a data file's contents, the step chosen as
// above: one point per reading or per step (at its local time, or its
// step's start, with its value or mean), in the unit of the span's last
// reading, readings in other units left out, and like a data file's in
// strictly ascending local time (the hour the clocks go back is left out
// where it repeats); the column titles "Time" and
// that unit; header lines that say the span, the step and how many readings
// were left out. Tells progress how far it got (contents->cancelled when it
// said stop).
void ReadRecording(const recording::HistoryReader& history, const RecordingSpan& span,
                   const QStringList& unitNames, const platform::Regional& regional,
                   const files::DataFileProgress& progress, files::DataFileContents* contents);

// Messages of "Open Recording...", exactly as the user sees them.
QString NoRecordingText(const QString& journalFolder);
QString EmptySpanText(const RecordingSpan& span, const platform::Regional& regional);

// Where a recording is read from: the window's journal folder (empty: it
// keeps none), the live history of its own recording (null when it does not
// record), and now as the window's clock has it.
struct RecordingSource {
    QString journalFolder;
    std::shared_ptr<const recording::HistoryLive> live;
    qint64 nowUtcMs = 0;
};

// "Open Recording...": the span chosen in a dialog (`lastChoice` is
// the one it opens with, and keeps the one accepted) is read from the
// history store and takes the graph's place as an opened data file does,
// its statistics with it. Where nothing has been recorded, or the span holds
// no reading, a message says so and the window stays as it was; so it does
// for a "No", a cancelled dialog or a cancelled reading.
void OpenRecordingCommand(
    const files::OpenDataFileHooks& window,
    const std::function<RecordingSpanChoice(const RecordingSpanChoice&)>& choose,
    const RecordingSource& source, const platform::Regional& regional,
    RecordingSpanChoice* lastChoice);

} // namespace korvinet::app
