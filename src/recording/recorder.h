#pragma once

#include "device/counter.h"
#include "measure/measurement_session.h"
#include "measure/reading_sink.h"
#include "recording/journal_restore.h"
#include "recording/recording_journal.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace korvinet::device {
class CounterFinder;
class D2xxDriver;
} // namespace korvinet::device

namespace korvinet::platform {
class Clock;
class Regional;
} // namespace korvinet::platform

namespace korvinet::recording {

class HistoryLive;
class HistoryStore;
class JournalFolderLock;
class JournalSink;

// The measuring engine every front end drives: it owns the counter
// connection, the measurement session, the journal folder's lock, the
// recording journal and the sinks the readings go to. A front end says what
// it wants (connect a counter of the list with these settings, change one of
// them, disconnect) and reads the counter through a const view only. The
// window ticks it from its own timer and connects when the user asks; the
// station has it driven unattended (unattended.h). Either way each reading is
// journalled first and then handed to every sink, so a sink written once
// (the MQTT publisher, the web page, the map uploads) serves both programs
// alike.
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

    // otherKinds, when given, finds the counters of the other kinds (on
    // serial ports); it outlives the recorder.
    Recorder(device::D2xxDriver& driver, const platform::Clock& clock,
             const platform::Regional& regional, Options options,
             device::CounterFinder* otherKinds = nullptr);
    // Ends as Close() does when that has not been done, without waiting for
    // the sinks.
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Where a journal is kept unless told otherwise: "Korvinet/recordings"
    // in the user's data folder; empty when the system names none.
    static QString DefaultJournalFolder();

    // What a front end asks of a counter it connects.
    struct CounterSettings {
        std::uint8_t unitCode = 2; // the display unit (kDisplayUnits)
        // An entry of the averaging list; empty names none, and the counter
        // keeps the averaging it has.
        QString averagingTime = QStringLiteral("45 seconds");
        bool beep = true; // the speaker clicks at every count, where there is one
    };
    // How far connecting, or setting up again, got. Unless Ready the counter
    // is closed (or was never opened) and Counter().LastError() says why.
    enum class Connection {
        Ready,
        NotOpened,    // it could not be opened
        Closed,       // a driver failure closed it while it was set up
        NotRestarted, // restarting its count failed, which closed it
    };

    // The counter as front ends see it: its identity, the list of attached
    // counters, its unit and what it has counted.
    const device::TCounter& Counter() const { return counter_; }

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
    // The history beside the journal (summaries and recent readings), for
    // readers on any thread; null until recording has started.
    std::shared_ptr<const HistoryLive> History() const;
    // Why the history's summaries are not kept; empty while they are.
    QString HistoryProblem() const;
    // The graph was cleared: a restore after a crash shows what follows.
    // Returns the journal's status, or nothing when not recording.
    std::optional<JournalStatus> MarkGraphCleared();

    // Sinks hear everything in the order added. One added by reference must
    // outlive the recorder's Close().
    void AddSink(measure::ReadingSink& sink);
    void AddSink(std::unique_ptr<measure::ReadingSink> sink);

    // Looks for attached counters; Counter() lists them. Returns how many.
    int ListCounters();
    // Opens the counter at a place of that list and sets it up; only one
    // that is Ready is told to the session and the sinks. A counter with a
    // memory of its own (counter_device.h) is asked, while recording, for
    // what it kept after the journal's last reading: that goes into the
    // journal's memory parts and the history, and the sinks hear of it
    // (CounterEvent::Kind::Backfilled) after they hear of the counter; when
    // recording has not started yet, at the first tick that records. One
    // that does not answer is closed (Closed).
    [[nodiscard]] Connection Connect(int listIndex, const CounterSettings& settings);
    // Sets the open counter up again as Connect does: the speaker (one
    // without a speaker just stays silent), the unit, a fresh count and the
    // averaging, which is applied even when the restart fails.
    [[nodiscard]] Connection SetUp(const CounterSettings& settings);
    // Closes the counter (the user's choice, not a fault).
    [[nodiscard]] bool Disconnect();

    // Each setting on its own, as the user changes it.
    // The speaker on or off. False (the reason in Counter().LastError()) when
    // the counter has none, or a driver failure closed it.
    [[nodiscard]] bool SetBeep(bool on);
    // Readings are given in this unit from the next on, connected or not.
    void SetUnit(std::uint8_t unitCode);
    // The count rate starts afresh from the next sample. False when the
    // counter is not open, or the restart failed and closed it.
    [[nodiscard]] bool RestartRate();
    // How many samples the count rate covers, as an entry of the averaging
    // list names it; empty changes nothing.
    void SetAveraging(const QString& averagingTime);
    // The averaging entry last set: the one the readings are averaged over.
    const QString& AveragingTime() const { return averagingTime_; }
    // The accumulated total starts again from 0 now.
    void RestartAccumulation();

    // One sample: recording is started if it could not be before, the
    // reading is journalled and handed to the sinks. A failed sample leaves
    // the counter closed, and the sinks hear that it was lost.
    measure::MeasurementSession::TickOutcome
    Tick(const measure::MeasurementSession::AlarmSettings& alarm);

    // Ends the run: the counter closed, the journal marked as ended cleanly
    // (the next start restores nothing), every sink stopped and the folder
    // released; then `done`. A sink may take its time (a broker told
    // "offline"); a second Close() finishes at once.
    void Close(const std::function<void()>& done = {});

private:
    void TryToRecord(bool restore, const QString& displayUnitName, double spanHours,
                     RestoredSession* restored);
    void Report(const QString& text);
    void Dispatch(const measure::SessionReading& reading);
    void Announce(const measure::CounterEvent& event);
    measure::CounterEvent Connected() const;
    void Finish();
    qint64 NowUtcMs() const;
    struct Fill {
        qint64 afterUtcMs = 0;
        std::vector<device::Reading> readings;
    };
    bool ReadMemory(Fill* fill);
    void Backfill(const Fill& fill);

    device::TCounter counter_;
    measure::MeasurementSession session_;
    const platform::Clock& clock_;
    const platform::Regional& regional_;
    Options options_;
    HeaderSource header_;
    StatusHandler onStatus_;
    QString status_;
    std::unique_ptr<JournalFolderLock> lock_;
    std::unique_ptr<RecordingJournal> journal_;
    std::unique_ptr<RecordingJournal> memoryJournal_; // the parts of counters' memories
    qint64 connectedUtcMs_ = 0;                       // the open counter's count started then
    bool memoryDue_ = false;                          // its memory is still to be read
    std::unique_ptr<HistoryStore> history_;
    std::unique_ptr<JournalSink> journalSink_;
    std::vector<measure::ReadingSink*> sinks_;
    std::vector<std::unique_ptr<measure::ReadingSink>> owned_;
    QString averagingTime_; // the averaging entry in force

    bool closing_ = false;
    bool closed_ = false;
    std::function<void()> done_;
};

} // namespace korvinet::recording
