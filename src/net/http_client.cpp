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

} // namespace

HttpClient::HttpClient(const platform::Clock& clock,
                       std::unique_ptr<platform::HostResolver> resolver)
    : clock_(clock), resolver_(std::move(resolver)), buffer_(kReceivePiece) {
    if (!resolver_) {
        resolver_ = std::make_unique<platform::SystemHostResolver>();
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

    target_.url = url;
    for (int exchange = 1;; ++exchange) {
        ParseHttpUrl(&target_);
        const QByteArray head = HttpRequestHead(target_, cookie_);
        HttpResponseReader response;
        try {
            Connect();
            SendAll(head);
            SendAll(QByteArrayLiteral("\r\n"));
            ReadResponse(&response);
        } catch (...) {
            CloseSocket();
            MakeSocket();
            throw;
        }
        CloseSocket();
        MakeSocket();

        if (!FollowRedirection(response, &target_, &cookie_)) {
            return;
        }
        // Status 303 to 399 repeat the same URL, so a bound is needed even
        // without a Location that points back.
        if (exchange >= kMaxExchanges) {
            Fail(kTooManyExchanges);
        }
    }
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
    if (socket_ < 0 && !MakeSocket()) {
        FailWithErrno(errno);
    }

    const QByteArray hostName = target_.host.toLatin1();
    in_addr address{};
    if (::inet_aton(hostName.constData(), &address) == 0) {
        const std::unique_ptr<platform::HostLookup> lookup = resolver_->Start(hostName);
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
    target.sin_port = htons(static_cast<std::uint16_t>(target_.port));
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

void HttpClient::ReadResponse(HttpResponseReader* response) {
    using State = HttpResponseReader::State;
    // What was read stays readable when the exchange fails; the body only
    // once the head has ended, else the last one stays.
    struct Keep {
        HttpClient& client;
        const HttpResponseReader& response;
        ~Keep() {
            client.status_ = response.Status();
            if (response.HeadEnded()) {
                client.body_ = response.Body();
            }
        }
    } keep{*this, *response};
    // Until the response has said otherwise, as seen from events handled
    // during the wait.
    status_ = 0;

    // Each head line and each silence while the body arrives has the whole
    // time-out to itself.
    std::uint32_t start = clock_.TickCount();
    int lines = 0;
    for (;;) {
        switch (response->Current()) {
        case State::Complete:
            return;
        case State::TooLarge:
            Fail(kResponseTooLarge);
        case State::Stalled:
            // A line that cannot end any more: only the time-out ends this.
            WaitRound(0);
            break;
        case State::Head:
        case State::Body: {
            const ssize_t n = ::recv(socket_, buffer_.data(), buffer_.size(), 0);
            if (n > 0) {
                const bool inBody = response->Current() == State::Body;
                response->Receive(QByteArrayView(buffer_.data(), n));
                if (inBody || response->HeadLines() != lines) {
                    lines = response->HeadLines();
                    start = clock_.TickCount();
                }
                if (inBody) {
                    QCoreApplication::processEvents();
                }
                if (!inBody || response->Current() != State::Body) {
                    continue;
                }
            } else if (n == 0 || errno == ENOTCONN) {
                response->Close();
                continue;
            } else if (WouldBlock(errno)) {
                WaitRound(POLLIN);
            } else {
                FailWithErrno(errno);
            }
            break;
        }
        }
        if (cancelled_ || TimedOut(start)) {
            Fail(response->Current() == State::Body ? kCaptureAborted : kReadlnAborted);
        }
    }
}

} // namespace korvinet::net
