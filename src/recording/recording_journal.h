#pragma once

#include "device/reading.h"
#include "files/data_file.h"
#include "platform/durable_file.h"
#include "recording/journal_folder.h"

#include <QDate>
#include <QString>
#include <memory>
#include <span>
#include <vector>

namespace korvinet::platform {
class Regional;
} // namespace korvinet::platform

namespace korvinet::recording {

// What the header block of a new journal file tells besides the unit.
struct JournalFileHeader {
    QString device;        // the counter's model text
    QString averagingTime; // the averaging entry as the list shows it ("45 seconds")
    QString title;
    QString notes;
    QString bottomAxisTitle = QStringLiteral("Time");
};

// The outcome of a journal operation, for one quiet status line: `changed`
// says that the text differs from the previous operation's, so the caller
// shows (or clears) it once rather than at every reading.
struct JournalStatus {
    bool ok = true;
    bool changed = false;
    QString text; // why recording failed; empty when it works
};

// The recording journal: every reading appended, as it is taken, to a data
// file of its day in the journal folder, so a crash or a power cut loses at
// most the reading being written. The files are ordinary data files (header
// block, column titles, one "date-time, reading" line each) in UTF-8, which
// "Open Data File" and other tools read as they are. Alarm points are listed
// beside each file ("<day>.alarms"), every reading with all it carries in
// the day's "<day>.samples" (see journal_reader.h), the session state in
// "journal.state". A file the journal did not begin (as its front shows) is
// never written to, cut or removed: the journal goes on in the next part.
//
// Nothing here throws or stops the caller: a failure is reported in the
// status, and the next operation tries again from a freshly opened file.
class RecordingJournal {
public:
    static constexpr int kDefaultKeepDays = 30;

    // With `memory`, it writes the parts of readings from a counter's memory
    // (journal_folder.h) and leaves the session's state alone: Start(),
    // MarkGraphCleared() and Close() are not for it. Each of its files
    // keeps ascending times: a reading not after the last one of the day's
    // last part starts the next.
    RecordingJournal(QString folder, const platform::Regional& regional, bool memory = false);
    RecordingJournal(const RecordingJournal&) = delete;
    RecordingJournal& operator=(const RecordingJournal&) = delete;
    // Closes the file without marking a clean end.
    ~RecordingJournal() = default;

    const QString& Folder() const { return folder_; }
    // Days a journal file is kept after its day; 0 keeps every file.
    void SetKeepDays(int days) { keepDays_ = days; }
    // Applies to the files started from now on.
    void SetFileHeader(const JournalFileHeader& header) { header_ = header; }

    // Marks this session as running until Close(), and removes the files
    // past their keeping time. Readings from `sessionStart` on belong to this
    // session; after a restore that is the restored session's start, so that
    // another crash restores those readings again.
    [[nodiscard]] JournalStatus Start(double now, double sessionStart);
    // Appends the reading to the file of its day and unit, and to the day's
    // samples: one write each, synced before returning. A new day or unit
    // starts a new file.
    [[nodiscard]] JournalStatus Append(const device::Reading& reading);
    // The same for many readings in time order (a counter's memory), each
    // file written and synced once a day and unit. *written says how many
    // of them, from the first, were kept.
    [[nodiscard]] JournalStatus AppendMany(const std::vector<device::Reading>& readings,
                                           std::size_t* written);
    // The graph was cleared: a restore gives back only the readings from
    // `now` on.
    JournalStatus MarkGraphCleared(double now);
    // Marks a clean end: the next start restores nothing.
    JournalStatus Close();

private:
    bool OpenFileFor(QDate day, const QString& unitName, double time);
    bool AppendAlarm(const device::Reading& reading);
    QByteArray Line(const device::Reading& reading);
    JournalStatus AppendRun(std::span<const device::Reading> readings);
    // False with the reason in samples_.Error().
    bool AppendSamples(QDate day, std::span<const device::Reading> readings, qint64* sizeBefore);
    bool OpenSamplesFor(QDate day);
    void TakeBackUnrecordedSample(QDate day);
    bool WriteState(bool running);
    JournalStatus Report(bool ok);
    bool Failed(const QString& path, const QString& why);

    QString folder_;
    const platform::Regional& regional_;
    bool memory_ = false;
    int keepDays_ = kDefaultKeepDays;
    JournalFileHeader header_;
    double sessionStart_ = 0.0;
    QDate lastDay_; // day of the latest reading or start, for expiring files
    platform::LineFile file_;
    platform::LineFile alarms_;  // the alarm list of the file last given an alarm
    platform::LineFile samples_; // the samples of samplesDay_
    QDate samplesDay_;
    std::unique_ptr<files::DataLineWriter> lines_; // for the unit of lineUnit_
    int lineUnit_ = -1;
    JournalFile current_;
    QString currentUnit_;
    QString currentColumns_; // its column titles line, which its alarm list begins with
    bool needsHeader_ = false;
    bool stateWritten_ = false;
    QString error_;
    bool lastOk_ = true;
    QString lastText_;
};

} // namespace korvinet::recording
