#include "net/ftp_upload.h"

#include "platform/clock.h"
#include "platform/regional.h"

#include <QDir>
#include <QFile>
#include <csignal>
#include <cstdlib>
#include <ftplib.h>
#include <unistd.h>

namespace korvinet::net {

namespace {

// The longest temporary folder path an attempt accepts.
constexpr qsizetype kMaxTempFolderLength = 255;

// A server that drops the data connection mid-transfer would otherwise kill
// the program with SIGPIPE inside the library's writes.
class SigpipeIgnored {
public:
    SigpipeIgnored() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &previous_);
    }
    ~SigpipeIgnored() { sigaction(SIGPIPE, &previous_, nullptr); }
    SigpipeIgnored(const SigpipeIgnored&) = delete;
    SigpipeIgnored& operator=(const SigpipeIgnored&) = delete;

private:
    struct sigaction previous_ {};
};

// Deletes the temporary file when the attempt ends, however it ends.
class TempFile {
public:
    explicit TempFile(QString* path) : path_(path) {}
    ~TempFile() { Remove(); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    void Remove() {
        if (!path_->isEmpty()) {
            QFile::remove(*path_);
            path_->clear();
        }
    }

private:
    QString* path_;
};

// The format code SaveChartAs takes for an entry of the file-type list: 1
// JPEG, 2 BMP, 3 data file; no entry (-1) gives 0, which it refuses.
int FormatCode(std::int32_t fileType) {
    return fileType + 1;
}

} // namespace

FtpUploader::FtpUploader(const platform::Clock& clock, const platform::Regional& regional,
                         SaveChartAsFunction saveChartAs, TempFolderFunction tempFolder)
    : clock_(clock), regional_(regional), saveChartAs_(std::move(saveChartAs)),
      tempFolder_(std::move(tempFolder)) {
    if (!tempFolder_) {
        tempFolder_ = [] { return QDir::tempPath(); };
    }
}

QString FtpUploader::SendNow(const FtpUploadSettings& settings, const StatusFunction& status) {
    QString last;
    const auto report = [&](const QString& text) {
        last = text;
        if (status) {
            status(text);
        }
    };

    FtpInit();

    const QString folder = tempFolder_();
    if (folder.isEmpty() || folder.size() > kMaxTempFolderLength) {
        report(QStringLiteral("ERROR GETTING TEMP FILE PATH!"));
        return last;
    }
    // mkstemp creates the file exclusively with owner-only access, so nobody
    // can slip another file in under the name between naming and writing.
    QByteArray pattern = QFile::encodeName(QDir(folder).filePath(QStringLiteral("quoXXXXXX")));
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        report(QStringLiteral("ERROR GETTING TEMP FILE NAME!"));
        return last;
    }
    ::close(fd);
    tempFileName_ = QFile::decodeName(pattern);
    TempFile tempFile(&tempFileName_);

    if (!saveChartAs_ || !saveChartAs_(tempFileName_, FormatCode(settings.ftpFiletype))) {
        report(QStringLiteral("Error saving file locally!"));
        return last;
    }

    const SigpipeIgnored sigpipeIgnored;
    report(QStringLiteral("Connecting to host."));
    netbuf* connection = nullptr;
    if (FtpConnect(settings.ftpHost.toUtf8().constData(), &connection) == 0) {
        report(QStringLiteral("UNABLE TO CONNECT!"));
        return last;
    }
    if (FtpLogin(settings.ftpUsername.toUtf8().constData(),
                 settings.ftpPassword.toUtf8().constData(), connection) == 0) {
        report(QStringLiteral("LOGIN FAILURE"));
        tempFile.Remove();
        FtpQuit(connection);
        return last;
    }
    report(QStringLiteral("Logged in OK"));
    if (FtpChdir(settings.ftpDirectory.toUtf8().constData(), connection) == 0) {
        report(QStringLiteral("Error switching directories!"));
    } else if (FtpPut(QFile::encodeName(tempFileName_).constData(),
                      settings.ftpFilename.toUtf8().constData(), FTPLIB_IMAGE, connection) == 0) {
        report(QStringLiteral("Error uploading file"));
    } else {
        report(regional_.DateTimeText(clock_.Now()) + QStringLiteral(": Upload success!"));
    }
    tempFile.Remove();
    FtpQuit(connection);
    return last;
}

} // namespace korvinet::net
