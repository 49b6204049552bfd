#pragma once

#include <QString>
#include <optional>

namespace korvinet::mqtt {

// Where a station publishes: mqtt://[user@]host[:port] for plain TCP (port
// 1883 by default) or mqtts://... for TLS (port 8883). A password never
// appears in the URL; the caller reads it from a file.
struct MqttUrl {
    static constexpr int kDefaultPort = 1883;
    static constexpr int kDefaultTlsPort = 8883;

    bool tls = false;
    QString user; // empty: connect without a login
    QString host; // a name or an address, IPv6 without its brackets
    int port = kDefaultPort;

    // The URL again, for messages (it holds no secret).
    QString Display() const;
};

// The URL parsed, or nothing with a one-line reason in *error. A user name may
// be percent-encoded (%40 for an "@" in it).
std::optional<MqttUrl> ParseMqttUrl(const QString& text, QString* error);

// The password in the first line of a file, without the line end; nothing,
// with a one-line reason in *error, when the file cannot be read or the line
// is empty.
std::optional<QString> ReadPasswordFile(const QString& path, QString* error);

} // namespace korvinet::mqtt
