// The page's files and the answers as clients get them: gzipped for one that
// takes gzip (unpacked by the gzip program, not by our code), plain for one
// that does not, and "not modified" for a file a browser already holds.
#include "platform/clock.h"
#include "support/journal_fixture.h"
#include "web/station_routes.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace korvinet::web {
namespace {

using testing::At;

QByteArray Header(const HttpResponse& response, const QByteArray& name) {
    for (const auto& [key, value] : response.headers)
        if (key == name)
            return value;
    return "-";
}

class StationRoutesTest : public testing::JournalTest, public StatusSource {
protected:
    StationStatus Status() const override { return {}; }
    HttpResponse Get(HttpRequest request, const char* field = nullptr, QByteArray value = {}) {
        if (field)
            request.headers.emplace_back(field, value);
        HttpAnswer answer = routes.Answer(request);
        return answer.later ? answer.later() : answer.now;
    }

    platform::ManualClock clock{0, At(15, 1, 0, 0)};
    StationRoutes routes{*this, folder, nullptr, clock, regional};
};

// Each file, and the answers above a kilobyte (the metrics now, a history
// read as a job), go gzipped exactly when Accept-Encoding takes gzip.
TEST_F(StationRoutesTest, AnswersAreGzippedForClientsThatTakeIt) {
    auto journal = Begin(At(15, 0, 0, 0));
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(Add(*journal, At(15, 0, 0, 0) + i * 10 / 86400.0, "0.012").ok);
    journal->Close();
    const std::pair<const char*, bool> cases[] = {
        {"gzip, deflate, br", true}, {"GZIP", true},     {"identity", false},
        {"gzip;q=0", false},         {"*", true},        {"br;q=1.0, gzip;q=0.5", true},
        {"*, gzip;q=0", false},      {"deflate", false},
    };
    for (const HttpRequest& request :
         {HttpRequest{"GET", "/", {}}, HttpRequest{"GET", "/uplot.js", {}},
          HttpRequest{"GET", "/metrics", {}},
          HttpRequest{"GET", "/api/readings", {{"from", "2012-03-15"}}}}) {
        const QByteArray plain = Get(request).body;
        ASSERT_GT(plain.size(), 1024) << request.path.toStdString();
        for (const auto& [acceptEncoding, gzip] : cases) {
            SCOPED_TRACE(request.path.toStdString() + ", " + acceptEncoding);
            const HttpResponse response = Get(request, "accept-encoding", acceptEncoding);
            EXPECT_EQ(Header(response, "Content-Encoding"), gzip ? "gzip" : "-");
            EXPECT_EQ(Header(response, "Vary"), "Accept-Encoding");
            QProcess gunzip;
            gunzip.start("gzip", {"-dc"});
            gunzip.write(response.body);
            gunzip.closeWriteChannel();
            gunzip.waitForFinished();
            EXPECT_EQ(gzip ? gunzip.readAllStandardOutput() : response.body, plain);
        }
    }
}

// A file is sent with a tag of its content, one for each form; a request
// naming either (or "*") gets 304 without the file, any other tag the file.
TEST_F(StationRoutesTest, AFileTheBrowserHoldsIsNotSentAgain) {
    const HttpRequest js{"GET", "/page.js", {}};
    const QByteArray plain = Header(Get(js), "ETag");
    const QByteArray gzipped = Header(Get(js, "Accept-Encoding", "gzip"), "ETag");
    EXPECT_NE(plain, gzipped);
    EXPECT_NE(Header(Get({"GET", "/page.css", {}}), "ETag"), plain);
    for (const auto& [ifNoneMatch, status] : std::vector<std::pair<QByteArray, int>>{
             {plain, 304},
             {"W/" + gzipped, 304},
             {"\"0123\", " + plain, 304},
             {"*", 304},
             {"\"0123\"", 200},
             {plain.chopped(2) + '"', 200},
         }) {
        SCOPED_TRACE(ifNoneMatch.toStdString());
        const HttpResponse response = Get(js, "If-None-Match", ifNoneMatch);
        EXPECT_EQ(response.status, status);
        EXPECT_EQ(response.body.isEmpty(), status == 304);
        EXPECT_EQ(Header(response, "ETag"), plain);
    }
}

} // namespace
} // namespace korvinet::web
