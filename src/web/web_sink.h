#pragma once

#include "measure/reading_sink.h"
#include "web/http_server.h"
#include "web/station_status.h"

#include <QElapsedTimer>
#include <functional>
#include <memory>

namespace korvinet::platform {
class Clock;
class Regional;
} // namespace korvinet::platform

namespace korvinet::recording {
class HistoryLive;
} // namespace korvinet::recording

namespace korvinet::web {

class StationRoutes;

// The station's web site as a sink of its recorder: it keeps what the
// readings and the counter's comings and goings say (the latest reading as
// the journal keeps it, how many were taken, the counter's state) and serves
// the page, the status, the journal's history and the metrics from that.
// What the readings do not tell (the version, the settings, the MQTT link)
// the program adds to each status through `facts`.
class WebSink final : public measure::ReadingSink, public StatusSource {
public:
    using Facts = std::function<void(StationStatus& status)>;

    // The journal folder it reads the history from, with the recent readings
    // the recorder keeps there; clock and regional outlive it.
    WebSink(QString journalFolder, std::shared_ptr<const recording::HistoryLive> history,
            const platform::Clock& clock, const platform::Regional& regional, Facts facts);
    ~WebSink() override;

    // False with a one-line reason when the address cannot be served.
    [[nodiscard]] bool Listen(const HttpAddress& address, QString* error);
    int Port() const;

    void OnReading(const measure::SessionReading& reading) override;
    void OnCounter(const measure::CounterEvent& event) override;
    // Stops serving (waiting for a history read under way).
    void Stop(const std::function<void()>& done) override;

    StationStatus Status() const override;

private:
    const platform::Clock& clock_;
    Facts facts_;
    std::shared_ptr<const recording::HistoryLive> history_;
    StationStatus heard_; // what the readings and the counter said
    double startedAt_ = 0.0;
    QElapsedTimer running_;
    std::unique_ptr<StationRoutes> routes_;
    std::unique_ptr<HttpServer> server_;
};

} // namespace korvinet::web
