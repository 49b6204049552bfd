#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

class QSocketNotifier;
struct MHD_Connection;
struct MHD_Daemon;

namespace korvinet::web {

// Where the server listens: an IPv4 or IPv6 address and a port (0: any free
// one).
struct HttpAddress {
    QString host = QStringLiteral("127.0.0.1");
    int port = 0;

    QString Display() const; // "127.0.0.1:8080", "[::1]:8080"
};

// "[ADDR:]PORT": "8080" (on 127.0.0.1, so nothing is exposed without being
// asked), "0.0.0.0:8080", "[::]:8080". None, with a one-line reason, for
// anything else.
std::optional<HttpAddress> ParseHttpAddress(const QString& text, QString* error);

struct HttpRequest {
    QByteArray method; // "GET" or "HEAD"
    QByteArray path;   // decoded, without the query
    // The query's arguments, decoded, in the order given.
    std::vector<std::pair<QString, QString>> query;
    // The header fields as sent, in the order given.
    std::vector<std::pair<QByteArray, QByteArray>> headers = {};

    // The first value of a query argument; none when absent.
    std::optional<QString> Argument(const QString& name) const;
    // The first value of a header field, its name in any case; none when absent.
    std::optional<QByteArray> Header(const QByteArray& name) const;
};

struct HttpResponse {
    int status = 200;
    QByteArray contentType = "text/plain; charset=utf-8";
    QByteArray body;
    std::vector<std::pair<QByteArray, QByteArray>> headers = {};
};

// A response with a one-line plain-text reason.
HttpResponse PlainResponse(int status, const QString& line);

// What a handler answers: a response now, or a job that makes it away from
// the event loop (reading a long stretch of the journal). A job must not
// touch anything the event loop's thread changes; it gets copies.
struct HttpAnswer {
    HttpResponse now;
    std::function<HttpResponse()> later;
};

struct HttpServerLimits {
    unsigned maxConnections = 64;      // more wait in the kernel's queue
    unsigned maxConnectionsPerIp = 32; // so one client cannot take them all
    unsigned idleTimeoutSeconds = 15;  // a connection silent that long is closed
    std::size_t requestBytes = 16384;  // request line and headers together
    int maxHeaders = 64;               // more: 431
    int workerThreads = 1;             // jobs at a time; the rest queue
};

// An HTTP/1.1 server (libmicrohttpd) driven by the Qt event loop of the thread
// that creates it: the library's epoll descriptor is watched by a socket
// notifier and its timeouts by a timer, so handlers run on that thread, next
// to the data they read, without locks. Only GET and HEAD reach the handler;
// other methods get 405. Jobs run on a small pool of their own and their
// responses are sent from the event loop again. Connections are kept open
// between requests until silent for the idle timeout.
class HttpServer {
public:
    using Handler = std::function<HttpAnswer(const HttpRequest&)>;

    explicit HttpServer(Handler handler, HttpServerLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // False with a one-line reason when the address cannot be served.
    [[nodiscard]] bool Listen(const HttpAddress& address, QString* error);
    // The port listened on (the one chosen for port 0); 0 before Listen.
    int Port() const { return port_; }

private:
    struct Exchange;
    friend struct HttpServerGlue; // the library's callbacks

    bool Request(MHD_Connection* connection, const char* url, const char* method,
                 std::size_t* uploadSize, void** state);
    void Deliver(Exchange* exchange, HttpResponse response);
    void Run();
    unsigned Connections() const;

    Handler handler_;
    HttpServerLimits limits_;
    MHD_Daemon* daemon_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer timer_;
    QThreadPool pool_;
    // Receives the jobs' responses on the event loop's thread; gone first
    // when the server ends, so none arrives after.
    std::unique_ptr<QObject> inbox_;
    std::set<Exchange*> suspended_;
    QString lastLog_;
    int port_ = 0;
};

} // namespace korvinet::web
