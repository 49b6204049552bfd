#include "net/update_check.h"

#include "net/build_info.h"
#include "net/http_client.h"

#include <array>
#include <exception>
#include <limits>

namespace korvinet::net {

namespace {

const char* const kVersionFilePath = "/files/software/Korvinet/download/latestversion.txt";
const char* const kDownloadPagePath = "/files/software/Korvinet/";

bool IsBlank(QChar c) {
    return c == QLatin1Char(' ') || (c.unicode() >= 9 && c.unicode() <= 13);
}

// Reads a leading number: blanks skipped, optional sign, decimal digits up to
// the first other character; no digits give 0. False when the value does not
// fit in 32 bits.
bool LeadingNumber(const QString& text, int* value) {
    qsizetype i = 0;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    long long magnitude = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        magnitude = magnitude * 10 + (text[i].unicode() - '0');
        if (magnitude > static_cast<long long>(std::numeric_limits<int>::max()) + 1) {
            return false;
        }
    }
    const long long signedValue = negative ? -magnitude : magnitude;
    if (signedValue > std::numeric_limits<int>::max()) {
        return false;
    }
    *value = static_cast<int>(signedValue);
    return true;
}

bool SplitVersion(QString text, std::array<int, 4>* numbers) {
    for (int n = 0; n < 4; ++n) {
        if (!LeadingNumber(text, &(*numbers)[n])) {
            return false;
        }
        if (n < 3) {
            const qsizetype dot = text.indexOf(QLatin1Char('.'));
            if (dot >= 0) {
                text = text.mid(dot + 1);
            }
        }
    }
    return true;
}

// The body without a leading UTF-8 byte-order mark and without its leading
// and trailing blanks and control characters (every byte of code 32 or less).
// Editors on Windows put the mark in front of a file saved as UTF-8; left in,
// it reads as three Latin-1 letters before the first number, which then
// counts as 0 and hides any update.
QString VersionFromBody(const QByteArray& body) {
    qsizetype begin = body.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    qsizetype end = body.size();
    while (begin < end && static_cast<unsigned char>(body[begin]) <= 32) {
        ++begin;
    }
    while (end > begin && static_cast<unsigned char>(body[end - 1]) <= 32) {
        --end;
    }
    return QString::fromLatin1(body.mid(begin, end - begin));
}

} // namespace

QString UpdateHost() {
    return QString::fromLatin1(build::kUpdateHost);
}

QString VersionFileUrl(const QString& host) {
    return QStringLiteral("http://") + host + QLatin1String(kVersionFilePath);
}

QString DownloadPageUrl(const QString& host) {
    return QStringLiteral("http://") + host + QLatin1String(kDownloadPagePath);
}

int CompareVersions(const QString& latest, const QString& own, bool* unreadable) {
    std::array<int, 4> a{};
    std::array<int, 4> b{};
    const bool ok = SplitVersion(latest, &a) && SplitVersion(own, &b);
    if (unreadable != nullptr) {
        *unreadable = !ok;
    }
    if (!ok) {
        return 0;
    }
    for (int i = 0; i < 4; ++i) {
        if (a[i] != b[i]) {
            return a[i] > b[i] ? 1 : -1;
        }
    }
    return 0;
}

UpdateCheckResult CheckForUpdates(HttpClient& client, const QString& ownVersion,
                                  const QString& updateHost) {
    UpdateCheckResult result;
    QString latest;
    try {
        client.Get(VersionFileUrl(updateHost));
        if (client.Status() != 200 || ownVersion.isEmpty()) {
            result.messages << QStringLiteral("Failed to connect to version server!");
            return result;
        }
        latest = VersionFromBody(client.Body());
    } catch (const std::exception&) {
        result.messages << QStringLiteral("Failed to connect to version server!");
        return result;
    }

    bool unreadable = false;
    const int comparison = CompareVersions(latest, ownVersion, &unreadable);
    if (unreadable) {
        result.messages << QStringLiteral("Error parsing version information");
    }
    if (comparison == 1) {
        result.question = QStringLiteral("An update is available:\nThis version: ") + ownVersion +
                          QStringLiteral(", Latest version: ") + latest +
                          QStringLiteral("\nWould you like to visit the update website?");
        result.openUrl = DownloadPageUrl(updateHost);
    } else {
        result.messages << QStringLiteral(
                               "No updates are available at this time.\nThis version: ") +
                               ownVersion + QStringLiteral(", Latest version: ") + latest;
    }
    return result;
}

} // namespace korvinet::net
