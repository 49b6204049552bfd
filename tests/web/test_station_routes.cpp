// The page's files and the answers as clients get them: gzipped for one that
// takes gzip (unpacked by the gzip program, not by our own code), plain for
// one that does not, and "not modified" for a file a browser already holds.
#include "platform/clock.h"
#include "support/journal_fixture.h"
#include "web/station_routes.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace korvinet::web {
namespace {

using testing::At;

QByteArray Gunzip(const QByteArray& packed) {
    QProcess gzip;
    gzip.start(QStringLiteral("gzip"), {QStringLiteral("-dc")});
    gzip.write(packed);
    gzip.closeWriteChannel();
    gzip.waitForFinished(10000);
    return gzip.exitCode() == 0 ? gzip.readAllStandardOutput() : QByteArray("(not gzip)");
}

// A header field's value; "-" when absent.
QByteArray Header(const HttpResponse& response, const QByteArray& name) {
    for (const auto& [key, value] : response.headers)
        if (key == name)
            return value;
    return "-";
}

struct Station : StatusSource {
    StationStatus Status() const override { return status; }
    StationStatus status;
};

class StationRoutesTest : public testing::JournalTest {
protected:
    HttpResponse Get(const QByteArray& path,
                     std::vector<std::pair<QByteArray, QByteArray>> headers = {}) const {
        const qsizetype query = path.indexOf('?');
        HttpRequest request{"GET", query < 0 ? path : path.left(query), {}};
        if (query >= 0)
            for (const QByteArray& pair : path.mid(query + 1).split('&'))
                request.query.emplace_back(QString::fromUtf8(pair.split('=').value(0)),
                                           QString::fromUtf8(pair.split('=').value(1)));
        request.headers = std::move(headers);
        HttpAnswer answer = routes.Answer(request);
        return answer.later ? answer.later() : answer.now;
    }

    Station station;
    ManualClock clock{0, At(15, 1, 0, 0)};
    StationRoutes routes{station, folder, clock, regional};
};

// Each file, and the answers above a kilobyte (the metrics now, a history
// read as a job), go gzipped exactly when Accept-Encoding takes gzip.
TEST_F(StationRoutesTest, AnswersAreGzippedForClientsThatTakeIt) {
    auto journal = Begin(At(15, 0, 0, 0));
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(Add(*journal, At(15, 0, 0, 0) + i * 10 / 86400.0, "0.012").ok);
    journal->Close();
    const struct {
        const char* acceptEncoding; // null: no such field
        bool gzip;
    } cases[] = {{nullptr, false},      {"gzip, deflate, br", true}, {"GZIP", true},
                 {"identity", false},   {"gzip;q=0", false},         {"br;q=1.0, gzip;q=0.5", true},
                 {"*", true},           {"*;q=0, identity", false},  {"*, gzip;q=0", false},
                 {"deflate, br", false}};
    for (const QByteArray path : {"/", "/page.js", "/page.css", "/uplot.js", "/uplot.css",
                                  "/favicon.svg", "/metrics", "/api/readings?from=2012-03-15"}) {
        const QByteArray plain = Get(path).body;
        ASSERT_GT(plain.size(), 100) << path.toStdString();
        for (const auto& c : cases) {
            SCOPED_TRACE(path.toStdString() +
                         ", Accept-Encoding: " + (c.acceptEncoding ? c.acceptEncoding : "-"));
            std::vector<std::pair<QByteArray, QByteArray>> headers;
            if (c.acceptEncoding)
                headers.emplace_back("accept-encoding", c.acceptEncoding);
            const HttpResponse response = Get(path, headers);
            EXPECT_EQ(response.status, 200);
            EXPECT_EQ(Header(response, "Content-Encoding"), c.gzip ? "gzip" : "-");
            EXPECT_EQ(c.gzip ? Gunzip(response.body) : response.body, plain);
            EXPECT_EQ(Header(response, "Vary"), "Accept-Encoding");
        }
    }
}

// A file is sent with a tag of its content, one for each form; a request
// naming either (or "*") gets 304 without the file, any other tag the file.
TEST_F(StationRoutesTest, AFileTheBrowserHoldsIsNotSentAgain) {
    const QByteArray plainTag = Header(Get("/page.js"), "ETag");
    const QByteArray gzipTag = Header(Get("/page.js", {{"Accept-Encoding", "gzip"}}), "ETag");
    ASSERT_TRUE(plainTag.startsWith('"') && gzipTag.startsWith('"'));
    EXPECT_NE(plainTag, gzipTag);
    EXPECT_NE(Header(Get("/page.css"), "ETag"), plainTag);
    const struct {
        QByteArray ifNoneMatch;
        int status;
    } cases[] = {
        {plainTag, 304},
        {gzipTag, 304},
        {"W/" + gzipTag, 304},
        {"\"0123\", " + plainTag, 304},
        {"*", 304},
        {"\"0123\"", 200},
        {plainTag.chopped(2) + '"', 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ifNoneMatch.toStdString());
        const HttpResponse response =
            Get("/page.js", {{"Accept-Encoding", "gzip"}, {"If-None-Match", c.ifNoneMatch}});
        EXPECT_EQ(response.status, c.status);
        EXPECT_EQ(response.body.isEmpty(), c.status == 304);
        EXPECT_EQ(Header(response, "ETag"), gzipTag);
    }
}

} // namespace
} // namespace korvinet::web
