#include "net/http_client.h"
#include "platform/clock.h"
#include "support/script_server.h"

#include <QTimer>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvinet::net {
namespace {

using korvinet::testing::ScriptServer;
using korvinet::testing::TestScript;
using korvinet::testing::UnusedPort;

const QByteArray kAcceptLines =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
const QByteArray kContentTypeLine = "Content-type: application/x-www-form-urlencoded\r\n";

// The message of the HttpError the call throws; empty when it throws none.
template <typename F> QString ErrorOf(F&& call) {
    try {
        call();
    } catch (const HttpError& e) {
        return e.Message();
    }
    return {};
}

// A resolver under the test's control: fails, never answers, or answers
// with 127.0.0.1; remembers the names it was asked for.
class FakeResolver final : public platform::HostResolver {
public:
    enum class Mode { Fail, Never, Loopback };
    FakeResolver(Mode mode, QList<QByteArray>* asked) : mode_(mode), asked_(asked) {}

    std::unique_ptr<platform::HostLookup> Start(const QByteArray& hostName) override {
        if (asked_ != nullptr) {
            asked_->append(hostName);
        }
        return std::make_unique<Lookup>(mode_);
    }

private:
    class Lookup final : public platform::HostLookup {
    public:
        explicit Lookup(Mode mode) : mode_(mode) {}
        bool Finished() override { return mode_ != Mode::Never; }
        std::optional<std::uint32_t> Address() override {
            if (mode_ != Mode::Loopback) {
                return std::nullopt;
            }
            return htonl(0x7F000001);
        }

    private:
        Mode mode_;
    };
    Mode mode_;
    QList<QByteArray>* asked_;
};

std::unique_ptr<platform::HostResolver> Resolver(FakeResolver::Mode mode,
                                                 QList<QByteArray>* asked = nullptr) {
    return std::make_unique<FakeResolver>(mode, asked);
}

class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(server.Port(), 0) << "scripted HTTP server did not start"; }

    QString Url(const QString& path) const {
        return QStringLiteral("http://") + server.Address() + path;
    }
    int Hits(const QString& path) {
        HttpClient counter(clock);
        counter.Get(Url(QStringLiteral("/hits") + path));
        return counter.Body().toInt();
    }

    ScriptServer server{QStringLiteral("python3"),
                        {TestScript(QStringLiteral("net/http_test_server.py"))}};
    platform::SystemClock clock;
    HttpClient client{clock};
};

TEST_F(HttpClientTest, SendsTheExactRequestHeadWithTheHostButNotThePort) {
    client.Get(Url(QStringLiteral("/echo")));
    EXPECT_EQ(client.Status(), 200);
    EXPECT_EQ(client.Body(), "GET /echo HTTP/1.0\r\nHost: 127.0.0.1\r\n" + kAcceptLines +
                                 kContentTypeLine + "\r\n");
}

TEST_F(HttpClientTest, UrlWithoutPathRequestsTheRoot) {
    client.Get(QStringLiteral("http://") + server.Address());
    EXPECT_EQ(client.Status(), 200);
    EXPECT_TRUE(client.Body().startsWith("GET / HTTP/1.0\r\n"));
}

TEST_F(HttpClientTest, HostNamesAreLookedUp) {
    // localhost comes from the hosts file: no name server is asked.
    client.Get(QStringLiteral("http://localhost:%1/echo").arg(server.Port()));
    EXPECT_EQ(client.Status(), 200);
    EXPECT_TRUE(client.Body().contains("\r\nHost: localhost\r\n"));
}

TEST_F(HttpClientTest, ErrorStatusIsNoFailureAndKeepsThePage) {
    client.Get(Url(QStringLiteral("/notfound")));
    EXPECT_EQ(client.Status(), 404);
    EXPECT_EQ(client.Body(), "<html><body>No such page</body></html>");
}

TEST_F(HttpClientTest, FoundFollowsTheLocationAndKeepsTheCookieForLaterRequests) {
    client.Get(Url(QStringLiteral("/redirect")));
    EXPECT_EQ(client.Status(), 200);
    EXPECT_TRUE(client.Body().startsWith("GET /echo/target HTTP/1.0\r\n"));
    // The cookie line sits between the Accept lines and the content type.
    EXPECT_TRUE(
        client.Body().contains(kAcceptLines + "Cookie: session=abc123\r\n" + kContentTypeLine));
    EXPECT_EQ(Hits(QStringLiteral("/redirect")), 1);

    client.Get(Url(QStringLiteral("/echo")));
    EXPECT_TRUE(client.Body().contains("Cookie: session=abc123\r\n"));
}

TEST_F(HttpClientTest, CookieOfAFinalResponseIsNotKept) {
    client.Get(Url(QStringLiteral("/set-cookie-200")));
    EXPECT_EQ(client.Body(), "fine");
    client.Get(Url(QStringLiteral("/echo")));
    EXPECT_FALSE(client.Body().contains("Cookie"));
}

TEST_F(HttpClientTest, RelativeLocationsStayOnTheSameServer) {
    client.Get(Url(QStringLiteral("/relative")));
    EXPECT_EQ(client.Status(), 200);
    EXPECT_TRUE(client.Body().startsWith("GET /echo/relative HTTP/1.0\r\nHost: 127.0.0.1\r\n"));

    // A bare name is put under the server just asked, port included.
    client.Get(Url(QStringLiteral("/bare")));
    EXPECT_EQ(client.Status(), 200);
    EXPECT_TRUE(client.Body().startsWith("GET /echo HTTP/1.0\r\nHost: 127.0.0.1\r\n"));
}

TEST_F(HttpClientTest, OddButReadableResponses) {
    struct Case {
        const char* path;
        int status;
        QByteArray body;
    };
    const Case cases[] = {
        {"/bytewise", 200, "1.0.4.0\r\n"},  // one byte at a time
        {"/noreason", 0, "body"},           // no blank and reason after the code
        {"/lf-only", 200, "unix lines"},    // LF line ends
        {"/content-length", 200, "abcdef"}, // the length is not trusted
        {"/close-at-once", 0, ""},          // nothing at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        client.Get(Url(QString::fromLatin1(c.path)));
        EXPECT_EQ(client.Status(), c.status);
        EXPECT_EQ(client.Body(), c.body);
    }
}

TEST_F(HttpClientTest, SilentServerFailsAfterFiveSeconds) {
    const std::uint32_t start = clock.TickCount();
    EXPECT_EQ(ErrorOf([&] { client.Get(Url(QStringLiteral("/silent"))); }),
              QStringLiteral("Socket readln aborted"));
    const std::uint32_t waited = clock.TickCount() - start;
    EXPECT_GE(waited, 5000u);
    EXPECT_LT(waited, 15000u);

    // The client is usable again at once.
    client.Get(Url(QStringLiteral("/echo")));
    EXPECT_EQ(client.Status(), 200);
}

TEST_F(HttpClientTest, TimeOutBoundsEachSilenceNotTheWholeBody) {
    client.SetTimeout(600);
    client.Get(Url(QStringLiteral("/slow-body"))); // 8 pieces over 1.2 s
    EXPECT_EQ(client.Body(), "01234567");

    EXPECT_EQ(ErrorOf([&] { client.Get(Url(QStringLiteral("/silent-body"))); }),
              QStringLiteral("Socket capture aborted"));
    // What the failed exchange had read stays readable.
    EXPECT_EQ(client.Status(), 200);
    EXPECT_EQ(client.Body(), "partial");
}

TEST_F(HttpClientTest, ResponsesAreBoundedToOneMebibyte) {
    client.Get(Url(QStringLiteral("/exactly-1mib")));
    EXPECT_EQ(client.Body().size(), 1024 * 1024);

    EXPECT_EQ(ErrorOf([&] { client.Get(Url(QStringLiteral("/endless"))); }),
              QStringLiteral("Response too large"));
    EXPECT_EQ(ErrorOf([&] { client.Get(Url(QStringLiteral("/endless-head"))); }),
              QStringLiteral("Response too large"));
}

TEST_F(HttpClientTest, RedirectionsStopAfterTenExchanges) {
    for (const char* path : {"/loop", "/see-other"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(ErrorOf([&] { client.Get(Url(QString::fromLatin1(path))); }),
                  QStringLiteral("Too many redirections"));
        EXPECT_EQ(Hits(QString::fromLatin1(path)), 10);
    }
}

TEST_F(HttpClientTest, RefusedConnectionFails) {
    const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(UnusedPort());
    EXPECT_EQ(ErrorOf([&] { client.Get(url); }), QStringLiteral("Connection Failed"));
    client.Get(Url(QStringLiteral("/echo")));
    EXPECT_EQ(client.Status(), 200);
}

TEST_F(HttpClientTest, WaitsKeepEventsFlowingAndRefuseASecondGet) {
    int ticks = 0;
    QString nestedError;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (++ticks == 3) {
            nestedError = ErrorOf([&] { client.Get(Url(QStringLiteral("/notfound"))); });
        }
    });
    ticker.start(5);
    client.Get(Url(QStringLiteral("/bytewise")));
    ticker.stop();

    EXPECT_GE(ticks, 3);
    EXPECT_EQ(nestedError, QStringLiteral("Already connected"));
    // The running get was left alone.
    EXPECT_EQ(client.Status(), 200);
    EXPECT_EQ(client.Body(), "1.0.4.0\r\n");
}

TEST_F(HttpClientTest, CancelEndsTheCurrentWait) {
    QTimer::singleShot(50, [&] { client.Cancel(); });
    const std::uint32_t start = clock.TickCount();
    EXPECT_EQ(ErrorOf([&] { client.Get(Url(QStringLiteral("/silent"))); }),
              QStringLiteral("Socket readln aborted"));
    EXPECT_LT(clock.TickCount() - start, 4000u);
}

TEST_F(HttpClientTest, HostOfTheUrlIsLookedUpAndAPathAloneKeepsHostAndPort) {
    QList<QByteArray> asked;
    HttpClient named(clock, Resolver(FakeResolver::Mode::Loopback, &asked));
    named.Get(QStringLiteral("http://first.example:%1/echo/a").arg(server.Port()));
    EXPECT_TRUE(named.Body().startsWith("GET /echo/a HTTP/1.0\r\nHost: first.example\r\n"));
    named.Get(QStringLiteral("/echo/b"));
    EXPECT_TRUE(named.Body().startsWith("GET /echo/b HTTP/1.0\r\nHost: first.example\r\n"));
    EXPECT_EQ(asked, (QList<QByteArray>{"first.example", "first.example"}));
}

// Failures before any connection: the URL rules and the name lookup.
TEST(HttpClientUrlTest, UrlsThatCannotBeFetched) {
    struct Case {
        const char* url;
        const char* error;
    };
    const Case cases[] = {
        {"", "Empty URL"},
        {"https://secure.example/", "HTTP Secure Socket is not supported"},
        {"HTTPS://secure.example/", "HTTP Secure Socket is not supported"},
        {"http://host.example:abc/", "'abc' is not a valid integer value"},
        {"http://host.example:/", "'' is not a valid integer value"},
        {"http://host.example:70000/", "'70000' is not a valid integer value"},
        {"http://unknown.example/", "Null Remote Address"},
    };
    platform::SystemClock clock;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        HttpClient client(clock, Resolver(FakeResolver::Mode::Fail));
        EXPECT_EQ(ErrorOf([&] { client.Get(QString::fromLatin1(c.url)); }),
                  QString::fromLatin1(c.error));
    }
}

TEST(HttpClientLookupTest, LookupThatNeverAnswersTimesOutAfterFiveSeconds) {
    platform::ManualClock clock(1000);
    HttpClient client(clock, Resolver(FakeResolver::Mode::Never));
    // Time runs a hundred times faster than the wall clock.
    QTimer fast;
    QObject::connect(&fast, &QTimer::timeout, [&] { clock.Advance(100); });
    fast.start(1);
    EXPECT_EQ(ErrorOf([&] { client.Get(QStringLiteral("http://slow.example/")); }),
              QStringLiteral("Host Lookup Timed Out"));
    fast.stop();
    EXPECT_GE(clock.TickCount() - 1000u, 5000u);
    EXPECT_LE(clock.TickCount() - 1000u, 5200u);
}

TEST(HttpClientLookupTest, LookupCanBeCancelled) {
    platform::SystemClock clock;
    HttpClient client(clock, Resolver(FakeResolver::Mode::Never));
    QTimer::singleShot(20, [&] { client.Cancel(); });
    EXPECT_EQ(ErrorOf([&] { client.Get(QStringLiteral("http://slow.example/")); }),
              QStringLiteral("Host Lookup Canceled"));
}

// A listener whose accept queue is full: further connection attempts get no
// answer at all, as with a host that drops them.
class FullListener {
public:
    FullListener() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 0);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        for (int i = 0; i < 8; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            fillers_.push_back(fd);
        }
    }
    ~FullListener() {
        for (int fd : fillers_) {
            ::close(fd);
        }
        ::close(listener_);
    }
    int Port() const { return port_; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

TEST(HttpClientConnectTest, UnansweredConnectionTimesOutOrIsCancelled) {
    FullListener listener;
    const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(listener.Port());
    {
        platform::ManualClock clock(500);
        HttpClient client(clock);
        QTimer fast;
        QObject::connect(&fast, &QTimer::timeout, [&] { clock.Advance(100); });
        fast.start(1);
        EXPECT_EQ(ErrorOf([&] { client.Get(url); }), QStringLiteral("Connection Timed out"));
        EXPECT_GE(clock.TickCount() - 500u, 5000u);
    }
    {
        platform::SystemClock clock;
        HttpClient client(clock);
        QTimer::singleShot(20, [&] { client.Cancel(); });
        EXPECT_EQ(ErrorOf([&] { client.Get(url); }), QStringLiteral("Connection Canceled"));
    }
}

} // namespace
} // namespace korvinet::net
