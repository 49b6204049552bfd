#pragma once

#include "net/host_resolver.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

namespace korvinet {
class Clock;
}

namespace korvinet::net {

// Every failure of a get: the message is meant to be shown (or summarised) by
// the caller; the client never shows anything itself.
class HttpError : public std::runtime_error {
public:
    explicit HttpError(const QString& message);
    QString Message() const { return message_; }

private:
    QString message_;
};

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
    static constexpr int kReceivePiece = 64 * 1024;
    static constexpr int kMaxPathLength = 256;
    // Bounds against a misbehaving server: exchanges per get (redirections)
    // and bytes of one response head and of one body.
    static constexpr int kMaxExchanges = 10;
    static constexpr qsizetype kMaxResponseBytes = 1024 * 1024;

    // Lookups go through the resolver given, or through the system's.
    // Throws HttpError("Initializaton of windows sockets failed") when no
    // socket can be made.
    explicit HttpClient(const Clock& clock, std::unique_ptr<HostResolver> resolver = nullptr);
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
    bool Busy() const { return busy_; }

    int Status() const { return status_; }
    const QByteArray& Body() const { return body_; }
    const QString& Url() const { return url_; }
    const QString& Host() const { return host_; }
    int Port() const { return port_; }
    const QString& Path() const { return path_; }
    const QString& Location() const { return location_; }
    const QString& Cookie() const { return cookie_; }

    std::uint32_t Timeout() const { return timeoutMs_; }
    void SetTimeout(std::uint32_t ms) { timeoutMs_ = ms; }

private:
    void ParseUrl();
    QByteArray RequestHead() const;
    void Connect();
    void SendAll(const QByteArray& data);
    QByteArray ReadLine(qsizetype* headBytes);
    void ReadHead(QString* cookie);
    void ReadBody();
    void CloseSocket();
    bool MakeSocket();

    bool TimedOut(std::uint32_t start) const;
    // One round of a wait: up to 2 ms for the socket to become ready (or a
    // plain 2 ms sleep without a socket), then pending events.
    void WaitRound(short events);

    const Clock& clock_;
    std::unique_ptr<HostResolver> resolver_;
    std::uint32_t timeoutMs_ = kDefaultTimeoutMs;
    int socket_ = -1;
    bool busy_ = false;
    bool cancelled_ = false;

    QString url_;
    QString host_;
    int port_ = 0;
    QString path_;
    int status_ = 0;
    QByteArray body_;
    QString location_;
    QString cookie_;
    std::vector<char> buffer_;
    QByteArray pending_; // received, not yet taken as a line
};

} // namespace korvinet::net
