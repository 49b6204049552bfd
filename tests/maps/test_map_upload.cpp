// The pieces of the map uploads that need no station: intervals from
// samples, report identifiers and the libcurl client against the local map
// server (tests/maps/map_services_server.py).
#include "maps/curl_http.h"
#include "maps/map_requests.h"
#include "maps/map_uploader.h"
#include "support/script_server.h"
#include "support/wait_events.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvinet::maps {
namespace {

using korvinet::testing::ScriptServer;
using korvinet::testing::TestScript;
using korvinet::testing::UnusedPort;
using korvinet::testing::WaitUntil;

ReadSamples FromList(std::vector<CountSample> samples) {
    return [samples = std::move(samples)](qint64 from, qint64 to, const SampleVisitor& visit) {
        for (const CountSample& s : samples)
            if (s.utcMs >= from && s.utcMs < to && !visit(s))
                return;
    };
}

TEST(MapIntervals, GroupSamplesByAlignedIntervalOldestFirst) {
    // Samples of 3 s (3 counts each) over 60-s intervals: 10:00:57 and
    // 10:01:00 fall into different intervals; nothing between 10:02 and 10:04.
    const qint64 t0 = 1796810400000; // an interval start
    const ReadSamples read = FromList({{t0 + 57000, 3, 3000},
                                       {t0 + 60000, 3, 3000},
                                       {t0 + 63000, 6, 3000},
                                       {t0 + 119999, 0, 0}, // no time: adds nothing
                                       {t0 + 125000, 0, 0}, // an interval without time
                                       {t0 + 240000, 1, 3000}});
    struct Case {
        qint64 from, to;
        std::size_t max;
        std::vector<IntervalMean> expected;
    };
    const IntervalMean first{t0, t0 + 60000, 3, 3000, t0 + 57000};
    const IntervalMean second{t0 + 60000, t0 + 120000, 9, 6000, t0 + 63000};
    const IntervalMean fifth{t0 + 240000, t0 + 300000, 1, 3000, t0 + 240000};
    const std::vector<Case> cases = {
        {t0, t0 + 300000, 10, {first, second, fifth}},
        {t0, t0 + 300000, 2, {first, second}},
        {t0 + 60000, t0 + 300000, 1, {second}},
        {t0 + 120000, t0 + 240000, 5, {}},      // the range ends before the last sample
        {t0 + 58000, t0 + 300000, 1, {second}}, // the range starts after the first sample
        {t0, t0 + 300000, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << (c.from - t0) << ".." << (c.to - t0) << " max " << c.max);
        EXPECT_EQ(NextIntervals(read, c.from, c.to, 60000, c.max), c.expected);
    }
    EXPECT_DOUBLE_EQ(second.Cpm(), 90.0);
}

TEST(MapIntervals, ReportIdentifierIsAVersion4UuidFixedByKeyAndInterval) {
    MapDestination d;
    d.service = MapService::OpenRadiation;
    d.secret = QStringLiteral("key-1");
    const QString a = ReportUuid(d, 1000);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-"
                                                  "[89ab][0-9a-f]{3}-[0-9a-f]{12}$"))
                    .match(a)
                    .hasMatch())
        << a.toStdString();
    EXPECT_EQ(ReportUuid(d, 1000), a);
    EXPECT_NE(ReportUuid(d, 2000), a);
    d.secret = QStringLiteral("key-2");
    EXPECT_NE(ReportUuid(d, 1000), a);
}

// Each service's answers as its server gives them (see
// map_services_server.py for where each comes from), and what they mean for
// the uploads.
TEST(MapReplies, MeanWhatTheServiceMeans) {
    using O = UploadOutcome;
    const QByteArray page = "<html><head><title>Map</title></head><body>" + QByteArray(300, ' ') +
                            "<!-- log2.asp --></body></html>\r\n";
    struct Case {
        MapService service;
        int status;
        QByteArray body;
        UploadOutcome expected;
    };
    const std::vector<Case> cases = {
        // Stored, but the counter's location wants confirming.
        {MapService::GmcMap, 200,
         "Warning! The Geiger Counter location changed, please confirm the location.<BR>OK.ERR0",
         O::Accepted},
        {MapService::GmcMap, 200, page + "OK.ERR0", O::Accepted}, // read whole
        {MapService::GmcMap, 200, "OK", O::Failed},               // not the service's words
        {MapService::GmcMap, 200, "Error! Geiger Counter is not found.ERR2.", O::Refused},
        {MapService::Radmon, 200, page + "Incorrect login.", O::Refused},
        // Our wording: any answer about the user or the login stops the map.
        {MapService::Radmon, 200, "Unknown user.", O::Refused},
        {MapService::OpenSenseMap, 404, R"({"code":"NotFound","message":"Box not found"})",
         O::Unusable},
        {MapService::OpenSenseMap, 400,
         R"({"code":"BadRequest","message":"Measurement for sensor with id 5f1e0c0ffee000000000000f does not belong to box"})",
         O::Unusable},
        {MapService::OpenSenseMap, 422,
         R"({"code":"UnprocessableEntity","message":"Invalid sensor id in measurement {}"})",
         O::Unusable},
        {MapService::OpenSenseMap, 422,
         R"({"code":"UnprocessableEntity","message":"Timestamp 2030-01-01T00:00:00.000Z is too far into the future. in measurement {}"})",
         O::Failed},
        {MapService::OpenRadiation, 400,
         R"({"error":{"code":"100","message":"You must send a JSON with a string apiKey and an object data"}})",
         O::Unusable},
        {MapService::OpenRadiation, 400,
         R"({"error":{"code":"102","message":"startTime is not a real date"}})", O::Rejected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << int(c.service) << " " << c.status << " " << c.body.toStdString());
        HttpResult result;
        result.status = c.status;
        result.body = c.body;
        const UploadVerdict verdict = ClassifyMapResponse(c.service, result);
        EXPECT_EQ(verdict.outcome, c.expected) << verdict.why.toStdString();
        EXPECT_LE(verdict.why.size(), 160);
    }
}

// What goes into the requests where the services read it in their own way.
TEST(MapRequests, CarryWhatTheServiceReads) {
    const qint64 t0 = 1796810400000;
    MapDestination d;
    d.service = MapService::OpenRadiation;
    d.latitude = 47.3769;
    d.longitude = 8.5417;
    UploadExtras extras;
    extras.dose = measure::RateConversion{0.0, 100.0, 4};
    // The counter ran for the middle half hour of the hour only.
    const IntervalMean half{t0, t0 + 3600000, 600, 1800000, t0 + 2700000};
    const HttpRequest openRadiation = BuildMapRequest(d, {&half, 1}, extras);
    EXPECT_TRUE(openRadiation.headers.contains({"Content-Type", "application/json"}));
    const QJsonObject data =
        QJsonDocument::fromJson(openRadiation.body).object().value("data").toObject();
    EXPECT_EQ(data.value("startTime").toString(), IsoUtc(t0 + 900000));
    EXPECT_EQ(data.value("endTime").toString(), IsoUtc(t0 + 2700000));
    EXPECT_EQ(data.value("hitsNumber").toInteger(), 600);

    // openSenseMap refuses a batch with one value that is not a number: a
    // conversion without sensitivity gives none, and nothing is sent.
    d.service = MapService::OpenSenseMap;
    d.sensorTakesDose = true;
    extras.dose->sensitivity = 0;
    EXPECT_TRUE(BuildMapRequest(d, {&half, 1}, extras).url.isEmpty());
}

// One request through the client, waited for.
struct Exchange {
    HttpResult result;
    bool done = false;
    qint64 ms = 0;
};

Exchange Exchanged(CurlHttpClient& client, const HttpRequest& request, const HttpOptions& options) {
    Exchange e;
    QElapsedTimer timer;
    timer.start();
    client.Send(request, options, [&e, &timer](const HttpResult& r) {
        e.result = r;
        e.done = true;
        e.ms = timer.elapsed();
    });
    EXPECT_FALSE(e.done); // never from within Send
    WaitUntil([&e] { return e.done; }, 20000);
    return e;
}

TEST(CurlHttpClient, CertificatesRedirectsTimeoutsAndReplySize) {
    QTemporaryDir dir;
    ScriptServer server(QStringLiteral("python3"),
                        {TestScript(QStringLiteral("maps/map_services_server.py")),
                         QStringLiteral("--tls"), dir.path()});
    ASSERT_NE(server.Port(), 0);
    const QString base = QStringLiteral("https://127.0.0.1:%1").arg(server.Port());
    const QString caFile = dir.filePath(QStringLiteral("ca.crt"));

    struct Case {
        const char* what;
        QString url;
        QByteArray method;
        QString caFile;
        int status;           // 0: fails
        const char* contains; // in the body, or in the error
    };
    const std::vector<Case> cases = {
        {"trusted through the CA file", base + "/echo", "GET", caFile, 200, "\"method\": \"GET\""},
        {"unknown authority", base + "/echo", "GET", {}, 0, "certificate"},
        {"a POST redirected stays a POST", base + "/redirect/2", "POST", caFile, 200,
         "\"body\": \"{\\\"x\\\": 1}\""},
        {"too many redirects", base + "/redirect/5", "GET", caFile, 0, "redirect"},
        {"never from https to http", base + "/downgrade", "POST", caFile, 0, "http"},
        {"no answer", base + "/hang", "GET", caFile, 0, "timed out"},
        {"nothing listens",
         QStringLiteral("http://127.0.0.1:%1/").arg(UnusedPort()),
         "GET",
         {},
         0,
         "connect"},
        {"other protocols", QStringLiteral("ftp://127.0.0.1/"), "GET", {}, 0, "ftp"},
    };
    CurlHttpClient client;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HttpRequest request;
        request.method = c.method;
        request.url = c.url;
        request.body = "{\"x\": 1}";
        HttpOptions options;
        options.caFile = c.caFile;
        options.timeoutMs = 1500;
        const Exchange e = Exchanged(client, request, options);
        ASSERT_TRUE(e.done);
        EXPECT_EQ(e.result.status, c.status) << e.result.error.toStdString();
        const QString text = c.status != 0 ? QString::fromUtf8(e.result.body) : e.result.error;
        EXPECT_TRUE(text.contains(QLatin1String(c.contains), Qt::CaseInsensitive))
            << text.toStdString();
        EXPECT_LT(e.ms, 5000);
    }
    EXPECT_EQ(client.Running(), 0);

    // A long reply is cut, and the agent names the program.
    HttpRequest big;
    big.url = base + "/big";
    HttpOptions options;
    options.caFile = caFile;
    EXPECT_EQ(Exchanged(client, big, options).result.body.size(), HttpResult::kMaxBody);
    big.url = base + "/echo";
    const QJsonObject echo = QJsonDocument::fromJson(Exchanged(client, big, options).result.body)
                                 .object()
                                 .value("headers")
                                 .toObject();
    EXPECT_EQ(echo.value("User-Agent").toString().toUtf8(), OwnUserAgent());
}

// Destroyed with a request under way: no callback, nothing left behind.
TEST(CurlHttpClient, DestroyedWhileARequestRuns) {
    ScriptServer server(QStringLiteral("python3"),
                        {TestScript(QStringLiteral("maps/map_services_server.py"))});
    ASSERT_NE(server.Port(), 0);
    bool called = false;
    {
        CurlHttpClient client;
        HttpRequest request;
        request.url = QStringLiteral("http://127.0.0.1:%1/hang").arg(server.Port());
        client.Send(request, {}, [&called](const HttpResult&) { called = true; });
        korvinet::testing::RunEventsFor(300);
        EXPECT_EQ(client.Running(), 1);
    }
    korvinet::testing::RunEventsFor(100);
    EXPECT_FALSE(called);
}

// Stopped while an upload is under way, and the run goes on (other sinks
// still stopping): an answer that comes soon is taken, so the interval the
// service confirmed is not sent again after the next start; one that does
// not is given up after a moment, and then reaches no uploader that is gone.
TEST(MapUploads, StoppedWithAnUploadUnderWay) {
    for (const bool answers : {true, false}) {
        SCOPED_TRACE(answers);
        // A service that takes the request and answers only when told to.
        const int service = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ASSERT_EQ(::bind(service, reinterpret_cast<sockaddr*>(&address), length), 0);
        ASSERT_EQ(::listen(service, 1), 0);
        ::getsockname(service, reinterpret_cast<sockaddr*>(&address), &length);
        QTemporaryDir dir;
        MapDestination gmc;
        gmc.service = MapService::GmcMap;
        gmc.url = QStringLiteral("http://127.0.0.1:%1").arg(ntohs(address.sin_port));
        gmc.account = gmc.counter = QStringLiteral("1");
        UploadContext context;
        context.timeScale = 0.005; // 0.3-s intervals
        QElapsedTimer clock;
        clock.start();
        const qint64 start = 1'800'000'000'000;
        context.nowUtcMs = [&clock, start] { return start + clock.elapsed(); };
        std::vector<CountSample> samples;
        for (qint64 t = 0; t < 10'000; t += 15)
            samples.push_back({start + t, 1, 15});
        context.readSamples = FromList(std::move(samples));
        context.cursorFolder = dir.path();
        int logged = 0;
        context.log = [&logged](const QString&) { ++logged; };
        MapUploads uploads(UploadConfig{{gmc}}, context);
        uploads.Start();
        int request = -1;
        ASSERT_TRUE(
            WaitUntil([&] { return (request = ::accept(service, nullptr, nullptr)) >= 0; }, 5000));
        const auto cursor = [&] { return UploadCursor(dir.path(), gmc).Load().value_or(0); };
        const qint64 before = cursor();
        bool stopped = false;
        uploads.Stop([&stopped] { stopped = true; });
        korvinet::testing::RunEventsFor(300);
        EXPECT_FALSE(stopped);
        if (answers) {
            const QByteArray reply = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nERR0";
            ASSERT_EQ(::write(request, reply.data(), reply.size()), reply.size());
        }
        EXPECT_TRUE(WaitUntil([&] { return stopped; }, 2500));
        EXPECT_EQ(cursor() > before, answers);
        const int loggedAtStop = logged;
        ::close(request); // the service hangs up
        korvinet::testing::RunEventsFor(200);
        ::close(service);
        EXPECT_EQ(logged, loggedAtStop);
    }
}

// A service that takes what it is sent at once.
struct AcceptingService final : HttpTransport {
    QStringList times; // the intervals' "createdAt" sent to openSenseMap
    void Send(const HttpRequest& request, const HttpOptions&, Done done) override {
        for (const QJsonValue& v : QJsonDocument::fromJson(request.body).array())
            times << v[QStringLiteral("createdAt")].toString();
        QTimer::singleShot(0, [done] { done(HttpResult{201, "{}", {}, {}}); });
    }
};

// A counter's memory fills a gap the cursor has passed: a service that takes
// a time gets the intervals after the one already sent, each once; one that
// takes none still gets the latest alone.
TEST(MapUploads, AGapFilledLaterIsSentOnceWhereTheServiceTakesATime) {
    const struct {
        MapService service;
        int intervals; // sent in all
    } cases[] = {{MapService::OpenSenseMap, 9}, {MapService::GmcMap, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.service));
        QTemporaryDir dir;
        MapDestination d;
        d.service = c.service;
        d.url = QStringLiteral("http://127.0.0.1:9");
        d.box = d.sensor = d.secret = d.account = d.counter = QStringLiteral("1");
        AcceptingService service;
        UploadContext context;
        context.http = &service;
        context.timeScale = 0.01; // 0.6-s intervals
        const qint64 t0 = 1'800'000'000'000;
        QElapsedTimer clock;
        clock.start();
        context.nowUtcMs = [&clock, t0] { return t0 + 6000 + clock.elapsed(); };
        std::vector<CountSample> samples;
        for (qint64 t = 0; t < 1200; t += 30)
            samples.push_back({t0 + t, 1, 30});
        context.readSamples = [&samples](qint64 from, qint64 to, const SampleVisitor& visit) {
            FromList(samples)(from, to, visit);
        };
        context.cursorFolder = dir.path();
        MapUploader uploader(d, context);
        // Two intervals sent, the next ones passed empty.
        ASSERT_TRUE(UploadCursor(dir.path(), d).Save(t0, nullptr));
        uploader.Start();
        const auto cursor = [&] { return UploadCursor(dir.path(), d).Load().value_or(0); };
        ASSERT_TRUE(WaitUntil([&] { return cursor() >= t0 + 6000; }, 5000));
        for (qint64 end = t0 + 1800; end < t0 + 6000; end += 600)
            samples.push_back({end, 4, 600});
        uploader.Refill(t0 + 1170);
        korvinet::testing::RunEventsFor(500);
        const QStringList& times = service.times;
        EXPECT_EQ(times.size(), c.intervals) << times.join(' ').toStdString();
        EXPECT_EQ(QSet<QString>(times.begin(), times.end()).size(), times.size());
    }
}

} // namespace
} // namespace korvinet::maps
