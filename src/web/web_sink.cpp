#include "web/web_sink.h"

#include "platform/clock.h"
#include "platform/datetime.h"
#include "recording/history_store.h"
#include "recording/journal_reader.h"
#include "web/station_routes.h"

#include <QDateTime>

namespace korvinet::web {

WebSink::WebSink(QString journalFolder, std::shared_ptr<const recording::HistoryLive> history,
                 const platform::Clock& clock, const platform::Regional& regional, Facts facts)
    : clock_(clock), facts_(std::move(facts)), history_(history), startedAt_(clock.Now()),
      routes_(std::make_unique<StationRoutes>(*this, std::move(journalFolder), std::move(history),
                                              clock, regional)) {
    running_.start();
    server_ = std::make_unique<HttpServer>(
        [this](const HttpRequest& request) { return routes_->Answer(request); });
}

WebSink::~WebSink() = default;

bool WebSink::Listen(const HttpAddress& address, QString* error) {
    return server_->Listen(address, error);
}

int WebSink::Port() const {
    return server_ ? server_->Port() : 0;
}

void WebSink::OnReading(const measure::SessionReading& s) {
    if (s.status == measure::SessionReading::Status::Failed)
        return;
    // As the journal keeps it (values to the unit's decimals, the moment in
    // UTC), so the latest reading and the history agree to the digit.
    if (s.status == measure::SessionReading::Status::Ok) {
        heard_.latest = recording::AsJournalled(s);
    } else {
        heard_.latest = device::TimedReading{s, device::MomentOf(s).toMSecsSinceEpoch()};
        heard_.latest->reading.overrange = s.status == measure::SessionReading::Status::Overrange;
    }
    ++heard_.readingsTaken;
    heard_.countsTotal += s.counts;
    heard_.counter = s.countsStopped ? CounterState::CountsStopped : CounterState::Connected;
    heard_.health = measure::HealthText(s);
    heard_.healthStatistic = s.healthStatistic;
}

void WebSink::OnCounter(const measure::CounterEvent& event) {
    if (event.kind == measure::CounterEvent::Kind::Backfilled)
        return; // the history has them; the status is the live counter's
    if (event.kind == measure::CounterEvent::Kind::Lost) {
        heard_.counter = CounterState::Looking;
        return;
    }
    heard_.counter = CounterState::Connected;
    heard_.serial = event.serial;
    heard_.model = event.model;
    heard_.unitCode = event.unitCode;
}

void WebSink::Stop(const std::function<void()>& done) {
    server_.reset();
    if (done)
        done();
}

StationStatus WebSink::Status() const {
    StationStatus s = heard_;
    if (facts_)
        facts_(s);
    if (!heard_.serial.isEmpty())
        s.unitCode = heard_.unitCode; // the counter's, once there is one
    s.startUtcSeconds = platform::QtFromDateTime(startedAt_).toMSecsSinceEpoch() / 1000.0;
    s.uptimeSeconds = running_.elapsed() / 1000.0;
    s.utcOffsetSeconds = clock_.NowWithOffset().utcOffsetSeconds;
    if (history_)
        s.firstReading = history_->First();
    return s;
}

} // namespace korvinet::web
