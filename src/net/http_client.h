#pragma once

#include "net/http_exchange.h"
#include "platform/host_resolver.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace korvinet::platform {
class Clock;
} // namespace korvinet::platform

namespace korvinet::net {} // namespace korvinet::net

namespace korvinet::net {

// A small HTTP/1.0 GET client over plain TCP sockets, one fresh connection per
// exchange. Every wait (name lookup, connection set-up, each response line,
// each silence while the body arrives) is bounded by the time-out and keeps
// dispatching pending Qt events between short polls, so the window, its
// timers and the user's commands stay alive meanwhile.
//
// Redirections (status 299 to 399) are followed; 300, 301 and 302 go to the
// Location, the others repeat the same URL. A cookie set by a redirection is
// kept and sent with every later request of this client.
class HttpClient {
public:
    static constexpr std::uint32_t kDefaultTimeoutMs = 5000;
    static constexpr qsizetype kReceivePiece = HttpResponseReader::kLinePiece;
    // A server that keeps redirecting must not hold the caller forever.
    static constexpr int kMaxExchanges = 10;

    // Lookups go through the resolver given, or through the system's.
    // Throws HttpError("Initializaton of windows sockets failed") when no
    // socket can be made.
    explicit HttpClient(const platform::Clock& clock,
                        std::unique_ptr<platform::HostResolver> resolver = nullptr);
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;
    ~HttpClient();

    // Fetches the URL and returns once a final (non-redirection) response has
    // been read; Status() and Body() then describe it. An HTTP status such as
    // 404 is no error. Throws HttpError on every failure, after closing the
    // connection; a get started while another is under way (from an event
    // dispatched during its waits) throws "Already connected" and leaves the
    // running one alone.
    void Get(const QString& url);

    // Ends the current wait of a running get with its cancellation error.
    void Cancel();

    int Status() const { return status_; }
    const QByteArray& Body() const { return body_; }

    void SetTimeout(std::uint32_t ms) { timeoutMs_ = ms; }

private:
    void Connect();
    void SendAll(const QByteArray& data);
    // Receives the response into the reader until the server closes; status
    // and body keep what was read, also when it fails.
    void ReadResponse(HttpResponseReader* response);
    void CloseSocket();
    bool MakeSocket();

    bool TimedOut(std::uint32_t start) const;
    // One round of a wait: up to 2 ms for the socket to become ready (or a
    // plain 2 ms sleep without a socket), then pending events.
    void WaitRound(short events);

    const platform::Clock& clock_;
    std::unique_ptr<platform::HostResolver> resolver_;
    std::uint32_t timeoutMs_ = kDefaultTimeoutMs;
    int socket_ = -1;
    bool busy_ = false;
    bool cancelled_ = false;

    HttpTarget target_;
    int status_ = 0;
    QByteArray body_;
    QString cookie_;
    std::vector<char> buffer_;
};

} // namespace korvinet::net
