#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace korvinet::maps {

struct HttpRequest {
    QByteArray method = "GET"; // GET or POST
    QString url;               // complete and percent-encoded
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body; // sent with POST
};

struct HttpOptions {
    int timeoutMs = 30000;        // the whole exchange
    int connectTimeoutMs = 15000; // name lookup and connection, TLS included
    int maxRedirects = 3;
    QString caFile; // trusted besides the system's certificate store; empty: none
};

struct HttpResult {
    int status = 0;                 // the HTTP status; 0 when no answer came
    QByteArray body;                // at most kMaxBody bytes of it
    QString error;                  // why no answer came (status 0)
    std::optional<int> retryAfterS; // a Retry-After header in seconds

    static constexpr int kMaxBody = 64 * 1024;
};

// Sends HTTP requests without blocking the caller's thread; each answer
// (or failure) comes back through `done` from the event loop, never from
// within Send itself.
class HttpTransport {
public:
    using Done = std::function<void(const HttpResult& result)>;
    virtual ~HttpTransport() = default;
    virtual void Send(const HttpRequest& request, const HttpOptions& options, Done done) = 0;
};

// HTTP and HTTPS through libcurl's multi interface, driven by the Qt event
// loop of the thread it lives on (socket notifiers and one timer), so any
// number of requests run on the GUI or station thread without a thread of
// their own. Certificates are checked against the system's store (and an
// extra CA file when one is given); only http and https are spoken, also
// after a redirect. Requests still running when the client is destroyed are
// dropped without their callbacks.
class CurlHttpClient final : public HttpTransport {
public:
    CurlHttpClient();
    ~CurlHttpClient() override;
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    void Send(const HttpRequest& request, const HttpOptions& options, Done done) override;

    // Requests under way.
    int Running() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The user agent every request carries: "Korvinet/<version>".
QByteArray OwnUserAgent();

} // namespace korvinet::maps
