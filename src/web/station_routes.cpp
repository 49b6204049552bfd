#include "web/station_routes.h"

#include "platform/clock.h"
#include "platform/datetime.h"
#include "recording/history_reader.h"
#include "web/metrics.h"
#include "web/readings_query.h"

#include <QDateTime>
#include <QFile>

namespace korvinet::web {

namespace {

qint64 NowUtcMs(const Clock& clock) {
    const Clock::Moment now = clock.NowWithOffset();
    return QtFromDateTime(now.local, now.utcOffsetSeconds).toMSecsSinceEpoch();
}

QString UtcText(qint64 utcMs) {
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC).toString(Qt::ISODateWithMs);
}

QByteArray PageFile(const QString& name) {
    QFile file(QStringLiteral(":/web/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

HttpResponse JsonResponse(const QByteArray& body) {
    HttpResponse response;
    response.contentType = "application/json";
    response.body = body;
    response.headers.emplace_back("Cache-Control", "no-store");
    return response;
}

// The answer to a query from one page of the history.
HttpResponse ReadingsResponse(const HistoryReader& history, const ReadingsQuery& query,
                              const StationStatus& status, const Regional& regional, double savedAt,
                              std::size_t limit) {
    const ReadingsPage page = ReadReadings(history, query, limit);
    const bool csv = query.format == ReadingsQuery::Format::Csv;
    HttpResponse response;
    if (csv) {
        response.contentType = "text/csv; charset=utf-8";
        response.body = ReadingsCsv(page, status, regional, savedAt);
        response.headers.emplace_back("Content-Disposition",
                                      "attachment; filename=\"korvinet-" +
                                          QDateTime::fromMSecsSinceEpoch(query.fromUtcMs)
                                              .toString(QStringLiteral("yyyy-MM-dd_HHmm"))
                                              .toLatin1() +
                                          ".csv\"");
    } else {
        std::optional<AlarmLevel> alarm;
        if (status.alarmLevel)
            alarm = AlarmLevel{*status.alarmLevel, status.unitCode};
        response = JsonResponse(ReadingsJson(page, query.stepSeconds, alarm));
    }
    if (page.nextFromUtcMs) {
        QString link = QStringLiteral("/api/readings?from=%1&to=%2&format=%3")
                           .arg(UtcText(*page.nextFromUtcMs), UtcText(query.toUtcMs),
                                csv ? QStringLiteral("csv") : QStringLiteral("json"));
        if (query.stepSeconds)
            link += QStringLiteral("&step=%1").arg(query.stepSeconds);
        response.headers.emplace_back("Link", "<" + link.toLatin1() + ">; rel=\"next\"");
    }
    return response;
}

} // namespace

StationRoutes::StationRoutes(const StatusSource& source, QString journalFolder,
                             std::shared_ptr<const HistoryLive> history, const Clock& clock,
                             const Regional& regional, WebLimits limits)
    : source_(source), journalFolder_(std::move(journalFolder)), history_(std::move(history)),
      clock_(clock), regional_(regional), limits_(limits) {}

HttpAnswer StationRoutes::Answer(const HttpRequest& request) const {
    struct File {
        const char* path;
        const char* resource;
        const char* type;
    };
    static constexpr File kFiles[] = {
        {"/", "index.html", "text/html; charset=utf-8"},
        {"/page.js", "page.js", "text/javascript; charset=utf-8"},
        {"/page.css", "page.css", "text/css; charset=utf-8"},
        {"/uplot.js", "uPlot.iife.min.js", "text/javascript; charset=utf-8"},
        {"/uplot.css", "uPlot.min.css", "text/css; charset=utf-8"},
    };
    for (const File& f : kFiles) {
        if (request.path != f.path)
            continue;
        HttpResponse response;
        response.contentType = f.type;
        response.body = PageFile(QString::fromLatin1(f.resource));
        // Everything the page loads comes from here.
        response.headers.emplace_back("Content-Security-Policy",
                                      "default-src 'self'; img-src 'self' data:");
        response.headers.emplace_back("Cache-Control", "no-cache");
        return {response, {}};
    }
    if (request.path == "/api/status")
        return {JsonResponse(StatusJson(source_.Status())), {}};
    if (request.path == "/metrics") {
        HttpResponse response;
        response.contentType = "text/plain; version=0.0.4; charset=utf-8";
        response.body = MetricsText(source_.Status());
        return {response, {}};
    }
    if (request.path == "/api/readings")
        return Readings(request);
    return {PlainResponse(404, QStringLiteral("not found; the station serves /, /api/status, "
                                              "/api/readings and /metrics")),
            {}};
}

HttpAnswer StationRoutes::Readings(const HttpRequest& request) const {
    const HistoryReader history(journalFolder_, history_);
    const auto first = history.First();
    QString why;
    const auto query = ParseReadingsQuery(request, NowUtcMs(clock_),
                                          first ? std::optional(first->utcMs) : std::nullopt, &why,
                                          limits_.rowLimit);
    if (!query)
        return {PlainResponse(400, why), {}};
    // The page's live poll (the last few readings) is answered from memory
    // at once; anything longer is read beside the station.
    constexpr qint64 kLiveMs = 5 * 60 * 1000;
    if (query->stepSeconds == 0 && query->toUtcMs - query->fromUtcMs <= kLiveMs &&
        history.InMemory(query->fromUtcMs))
        return {ReadingsResponse(history, *query, source_.Status(), regional_, clock_.Now(),
                                 limits_.rowLimit),
                {}};
    // The job gets copies: it runs while the station goes on.
    return {{},
            [query = *query, folder = journalFolder_, live = history_, status = source_.Status(),
             regional = regional_, savedAt = clock_.Now(), limit = limits_.rowLimit] {
                return ReadingsResponse(HistoryReader(folder, live), query, status, regional,
                                        savedAt, limit);
            }};
}

} // namespace korvinet::web
