#pragma once

#include <QDate>
#include <QLockFile>
#include <QString>
#include <optional>
#include <vector>

namespace korvinet::recording {

// The folder the recording journal lives in: "Korvinet/recordings" in the
// user's data folder ($XDG_DATA_HOME, by default ~/.local/share; the
// application data folder on Windows). Empty when the system names none.
QString DefaultRecordingsFolder();

// One journal file: the readings of one local calendar day in one unit. The
// first file of a day is "2026-12-09.csv"; a unit change starts the next part,
// "2026-12-09_02.csv", and so on.
//
// Readings a counter kept in its own memory while nobody read it, written
// when it is connected again, have parts of their own, numbered apart:
// "2026-12-09.memory.csv", "2026-12-09_02.memory.csv". They fill a gap of the
// day's other files, which are never rewritten for them.
struct JournalFile {
    QDate day;
    int part = 1;
    bool memory = false; // from a counter's memory

    QString Name() const;
    // The file beside it that lists its alarm points: "2026-12-09_02.alarms".
    QString AlarmsName() const;
    bool operator<(const JournalFile& other) const {
        return day != other.day ? day < other.day : part < other.part;
    }
};

// A journal file's name read back; nothing for any other name.
std::optional<JournalFile> ParseJournalFileName(const QString& name);
// The journal files in the folder, oldest first: the ones of readings as
// they were taken, or (memory) those of readings from a counter's memory.
std::vector<JournalFile> ListJournalFiles(const QString& folder, bool memory = false);

// The samples of a day (journal_reader.h) are numbered apart from its data
// files: "2026-12-09.samples", and where that file is not the journal's or
// can no longer be written, "2026-12-09_02.samples" and so on. Those of a
// counter's memory are "2026-12-09.memory.samples" and so on.
QString JournalSamplesName(QDate day, int part, bool memory = false);
std::optional<JournalFile> ParseJournalSamplesName(const QString& name);
std::vector<JournalFile> ListJournalSamples(const QString& folder, bool memory = false);

// The local calendar day a date-time is written under: the date part after
// rounding to the millisecond, as the data file's date-time text rounds.
QDate JournalDay(double dateTime);

// Removes the journal files, their alarm lists and samples of the days more
// than `keepDays` before `today`; 0 or less keeps everything. Only what the
// journal began goes, as its front shows (journal_file.h). Returns how many
// journal files were removed.
int RemoveExpiredJournalFiles(const QString& folder, QDate today, int keepDays);

// Whether the last session ended cleanly, kept in the folder's "journal.state":
// "running <start>" from the start of a session, "clean <start>" once it has
// closed; <start> is the date-time from which its readings count.
// A state file that does not read is taken for a running session whose
// start is not known (0).
struct JournalSessionState {
    bool running = false; // false when there is no state yet
    double start = 0.0;
};
JournalSessionState ReadJournalSessionState(const QString& folder);
bool WriteJournalSessionState(const QString& folder, const JournalSessionState& state,
                              QString* error);

// One program at a time records into a folder: a window and a station (or two
// of either) writing the same day files would mix two counters' readings, and
// one would take the other's running session for an unclean end of its own.
// The lock is "journal.lock" in the folder, released by Unlock() or on
// destruction; a lock left by a process that has died is taken over.
class JournalFolderLock {
public:
    explicit JournalFolderLock(const QString& folder);
    // False, with the reason in *error (naming the holder's process), when
    // another process records here or the folder cannot be locked.
    [[nodiscard]] bool TryLock(QString* error);
    void Unlock() { lock_.unlock(); }

private:
    QString folder_;
    QLockFile lock_;
};

} // namespace korvinet::recording
