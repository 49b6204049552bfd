#pragma once

#include <QString>
#include <optional>

namespace korvinet::mqtt {

// What TLS needs beyond the MQTT library: the certificate files checked
// before the first connection, and a failed handshake told in words.

// The password asked for a key: none. A key locked by one cannot be used
// unattended; the library would otherwise ask for it on the terminal.
int NoKeyPassword(char* buffer, int size, int writing, void* context);

// A file of mqtts:// that cannot be used, and why.
struct TlsFileProblem {
    enum class File { Authority, Certificate, Key };
    File file;
    QString why; // one line, naming the file
};

// Reads the files as the library will at every connection: certificates
// in PEM, a key in PEM and not encrypted, and the key that of the
// certificate. Empty names are not checked. Nothing when they can be used.
std::optional<TlsFileProblem> CheckTlsFiles(const QString& caFile, const QString& certFile,
                                            const QString& keyFile);

// Why a TLS connection to `host` failed, from an error line of the library
// and its connection (`ssl`, the library's OpenSSL object, may be null):
// the broker's certificate signed by an authority not trusted here,
// expired, made out to another host, or this station's certificate refused
// by the broker. Empty when they tell nothing beyond the line itself.
QString TlsFailureText(const QString& libraryLine, void* ssl, const QString& host);

} // namespace korvinet::mqtt
