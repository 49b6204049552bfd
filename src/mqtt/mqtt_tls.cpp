#include "mqtt/mqtt_tls.h"

#include <QFile>
#include <memory>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

namespace korvinet::mqtt {

namespace {

bool UnknownAuthority(long verifyResult) {
    switch (verifyResult) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
        return true;
    default:
        return false;
    }
}

} // namespace

int NoKeyPassword(char*, int, int, void*) {
    return 0;
}

std::optional<TlsFileProblem> CheckTlsFiles(const QString& caFile, const QString& certFile,
                                            const QString& keyFile) {
    using File = TlsFileProblem::File;
    const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_client_method()),
                                                                &SSL_CTX_free);
    if (!ctx)
        return std::nullopt; // nothing to check with: the connection will say
    SSL_CTX_set_default_passwd_cb(ctx.get(), &NoKeyPassword);
    const auto problem = [](File file, const QString& why) {
        ERR_clear_error();
        return std::optional<TlsFileProblem>({file, why});
    };
    const QByteArray ca = QFile::encodeName(caFile);
    const QByteArray cert = QFile::encodeName(certFile);
    const QByteArray key = QFile::encodeName(keyFile);
    const QString noCertificate = QStringLiteral("\"%1\" holds no certificate in PEM form");
    if (!ca.isEmpty() && SSL_CTX_load_verify_locations(ctx.get(), ca.constData(), nullptr) != 1)
        return problem(File::Authority, noCertificate.arg(caFile));
    // The key first: given after a certificate, a key that does not match
    // it is refused as if it were no key at all.
    if (!key.isEmpty() &&
        SSL_CTX_use_PrivateKey_file(ctx.get(), key.constData(), SSL_FILETYPE_PEM) != 1)
        return problem(File::Key,
                       QStringLiteral("\"%1\" holds no key in PEM form, or one locked by a "
                                      "password")
                           .arg(keyFile));
    if (!cert.isEmpty() && SSL_CTX_use_certificate_chain_file(ctx.get(), cert.constData()) != 1)
        return problem(File::Certificate, noCertificate.arg(certFile));
    if (!cert.isEmpty() && !key.isEmpty() && SSL_CTX_check_private_key(ctx.get()) != 1)
        return problem(File::Key, QStringLiteral("\"%1\" is not the key of the certificate in "
                                                 "\"%2\"")
                                      .arg(keyFile, certFile));
    return std::nullopt;
}

QString TlsFailureText(const QString& libraryLine, void* ssl, const QString& host) {
    // The library checks the name itself and says so before OpenSSL's
    // "certificate verify failed", whose result then names no reason.
    if (libraryLine.contains(QLatin1String("host name verification failed")))
        return QStringLiteral("the broker's certificate is not made out to %1").arg(host);
    const long verified =
        ssl != nullptr ? SSL_get_verify_result(static_cast<SSL*>(ssl)) : X509_V_OK;
    const QString reason = QString::fromLatin1(X509_verify_cert_error_string(verified));
    switch (verified) {
    case X509_V_OK:
    case X509_V_ERR_UNSPECIFIED:
        break;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return QStringLiteral("the broker's certificate has expired");
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return QStringLiteral("the broker's certificate is not valid yet: is this machine's "
                              "clock right?");
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return QStringLiteral("the broker's certificate is not made out to %1").arg(host);
    default:
        return UnknownAuthority(verified)
                   ? QStringLiteral("the broker's certificate is not signed by an authority "
                                    "trusted here (%1)")
                         .arg(reason)
                   : QStringLiteral("the broker's certificate was refused (%1)").arg(reason);
    }
    // An alert from the broker about this station's certificate, as OpenSSL
    // words it after "SSL routines::".
    const qsizetype routines = libraryLine.lastIndexOf(QLatin1String("::"));
    const QString alert = routines < 0 ? libraryLine : libraryLine.mid(routines + 2);
    if (!alert.contains(QLatin1String(" alert ")))
        return {};
    if (alert.contains(QLatin1String("certificate required")))
        return QStringLiteral("the broker wants a client certificate (%1)").arg(alert);
    if (alert.contains(QLatin1String("certificate")) || alert.contains(QLatin1String("unknown ca")))
        return QStringLiteral("the broker refused this station's certificate (%1)").arg(alert);
    return {};
}

} // namespace korvinet::mqtt
