#include "net/ftp_upload.h"
#include "platform/clock.h"
#include "platform/regional.h"
#include "support/script_server.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace korvinet::net {
namespace {

using korvinet::testing::ScriptServer;
using korvinet::testing::TestScript;
using korvinet::testing::UnusedPort;

const QString kPassword = QStringLiteral("s3cret-pw");

// What the stand-in for SaveChartAs writes for each format code.
QByteArray FileFor(int formatCode) {
    switch (formatCode) {
    case 1:
        return QByteArray("\xFF\xD8\xFF\xE0 JPEG ") + QByteArray(5000, 'j');
    case 2: {
        QByteArray bmp("BM");
        for (int i = 0; i < 200000; ++i) {
            bmp += static_cast<char>(i * 7); // every byte value, in binary
        }
        return bmp;
    }
    case 3:
        return "# header\r\nDate,Reading\r\n3/14/2012 9:00:03 AM,0.012\r\n";
    default:
        return {};
    }
}

class FtpUploadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(temp.isValid());
        ASSERT_TRUE(QDir(home.path()).mkdir(QStringLiteral("upload")));
        ASSERT_NE(server.Port(), 0) << "FTP server did not start";
        settings.ftpHost = server.Address();
        settings.ftpUsername = QStringLiteral("korvinet");
        settings.ftpPassword = kPassword;
        settings.ftpDirectory = QStringLiteral("upload");
        settings.ftpFilename = QStringLiteral("radiation.jpg");
    }

    // Runs one attempt, checks the rules every attempt keeps, returns the
    // status texts in the order they were set.
    QStringList Send() {
        QStringList statuses;
        const QString last =
            uploader.SendNow(settings, [&](const QString& s) { statuses.append(s); });
        EXPECT_FALSE(statuses.isEmpty());
        if (!statuses.isEmpty()) {
            EXPECT_EQ(last, statuses.last());
        }
        for (const QString& s : statuses) {
            EXPECT_FALSE(s.contains(kPassword)) << s.toStdString();
        }
        EXPECT_TRUE(QDir(temp.path()).isEmpty()) << "temporary file left behind";
        return statuses;
    }

    QByteArray ServerFile(const QString& path) const {
        QFile file(home.filePath(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    bool Save(const QString& fileName, int formatCode) {
        savedCodes.append(formatCode);
        // The file exists already (made securely), alone in the temporary folder.
        EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{QFileInfo(fileName).fileName()});
        EXPECT_TRUE(QFileInfo(fileName).fileName().startsWith(QStringLiteral("quo")));
        EXPECT_EQ(QFileInfo(fileName).absolutePath(), QDir(temp.path()).absolutePath());
        if (formatCode < 1 || formatCode > 3) {
            return false; // SaveChartAs shows its own message for these
        }
        QFile file(fileName);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return false;
        }
        return file.write(FileFor(formatCode)) == FileFor(formatCode).size();
    }

    QTemporaryDir home;
    QTemporaryDir temp;
    ScriptServer server{QStringLiteral("/usr/bin/python3"),
                        {TestScript(QStringLiteral("net/ftp_test_server.py")), home.path(),
                         QStringLiteral("korvinet"), kPassword}};
    // 14 March 2012, 10:20:00.
    platform::ManualClock clock{0, 40982.0 + (10 * 3600 + 20 * 60) / 86400.0};
    platform::Regional regional{QLocale(QLocale::English, QLocale::UnitedStates)};
    QList<int> savedCodes;
    FtpUploader uploader{clock, regional,
                         [this](const QString& f, int code) { return Save(f, code); },
                         [this] { return temp.path(); }};
    FtpUploadSettings settings;
};

const QStringList kSuccess = {QStringLiteral("Connecting to host."), QStringLiteral("Logged in OK"),
                              QStringLiteral("3/14/2012 10:20:00 AM: Upload success!")};

TEST_F(FtpUploadTest, EachFileTypeArrivesByteForByte) {
    for (int fileType = 0; fileType < 3; ++fileType) {
        SCOPED_TRACE(fileType);
        settings.ftpFiletype = fileType;
        settings.ftpFilename = QStringLiteral("file%1.dat").arg(fileType);
        EXPECT_EQ(Send(), kSuccess);
        EXPECT_EQ(savedCodes.last(), fileType + 1);
        EXPECT_EQ(ServerFile(QStringLiteral("upload/") + settings.ftpFilename),
                  FileFor(fileType + 1));
    }
}

TEST_F(FtpUploadTest, DefaultsStoreABitmapUnderTheJpegName) {
    FtpUploadSettings defaults;
    EXPECT_EQ(defaults.ftpFiletype, 1);
    settings.ftpFiletype = defaults.ftpFiletype;
    EXPECT_EQ(Send(), kSuccess);
    EXPECT_EQ(ServerFile(QStringLiteral("upload/radiation.jpg")), FileFor(2));
}

TEST_F(FtpUploadTest, FailuresOnTheServerSide) {
    struct Case {
        const char* what;
        QString user;
        QString password;
        QString directory;
        QStringList statuses;
    };
    const QString user = QStringLiteral("korvinet");
    const QString upload = QStringLiteral("upload");
    const QString connecting = QStringLiteral("Connecting to host.");
    const QString loggedIn = QStringLiteral("Logged in OK");
    const Case cases[] = {
        {"wrong password",
         user,
         QStringLiteral("wrong"),
         upload,
         {connecting, QStringLiteral("LOGIN FAILURE")}},
        {"unknown user",
         QStringLiteral("nobody"),
         kPassword,
         upload,
         {connecting, QStringLiteral("LOGIN FAILURE")}},
        {"missing directory",
         user,
         kPassword,
         QStringLiteral("no/such/dir"),
         {connecting, loggedIn, QStringLiteral("Error switching directories!")}},
        {"storing not allowed",
         QStringLiteral("reader"),
         QStringLiteral("reader"),
         upload,
         {connecting, loggedIn, QStringLiteral("Error uploading file")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        settings.ftpUsername = c.user;
        settings.ftpPassword = c.password;
        settings.ftpDirectory = c.directory;
        EXPECT_EQ(Send(), c.statuses);
        EXPECT_EQ(ServerFile(QStringLiteral("upload/radiation.jpg")), "<missing>");
        EXPECT_EQ(ServerFile(QStringLiteral("radiation.jpg")), "<missing>");
    }
}

TEST_F(FtpUploadTest, EmptyDirectoryIsStillChangedTo) {
    // This server takes a change to no directory as one to the home folder.
    settings.ftpDirectory.clear();
    EXPECT_EQ(Send(), kSuccess);
    EXPECT_EQ(ServerFile(QStringLiteral("radiation.jpg")), FileFor(2));
}

TEST_F(FtpUploadTest, NothingListening) {
    settings.ftpHost = QStringLiteral("127.0.0.1:%1").arg(UnusedPort());
    EXPECT_EQ(Send(), (QStringList{QStringLiteral("Connecting to host."),
                                   QStringLiteral("UNABLE TO CONNECT!")}));
}

TEST_F(FtpUploadTest, NoFileTypeFailsBeforeConnecting) {
    settings.ftpFiletype = -1;
    settings.ftpHost = QStringLiteral("127.0.0.1:%1").arg(UnusedPort());
    EXPECT_EQ(Send(), QStringList{QStringLiteral("Error saving file locally!")});
    EXPECT_EQ(savedCodes, QList<int>{0});
}

TEST_F(FtpUploadTest, TemporaryFolderProblems) {
    struct Case {
        QString folder;
        const char* status;
    };
    const Case cases[] = {
        {QString(), "ERROR GETTING TEMP FILE PATH!"},
        {QLatin1Char('/') + QString(255, QLatin1Char('t')), "ERROR GETTING TEMP FILE PATH!"},
        {temp.filePath(QStringLiteral("missing")), "ERROR GETTING TEMP FILE NAME!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        FtpUploader broken(
            clock, regional, [this](const QString& f, int code) { return Save(f, code); },
            [&] { return c.folder; });
        QStringList statuses;
        broken.SendNow(settings, [&](const QString& s) { statuses.append(s); });
        EXPECT_EQ(statuses, QStringList{QString::fromLatin1(c.status)});
    }
    EXPECT_TRUE(savedCodes.isEmpty());
}

TEST_F(FtpUploadTest, TemporaryFileIsDeletedWhenTheWriterThrows) {
    FtpUploader throwing(
        clock, regional,
        [&](const QString& f, int) -> bool {
            QFile(f).open(QIODevice::WriteOnly);
            throw std::runtime_error("disk full");
        },
        [this] { return temp.path(); });
    EXPECT_THROW(throwing.SendNow(settings), std::runtime_error);
    EXPECT_TRUE(QDir(temp.path()).isEmpty());
}

} // namespace
} // namespace korvinet::net
