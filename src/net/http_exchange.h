#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <stdexcept>

// The parts of an HTTP exchange that depend on text and bytes alone: the URL,
// the request head, the response as it arrives, and where a redirection leads.
// HttpClient adds sockets and waits around them; keeping these apart lets the
// same rules run on bytes in memory, in any split the network may deliver.
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

inline constexpr int kHttpMaxPathLength = 256;

// Where the next exchange goes: the URL as the client holds it and what was
// taken from it. Host and port outlive a URL that names neither.
struct HttpTarget {
    QString url;
    QString host;
    int port = 0; // 0 before the first URL: port 80
    QString path;
};

// Takes scheme, host, port and path from target->url; a URL without a path
// gets "/" appended. Throws HttpError for an empty URL, https and a port that
// is no whole number from 0 to 65535.
void ParseHttpUrl(HttpTarget* target);

// The request head up to, not including, the empty line that ends it.
QByteArray HttpRequestHead(const HttpTarget& target, const QString& cookie);

// One response, read from the bytes of its connection as they arrive.
//
// The first line is the status line; head lines follow up to an empty line or
// the end of the connection, and the body runs from there to the end of the
// connection. A head line has to end within one receive piece: a longer one,
// or a last line cut short by the close, can never end, and only the caller's
// time-out ends that wait. Head and body are each bounded, against a server
// that never stops sending.
class HttpResponseReader {
public:
    static constexpr qsizetype kLinePiece = 64 * 1024;
    static constexpr qsizetype kMaxBytes = 1024 * 1024;

    enum class State {
        Head,     // wants more of the head
        Body,     // the head has ended; the body runs to the close
        Complete, // the server closed after a readable response
        Stalled,  // a head line that can never end
        TooLarge, // head or body over the bound
    };

    explicit HttpResponseReader(qsizetype linePiece = kLinePiece, qsizetype maxBytes = kMaxBytes);

    // Takes the next received bytes; nothing changes once the state is final.
    State Receive(QByteArrayView bytes);
    // The server has closed the connection.
    State Close();

    State Current() const { return state_; }
    bool HeadEnded() const { return headEnded_; }
    // Head lines taken so far; each one ends a wait of its own.
    int HeadLines() const { return lines_; }

    int Status() const { return status_; } // 0 without a readable status line
    const QString& Location() const { return location_; }
    const QString& Cookie() const { return cookie_; }
    const QByteArray& Body() const { return body_; }

private:
    void TakeLines();
    void TakeLine(QByteArrayView line);
    void EndHead();
    void AppendBody(QByteArrayView bytes);

    qsizetype linePiece_;
    qsizetype maxBytes_;
    State state_ = State::Head;
    bool headEnded_ = false;
    QByteArray pending_;      // received head bytes not yet taken as lines
    qsizetype lineStart_ = 0; // where the next line starts in pending_
    qsizetype headBytes_ = 0;
    int lines_ = 0;
    int status_ = 0;
    QString location_;
    QString cookie_;
    QByteArray body_;
};

// Applies what a response says about the next exchange: status 300 to 302
// move the target to the Location, 300 to 398 keep a cookie the response set
// and put a bare name under the server just asked. True while the status is
// from 299 to 399, when the exchange is to be repeated on the (new) target.
bool FollowRedirection(const HttpResponseReader& response, HttpTarget* target, QString* cookie);

} // namespace korvinet::net
