#include "support/http_probe.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <arpa/inet.h>
#include <future>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvinet::testing {

namespace {

int ConnectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

HttpReply HttpSend(int port, const QByteArray& request, int timeoutMs) {
    HttpReply reply;
    const int fd = ConnectTo(port);
    if (fd < 0)
        return reply;
    QByteArray received;
    qsizetype sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.constData() + sent,
                                 static_cast<std::size_t>(request.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            break; // the server may answer (and close) before reading everything
        sent += n;
    }
    pollfd p{fd, POLLIN, 0};
    char buffer[65536];
    while (::poll(&p, 1, timeoutMs) > 0) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        received.append(buffer, n);
    }
    ::close(fd);
    const qsizetype end = received.indexOf("\r\n\r\n");
    if (!received.startsWith("HTTP/1.") || end < 0)
        return reply;
    reply.head = received.left(end);
    reply.body = received.mid(end + 4);
    reply.status = received.mid(9, 3).toInt();
    return reply;
}

HttpReply HttpGet(int port, const QByteArray& path, int timeoutMs) {
    return HttpSend(port,
                    "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
                    timeoutMs);
}

HttpReply RunWhileServing(const std::function<HttpReply()>& work) {
    auto result = std::async(std::launch::async, work);
    while (result.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return result.get();
}

std::vector<int> OpenIdleConnections(int port, int count) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    std::vector<int> fds;
    for (int i = 0; i < count; ++i) {
        const int fd = ConnectTo(port);
        if (fd >= 0)
            fds.push_back(fd);
    }
    return fds;
}

void CloseAll(std::vector<int>& fds) {
    for (const int fd : fds)
        ::close(fd);
    fds.clear();
}

} // namespace korvinet::testing
