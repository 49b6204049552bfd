#include "recording/recorder.h"

#include "measure/averaging_time.h"
#include "platform/clock.h"
#include "recording/journal_folder.h"
#include "recording/journal_sink.h"

#include <algorithm>

namespace korvinet {

Recorder::Recorder(D2xxDriver& driver, const Clock& clock, const Regional& regional,
                   Options options)
    : counter_(driver, clock), session_(counter_, clock), clock_(clock), regional_(regional),
      options_(std::move(options)) {
    sampleTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&sampleTimer_, &QTimer::timeout, [this] { SampleUnattended(); });
    QObject::connect(&searchTimer_, &QTimer::timeout, [this] { Search(); });
}

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
    journalSink_ = std::make_unique<JournalSink>(
        *journal_, [this] { return header_ ? header_() : JournalFileHeader{}; },
        [this](const JournalStatus& status) { Report(status.text); });
    Report(started.ok ? QString() : started.text);
}

void Recorder::Report(const QString& text) {
    if (text == status_)
        return;
    status_ = text;
    if (onStatus_)
        onStatus_(text);
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

void Recorder::Dispatch(const SessionReading& reading) {
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

bool Recorder::Connect(std::uint32_t deviceIndex) {
    if (!counter_.Open(deviceIndex))
        return false;
    session_.CounterConnected();
    Announce(Connected());
    return true;
}

bool Recorder::Disconnect() {
    const bool closed = counter_.Close();
    CounterEvent event;
    event.kind = CounterEvent::Kind::Lost;
    event.serial = counter_.Info().SerialNumber;
    event.reason = QStringLiteral("disconnected");
    Announce(event);
    return closed;
}

MeasurementSession::TickOutcome Recorder::Tick(const MeasurementSession::AlarmSettings& alarm) {
    if (!journal_)
        TryToRecord(false, QString(), 0, nullptr);
    const MeasurementSession::TickOutcome out = session_.Tick(alarm);
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

void Recorder::RunUnattended(Unattended plan) {
    unattended_ = std::make_unique<Unattended>(std::move(plan));
    sampleTimer_.setInterval(unattended_->sampleMs);
    searchTimer_.setInterval(unattended_->searchMs);
    Search();
}

void Recorder::Search() {
    if (closing_ || !unattended_)
        return;
    Unattended& plan = *unattended_;
    const int found = counter_.ListDevices();
    int chosen = -1;
    const QString wanted = !serial_.isEmpty() ? serial_ : plan.wanted;
    if (!wanted.isEmpty()) {
        for (int i = 0; i < found; ++i)
            if (counter_.DeviceIdentities().at(i).SerialNumber == wanted)
                chosen = i;
    } else if (found == 1) {
        chosen = 0;
    } else if (found > 1) {
        QStringList serials;
        for (int i = 0; i < found; ++i)
            serials << counter_.DeviceIdentities().at(i).SerialNumber;
        searchTimer_.stop();
        if (plan.ambiguous)
            plan.ambiguous(serials);
        return;
    }

    if (chosen >= 0 && SetUp(chosen)) {
        searchTimer_.stop();
        waitingLogged_ = false;
        sampleTimer_.start();
        return;
    }
    if (closing_)
        return;
    if (!waitingLogged_ && plan.log) {
        const QString what = wanted.isEmpty()
                                 ? QStringLiteral("no counter is attached")
                                 : QStringLiteral("counter %1 is not attached").arg(wanted);
        plan.log(
            QStringLiteral("%1; looking again every %2 s").arg(what).arg(plan.searchMs / 1000.0));
    }
    waitingLogged_ = true;
    if (!searchTimer_.isActive())
        searchTimer_.start();
}

bool Recorder::SetUp(int listIndex) {
    Unattended& plan = *unattended_;
    const auto log = [&plan](const QString& line) {
        if (plan.log)
            plan.log(line);
    };
    bool isNumber = false;
    const uint index = counter_.DeviceIndices().value(listIndex).toUInt(&isNumber);
    if (!isNumber || !counter_.Open(index)) {
        log(QStringLiteral("cannot open the counter: ") + counter_.LastError());
        return false;
    }
    // As the window sets up a counter it connects to.
    counter_.SetBeep(plan.setup.beep);
    counter_.SetUnitCode(plan.setup.unitCode);
    if (counter_.IsOpen() && !counter_.ResetCounter()) {
        log(QStringLiteral("cannot reset the counter: ") + counter_.LastError());
        counter_.Close();
        return false;
    }
    counter_.SetAveragingWindow(AveragingWindowFor(plan.setup.averagingTime));
    if (!counter_.IsOpen()) {
        log(QStringLiteral("the counter closed: ") + counter_.LastError());
        return false;
    }
    session_.CounterConnected();
    const TCounter::_Info& info = counter_.Info();
    const bool first = serial_.isEmpty();
    serial_ = info.SerialNumber;
    log(QStringLiteral("%1 counter %2 (%3), %4, averaging %5")
            .arg(first ? QStringLiteral("logging") : QStringLiteral("back:"), serial_, info.Model,
                 counter_.UnitName(), plan.setup.averagingTime));
    Announce(Connected());
    return !closing_;
}

void Recorder::SampleUnattended() {
    if (closing_ || !unattended_)
        return;
    const MeasurementSession::TickOutcome out =
        Tick(unattended_->alarm ? unattended_->alarm() : MeasurementSession::AlarmSettings{});
    if (out.reading.status == SessionReading::Status::Failed) {
        LostUnattended(out.reading.error);
        return;
    }
    if (unattended_->ticked)
        unattended_->ticked(out);
    // The session closed the counter: an overrange sample cannot be trusted.
    if (!closing_ && !counter_.IsOpen())
        LostUnattended(out.reading.error);
}

void Recorder::LostUnattended(const QString& why) {
    sampleTimer_.stop();
    if (unattended_->log)
        unattended_->log(
            QStringLiteral("counter %1: %2; readings pause until it is back, looking every %3 s")
                .arg(serial_, why.isEmpty() ? QStringLiteral("closed") : why)
                .arg(unattended_->searchMs / 1000.0));
    waitingLogged_ = true;
    searchTimer_.start();
}

void Recorder::Close(const std::function<void()>& done) {
    if (closing_) {
        // Asked again (a second signal): no more waiting for the sinks.
        Finish();
        return;
    }
    closing_ = true;
    done_ = done;
    sampleTimer_.stop();
    searchTimer_.stop();
    if (counter_.IsOpen())
        counter_.Close();
    if (journal_) {
        const JournalStatus closed = journal_->Close();
        if (!closed.ok)
            Report(closed.text);
    }
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

} // namespace korvinet
