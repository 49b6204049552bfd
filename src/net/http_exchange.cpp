#include "net/http_exchange.h"

#include <QList>
#include <algorithm>

namespace korvinet::net {

namespace {

// Index of the n-th (1-based) occurrence of ch, or -1.
qsizetype NthIndexOf(const QString& text, QChar ch, int n) {
    qsizetype at = -1;
    for (int i = 0; i < n; ++i) {
        at = text.indexOf(ch, at + 1);
        if (at < 0) {
            return -1;
        }
    }
    return at;
}

// The status is the second blank-separated word of the status line when that
// word is a plain decimal number; anything else (also a code followed directly
// by the line end) reads as 0.
int StatusFromLine(QByteArrayView line) {
    const qsizetype first = line.indexOf(' ');
    if (first < 0) {
        return 0;
    }
    QByteArrayView word = line.sliced(first + 1);
    const qsizetype second = word.indexOf(' ');
    if (second >= 0) {
        word = word.first(second);
    }
    if (word.isEmpty() || word.size() > 5) {
        return 0;
    }
    int value = 0;
    for (char c : word) {
        if (c < '0' || c > '9') {
            return 0;
        }
        value = value * 10 + (c - '0');
    }
    return value <= 0xFFFF ? value : 0;
}

QByteArrayView WithoutLineEnd(QByteArrayView line) {
    if (line.endsWith('\n')) {
        line.chop(1);
    }
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    return line;
}

// Whether the word is `upper` in any case (ASCII).
bool IsWord(QByteArrayView word, QByteArrayView upper) {
    if (word.size() != upper.size()) {
        return false;
    }
    for (qsizetype i = 0; i < word.size(); ++i) {
        const char c = word[i];
        if ((c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c) != upper[i]) {
            return false;
        }
    }
    return true;
}

// A header value: the line from `from` on, as Latin-1, cut to the path length.
QString HeaderValue(QByteArrayView text, qsizetype from) {
    if (from >= text.size()) {
        return {};
    }
    return QString::fromLatin1(text.sliced(from)).left(kHttpMaxPathLength);
}

} // namespace

HttpError::HttpError(const QString& message)
    : std::runtime_error(message.toStdString()), message_(message) {}

void ParseHttpUrl(HttpTarget* target) {
    QString& url = target->url;
    if (url.isEmpty()) {
        throw HttpError(QStringLiteral("Empty URL"));
    }
    if (target->port == 0) {
        target->port = 80;
    }

    const QChar slash(QLatin1Char('/'));
    const bool hasDoubleSlash = url.contains(QLatin1String("//"));
    QString path;
    if (hasDoubleSlash) {
        const qsizetype third = NthIndexOf(url, slash, 3);
        if (third >= 0) {
            path = url.mid(third);
        }
    } else if (url.contains(slash)) {
        path = url.mid(url.indexOf(slash));
    }
    path = path.left(kHttpMaxPathLength);

    const qsizetype colon = url.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        const QString scheme = url.left(colon).toLower();
        if (scheme == QLatin1String("gopher")) {
            target->port = 70;
        } else if (scheme == QLatin1String("ftp")) {
            target->port = 21;
        } else if (scheme == QLatin1String("https")) {
            throw HttpError(QStringLiteral("HTTP Secure Socket is not supported"));
        } else {
            target->port = 80;
        }
    }

    QString host;
    if (hasDoubleSlash) {
        const qsizetype second = NthIndexOf(url, slash, 2);
        const qsizetype third = NthIndexOf(url, slash, 3);
        host = third >= 0 ? url.mid(second + 1, third - second - 1) : url.mid(second + 1);
    } else if (!url.startsWith(slash)) {
        const qsizetype first = url.indexOf(slash);
        host = first >= 0 ? url.left(first) : url;
    }
    const qsizetype portColon = host.indexOf(QLatin1Char(':'));
    if (portColon >= 0) {
        const QString portText = host.mid(portColon + 1);
        bool ok = false;
        const int port = portText.toInt(&ok);
        // A number that is no TCP port would silently reach another one.
        if (!ok || port < 0 || port > 0xFFFF) {
            throw HttpError(QStringLiteral("'%1' is not a valid integer value").arg(portText));
        }
        target->port = port;
        host = host.left(portColon);
    }
    if (!host.isEmpty()) {
        target->host = host;
    }

    if (path.isEmpty()) {
        path = slash;
        url += slash;
    }
    target->path = path;
}

QByteArray HttpRequestHead(const HttpTarget& target, const QString& cookie) {
    const QByteArray path = target.path.toLatin1();
    const QByteArray host = target.host.toLatin1();
    const QByteArray kept = cookie.toLatin1();
    QByteArray head;
    head.reserve(256 + path.size() + host.size() + kept.size());
    head.append("GET ").append(path).append(" HTTP/1.0\r\n");
    head.append("Host: ").append(host).append("\r\n");
    head += "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n";
    head += "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
    if (!kept.isEmpty()) {
        head.append("Cookie: ").append(kept).append("\r\n");
    }
    head += "Content-type: application/x-www-form-urlencoded\r\n";
    return head;
}

HttpResponseReader::HttpResponseReader(qsizetype linePiece, qsizetype maxBytes)
    : linePiece_(linePiece), maxBytes_(maxBytes) {}

HttpResponseReader::State HttpResponseReader::Receive(QByteArrayView bytes) {
    if (state_ == State::Head) {
        // Lines already taken go first, once per piece: dropping them line by
        // line would move the rest of the piece again for every short line.
        pending_.remove(0, lineStart_);
        lineStart_ = 0;
        pending_.append(bytes);
        TakeLines();
    } else if (state_ == State::Body) {
        AppendBody(bytes);
    }
    return state_;
}

HttpResponseReader::State HttpResponseReader::Close() {
    if (state_ == State::Head) {
        // A closed connection reads as an empty line, which ends the head;
        // a line begun and never ended waits for the time-out.
        if (lineStart_ < pending_.size()) {
            state_ = State::Stalled;
            return state_;
        }
        EndHead();
    }
    if (state_ == State::Body) {
        state_ = State::Complete;
    }
    return state_;
}

void HttpResponseReader::TakeLines() {
    while (state_ == State::Head) {
        const qsizetype available = pending_.size() - lineStart_;
        const QByteArrayView piece =
            QByteArrayView(pending_).sliced(lineStart_, std::min(available, linePiece_));
        const qsizetype lf = piece.indexOf('\n');
        if (lf < 0) {
            if (available >= linePiece_) {
                state_ = State::Stalled;
            }
            return;
        }
        headBytes_ += lf + 1;
        if (headBytes_ > maxBytes_) {
            state_ = State::TooLarge;
            return;
        }
        lineStart_ += lf + 1;
        TakeLine(piece.first(lf + 1));
    }
}

void HttpResponseReader::TakeLine(QByteArrayView line) {
    ++lines_;
    if (lines_ == 1) {
        status_ = StatusFromLine(line);
        return;
    }
    if (line == "\r\n" || line == "\n") {
        EndHead();
        return;
    }
    const QByteArrayView text = WithoutLineEnd(line);
    const qsizetype blank = text.indexOf(' ');
    const QByteArrayView word = blank >= 0 ? text.first(blank) : text;
    if (IsWord(word, "SET-COOKIE:")) {
        cookie_ = HeaderValue(text, 12);
    } else if (IsWord(word, "LOCATION:")) {
        location_ = HeaderValue(text, 10);
    }
    // Content-Length is of no use here: the body always runs to the end of
    // the connection.
}

void HttpResponseReader::EndHead() {
    headEnded_ = true;
    state_ = State::Body;
    const QByteArray rest = pending_.mid(lineStart_);
    pending_.clear();
    lineStart_ = 0;
    AppendBody(rest);
}

void HttpResponseReader::AppendBody(QByteArrayView bytes) {
    if (body_.size() + bytes.size() > maxBytes_) {
        state_ = State::TooLarge;
        return;
    }
    body_.append(bytes);
}

bool FollowRedirection(const HttpResponseReader& response, HttpTarget* target, QString* cookie) {
    const int status = response.Status();
    if (status >= 300 && status <= 302) {
        target->url = response.Location();
    }
    if (status >= 300 && status <= 398) {
        if (!response.Cookie().isEmpty()) {
            *cookie = response.Cookie();
        }
        if (!target->url.contains(QLatin1Char('/'))) {
            // A bare name is relative to the server just asked; keep its port
            // too, or a server off port 80 would be left.
            QString server = target->host;
            if (target->port != 80) {
                server += QLatin1Char(':') + QString::number(target->port);
            }
            target->url = QStringLiteral("http://") + server + QLatin1Char('/') + target->url;
        }
    }
    return status >= 299 && status <= 399;
}

} // namespace korvinet::net
