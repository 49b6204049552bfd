#include "recording/unattended.h"

#include "platform/datetime.h"

#include <QDateTime>

namespace korvinet::recording {

Unattended::Unattended(Recorder& recorder) : recorder_(recorder) {
    sampleTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&sampleTimer_, &QTimer::timeout, [this] { Sample(); });
    QObject::connect(&searchTimer_, &QTimer::timeout, [this] { Search(); });
}

void Unattended::Run(Plan plan) {
    plan_ = std::move(plan);
    sampleTimer_.setInterval(plan_.sampleMs);
    searchTimer_.setInterval(plan_.searchMs);
    Search();
}

void Unattended::Log(const QString& line) const {
    if (plan_.log)
        plan_.log(line);
}

void Unattended::Search() {
    if (stopped_)
        return;
    const int found = recorder_.ListCounters();
    const QList<device::TCounter::DeviceIdentity>& attached =
        recorder_.Counter().DeviceIdentities();
    int chosen = -1;
    const QString wanted = !serial_.isEmpty() ? serial_ : plan_.wanted;
    if (!wanted.isEmpty()) {
        chosen = recorder_.Counter().FindNamed(wanted);
    } else if (found == 1) {
        chosen = 0;
    } else if (found > 1) {
        QStringList serials;
        for (int i = 0; i < found; ++i)
            serials << attached.at(i).SerialNumber;
        searchTimer_.stop();
        if (plan_.ambiguous)
            plan_.ambiguous(serials);
        return;
    }

    if (chosen >= 0 && Connect(chosen)) {
        searchTimer_.stop();
        waitingLogged_ = false;
        sampleTimer_.start();
        return;
    }
    if (stopped_)
        return;
    if (!waitingLogged_) {
        const QString what = wanted.isEmpty()
                                 ? QStringLiteral("no counter is attached")
                                 : QStringLiteral("counter %1 is not attached").arg(wanted);
        Log(QStringLiteral("%1; looking again every %2 s").arg(what).arg(plan_.searchMs / 1000.0));
    }
    waitingLogged_ = true;
    if (!searchTimer_.isActive())
        searchTimer_.start();
}

bool Unattended::Connect(int listIndex) {
    const Recorder::Connection connection = recorder_.Connect(listIndex, plan_.settings);
    const QString& why = recorder_.Counter().LastError();
    switch (connection) {
    case Recorder::Connection::Ready:
        return !stopped_;
    case Recorder::Connection::NotOpened:
        Log(QStringLiteral("cannot open the counter: ") + why);
        break;
    case Recorder::Connection::NotRestarted:
        Log(QStringLiteral("cannot reset the counter: ") + why);
        break;
    case Recorder::Connection::Closed:
        Log(QStringLiteral("the counter closed: ") + why);
        break;
    }
    return false;
}

void Unattended::OnCounter(const measure::CounterEvent& event) {
    if (event.kind == measure::CounterEvent::Kind::Backfilled && !stopped_) {
        Log(QStringLiteral("counter %1: %2 readings from its memory fill the journal from %3 to "
                           "%4")
                .arg(event.serial)
                .arg(event.readings)
                .arg(platform::IsoLocalTimeText(QDateTime::fromMSecsSinceEpoch(event.firstUtcMs)),
                     platform::IsoLocalTimeText(QDateTime::fromMSecsSinceEpoch(event.lastUtcMs))));
        return;
    }
    if (event.kind != measure::CounterEvent::Kind::Connected || stopped_)
        return;
    const bool first = serial_.isEmpty();
    serial_ = event.serial;
    Log(QStringLiteral("%1 counter %2 (%3), %4, averaging %5")
            .arg(first ? QStringLiteral("logging") : QStringLiteral("back:"), serial_, event.model,
                 recorder_.Counter().UnitName(), recorder_.AveragingTime()));
    const device::TCounter& counter = recorder_.Counter();
    if (counter.CpmOnly())
        Log(QStringLiteral("counter %1 carries no calibration and none was chosen: readings in "
                           "CPM only%2")
                .arg(serial_, plan_.uncalibratedHint));
    else if (counter.CalibrationChosen())
        Log(QStringLiteral("calibration of counter %1: %2 CPM per \u00B5Sv/hr, dead time %3 "
                           "\u00B5s (%4)")
                .arg(serial_)
                .arg(counter.Sensitivity() / 10)
                .arg(counter.DeadTime() * 1e6)
                .arg(counter.CalibrationSource()));
}

void Unattended::Sample() {
    if (stopped_)
        return;
    const measure::MeasurementSession::TickOutcome out =
        recorder_.Tick(plan_.alarm ? plan_.alarm() : measure::MeasurementSession::AlarmSettings{});
    if (out.reading.status == measure::SessionReading::Status::Failed) {
        Lost(out.reading.error);
        return;
    }
    if (plan_.ticked)
        plan_.ticked(out);
    // The session closed the counter: an overrange sample cannot be trusted.
    if (!stopped_ && !recorder_.Counter().IsOpen())
        Lost(out.reading.error);
}

void Unattended::Lost(const QString& why) {
    sampleTimer_.stop();
    Log(QStringLiteral("counter %1: %2; readings pause until it is back, looking every %3 s")
            .arg(serial_, why.isEmpty() ? QStringLiteral("closed") : why)
            .arg(plan_.searchMs / 1000.0));
    waitingLogged_ = true;
    searchTimer_.start();
}

void Unattended::Stop(const std::function<void()>& done) {
    stopped_ = true;
    sampleTimer_.stop();
    searchTimer_.stop();
    if (done)
        done();
}

} // namespace korvinet::recording
