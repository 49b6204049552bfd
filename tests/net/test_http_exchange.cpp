#include "net/http_exchange.h"

#include <gtest/gtest.h>

namespace korvinet::net {
namespace {

using State = HttpResponseReader::State;

// The response's bounds at their edges, each read once whole and once a
// byte at a time: the network may split the bytes anywhere.
TEST(HttpResponseReaderTest, BoundsHoldAtTheirEdgesInAnySplit) {
    struct Case {
        const char* name;
        QByteArray bytes;
        qsizetype linePiece;
        qsizetype maxBytes;
        State state;
        int status;
        QByteArray body;
    };
    const qsizetype piece = HttpResponseReader::kLinePiece;
    const qsizetype max = HttpResponseReader::kMaxBytes;
    const Case cases[] = {
        {"plain", "HTTP/1.0 200 OK\r\nX: y\r\n\r\nbody", piece, max, State::Complete, 200, "body"},
        {"closed at once", "", piece, max, State::Complete, 0, ""},
        {"line fills the piece", "A 200 x\r\n\r\nb", 9, max, State::Complete, 200, "b"},
        {"line one byte over the piece", "A 200 x\r\n\r\nb", 8, max, State::Stalled, 0, ""},
        {"line cut by the close", "A 200 x\r\nX-Cut", piece, max, State::Stalled, 200, ""},
        {"body at the bound", "A 200 x\n\n123456789", piece, 9, State::Complete, 200, "123456789"},
        {"body over the bound", "A 200 x\n\n123456789A", piece, 9, State::TooLarge, 200, ""},
        {"head over the bound", "A 200 x\nX: 1\n\n", piece, 12, State::TooLarge, 200, ""},
    };
    for (const Case& c : cases) {
        for (const qsizetype split : {c.bytes.size(), qsizetype(1)}) {
            SCOPED_TRACE(::testing::Message() << c.name << ", pieces of " << split);
            HttpResponseReader r(c.linePiece, c.maxBytes);
            for (qsizetype i = 0; i < c.bytes.size(); i += split) {
                r.Receive(QByteArrayView(c.bytes).sliced(i, std::min(split, c.bytes.size() - i)));
            }
            EXPECT_EQ(r.Close(), c.state);
            EXPECT_EQ(r.Status(), c.status);
            if (c.state == State::Complete) {
                EXPECT_EQ(r.Body(), c.body);
            }
        }
    }
}

TEST(HttpResponseReaderTest, LocationAndCookieAreFoundInAnyCaseAndCut) {
    HttpResponseReader r;
    r.Receive("HTTP/1.0 302 Found\r\nlocation: /next\r\nSET-cookie: " + QByteArray(300, 'c') +
              "\r\nX-Location: /not\r\n\r\n");
    r.Close();
    EXPECT_EQ(r.Location(), QStringLiteral("/next"));
    EXPECT_EQ(r.Cookie(), QString(kHttpMaxPathLength, QLatin1Char('c')));
}

// How the client takes a URL apart: scheme, host, port and a path cut to the
// longest the request takes.
TEST(HttpUrlTest, UrlIsSplitIntoHostPortAndPath) {
    struct Case {
        QString url;
        const char* host;
        int port;
        QString path;
        QString urlAfter;
    };
    const QString longTail(300, QLatin1Char('a'));
    const Case cases[] = {
        {"http://name.example", "name.example", 80, "/", "http://name.example/"},
        {"http://name.example:8080/a/b?c=d", "name.example", 8080, "/a/b?c=d", ""},
        {"HTTP://name.example/x", "name.example", 80, "/x", ""},
        {"gopher://name.example/x", "name.example", 70, "/x", ""},
        {"ftp://name.example/x", "name.example", 21, "/x", ""},
        {"name.example/x/y", "name.example", 80, "/x/y", ""},
        {"name.example:81/x", "name.example", 81, "/x", ""},
        {"name.example", "name.example", 80, "/", "name.example/"},
        {"http://name.example/" + longTail, "name.example", 80,
         QLatin1Char('/') + longTail.left(255), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        HttpTarget target;
        target.url = c.url;
        ParseHttpUrl(&target);
        EXPECT_EQ(target.host, QString::fromLatin1(c.host));
        EXPECT_EQ(target.port, c.port);
        EXPECT_EQ(target.path, c.path);
        EXPECT_EQ(target.url, c.urlAfter.isEmpty() ? c.url : c.urlAfter);
    }
}

} // namespace
} // namespace korvinet::net
