#pragma once

#include "device/counter.h"
#include "measure/measurement_session.h"
#include "measure/reading_sink.h"
#include "recording/journal_restore.h"
#include "recording/recording_journal.h"

#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

namespace korvinet {

class Clock;
class D2xxDriver;
class JournalFolderLock;
class JournalSink;
class Regional;

// How an unattended recorder sets up a counter it has found.
struct CounterSetup {
    bool beep = true;
    std::uint8_t unitCode = 2;
    QString averagingTime = QStringLiteral("45 seconds"); // an entry of the averaging list
};

// The measuring engine every front end drives: it owns the counter
// connection, the measurement session, the journal folder's lock, the
// recording journal and the sinks the readings go to. The window ticks it
// from its own timer and connects when the user asks; the station lets it
// run unattended, looking for its counter again after every fault. Either
// way each reading is journalled first and then handed to every sink, so a
// sink written once (the MQTT publisher, the web page, the map uploads)
// serves both programs alike.
//
// Recording starts whenever it can: a folder that cannot be locked (another
// program records there, the disk is full, the folder is read-only) is tried
// again at every tick, and the status says why it is not recording.
class Recorder {
public:
    struct Options {
        QString journalFolder; // empty: measure without recording
        int keepDays = RecordingJournal::kDefaultKeepDays;
    };
    // What the header block of a journal file started now says; asked before
    // every reading, since the journal alone knows when a file starts.
    using HeaderSource = std::function<JournalFileHeader()>;
    // The recording status text when it has changed: why recording fails, or
    // empty once it works again.
    using StatusHandler = std::function<void(const QString& text)>;

    Recorder(D2xxDriver& driver, const Clock& clock, const Regional& regional, Options options);
    // Ends as Close() does when that has not been done, without waiting for
    // the sinks.
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Where a journal is kept unless told otherwise: "Korvinet/recordings"
    // in the user's data folder; empty when the system names none.
    static QString DefaultJournalFolder();

    TCounter& Counter() { return counter_; }
    const TCounter& Counter() const { return counter_; }
    MeasurementSession& Session() { return session_; }

    void SetFileHeader(HeaderSource header) { header_ = std::move(header); }
    void SetStatusHandler(StatusHandler handler) { onStatus_ = std::move(handler); }
    void SetKeepDays(int days);

    // Takes the journal folder and starts this session's journal. With
    // `restore`, a last session that did not end cleanly is given back (the
    // readings within spanHours in the display unit) and goes on in this
    // one. Recording that cannot start now starts at a later tick.
    RestoredSession StartRecording(bool restore = false, const QString& displayUnitName = {},
                                   double spanHours = 0);
    bool IsRecording() const { return journal_ != nullptr; }
    // The status text last reported; empty while recording works.
    const QString& RecordingStatus() const { return status_; }
    // The graph was cleared: a restore after a crash shows what follows.
    // Returns the journal's status, or nothing when not recording.
    std::optional<JournalStatus> MarkGraphCleared();

    // Sinks hear everything in the order added. One added by reference must
    // outlive the recorder's Close().
    void AddSink(ReadingSink& sink);
    void AddSink(std::unique_ptr<ReadingSink> sink);

    // Opens the counter at a place of the driver's list and tells the
    // session and the sinks. False (the reason in Counter().LastError())
    // when it cannot be opened.
    [[nodiscard]] bool Connect(std::uint32_t deviceIndex);
    // Closes the counter (the user's choice, not a fault).
    [[nodiscard]] bool Disconnect();

    // One sample: recording is started if it could not be before, the
    // reading is journalled and handed to the sinks. A failed sample leaves
    // the counter closed, and the sinks hear that it was lost.
    MeasurementSession::TickOutcome Tick(const MeasurementSession::AlarmSettings& alarm);

    // Unattended: the recorder samples by itself every sampleMs and, while no
    // counter is there (none at the start, a fault, unplugged), looks for it
    // every searchMs. What happens is told through the callbacks.
    struct Unattended {
        QString wanted; // a counter's serial number; empty: the only one attached
        CounterSetup setup;
        int sampleMs = 3000;
        int searchMs = 5000;
        std::function<MeasurementSession::AlarmSettings()> alarm;
        // Every sample taken (not the failed ones).
        std::function<void(const MeasurementSession::TickOutcome&)> ticked;
        // A line for the operator: found, lost, looking again.
        std::function<void(const QString& line)> log;
        // Several counters and none chosen: the serials attached.
        std::function<void(const QStringList& serials)> ambiguous;
    };
    void RunUnattended(Unattended plan);

    // Ends the run: no more samples, the counter closed, the journal marked
    // as ended cleanly (the next start restores nothing), every sink stopped
    // and the folder released; then `done`. A sink may take its time (a
    // broker told "offline"); a second Close() finishes at once.
    void Close(const std::function<void()>& done = {});

private:
    void TryToRecord(bool restore, const QString& displayUnitName, double spanHours,
                     RestoredSession* restored);
    void Report(const QString& text);
    void Dispatch(const SessionReading& reading);
    void Announce(const CounterEvent& event);
    CounterEvent Connected() const;
    void Search();
    bool SetUp(int listIndex);
    void SampleUnattended();
    void LostUnattended(const QString& why);
    void Finish();

    TCounter counter_;
    MeasurementSession session_;
    const Clock& clock_;
    const Regional& regional_;
    Options options_;
    HeaderSource header_;
    StatusHandler onStatus_;
    QString status_;
    std::unique_ptr<JournalFolderLock> lock_;
    std::unique_ptr<RecordingJournal> journal_;
    std::unique_ptr<JournalSink> journalSink_;
    std::vector<ReadingSink*> sinks_;
    std::vector<std::unique_ptr<ReadingSink>> owned_;

    std::unique_ptr<Unattended> unattended_;
    QTimer sampleTimer_;
    QTimer searchTimer_;
    QString serial_; // the counter found last, looked for again after a fault
    bool waitingLogged_ = false;

    bool closing_ = false;
    bool closed_ = false;
    std::function<void()> done_;
};

} // namespace korvinet
