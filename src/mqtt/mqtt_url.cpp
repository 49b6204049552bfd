#include "mqtt/mqtt_url.h"

#include <QFile>
#include <QUrl>

namespace korvinet::mqtt {

namespace {

bool HostCharactersValid(const QString& host) {
    for (const QChar c : host) {
        const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                        (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                        (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') ||
                        c == QLatin1Char('.') || c == QLatin1Char('_');
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool Ipv6CharactersValid(const QString& host) {
    for (const QChar c : host) {
        const bool ok = c.isDigit() || (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
                        (c >= QLatin1Char('A') && c <= QLatin1Char('F')) || c == QLatin1Char(':') ||
                        c == QLatin1Char('.');
        if (!ok) {
            return false;
        }
    }
    return host.contains(QLatin1Char(':'));
}

// The URL as typed, but a password someone put in it does not get printed.
QString Masked(const QString& text) {
    const qsizetype start = text.indexOf(QLatin1String("://"));
    const qsizetype at = text.lastIndexOf(QLatin1Char('@'));
    if (start < 0 || at < start) {
        return text;
    }
    const qsizetype colon = text.indexOf(QLatin1Char(':'), start + 3);
    if (colon < 0 || colon > at) {
        return text;
    }
    return text.left(colon + 1) + QStringLiteral("***") + text.mid(at);
}

std::optional<MqttUrl> Fail(QString* error, const QString& text, const QString& why) {
    if (error != nullptr) {
        *error = QStringLiteral("Invalid MQTT URL \"%1\": %2").arg(Masked(text), why);
    }
    return std::nullopt;
}

} // namespace

QString MqttUrl::Display() const {
    QString text = tls ? QStringLiteral("mqtts://") : QStringLiteral("mqtt://");
    if (!user.isEmpty()) {
        text += QString::fromLatin1(QUrl::toPercentEncoding(user)) + QLatin1Char('@');
    }
    text += host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return text + QLatin1Char(':') + QString::number(port);
}

std::optional<MqttUrl> ParseMqttUrl(const QString& text, QString* error) {
    MqttUrl url;
    QString rest;
    if (text.startsWith(QLatin1String("mqtt://"), Qt::CaseInsensitive)) {
        rest = text.mid(7);
    } else if (text.startsWith(QLatin1String("mqtts://"), Qt::CaseInsensitive)) {
        url.tls = true;
        url.port = MqttUrl::kDefaultTlsPort;
        rest = text.mid(8);
    } else {
        return Fail(error, text, QStringLiteral("it must start with mqtt:// or mqtts://"));
    }
    if (rest.endsWith(QLatin1Char('/'))) {
        rest.chop(1);
    }
    if (rest.contains(QLatin1Char('/')) || rest.contains(QLatin1Char('?')) ||
        rest.contains(QLatin1Char('#'))) {
        return Fail(error, text, QStringLiteral("only [user@]host[:port] may follow the scheme"));
    }

    const qsizetype at = rest.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString userPart = rest.left(at);
        if (userPart.contains(QLatin1Char(':'))) {
            return Fail(error, text,
                        QStringLiteral("a password does not belong in the URL; "
                                       "give it in a password file"));
        }
        url.user = QUrl::fromPercentEncoding(userPart.toUtf8());
        if (url.user.isEmpty()) {
            return Fail(error, text, QStringLiteral("the user name before \"@\" is empty"));
        }
        rest = rest.mid(at + 1);
    }

    QString portText;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0) {
            return Fail(error, text, QStringLiteral("the IPv6 address lacks its \"]\""));
        }
        url.host = rest.mid(1, close - 1);
        if (!Ipv6CharactersValid(url.host)) {
            return Fail(error, text, QStringLiteral("the IPv6 address is malformed"));
        }
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':'))) {
                return Fail(error, text, QStringLiteral("unexpected text after the address"));
            }
            portText = after.mid(1);
            if (portText.isEmpty()) {
                return Fail(error, text, QStringLiteral("the port after \":\" is missing"));
            }
        }
    } else {
        const qsizetype colon = rest.indexOf(QLatin1Char(':'));
        url.host = colon < 0 ? rest : rest.left(colon);
        if (colon >= 0) {
            portText = rest.mid(colon + 1);
            if (portText.isEmpty()) {
                return Fail(error, text, QStringLiteral("the port after \":\" is missing"));
            }
        }
        if (url.host.isEmpty()) {
            return Fail(error, text, QStringLiteral("the host name is missing"));
        }
        if (!HostCharactersValid(url.host)) {
            return Fail(error, text, QStringLiteral("the host name is malformed"));
        }
    }

    if (!portText.isEmpty()) {
        bool ok = false;
        const int port = portText.toInt(&ok);
        bool digits = true;
        for (const QChar c : portText) {
            digits = digits && c.isDigit();
        }
        if (!ok || !digits || port < 1 || port > 65535) {
            return Fail(error, text, QStringLiteral("the port must be a number from 1 to 65535"));
        }
        url.port = port;
    }
    return url;
}

std::optional<QString> ReadPasswordFile(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error != nullptr) {
            *error = QStringLiteral("Cannot read the MQTT password file \"%1\": %2")
                         .arg(path, file.errorString());
        }
        return std::nullopt;
    }
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r')) {
        line.chop(1);
    }
    if (line.isEmpty()) {
        if (error != nullptr) {
            *error = QStringLiteral("The MQTT password file \"%1\" holds no password").arg(path);
        }
        return std::nullopt;
    }
    return QString::fromUtf8(line);
}

} // namespace korvinet::mqtt
