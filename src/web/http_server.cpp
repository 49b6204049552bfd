#include "web/http_server.h"

#include <QSocketNotifier>
#include <algorithm>
#include <arpa/inet.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace korvinet::web {

namespace {

// A host the address options name; null when it is no IP address.
bool FillSocketAddress(const HttpAddress& address, sockaddr_storage* out, bool* ipv6) {
    std::memset(out, 0, sizeof *out);
    const QByteArray host = address.host.toLatin1();
    auto* v4 = reinterpret_cast<sockaddr_in*>(out);
    if (::inet_pton(AF_INET, host.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(address.port));
        *ipv6 = false;
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(out);
    if (::inet_pton(AF_INET6, host.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(address.port));
        *ipv6 = true;
        return true;
    }
    return false;
}

// False when the library could not take it (it then closes the connection).
bool QueueResponse(MHD_Connection* connection, const HttpResponse& response) {
    MHD_Response* r = MHD_create_response_from_buffer(
        static_cast<std::size_t>(response.body.size()),
        const_cast<char*>(response.body.constData()), MHD_RESPMEM_MUST_COPY);
    if (!r)
        return false;
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, response.contentType.constData());
    MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
    for (const auto& [name, value] : response.headers)
        MHD_add_response_header(r, name.constData(), value.constData());
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(response.status), r);
    MHD_destroy_response(r);
    return queued == MHD_YES;
}

HttpResponse InternalError() {
    return PlainResponse(500, QStringLiteral("internal error"));
}

} // namespace

QString HttpAddress::Display() const {
    return (host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host) +
           QLatin1Char(':') + QString::number(port);
}

std::optional<HttpAddress> ParseHttpAddress(const QString& text, QString* error) {
    HttpAddress address;
    QString portText = text.trimmed();
    const qsizetype colon = portText.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        QString host = portText.left(colon);
        portText = portText.mid(colon + 1);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        else if (host.contains(QLatin1Char(':'))) {
            *error = QStringLiteral("write an IPv6 address in brackets: [::1]:8080");
            return std::nullopt;
        }
        if (host == QLatin1String("localhost"))
            host = QStringLiteral("127.0.0.1");
        address.host = host;
        sockaddr_storage storage;
        bool ipv6 = false;
        if (!FillSocketAddress(address, &storage, &ipv6)) {
            *error = QStringLiteral("\"%1\" is not an IP address of this machine's form "
                                    "(127.0.0.1, 0.0.0.0, [::1])")
                         .arg(host);
            return std::nullopt;
        }
    }
    const bool digits = !portText.isEmpty() && portText.size() <= 5 &&
                        std::all_of(portText.begin(), portText.end(),
                                    [](QChar c) { return c >= u'0' && c <= u'9'; });
    address.port = digits ? portText.toInt() : -1;
    if (address.port < 0 || address.port > 65535) {
        *error = QStringLiteral("\"%1\" is no port number (0 to 65535)").arg(portText);
        return std::nullopt;
    }
    return address;
}

std::optional<QString> HttpRequest::Argument(const QString& name) const {
    for (const auto& [key, value] : query)
        if (key == name)
            return value;
    return std::nullopt;
}

std::optional<QByteArray> HttpRequest::Header(const QByteArray& name) const {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return std::nullopt;
}

HttpResponse PlainResponse(int status, const QString& line) {
    HttpResponse response;
    response.status = status;
    response.body = line.toUtf8() + '\n';
    return response;
}

// One request from its head to its answer.
struct HttpServer::Exchange {
    MHD_Connection* connection = nullptr;
    bool answering = false;               // handed to the handler
    std::optional<HttpResponse> response; // a job's, ready to send
};

// The library's callbacks, back into the server; nothing may escape them.
struct HttpServerGlue {
    static MHD_Result OnRequest(void* self, MHD_Connection* connection, const char* url,
                                const char* method, const char*, const char*,
                                std::size_t* uploadSize, void** state) {
        try {
            return static_cast<HttpServer*>(self)->Request(connection, url, method, uploadSize,
                                                           state)
                       ? MHD_YES
                       : MHD_NO;
        } catch (...) {
            return MHD_NO; // the library closes the connection
        }
    }
    static void OnCompleted(void* self, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
        auto* exchange = static_cast<HttpServer::Exchange*>(*state);
        if (!exchange)
            return;
        static_cast<HttpServer*>(self)->suspended_.erase(exchange);
        delete exchange;
        *state = nullptr;
    }
    static void OnLog(void* self, const char* format, va_list args) {
        char line[512];
        std::vsnprintf(line, sizeof line, format, args);
        static_cast<HttpServer*>(self)->lastLog_ = QString::fromLocal8Bit(line).trimmed();
    }
    static MHD_Result CollectArgument(void* list, MHD_ValueKind, const char* key,
                                      const char* value) {
        static_cast<std::vector<std::pair<QString, QString>>*>(list)->emplace_back(
            QString::fromUtf8(key), QString::fromUtf8(value ? value : ""));
        return MHD_YES;
    }
    static MHD_Result CollectHeader(void* list, MHD_ValueKind, const char* key, const char* value) {
        static_cast<std::vector<std::pair<QByteArray, QByteArray>>*>(list)->emplace_back(
            QByteArray(key), QByteArray(value ? value : ""));
        return MHD_YES;
    }
};

HttpServer::HttpServer(Handler handler, HttpServerLimits limits)
    : handler_(std::move(handler)), limits_(limits), inbox_(std::make_unique<QObject>()) {
    pool_.setMaxThreadCount(std::max(1, limits_.workerThreads));
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Run(); });
}

HttpServer::~HttpServer() {
    // History reads still queued are dropped, not run: a stop must not wait
    // for them. Their connections are resumed and closed below.
    pool_.clear();
    pool_.waitForDone();
    inbox_.reset(); // responses of jobs not yet delivered are dropped
    notifier_.reset();
    timer_.stop();
    if (!daemon_)
        return;
    // The library must not be stopped with a connection suspended.
    for (Exchange* exchange : suspended_)
        MHD_resume_connection(exchange->connection);
    suspended_.clear();
    MHD_stop_daemon(daemon_);
}

bool HttpServer::Listen(const HttpAddress& address, QString* error) {
    sockaddr_storage storage;
    bool ipv6 = false;
    if (!FillSocketAddress(address, &storage, &ipv6)) {
        *error = QStringLiteral("\"%1\" is no IP address").arg(address.host);
        return false;
    }
    const unsigned flags = MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG |
                           (ipv6 ? unsigned{MHD_USE_IPv6} : 0u);
    daemon_ = MHD_start_daemon(
        flags, static_cast<std::uint16_t>(address.port), nullptr, nullptr,
        &HttpServerGlue::OnRequest, this, MHD_OPTION_SOCK_ADDR,
        reinterpret_cast<sockaddr*>(&storage), MHD_OPTION_CONNECTION_LIMIT, limits_.maxConnections,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits_.maxConnectionsPerIp,
        MHD_OPTION_CONNECTION_TIMEOUT, limits_.idleTimeoutSeconds,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits_.requestBytes, MHD_OPTION_STRICT_FOR_CLIENT, 1,
        MHD_OPTION_NOTIFY_COMPLETED, &HttpServerGlue::OnCompleted, this, MHD_OPTION_EXTERNAL_LOGGER,
        &HttpServerGlue::OnLog, this, MHD_OPTION_END);
    if (!daemon_) {
        *error =
            QStringLiteral("cannot serve on %1: %2")
                .arg(address.Display(),
                     lastLog_.isEmpty() ? QString::fromLocal8Bit(std::strerror(errno)) : lastLog_);
        return false;
    }
    port_ = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT)->port;
    const int epoll = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD)->epoll_fd;
    notifier_ = std::make_unique<QSocketNotifier>(epoll, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Run(); });
    Run();
    return true;
}

unsigned HttpServer::Connections() const {
    return MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_CURRENT_CONNECTIONS)->num_connections;
}

void HttpServer::Run() {
    if (!daemon_)
        return;
    const unsigned before = Connections();
    MHD_run(daemon_);
    // At its connection limit the library takes its listening socket out of
    // its epoll set and puts it back only at the start of a later run, while
    // the connections a run closes are counted off at its end. So once one
    // has gone, run again straight away: no other event need ever come (with
    // every connection gone no timeout is due and nothing left in the set is
    // ready), and the clients waiting in the kernel's queue would wait for
    // good.
    if (Connections() < before) {
        timer_.start(0);
        return;
    }
    MHD_UNSIGNED_LONG_LONG ms = 0;
    if (MHD_get_timeout(daemon_, &ms) == MHD_YES)
        timer_.start(static_cast<int>(std::min<MHD_UNSIGNED_LONG_LONG>(ms, 3600000)));
    else
        timer_.stop();
}

bool HttpServer::Request(MHD_Connection* connection, const char* url, const char* method,
                         std::size_t* uploadSize, void** state) {
    auto* exchange = static_cast<Exchange*>(*state);
    if (!exchange) {
        // Refusals are answered at once, from the head: the library then
        // closes the connection without reading a body nobody wants.
        if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0) {
            HttpResponse response = PlainResponse(
                405, QStringLiteral("only GET and HEAD: this server changes nothing"));
            response.headers.emplace_back("Allow", "GET, HEAD");
            return QueueResponse(connection, response);
        }
        if (MHD_get_connection_values(connection, MHD_HEADER_KIND, nullptr, nullptr) >
            limits_.maxHeaders) {
            return QueueResponse(connection,
                                 PlainResponse(431, QStringLiteral("too many header fields")));
        }
        // The rest are answered at the next call, once the request is read
        // to its end: a response queued before that closes the connection,
        // and the page polls every second over one kept open.
        exchange = new Exchange;
        exchange->connection = connection;
        *state = exchange;
        return true;
    }
    if (*uploadSize != 0) {
        *uploadSize = 0; // a body sent with a GET: read and dropped
        return true;
    }
    if (exchange->answering) {
        // Called again after its job: the response is ready.
        if (!exchange->response)
            return true;
        const bool queued = QueueResponse(connection, *exchange->response);
        exchange->response.reset();
        return queued;
    }
    exchange->answering = true;

    HttpRequest request;
    request.method = method;
    request.path = url;
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &HttpServerGlue::CollectArgument,
                              &request.query);
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &HttpServerGlue::CollectHeader,
                              &request.headers);

    HttpAnswer answer;
    try {
        answer = handler_(request);
    } catch (...) {
        answer = {InternalError(), {}};
    }
    if (!answer.later)
        return QueueResponse(connection, answer.now);

    suspended_.insert(exchange);
    MHD_suspend_connection(connection);
    QObject* inbox = inbox_.get();
    pool_.start([this, inbox, exchange, job = std::move(answer.later)] {
        HttpResponse response;
        try {
            response = job();
        } catch (...) {
            response = InternalError();
        }
        QMetaObject::invokeMethod(
            inbox, [this, exchange, r = std::move(response)]() mutable { Deliver(exchange, r); },
            Qt::QueuedConnection);
    });
    return true;
}

void HttpServer::Deliver(Exchange* exchange, HttpResponse response) {
    if (!suspended_.erase(exchange))
        return; // the connection is gone
    exchange->response = std::move(response);
    MHD_resume_connection(exchange->connection);
    Run();
}

} // namespace korvinet::web
