#pragma once

#include "device/reading.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>

namespace korvinet::recording {

// The journal keeps, beside each day's data file, "<day>.samples": one line a
// reading, written and synced with the data file's line. Unlike the data
// file (local wall-clock time, the value as shown), a sample line names its
// moment without ambiguity and keeps what the programs that read the journal
// back (the station's history, uploads that fill a gap) need:
//
//   # time,value,unit,cpm,counts,interval_ms,alarm,band_low,band_high
//   2026-12-09T10:00:03.120+01:00,0.012,2,7.2,3,3000,0,0.008,0.017
//
// unit is the display unit's code; band_low and band_high are empty when the
// reading had no band. Lines starting with "#" and an unfinished last line
// are skipped; so is a line that does not read (counted as corrupt).
QByteArray JournalSampleLine(const device::Reading& reading);
inline constexpr char kJournalSamplesHeader[] =
    "# time,value,unit,cpm,counts,interval_ms,alarm,band_low,band_high\n";
// A sample line (without its line end) read back; false when it does not read.
bool ParseJournalSampleLine(QByteArrayView line, device::TimedReading* sample);
// A reading with its numbers as its sample line keeps them: the time to
// the millisecond, the offset from UTC in whole minutes, value, count rate
// and band limits to the decimals of their units; with the moment in UTC
// the line names. The line of a reading that is no overrange reads back
// with exactly these numbers, so the station's latest reading, shown this
// way, agrees with the history to the digit.
device::TimedReading AsJournalled(const device::Reading& reading);

// Reads what the journal recorded, by time, without changing anything in the
// folder (a recording program may be appending meanwhile).
class JournalReader {
public:
    explicit JournalReader(QString folder) : folder_(std::move(folder)) {}

    // Hands each sample with fromUtcMs <= utcMs < toUtcMs to `visit`, in time
    // order; `visit` returns false to stop. Returns how many lines in the
    // files read were corrupt. A day's samples parts are read together, and
    // only those the journal began (journal_folder.h).
    int Visit(qint64 fromUtcMs, qint64 toUtcMs,
              const std::function<bool(const device::TimedReading&)>& visit) const;

    // The moment of the latest sample of the latest day that has any, read
    // from the ends of that day's files (the lines of each ascend in time);
    // none when the journal holds none.
    std::optional<qint64> LastUtcMs() const;

    const QString& Folder() const { return folder_; }

private:
    QString folder_;
};

} // namespace korvinet::recording
