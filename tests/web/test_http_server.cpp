// The HTTP server on this thread's event loop, spoken to over real sockets
// from another thread: what reaches the handler, what the library and the
// limits answer for it, and jobs answered from the pool.
#include "support/http_probe.h"
#include "web/http_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <unistd.h>

namespace korvinet::web {
namespace {

using korvinet::testing::HttpGet;
using korvinet::testing::HttpReply;
using korvinet::testing::HttpSend;
using korvinet::testing::RunWhileServing;

// Echoes the request; "/slow" answers from a job after a while.
class EchoServer {
public:
    EchoServer()
        : server_([this](const HttpRequest& r) {
              ++requests;
              if (r.path == "/slow") {
                  return HttpAnswer{{}, [] {
                                        QThread::msleep(200);
                                        return PlainResponse(200, QStringLiteral("slow"));
                                    }};
              }
              QString text = QString::fromLatin1(r.method + ' ' + r.path);
              for (const auto& [key, value] : r.query)
                  text += QStringLiteral(" %1=%2").arg(key, value);
              return HttpAnswer{PlainResponse(200, text), {}};
          }) {
        QString why;
        EXPECT_TRUE(server_.Listen({QStringLiteral("127.0.0.1"), 0}, &why)) << why.toStdString();
    }
    HttpReply Send(const QByteArray& request) {
        const int port = server_.Port();
        return RunWhileServing([=] { return HttpSend(port, request); });
    }
    HttpReply Get(const QByteArray& path) {
        const int port = server_.Port();
        return RunWhileServing([=] { return HttpGet(port, path); });
    }

    std::atomic<int> requests{0};

private:
    HttpServer server_;
};

TEST(HttpServer, AnswersWhatTheHandlerSaysAndRefusesWhatItMustNot) {
    EchoServer server;
    const QByteArray huge(20000, 'x');
    QByteArray manyHeaders;
    for (int i = 0; i < 80; ++i)
        manyHeaders += "X-" + QByteArray::number(i) + ": 1\r\n";
    struct Case {
        const char* what;
        QByteArray request;
        int status;      // 0: closed without an answer (nothing HTTP can be said to it)
        QByteArray body; // start of the body, when it matters
    };
    const Case cases[] = {
        {"decoded path and query",
         "GET /a%20b?from=2026-12-09T10:00:00%2B01:00&x HTTP/1.1\r\nHost: h\r\n"
         "Connection: close\r\n\r\n",
         200, "GET /a b from=2026-12-09T10:00:00+01:00 x="},
        {"HEAD", "HEAD / HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n", 200, ""},
        {"not HTTP", "\x01\x02garbage\r\n\r\n", 0, {}},
        {"one word", "GARBAGE\r\n\r\n", 0, {}},
        {"bad version", "GET / HTTP/9.9\r\nHost: h\r\n\r\n", 505, {}},
        {"no version", "GET /\r\n\r\n", 400, {}},
        {"HTTP/1.1 without a host", "GET / HTTP/1.1\r\n\r\n", 400, {}},
        {"a body sent", "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 5\r\n\r\nhello", 405,
         "only GET and HEAD"},
        {"DELETE", "DELETE / HTTP/1.1\r\nHost: h\r\n\r\n", 405, {}},
        {"huge header", "GET / HTTP/1.1\r\nHost: h\r\nX-Big: " + huge + "\r\n\r\n", 431, {}},
        {"huge path", "GET /" + huge + " HTTP/1.1\r\nHost: h\r\n\r\n", 414, {}},
        {"many headers", "GET / HTTP/1.1\r\nHost: h\r\n" + manyHeaders + "\r\n", 431,
         "too many header fields"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const HttpReply reply = server.Send(c.request);
        EXPECT_EQ(reply.status, c.status) << reply.head.toStdString();
        if (!c.body.isNull()) {
            EXPECT_TRUE(reply.body.startsWith(c.body)) << reply.body.toStdString();
        }
    }
    // Only the first two reached the handler.
    EXPECT_EQ(server.requests, 2);
    EXPECT_EQ(server.Get("/").status, 200);
}

// One connection carries request after request (the page polls every
// second), one answered from a job among them, and closes once silent for
// the idle timeout.
TEST(HttpServer, KeepsConnectionsOpenUntilIdle) {
    HttpServer server(
        [](const HttpRequest& r) {
            if (r.path == "/job")
                return HttpAnswer{{}, [] { return PlainResponse(200, QStringLiteral("job")); }};
            return HttpAnswer{PlainResponse(200, QString::fromLatin1(r.path)), {}};
        },
        {.idleTimeoutSeconds = 1});
    QString why;
    ASSERT_TRUE(server.Listen({QStringLiteral("127.0.0.1"), 0}, &why)) << why.toStdString();
    QElapsedTimer clock;
    clock.start();
    const HttpReply reply = RunWhileServing([port = server.Port()] {
        return HttpSend(port, "GET /a HTTP/1.1\r\nHost: h\r\n\r\nGET /job HTTP/1.1\r\nHost: "
                              "h\r\n\r\nGET /b HTTP/1.1\r\nHost: h\r\n\r\n");
    });
    EXPECT_FALSE(reply.head.toLower().contains("connection: close")) << reply.head.toStdString();
    EXPECT_TRUE(reply.body.contains("\r\n\r\njob\n") && reply.body.endsWith("/b\n"))
        << reply.body.toStdString();
    EXPECT_GE(clock.elapsed(), 1000); // closed by the server, silent for a second
    EXPECT_LT(clock.elapsed(), 4000);
}

// Jobs answer in the order they finish, and the event loop goes on meanwhile.
TEST(HttpServer, JobsAnswerFromThePoolWhileTheLoopRuns) {
    EchoServer server;
    QTimer ticker;
    int ticks = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    const HttpReply slow = server.Get("/slow");
    EXPECT_EQ(slow.status, 200);
    EXPECT_EQ(slow.body, "slow\n");
    EXPECT_GE(ticks, 5); // 200 ms of job, the loop not blocked
}

// At its connection limit the server leaves the rest in the kernel's queue;
// one closing must let the next in at once, not after some timeout or never.
TEST(HttpServer, ServesAgainOnceAConnectionClosesAtTheLimit) {
    const HttpServerLimits limits{.maxConnectionsPerIp = 64}; // all from 127.0.0.1
    HttpServer server([](auto&) { return HttpAnswer{PlainResponse(200, "up"), {}}; }, limits);
    QString why;
    ASSERT_TRUE(server.Listen({QStringLiteral("127.0.0.1"), 0}, &why)) << why.toStdString();
    const int port = server.Port();
    std::vector<int> idle =
        korvinet::testing::OpenIdleConnections(port, int(limits.maxConnections));
    ASSERT_EQ(idle.size(), limits.maxConnections);
    auto reply = std::async(std::launch::async, [=] { return HttpGet(port, "/", 5000); });
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300) // every connection taken in
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_NE(reply.wait_for(std::chrono::seconds(0)), std::future_status::ready)
        << "no limit reached";
    ::close(idle.back());
    idle.pop_back();
    clock.restart();
    EXPECT_EQ(RunWhileServing([&] { return reply.get(); }).status, 200);
    EXPECT_LT(clock.elapsed(), 1000);
    korvinet::testing::CloseAll(idle);
}

TEST(HttpServer, ListensOnlyWhereAsked) {
    struct Case {
        const char* text;
        const char* host; // null: refused
        int port;
    };
    const Case cases[] = {
        {"8080", "127.0.0.1", 8080},
        {"0.0.0.0:80", "0.0.0.0", 80},
        {"[::1]:8080", "::1", 8080},
        {"localhost:0", "127.0.0.1", 0},
        {"::1:8080", nullptr, 0},
        {"host.lan:8080", nullptr, 0},
        {"127.0.0.1:65536", nullptr, 0},
        {"127.0.0.1:", nullptr, 0},
        {"+80", nullptr, 0},
        {"", nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        QString why;
        const auto address = ParseHttpAddress(QString::fromLatin1(c.text), &why);
        ASSERT_EQ(address.has_value(), c.host != nullptr) << why.toStdString();
        if (address) {
            EXPECT_EQ(address->host, QString::fromLatin1(c.host));
            EXPECT_EQ(address->port, c.port);
        } else {
            EXPECT_FALSE(why.isEmpty());
        }
    }

    // A port taken already: a reason, no crash.
    EchoServer first;
    HttpServer second([](const HttpRequest&) { return HttpAnswer{}; });
    QString why;
    ASSERT_TRUE(second.Listen({QStringLiteral("127.0.0.1"), 0}, &why));
    HttpServer third([](const HttpRequest&) { return HttpAnswer{}; });
    EXPECT_FALSE(third.Listen({QStringLiteral("127.0.0.1"), second.Port()}, &why));
    EXPECT_TRUE(why.contains(QString::number(second.Port()))) << why.toStdString();
}

} // namespace
} // namespace korvinet::web
