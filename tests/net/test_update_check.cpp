#include "net/http_client.h"
#include "net/update_check.h"
#include "platform/clock.h"
#include "platform/version.h"
#include "support/script_server.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace korvinet::net {
namespace {

using korvinet::testing::ScriptServer;
using korvinet::testing::UnusedPort;

TEST(CompareVersionsTest, NumbersAreComparedPairwiseFromTheFirst) {
    struct Case {
        const char* latest;
        const char* own;
        int result;
    };
    const Case cases[] = {
        {"1.0.4.0", "1.0.3.0", 1},
        {"1.0.3.0", "1.0.3.0", 0},
        {"1.0.2.9", "1.0.3.0", -1},
        {"1.0.10.0", "1.0.9.0", 1}, // numbers, not text
        {"1.1", "1.0.3.0", 1},      // 1.1.1.1
        {"1.2", "1.2.2.2", 0},      // the last number repeats
        {"2", "2.2.2.2", 0},
        {"1.0.3", "1.0.3.3", 0},
        {"2.0.0.0", "10.0.0.0", -1},
        {" 1.0.4.0", "1.0.3.0", 1}, // leading blanks skipped
        {"+1.0.4.0", "1.0.3.0", 1}, // sign taken
        {"-1.0.4.0", "1.0.3.0", -1},
        {"1.0.3.0beta", "1.0.3.0", 0}, // digits end at the first other
                                       // character
        {"", "1.0.3.0", -1},           // no digits give 0
        {"<html>", "0.0.0.0", 0},
        {"1.0.3.1", "1.0.3.0", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.latest) + " vs " + c.own);
        bool unreadable = true;
        EXPECT_EQ(
            CompareVersions(QString::fromLatin1(c.latest), QString::fromLatin1(c.own), &unreadable),
            c.result);
        EXPECT_FALSE(unreadable);
    }
}

TEST(CompareVersionsTest, NumbersBeyondThirtyTwoBitsCannotBeRead) {
    bool unreadable = false;
    EXPECT_EQ(CompareVersions(QStringLiteral("1.0.99999999999.0"), QStringLiteral("1.0.3.0"),
                              &unreadable),
              0);
    EXPECT_TRUE(unreadable);
    EXPECT_EQ(
        CompareVersions(QStringLiteral("2147483647.0.0.0"), QStringLiteral("1.0.3.0"), &unreadable),
        1);
    EXPECT_FALSE(unreadable);
    EXPECT_EQ(CompareVersions(QStringLiteral("-2147483648.0.0.0"), QStringLiteral("1.0.3.0"),
                              &unreadable),
              -1);
    EXPECT_FALSE(unreadable);
}

TEST(BuildInfoTest, OwnVersionComesFromTheBuild) {
    EXPECT_EQ(platform::OwnVersionText(), QStringLiteral("1.0.3.0"));
    EXPECT_FALSE(UpdateHost().isEmpty());
    EXPECT_EQ(
        VersionFileUrl(QStringLiteral("h.example")),
        QStringLiteral("http://h.example/files/software/Korvinet/download/latestversion.txt"));
    EXPECT_EQ(DownloadPageUrl(QStringLiteral("h.example")),
              QStringLiteral("http://h.example/files/software/Korvinet/"));
}

// The version file served by a real HTTP server from a temporary folder.
class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("files/software/Korvinet/download")));
        ASSERT_NE(server.Port(), 0) << "http.server did not start";
    }

    void ServeVersionFile(const QByteArray& content) {
        QFile file(
            root.filePath(QStringLiteral("files/software/Korvinet/download/latestversion.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    UpdateCheckResult Check(const QString& own = QStringLiteral("1.0.3.0")) {
        return CheckForUpdates(client, own, server.Address());
    }

    QTemporaryDir root;
    ScriptServer server{QStringLiteral("python3"),
                        {QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"),
                         QStringLiteral("0"), QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                         QStringLiteral("--directory"), root.path()},
                        QStringLiteral("port (\\d+)")};
    platform::SystemClock clock;
    HttpClient client{clock};
};

const QString kFailed = QStringLiteral("Failed to connect to version server!");

TEST_F(UpdateCheckTest, NewerReleaseOffersTheDownloadPage) {
    ServeVersionFile("1.0.4.0\r\n");
    const UpdateCheckResult r = Check();
    EXPECT_TRUE(r.messages.isEmpty());
    EXPECT_EQ(r.question, QStringLiteral("An update is available:\nThis version: 1.0.3.0, Latest "
                                         "version: 1.0.4.0\nWould you like to visit the update "
                                         "website?"));
    EXPECT_EQ(r.openUrl,
              QStringLiteral("http://") + server.Address() + "/files/software/Korvinet/");
}

TEST_F(UpdateCheckTest, VersionTextsAsReceived) {
    struct Case {
        QByteArray file;
        const char* own;
        bool offered;
        const char* latestShown;
    };
    const Case cases[] = {
        {"1.0.3.0\n", "1.0.3.0", false, "1.0.3.0"},
        {"1.0.2.9", "1.0.3.0", false, "1.0.2.9"},
        {"\t 1.1 \r\n\r\n", "1.0.3.0", true, "1.1"},
        {"1.0.10.0", "1.0.9.0", true, "1.0.10.0"},
        {"", "1.0.3.0", false, ""},
        {"\xEF\xBB\xBF"
         "1.0.4.0\r\n",
         "1.0.3.0", true, "1.0.4.0"}, // saved with a BOM
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        ServeVersionFile(c.file);
        const UpdateCheckResult r = Check(QString::fromLatin1(c.own));
        const QString shown = QStringLiteral("This version: ") + QString::fromLatin1(c.own) +
                              QStringLiteral(", Latest version: ") +
                              QString::fromLatin1(c.latestShown);
        if (c.offered) {
            EXPECT_TRUE(r.messages.isEmpty());
            EXPECT_TRUE(r.question.contains(shown + QLatin1Char('\n')));
        } else {
            EXPECT_EQ(
                r.messages,
                QStringList{QStringLiteral("No updates are available at this time.\n") + shown});
            EXPECT_TRUE(r.question.isEmpty());
            EXPECT_TRUE(r.openUrl.isEmpty());
        }
    }
}

TEST_F(UpdateCheckTest, UnreadableVersionNumberIsReportedThenNoUpdate) {
    ServeVersionFile("1.0.99999999999.0");
    const UpdateCheckResult r = Check();
    EXPECT_EQ(r.messages,
              (QStringList{QStringLiteral("Error parsing version information"),
                           QStringLiteral("No updates are available at this time.\nThis "
                                          "version: 1.0.3.0, Latest version: 1.0.99999999999.0")}));
    EXPECT_TRUE(r.question.isEmpty());
}

TEST_F(UpdateCheckTest, EveryFailureGivesOneMessage) {
    // No version file: 404.
    EXPECT_EQ(Check().messages, QStringList{kFailed});

    // Own version unreadable, although the server answers.
    ServeVersionFile("1.0.4.0");
    const UpdateCheckResult noOwn = Check(QString());
    EXPECT_EQ(noOwn.messages, QStringList{kFailed});
    EXPECT_TRUE(noOwn.question.isEmpty());

    // Nothing listening.
    const UpdateCheckResult refused = CheckForUpdates(
        client, QStringLiteral("1.0.3.0"), QStringLiteral("127.0.0.1:%1").arg(UnusedPort()));
    EXPECT_EQ(refused.messages, QStringList{kFailed});
    EXPECT_TRUE(refused.question.isEmpty());
}

} // namespace
} // namespace korvinet::net
