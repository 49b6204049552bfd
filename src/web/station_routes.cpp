#include "web/station_routes.h"

#include "platform/clock.h"
#include "platform/datetime.h"
#include "recording/history_reader.h"
#include "web/metrics.h"
#include "web/readings_query.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <zlib.h>

namespace korvinet::web {

namespace {

qint64 NowUtcMs(const platform::Clock& clock) {
    const platform::Clock::Moment now = clock.NowWithOffset();
    return platform::QtFromDateTime(now.local, now.utcOffsetSeconds).toMSecsSinceEpoch();
}

QString UtcText(qint64 utcMs) {
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC).toString(Qt::ISODateWithMs);
}

QByteArray Resource(const QString& name) {
    QFile file(QStringLiteral(":/web/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The gzip form of data (RFC 1952); empty should zlib fail.
QByteArray Gzip(const QByteArray& data, int level) {
    z_stream z{};
    constexpr int kGzipWindow = 15 + 16; // the largest window, with gzip's header
    if (deflateInit2(&z, level, Z_DEFLATED, kGzipWindow, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out(static_cast<qsizetype>(deflateBound(&z, static_cast<uLong>(data.size()))),
                   Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const bool done = deflate(&z, Z_FINISH) == Z_STREAM_END;
    out.resize(static_cast<qsizetype>(z.total_out));
    deflateEnd(&z);
    return done ? out : QByteArray();
}

// Whether the client takes gzip: Accept-Encoding names it, or "*", with a
// weight above 0. Without the field a client gets the plain form, which is
// what a person trying the API with curl can read.
bool AcceptsGzip(const HttpRequest& request) {
    const std::optional<QByteArray> field = request.Header("Accept-Encoding");
    if (!field)
        return false;
    std::optional<bool> gzip, any;
    for (const QByteArray& item : field->split(',')) {
        const QList<QByteArray> parts = item.split(';');
        const QByteArray coding = parts[0].trimmed().toLower();
        double weight = 1.0;
        for (qsizetype i = 1; i < parts.size(); ++i) {
            const QByteArray parameter = parts[i].trimmed();
            if (parameter.startsWith("q="))
                weight = parameter.mid(2).toDouble();
        }
        if (coding == "gzip" || coding == "x-gzip")
            gzip = weight > 0;
        else if (coding == "*")
            any = weight > 0;
    }
    return gzip.value_or(any.value_or(false));
}

// If-None-Match names one of the tags, or "*" (compared weakly, as RFC 9110
// asks for this field).
bool NoneMatchHolds(const HttpRequest& request, const QByteArray& a, const QByteArray& b) {
    const std::optional<QByteArray> field = request.Header("If-None-Match");
    if (!field)
        return false;
    for (QByteArray tag : field->split(',')) {
        tag = tag.trimmed();
        if (tag.startsWith("W/"))
            tag = tag.mid(2);
        if (tag == "*" || tag == a || tag == b)
            return true;
    }
    return false;
}

// An answer gzipped for a client that takes it, where that pays.
HttpResponse Encoded(HttpResponse response, bool gzip) {
    constexpr qsizetype kWorthIt = 1024;
    constexpr int kLevel = 6; // most of the gain at a fraction of the best level's time
    response.headers.emplace_back("Vary", "Accept-Encoding");
    if (!gzip || response.body.size() < kWorthIt)
        return response;
    QByteArray packed = Gzip(response.body, kLevel);
    if (packed.isEmpty())
        return response;
    response.body = std::move(packed);
    response.headers.emplace_back("Content-Encoding", "gzip");
    return response;
}

HttpResponse JsonResponse(const QByteArray& body) {
    HttpResponse response;
    response.contentType = "application/json";
    response.body = body;
    response.headers.emplace_back("Cache-Control", "no-store");
    return response;
}

// The answer to a query from one page of the history.
HttpResponse ReadingsResponse(const recording::HistoryReader& history, const ReadingsQuery& query,
                              const StationStatus& status, const platform::Regional& regional,
                              double savedAt, std::size_t limit) {
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
                             std::shared_ptr<const recording::HistoryLive> history,
                             const platform::Clock& clock, const platform::Regional& regional,
                             WebLimits limits)
    : source_(source), journalFolder_(std::move(journalFolder)), history_(std::move(history)),
      clock_(clock), regional_(regional), limits_(limits) {
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
        {"/favicon.svg", "favicon.svg", "image/svg+xml"},
    };
    for (const File& f : kFiles) {
        PageFile file{f.path, f.type, Resource(QString::fromLatin1(f.resource)), {}, {}, {}};
        file.gzipped = Gzip(file.plain, Z_BEST_COMPRESSION);
        const QByteArray hash =
            QCryptographicHash::hash(file.plain, QCryptographicHash::Sha256).toHex().left(20);
        file.plainTag = '"' + hash + '"';
        file.gzippedTag = '"' + hash + "-gzip\"";
        files_.push_back(std::move(file));
    }
}

HttpAnswer StationRoutes::Answer(const HttpRequest& request) const {
    for (const PageFile& f : files_) {
        if (request.path != f.path)
            continue;
        const bool gzip = AcceptsGzip(request) && !f.gzipped.isEmpty();
        HttpResponse response;
        response.contentType = f.type;
        response.headers = {
            {"ETag", gzip ? f.gzippedTag : f.plainTag},
            // Asked again each time; a tag that still holds costs a 304.
            {"Cache-Control", "no-cache"},
            {"Vary", "Accept-Encoding"},
            // Everything the page loads comes from here.
            {"Content-Security-Policy", "default-src 'self'; img-src 'self' data:"},
        };
        if (NoneMatchHolds(request, f.plainTag, f.gzippedTag)) {
            response.status = 304;
            return {response, {}};
        }
        response.body = gzip ? f.gzipped : f.plain;
        if (gzip)
            response.headers.emplace_back("Content-Encoding", "gzip");
        return {response, {}};
    }
    HttpAnswer answer = Route(request);
    const bool gzip = AcceptsGzip(request);
    if (answer.later)
        answer.later = [job = std::move(answer.later), gzip] { return Encoded(job(), gzip); };
    else
        answer.now = Encoded(std::move(answer.now), gzip);
    return answer;
}

HttpAnswer StationRoutes::Route(const HttpRequest& request) const {
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
    const recording::HistoryReader history(journalFolder_, history_);
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
                return ReadingsResponse(recording::HistoryReader(folder, live), query, status,
                                        regional, savedAt, limit);
            }};
}

} // namespace korvinet::web
