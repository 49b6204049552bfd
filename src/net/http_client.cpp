#include "net/http_client.h"

#include "net/socket_errors.h"
#include "platform/clock.h"

#include <QCoreApplication>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvinet::net {

namespace {

// Messages of the failures a get can raise.
const char* const kEmptyUrl = "Empty URL";
const char* const kHttpsUnsupported = "HTTP Secure Socket is not supported";
const char* const kLookupTimedOut = "Host Lookup Timed Out";
const char* const kLookupCanceled = "Host Lookup Canceled";
const char* const kNullAddress = "Null Remote Address";
const char* const kAlreadyConnected = "Already connected";
const char* const kConnectTimedOut = "Connection Timed out";
const char* const kConnectCanceled = "Connection Canceled";
const char* const kConnectFailed = "Connection Failed";
const char* const kSendAborted = "Socket send aborted";
const char* const kReadlnAborted = "Socket readln aborted";
const char* const kCaptureAborted = "Socket capture aborted";
const char* const kTooManyExchanges = "Too many redirections";
const char* const kResponseTooLarge = "Response too large";
const char* const kSocketsFailed = "Initializaton of windows sockets failed";

[[noreturn]] void Fail(const char* message) {
    throw HttpError(QString::fromLatin1(message));
}

[[noreturn]] void FailWithErrno(int errnoValue) {
    throw HttpError(SocketErrorTextFromErrno(errnoValue));
}

bool WouldBlock(int errnoValue) {
    return errnoValue == EAGAIN || errnoValue == EWOULDBLOCK || errnoValue == EINTR;
}

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
int StatusFromLine(const QByteArray& line) {
    const QList<QByteArray> words = line.split(' ');
    if (words.size() < 2) {
        return 0;
    }
    const QByteArray& word = words[1];
    if (word.isEmpty() || word.size() > 5) {
        return 0;
    }
    for (char c : word) {
        if (c < '0' || c > '9') {
            return 0;
        }
    }
    const int value = word.toInt();
    return value <= 0xFFFF ? value : 0;
}

QByteArray WithoutLineEnd(QByteArray line) {
    if (line.endsWith('\n')) {
        line.chop(1);
    }
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    return line;
}

} // namespace

HttpError::HttpError(const QString& message)
    : std::runtime_error(message.toStdString()), message_(message) {}

HttpClient::HttpClient(const Clock& clock, std::unique_ptr<HostResolver> resolver)
    : clock_(clock), resolver_(std::move(resolver)), buffer_(kReceivePiece) {
    if (!resolver_) {
        resolver_ = std::make_unique<SystemHostResolver>();
    }
    if (!MakeSocket()) {
        Fail(kSocketsFailed);
    }
}

HttpClient::~HttpClient() {
    cancelled_ = true;
    CloseSocket();
}

void HttpClient::Cancel() {
    if (busy_) {
        cancelled_ = true;
    }
}

void HttpClient::Get(const QString& url) {
    // A get started from an event dispatched while this one waits must not
    // touch the URL, the socket or the response of the running one.
    if (busy_) {
        Fail(kAlreadyConnected);
    }
    struct BusyMark {
        bool& flag;
        explicit BusyMark(bool& f) : flag(f) { flag = true; }
        ~BusyMark() { flag = false; }
    } mark(busy_);
    cancelled_ = false;

    url_ = url;
    for (int exchange = 1;; ++exchange) {
        ParseUrl();
        const QByteArray head = RequestHead();
        QString responseCookie;
        try {
            Connect();
            SendAll(head);
            SendAll(QByteArrayLiteral("\r\n"));
            status_ = 0;
            ReadHead(&responseCookie);
            ReadBody();
        } catch (...) {
            CloseSocket();
            MakeSocket();
            throw;
        }
        if (status_ >= 300 && status_ <= 302) {
            url_ = location_;
        }
        CloseSocket();
        MakeSocket();

        if (status_ >= 300 && status_ <= 398) {
            if (!responseCookie.isEmpty()) {
                cookie_ = responseCookie;
            }
            if (!url_.contains(QLatin1Char('/'))) {
                // A bare name is relative to the server just asked; keep its
                // port too, or a server off port 80 would be left.
                QString server = host_;
                if (port_ != 80) {
                    server += QLatin1Char(':') + QString::number(port_);
                }
                url_ = QStringLiteral("http://") + server + QLatin1Char('/') + url_;
            }
        }
        if (status_ < 299 || status_ > 399) {
            return;
        }
        // A server that keeps redirecting (or answers 303 to 399, which
        // repeats the same URL) would otherwise hold the caller forever.
        if (exchange >= kMaxExchanges) {
            Fail(kTooManyExchanges);
        }
    }
}

void HttpClient::ParseUrl() {
    if (url_.isEmpty()) {
        Fail(kEmptyUrl);
    }
    if (port_ == 0) {
        port_ = 80;
    }

    const QChar slash(QLatin1Char('/'));
    const bool hasDoubleSlash = url_.contains(QLatin1String("//"));
    QString path;
    if (hasDoubleSlash) {
        const qsizetype third = NthIndexOf(url_, slash, 3);
        if (third >= 0) {
            path = url_.mid(third);
        }
    } else if (url_.contains(slash)) {
        path = url_.mid(url_.indexOf(slash));
    }
    path = path.left(kMaxPathLength);

    const qsizetype colon = url_.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        const QString scheme = url_.left(colon).toLower();
        if (scheme == QLatin1String("gopher")) {
            port_ = 70;
        } else if (scheme == QLatin1String("ftp")) {
            port_ = 21;
        } else if (scheme == QLatin1String("https")) {
            Fail(kHttpsUnsupported);
        } else {
            port_ = 80;
        }
    }

    QString host;
    if (hasDoubleSlash) {
        const qsizetype second = NthIndexOf(url_, slash, 2);
        const qsizetype third = NthIndexOf(url_, slash, 3);
        host = third >= 0 ? url_.mid(second + 1, third - second - 1) : url_.mid(second + 1);
    } else if (!url_.startsWith(slash)) {
        const qsizetype first = url_.indexOf(slash);
        host = first >= 0 ? url_.left(first) : url_;
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
        port_ = port;
        host = host.left(portColon);
    }
    if (!host.isEmpty()) {
        host_ = host;
    }

    if (path.isEmpty()) {
        path = QStringLiteral("/");
        url_ += slash;
    }
    path_ = path;
}

QByteArray HttpClient::RequestHead() const {
    QByteArray head;
    head += "GET " + path_.toLatin1() + " HTTP/1.0\r\n";
    head += "Host: " + host_.toLatin1() + "\r\n";
    head += "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n";
    head += "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
    if (!cookie_.isEmpty()) {
        head += "Cookie: " + cookie_.toLatin1() + "\r\n";
    }
    head += "Content-type: application/x-www-form-urlencoded\r\n";
    return head;
}

bool HttpClient::MakeSocket() {
    if (socket_ >= 0) {
        return true;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    // Closing resets the connection at once instead of lingering.
    const linger off{1, 0};
    if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &off, sizeof off) != 0) {
        ::close(fd);
        return false;
    }
    socket_ = fd;
    return true;
}

void HttpClient::CloseSocket() {
    if (socket_ >= 0) {
        ::close(socket_);
        socket_ = -1;
    }
}

bool HttpClient::TimedOut(std::uint32_t start) const {
    return static_cast<std::uint32_t>(clock_.TickCount() - start) >= timeoutMs_;
}

void HttpClient::WaitRound(short events) {
    if (events != 0 && socket_ >= 0) {
        pollfd p{socket_, events, 0};
        ::poll(&p, 1, 2);
    } else {
        ::poll(nullptr, 0, 2);
    }
    QCoreApplication::processEvents();
}

void HttpClient::Connect() {
    pending_.clear();
    if (socket_ < 0 && !MakeSocket()) {
        FailWithErrno(errno);
    }

    const QByteArray hostName = host_.toLatin1();
    in_addr address{};
    if (::inet_aton(hostName.constData(), &address) == 0) {
        const std::unique_ptr<HostLookup> lookup = resolver_->Start(hostName);
        const std::uint32_t start = clock_.TickCount();
        while (!lookup->Finished()) {
            if (cancelled_) {
                Fail(kLookupCanceled);
            }
            if (TimedOut(start)) {
                Fail(kLookupTimedOut);
            }
            WaitRound(0);
        }
        const std::optional<std::uint32_t> found = lookup->Address();
        if (!found) {
            Fail(kNullAddress);
        }
        address.s_addr = *found;
    }

    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(port_));
    target.sin_addr = address;
    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
        return;
    }
    if (errno != EINPROGRESS && !WouldBlock(errno)) {
        FailWithErrno(errno);
    }
    const std::uint32_t start = clock_.TickCount();
    for (;;) {
        pollfd p{socket_, POLLOUT, 0};
        if (::poll(&p, 1, 2) > 0 && p.revents != 0) {
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
                Fail(kConnectFailed);
            }
            return;
        }
        QCoreApplication::processEvents();
        if (cancelled_) {
            Fail(kConnectCanceled);
        }
        if (TimedOut(start)) {
            Fail(kConnectTimedOut);
        }
    }
}

void HttpClient::SendAll(const QByteArray& data) {
    qsizetype sent = 0;
    while (sent < data.size()) {
        if (cancelled_) {
            Fail(kSendAborted);
        }
        const ssize_t n = ::send(socket_, data.constData() + sent,
                                 static_cast<std::size_t>(data.size() - sent), MSG_NOSIGNAL);
        if (n >= 0) {
            sent += n;
        } else if (WouldBlock(errno)) {
            WaitRound(POLLOUT);
        } else {
            FailWithErrno(errno);
        }
    }
}

QByteArray HttpClient::ReadLine(qsizetype* headBytes) {
    // Received data is collected in pending_ until it holds a line end; what
    // follows the head stays there and starts the body. A line that has not
    // ended within one receive piece never will (the wait times out), as
    // does a last line cut short by the server closing.
    const std::uint32_t start = clock_.TickCount();
    bool closed = false;
    for (;;) {
        const qsizetype lf = pending_.indexOf('\n');
        if (lf >= 0) {
            *headBytes += lf + 1;
            if (*headBytes > kMaxResponseBytes) {
                Fail(kResponseTooLarge);
            }
            const QByteArray line = pending_.left(lf + 1);
            pending_.remove(0, lf + 1);
            return line;
        }
        const qsizetype room = kReceivePiece - pending_.size();
        if (closed || room <= 0) {
            WaitRound(0);
        } else {
            const ssize_t n = ::recv(socket_, buffer_.data(), static_cast<std::size_t>(room), 0);
            if (n > 0) {
                pending_.append(buffer_.data(), n);
                continue;
            }
            if (n == 0 || errno == ENOTCONN) {
                if (pending_.isEmpty()) {
                    return {};
                }
                closed = true;
            } else if (WouldBlock(errno)) {
                WaitRound(POLLIN);
            } else {
                FailWithErrno(errno);
            }
        }
        if (cancelled_ || TimedOut(start)) {
            Fail(kReadlnAborted);
        }
    }
}

void HttpClient::ReadHead(QString* cookie) {
    location_.clear();
    cookie->clear();
    qsizetype headBytes = 0;
    QByteArray line = ReadLine(&headBytes);
    if (!line.isEmpty()) {
        status_ = StatusFromLine(line);
    }
    for (;;) {
        line = ReadLine(&headBytes);
        if (line.isEmpty() || line == "\r\n" || line == "\n") {
            return;
        }
        const QByteArray text = WithoutLineEnd(line);
        const qsizetype blank = text.indexOf(' ');
        const QByteArray word = (blank >= 0 ? text.left(blank) : text).toUpper();
        if (word == "SET-COOKIE:") {
            *cookie = QString::fromLatin1(text.mid(12)).left(kMaxPathLength);
        } else if (word == "LOCATION:") {
            location_ = QString::fromLatin1(text.mid(10)).left(kMaxPathLength);
        }
        // Content-Length is of no use here: the body always runs to the end
        // of the connection.
    }
}

void HttpClient::ReadBody() {
    body_ = pending_;
    pending_.clear();
    std::uint32_t start = clock_.TickCount();
    for (;;) {
        const ssize_t n = ::recv(socket_, buffer_.data(), buffer_.size(), 0);
        if (n > 0) {
            // A server that never stops sending must not exhaust memory.
            if (body_.size() + n > kMaxResponseBytes) {
                Fail(kResponseTooLarge);
            }
            body_.append(buffer_.data(), n);
            start = clock_.TickCount();
            QCoreApplication::processEvents();
        } else if (n == 0 || errno == ENOTCONN) {
            return;
        } else if (WouldBlock(errno)) {
            WaitRound(POLLIN);
        } else {
            FailWithErrno(errno);
        }
        if (cancelled_ || TimedOut(start)) {
            Fail(kCaptureAborted);
        }
    }
}

} // namespace korvinet::net
