#include "support/script_server.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvinet::testing {

ScriptServer::ScriptServer(const QString& program, const QStringList& arguments,
                           const QString& portPattern) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(program, arguments);
    if (!process_.waitForStarted(10000)) {
        return;
    }
    const QRegularExpression pattern(portPattern);
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        while (!process_.canReadLine()) {
            if (!process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
                return;
            }
        }
        const QString line = QString::fromUtf8(process_.readLine()).trimmed();
        const QRegularExpressionMatch match = pattern.match(line);
        if (match.hasMatch()) {
            port_ = match.captured(1).toInt();
            return;
        }
    }
}

ScriptServer::~ScriptServer() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QString TestScript(const QString& name) {
    return QStringLiteral(KORVINET_TESTS_DIR "/") + name;
}

int UnusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

} // namespace korvinet::testing
