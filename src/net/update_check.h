#pragma once

#include <QString>
#include <QStringList>

namespace korvinet::net {

class HttpClient;

// The update server's host name chosen at build time (KORVINET_UPDATE_HOST).
QString UpdateHost();

// "http://" + host + the fixed paths of the version file and the download page.
QString VersionFileUrl(const QString& host);
QString DownloadPageUrl(const QString& host);

// 1 when latest is newer than own, -1 when older, 0 when equal. Each text is
// read as four numbers: a number (blanks skipped, optional sign, digits up to
// the first other character, none giving 0), then the text after its first
// "."; without a "." the last number repeats, so "1.2" reads 1, 2, 2, 2. A
// number outside the 32-bit range cannot be read: *unreadable is set and the
// result is 0.
int CompareVersions(const QString& latest, const QString& own, bool* unreadable = nullptr);

// What the update command has to show once the check has run.
struct UpdateCheckResult {
    // Plain messages, shown one after the other in boxes captioned with the
    // application title and an OK button.
    QStringList messages;
    // When not empty, asked after the messages in a "Confirm" box with Yes
    // and No; on Yes the shell opens openUrl (the download page).
    QString question;
    QString openUrl;
};

// Fetches the version file from the update host with the client, compares it
// with the own version text and says what to show. Never throws: every
// failure (network, a status other than 200, an empty own version) becomes
// "Failed to connect to version server!".
UpdateCheckResult CheckForUpdates(HttpClient& client, const QString& ownVersion,
                                  const QString& updateHost);

} // namespace korvinet::net
