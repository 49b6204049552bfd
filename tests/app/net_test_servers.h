#pragma once

#include "support/script_server.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace korvinet::testing {

// A real HTTP server (python3 -m http.server) on 127.0.0.1 serving a
// temporary folder laid out as the update server: the version file exists
// only once ServeVersionFile() wrote it, so until then it answers 404.
struct UpdateServer {
    QTemporaryDir root;
    ScriptServer server{QStringLiteral("python3"),
                        {QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"),
                         QStringLiteral("0"), QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                         QStringLiteral("--directory"), root.path()},
                        QStringLiteral("port (\\d+)")};

    bool Up() const { return root.isValid() && server.Port() != 0; }
    QString Host() const { return server.Address(); }

    bool ServeVersionFile(const QByteArray& content) {
        const QString folder = QStringLiteral("files/software/Korvinet/download");
        if (!QDir(root.path()).mkpath(folder))
            return false;
        QFile file(root.filePath(folder + QStringLiteral("/latestversion.txt")));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }
};

// A real FTP server (pyftpdlib) on 127.0.0.1 with a home folder holding the
// folder "upload". Users: kUser with kPassword (full rights), "reader" (may
// not store) and "strict" (refuses a change to an empty directory).
struct FtpServer {
    static inline const QString kUser = QStringLiteral("korvinet");
    static inline const QString kPassword = QStringLiteral("s3cret-pw");

    QTemporaryDir home;
    bool folderMade = home.isValid() && QDir(home.path()).mkdir(QStringLiteral("upload"));
    ScriptServer server{
        QStringLiteral("/usr/bin/python3"),
        {TestScript(QStringLiteral("net/ftp_test_server.py")), home.path(), kUser, kPassword}};

    bool Up() const { return folderMade && server.Port() != 0; }
    QString Host() const { return server.Address(); }
    QString Stored(const QString& name) const {
        return home.filePath(QStringLiteral("upload/") + name);
    }
};

} // namespace korvinet::testing
