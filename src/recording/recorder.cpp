#include "recording/recorder.h"

#include "measure/averaging_time.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "recording/history_store.h"
#include "recording/journal_folder.h"
#include "recording/journal_reader.h"
#include "recording/journal_sink.h"
#include "recording/memory_backfill.h"

namespace korvinet::recording {

using measure::CounterEvent;
using measure::ReadingSink;

Recorder::Recorder(device::D2xxDriver& driver, const platform::Clock& clock,
                   const platform::Regional& regional, Options options,
                   device::CounterFinder* otherKinds)
    : counter_(driver, clock, otherKinds), session_(counter_, clock), clock_(clock),
      regional_(regional), options_(std::move(options)) {}

QString Recorder::DefaultJournalFolder() {
    return DefaultRecordingsFolder();
}

Recorder::~Recorder() {
    // Whoever waited for a Close() under way is going too: not called back.
    done_ = nullptr;
    if (!closed_)
        Close();
}

void Recorder::SetKeepDays(int days) {
    options_.keepDays = days;
    if (journal_)
        journal_->SetKeepDays(days);
    if (memoryJournal_)
        memoryJournal_->SetKeepDays(days);
}

RestoredSession Recorder::StartRecording(bool restore, const QString& displayUnitName,
                                         double spanHours) {
    RestoredSession restored;
    TryToRecord(restore, displayUnitName, spanHours, &restored);
    return restored;
}

void Recorder::TryToRecord(bool restore, const QString& displayUnitName, double spanHours,
                           RestoredSession* restored) {
    if (options_.journalFolder.isEmpty() || journal_ || closing_)
        return;
    // While another program records into the folder, this one measures
    // without a journal rather than mixing the two; it takes over once the
    // folder is free.
    auto lock = std::make_unique<JournalFolderLock>(options_.journalFolder);
    QString why;
    if (!lock->TryLock(&why)) {
        Report(QStringLiteral("Not recording: ") + why);
        return;
    }
    lock_ = std::move(lock);
    journal_ = std::make_unique<RecordingJournal>(options_.journalFolder, regional_);
    journal_->SetKeepDays(options_.keepDays);
    memoryJournal_ = std::make_unique<RecordingJournal>(options_.journalFolder, regional_, true);
    memoryJournal_->SetKeepDays(options_.keepDays);
    const double now = clock_.Now();
    double sessionStart = now;
    if (restore && restored) {
        *restored =
            RestoreLastSession(options_.journalFolder, displayUnitName, spanHours, now, regional_);
        // A restored session goes on: should this one end uncleanly as well,
        // the next start shows its readings again together with the new ones.
        if (!restored->points.empty())
            sessionStart = restored->sessionStart;
    }
    const JournalStatus started = journal_->Start(now, sessionStart);
    // The history is brought up to the journal before the first reading.
    history_ = std::make_unique<HistoryStore>(options_.journalFolder);
    const platform::Clock::Moment moment = clock_.NowWithOffset();
    QString historyProblem; // kept by the store for whoever asks
    (void)history_->Open(
        platform::QtFromDateTime(moment.local, moment.utcOffsetSeconds).toMSecsSinceEpoch(),
        &historyProblem);
    journalSink_ = std::make_unique<JournalSink>(
        *journal_, [this] { return header_ ? header_() : JournalFileHeader{}; },
        [this](const JournalStatus& status) { Report(status.text); }, history_.get());
    Report(started.ok ? QString() : started.text);
}

void Recorder::Report(const QString& text) {
    if (text == status_)
        return;
    status_ = text;
    if (onStatus_)
        onStatus_(text);
}

std::shared_ptr<const HistoryLive> Recorder::History() const {
    return history_ ? history_->Live() : nullptr;
}

QString Recorder::HistoryProblem() const {
    return history_ ? history_->Problem() : QString();
}

std::optional<JournalStatus> Recorder::MarkGraphCleared() {
    if (!journal_)
        return std::nullopt;
    const JournalStatus status = journal_->MarkGraphCleared(clock_.Now());
    status_ = status.text;
    return status;
}

void Recorder::AddSink(ReadingSink& sink) {
    sinks_.push_back(&sink);
}

void Recorder::AddSink(std::unique_ptr<ReadingSink> sink) {
    sinks_.push_back(sink.get());
    owned_.push_back(std::move(sink));
}

void Recorder::Dispatch(const measure::SessionReading& reading) {
    // The journal first: what is on disk is never behind what was shown or
    // sent.
    if (journalSink_)
        journalSink_->OnReading(reading);
    for (ReadingSink* sink : std::vector<ReadingSink*>(sinks_))
        sink->OnReading(reading);
}

void Recorder::Announce(const CounterEvent& event) {
    for (ReadingSink* sink : std::vector<ReadingSink*>(sinks_))
        sink->OnCounter(event);
}

CounterEvent Recorder::Connected() const {
    CounterEvent event;
    event.kind = CounterEvent::Kind::Connected;
    event.serial = counter_.Info().SerialNumber;
    event.model = counter_.Info().Model;
    event.unitCode = counter_.UnitCode();
    return event;
}

int Recorder::ListCounters() {
    return counter_.ListDevices();
}

Recorder::Connection Recorder::Connect(int listIndex, const CounterSettings& settings) {
    if (!counter_.OpenListed(listIndex))
        return Connection::NotOpened;
    Connection connection = SetUp(settings);
    connectedUtcMs_ = NowUtcMs();
    memoryDue_ = counter_.MemoryClockOffsetMs().has_value();
    Fill fill;
    if (connection == Connection::Ready && journal_ && !ReadMemory(&fill))
        connection = Connection::Closed;
    if (connection == Connection::Ready) {
        session_.CounterConnected();
        Announce(Connected());
        Backfill(fill);
    }
    return connection;
}

qint64 Recorder::NowUtcMs() const {
    const platform::Clock::Moment now = clock_.NowWithOffset();
    return platform::QtFromDateTime(now.local, now.utcOffsetSeconds).toMSecsSinceEpoch();
}

// Asked between the counter's set-up and its first sample, so that the
// journal's gap ends where its live readings begin. Only while recording:
// the gap is the journal's.
bool Recorder::ReadMemory(Fill* fill) {
    const std::optional<std::int64_t> offset = counter_.MemoryClockOffsetMs();
    memoryDue_ = false;
    if (!offset || !journal_)
        return true;
    // Up to where the live count began: its first sample covers the rest.
    const qint64 now = connectedUtcMs_;
    constexpr qint64 kDayMs = 86400000;
    // An empty journal takes what its keeping time would keep.
    const qint64 after =
        JournalReader(options_.journalFolder)
            .LastUtcMs()
            .value_or(options_.keepDays > 0 ? now - options_.keepDays * kDayMs : 0);
    std::vector<device::MemoryRecord> records;
    if (!counter_.ReadMemory(after + *offset, &records))
        return false;
    fill->afterUtcMs = after;
    for (const device::MemoryRecord& record : GapRecords(records, *offset, after, now))
        if (const std::optional<device::Reading> reading = MemoryReading(record, counter_))
            fill->readings.push_back(*reading);
    return true;
}

void Recorder::Backfill(const Fill& fill) {
    if (fill.readings.empty() || !memoryJournal_)
        return;
    // The summaries step back before the journal has the readings: a crash
    // in between leaves them to be made again at the next start.
    if (history_)
        history_->Rewind(AsJournalled(fill.readings.front()).utcMs);
    if (header_)
        memoryJournal_->SetFileHeader(header_());
    CounterEvent event;
    event.kind = CounterEvent::Kind::Backfilled;
    event.serial = counter_.Info().SerialNumber;
    event.model = counter_.Info().Model;
    event.unitCode = counter_.UnitCode();
    event.afterUtcMs = fill.afterUtcMs;
    std::size_t written = 0;
    const JournalStatus status = memoryJournal_->AppendMany(fill.readings, &written);
    // The rest goes as a live reading that cannot be written goes: the
    // journal's next reading closes the gap behind it.
    if (!status.ok)
        Report(status.text);
    if (written > 0) {
        event.readings = static_cast<int>(written);
        event.firstUtcMs = AsJournalled(fill.readings.front()).utcMs;
        event.lastUtcMs = AsJournalled(fill.readings[written - 1]).utcMs;
    }
    if (history_)
        history_->TakeLate(NowUtcMs());
    if (event.readings > 0)
        Announce(event);
}

Recorder::Connection Recorder::SetUp(const CounterSettings& settings) {
    if (!counter_.SetBeep(settings.beep) && !counter_.IsOpen())
        return Connection::Closed;
    counter_.SetUnitCode(settings.unitCode);
    const bool restarted = counter_.ResetCounter();
    SetAveraging(settings.averagingTime);
    return restarted ? Connection::Ready : Connection::NotRestarted;
}

bool Recorder::Disconnect() {
    memoryDue_ = false;
    const bool closed = counter_.Close();
    CounterEvent event;
    event.kind = CounterEvent::Kind::Lost;
    event.serial = counter_.Info().SerialNumber;
    event.reason = QStringLiteral("disconnected");
    Announce(event);
    return closed;
}

bool Recorder::SetBeep(bool on) {
    return counter_.SetBeep(on);
}

void Recorder::SetUnit(std::uint8_t unitCode) {
    counter_.SetUnitCode(unitCode);
}

bool Recorder::RestartRate() {
    return counter_.ResetCounter();
}

void Recorder::SetAveraging(const QString& averagingTime) {
    if (averagingTime.isEmpty())
        return;
    averagingTime_ = averagingTime;
    counter_.SetAveragingWindow(measure::AveragingWindowFor(averagingTime));
}

void Recorder::RestartAccumulation() {
    counter_.RestartAccumulation();
}

measure::MeasurementSession::TickOutcome
Recorder::Tick(const measure::MeasurementSession::AlarmSettings& alarm) {
    if (!journal_)
        TryToRecord(false, QString(), 0, nullptr);
    // A counter connected before recording began (the window connects one
    // before it restores the last session) has its memory read now, before
    // its first reading reaches the journal. One that does not answer is
    // closed, and this sample is lost with it.
    Fill fill;
    if (memoryDue_ && journal_ && counter_.IsOpen() && ReadMemory(&fill))
        Backfill(fill);
    const measure::MeasurementSession::TickOutcome out = session_.Tick(alarm);
    Dispatch(out.reading);
    if (!counter_.IsOpen()) {
        CounterEvent event;
        event.kind = CounterEvent::Kind::Lost;
        event.serial = counter_.Info().SerialNumber;
        event.unitCode = out.reading.unitCode;
        event.reason = out.reading.error;
        Announce(event);
    }
    return out;
}

void Recorder::Close(const std::function<void()>& done) {
    if (closing_) {
        // Asked again (a second signal): no more waiting for the sinks.
        Finish();
        return;
    }
    closing_ = true;
    done_ = done;
    if (counter_.IsOpen())
        counter_.Close();
    if (journal_) {
        const JournalStatus closed = journal_->Close();
        if (!closed.ok)
            Report(closed.text);
    }
    if (memoryJournal_)
        (void)memoryJournal_->Close();
    if (history_)
        history_->Close();
    // Every sink stops at once; the last one to finish ends the run. The
    // count starts one high so that sinks finishing within Stop() cannot end
    // it before all have been asked.
    auto pending = std::make_shared<std::size_t>(sinks_.size() + 1);
    const auto oneDone = [this, pending] {
        if (--*pending == 0)
            Finish();
    };
    for (ReadingSink* sink : std::vector<ReadingSink*>(sinks_))
        sink->Stop(oneDone);
    oneDone();
}

void Recorder::Finish() {
    if (closed_)
        return;
    closed_ = true;
    if (lock_)
        lock_->Unlock();
    if (done_)
        done_();
}

} // namespace korvinet::recording
