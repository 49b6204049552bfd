#pragma once

#include "maps/curl_http.h"
#include "maps/map_requests.h"
#include "maps/map_upload_config.h"
#include "measure/reading_sink.h"

#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace korvinet::maps {

// Where a destination keeps the end of the last interval the service
// confirmed: "<folder>/<section>.cursor", one line with the UTC milliseconds,
// replaced atomically.
class UploadCursor {
public:
    UploadCursor(const QString& folder, const MapDestination& destination);
    // None when there is no cursor yet (or it does not read).
    std::optional<qint64> Load(QString* problem = nullptr) const;
    [[nodiscard]] bool Save(qint64 utcMs, QString* error) const;
    const QString& Path() const { return path_; }

private:
    QString folder_;
    QString path_;
};

// What an uploader works with, shared by all destinations.
struct UploadContext {
    HttpTransport* http = nullptr;
    ReadSamples readSamples;
    QString cursorFolder; // <journal>/uploads
    // Shortens every interval, minimum, pace and timeout in this ratio (a
    // station sampling faster than every 3 s for a test or a trial).
    double timeScale = 1.0;
    std::function<qint64()> nowUtcMs;
    std::function<void(const QString& line)> log;
    // The connected counter's conversion, asked when a counter is found.
    std::function<measure::RateConversion()> counterConversion;
};

// Feeds one map from the journal. At the end of each interval it sends the
// interval's mean count rate; the service's confirmation moves the cursor.
// Whatever the service has not confirmed (the network or the service away,
// the station stopped) is sent later, oldest first and at the service's pace,
// where the service takes a time; a service that does not (GMCmap) gets the
// latest interval only, and the skipped ones are logged once. A refused
// login, or an upload file the service cannot serve (a box or sensor of
// another account), stops this destination alone without moving its cursor;
// "too soon" and HTTP 429 slow it down.
class MapUploader {
public:
    MapUploader(MapDestination destination, const UploadContext& context);
    MapUploader(const MapUploader&) = delete;
    MapUploader& operator=(const MapUploader&) = delete;

    void Start();
    // The counter's conversion, for the services that take a dose rate.
    void SetConversion(const measure::RateConversion& conversion);
    // Does whatever is due now: sends the next interval or batch, or waits.
    void Poll();
    // The journal has been given readings after afterUtcMs that it lacked
    // when the cursor passed them (a counter's own memory filled a gap).
    // A service that takes a time gets the intervals after the one of
    // afterUtcMs, which was sent already, without what it lacked then; one
    // that takes none gets the latest interval only, as ever.
    void Refill(qint64 afterUtcMs);
    // Sends nothing more. With a request under way, true: `answered` is
    // called once its answer has been taken (the cursor moved where the
    // service confirmed); with none, false and no call.
    bool Finish(std::function<void()> answered);

    // The destination's intervals and delays after the time scale.
    qint64 IntervalMs() const;
    qint64 PaceMs() const;

private:
    void Send(std::vector<IntervalMean> batch);
    void Answered(const HttpResult& result);
    void Judge(const HttpResult& result);
    void Advance(qint64 cursor);
    void ScheduleIn(qint64 ms);
    void Log(const QString& line) const;
    static QString When(qint64 utcMs);

    MapDestination d_;
    UploadContext context_;
    UploadCursor cursorStore_;
    QTimer timer_;
    std::optional<measure::RateConversion> conversion_;
    qint64 cursor_ = 0;
    std::optional<qint64> refill_; // the cursor goes back here once nothing is in flight
    std::vector<IntervalMean> inFlight_;
    std::function<void()> finished_; // Finish() waits for the answer under way
    bool sending_ = false;
    bool stopped_ = false;
    bool failing_ = false;
    bool slowed_ = false;
    bool waitingForDoseLogged_ = false;
    bool cursorFailing_ = false;
    bool noValueLogged_ = false;
    qint64 lastSentAt_ = 0;        // UTC ms of the last request
    qint64 skippedFrom_ = 0;       // start of the intervals a service without time missed
    qint64 paceMs_ = 0;            // between requests while there is a backlog
    qint64 retryMs_ = 0;           // after a failure, growing up to the interval
    std::uint64_t sentCounts_ = 0; // since the start, for GMCmap's average
    std::uint64_t sentMs_ = 0;
};

// Every destination of an upload file, with the one HTTP client they share,
// as a sink of the recorder: what they send they read from the journal, so
// of the readings themselves they need only the counter's conversion.
class MapUploads final : public measure::ReadingSink {
public:
    MapUploads(const UploadConfig& config, UploadContext context);
    ~MapUploads() override;
    MapUploads(const MapUploads&) = delete;
    MapUploads& operator=(const MapUploads&) = delete;

    void Start();
    void SetConversion(const measure::RateConversion& conversion);

    void OnReading(const measure::SessionReading&) override {}
    void OnCounter(const measure::CounterEvent& event) override;
    // Requests under way are given a moment to be answered: a service that
    // took an interval whose confirmation a stop cut off would be sent it
    // again after the next start, and openSenseMap would keep it twice.
    // Those still unanswered then are dropped: what a map has not confirmed
    // goes after the next start.
    void Stop(const std::function<void()>& done) override;

private:
    void Stopped();

    QTimer stopTimer_;
    std::size_t unanswered_ = 0;
    std::function<void()> stopDone_;
    std::function<measure::RateConversion()> counterConversion_;
    std::unique_ptr<CurlHttpClient> http_;
    std::vector<std::unique_ptr<MapUploader>> uploaders_;
};

} // namespace korvinet::maps
