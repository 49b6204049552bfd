// The built korvinet-station feeding the five maps, played by one local
// server (map_stand_in.h).
#include "map_stand_in.h"

#include <QDateTime>
#include <QFile>

namespace korvinet::station {
namespace {

using korvinet::testing::RunEventsFor;
using korvinet::testing::WaitUntil;

// The secrets the map server knows; none may ever be printed.
const QStringList kSecrets = {"s&cret=1 2", "safecast-key", "osem-token", "openradiation-key"};

void ExpectNoSecretPrinted(StationRun& run) {
    const QString printed = run.Errors() + run.out;
    for (const QString& secret : kSecrets)
        EXPECT_FALSE(printed.contains(secret)) << secret.toStdString();
}

// The maps away for ten intervals (and the station restarted meanwhile, in
// the second variant): afterwards every service that takes a time has every
// recorded interval, once and in order; GMCmap has the live values only.
class StationUploadsOutage : public ::testing::TestWithParam<bool> {};

TEST_P(StationUploadsOutage, FillsEveryGapTheServicesAllow) {
    const bool restart = GetParam();
    QTemporaryDir home;
    MapServer server(home);
    const QString file = UploadFile(home, server.Port());
    std::optional<StationRun> run;
    run.emplace(home, kFastSamples);
    run->Start(UploadArgs(home, file));
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const QString& s : kTimed + QStringList{"gmcmap"})
                if (server.Uploads(s).size() < 2)
                    return false;
            return true;
        },
        15000))
        << run->Errors().toStdString();

    server.Stop();
    RunEventsFor(5 * kIntervalMs);
    if (restart) {
        run->Signal(SIGTERM);
        ASSERT_TRUE(run->Finished(10000));
        EXPECT_EQ(run->process.exitCode(), 0) << run->Errors().toStdString();
        ExpectNoSecretPrinted(*run);
        run.emplace(home, kFastSamples);
        run->Start(UploadArgs(home, file));
    }
    RunEventsFor(5 * kIntervalMs);
    server.Start();
    ASSERT_TRUE(CaughtUp(server, 20000)) << run->Errors().toStdString();
    run->Signal(SIGTERM);
    ASSERT_TRUE(run->Finished(10000));
    const QString errors = run->Errors();

    EXPECT_EQ(server.Errors(), QStringList{});
    for (const QString& service : kTimed)
        ExpectEveryIntervalOnce(home, server, service);
    // GMCmap: no burst of old values after the outage, and the gap logged once.
    const std::vector<Upload> gmc = server.Uploads("gmcmap");
    ASSERT_GE(gmc.size(), 3u);
    for (std::size_t k = 1; k < gmc.size(); ++k)
        EXPECT_GT(gmc[k].at - gmc[k - 1].at, 0.8) << k;
    EXPECT_EQ(errors.count("GMCmap: the service takes no time"), 1) << errors.toStdString();
    ExpectNoSecretPrinted(*run);
}

INSTANTIATE_TEST_SUITE_P(AlsoAcrossARestart, StationUploadsOutage, ::testing::Bool());

// Each way a service says no: a refused login stops that destination alone;
// "Too soon" and HTTP 429 slow down; HTTP 500 and a service that never
// answers are retried. Once they answer again, nothing recorded is missing.
TEST(StationUploads, RefusedSlowedAndFailedAnswers) {
    QTemporaryDir home;
    MapServer server(home);
    server.SetModes({{"radmon", "toosoon"},
                     {"safecast", "429"},
                     {"opensensemap", "500"},
                     {"openradiation", "hang"}});
    StationRun run(home, kFastSamples);
    run.Start(UploadArgs(home, UploadFile(home, server.Port(), "9999")));
    RunEventsFor(5000);
    server.SetModes({});
    ASSERT_TRUE(CaughtUp(server, 25000)) << run.Errors().toStdString();
    run.Signal(SIGTERM);
    ASSERT_TRUE(run.Finished(10000));
    const QString errors = run.Errors();

    for (const char* line :
         {"radmon.org: Too soon; slowing down",
          "Safecast: HTTP 429 Too Many Requests; slowing down",
          "openSenseMap: cannot upload (HTTP 500", "OpenRadiation: cannot upload (",
          "openSenseMap: uploading again", "OpenRadiation: uploading again"})
        EXPECT_EQ(errors.count(line), 1) << line << "\n" << errors.toStdString();
    EXPECT_EQ(errors.count("GMCmap: the service refused the login (Error! User is not found.ERR1."),
              1)
        << errors.toStdString();
    EXPECT_TRUE(server.Uploads("gmcmap").empty());
    EXPECT_EQ(server.Errors(), QStringList{});
    const qint64 firstEnd = JournalIntervals(home).front().endMs;
    for (const QString& service : kTimed)
        ExpectEveryIntervalOnce(home, server, service, firstEnd);
    ExpectNoSecretPrinted(run);
}

TEST(StationUploads, BadUploadFileEndsWithOneClearLine) {
    QTemporaryDir home;
    WriteFile(home.filePath("key"), "k\n");
    struct Case {
        QByteArray text; // none: the file is missing
        QString message;
    };
    const std::vector<Case> cases = {
        {"[weather]\n", "upload.ini line 1: unknown section [weather]"},
        {"[radmon]\nuser = a\npassword-file = missing.pass\n",
         "line 3: cannot read the credential file"},
        {"[gmcmap]\naccount = 1\ncounter = 2\nurl = ftp://127.0.0.1/\n",
         "line 4: url must be an http:// or https:// address"},
        {"[safecast]\napi-key-file = key\nlatitude = 91\nlongitude = 8\n",
         "line 3: latitude must be a number from -90 to 90"},
        {"[radmon]\nuser = a\npassword-file = key\ninterval = 10\n",
         "line 4: interval 10 s is below radmon.org's minimum of 30 s"},
        {"[opensensemap]\nbox = 1\ntoken-file = key\n", "line 1: [opensensemap] needs sensor ="},
        {"[gmcmap]\naccount = 1\ncounter = 2\ncolour = red\n", "line 4: [gmcmap] has no key"},
        {"[openradiation]\napi-key-file = key\nlatitude = 1\nlongitude = 2\n"
         "measurement-environment = garden\n",
         "line 5: measurement-environment must be one of countryside, city, ontheroad, inside, "
         "plane"},
        {"[openradiation]\napi-key-file = key\nlatitude = 1\nlongitude = 2\n"
         "measurement-height = 1.5\n",
         "line 5: measurement-height must be a whole number of metres"},
        {{}, "cannot read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        const QString file = home.filePath("upload.ini");
        QFile::remove(file);
        if (!c.text.isNull())
            WriteFile(file, c.text);
        StationRun run(home);
        run.Start(UploadArgs(home, file));
        ASSERT_TRUE(run.Finished(10000));
        const QString errors = run.Errors();
        EXPECT_EQ(run.process.exitCode(), 2) << errors.toStdString();
        EXPECT_TRUE(errors.contains("--upload: ") && errors.contains(c.message))
            << errors.toStdString();
        EXPECT_EQ(errors.count('\n'), 1) << errors.toStdString();
    }
}

} // namespace
} // namespace korvinet::station
