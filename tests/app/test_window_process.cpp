// The built window program over the simulated counter, its settings and
// journal in the test's folder, ended by the signals a logout, Ctrl+C and a
// closed terminal send.
#include "recording/journal_folder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace korvinet::app {
namespace {

// Ended as File > Exit ends it: settings saved, the journal marked clean.
TEST(WindowProcess, StopSignalsEndTheRunAsFileExitDoes) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE("signal " + std::to_string(signal));
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        env.insert(QStringLiteral("KORVINET_DRIVER"), QStringLiteral("simulator"));
        QProcess window;
        window.setProcessEnvironment(env);
        window.start(QStringLiteral(KORVINET_PROGRAM), {});
        ASSERT_TRUE(window.waitForStarted(5000));
        const QString folder = home.filePath(QStringLiteral("data/Korvinet/recordings"));
        // Recording has begun once the session is marked as running.
        for (int i = 0; i < 200 && !recording::ReadJournalSessionState(folder).running; ++i)
            QThread::msleep(50);
        ASSERT_TRUE(recording::ReadJournalSessionState(folder).running)
            << window.readAllStandardError().toStdString();

        ::kill(static_cast<pid_t>(window.processId()), signal);
        ASSERT_TRUE(window.waitForFinished(10000));
        EXPECT_EQ(window.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(window.exitCode(), 0) << window.readAllStandardError().toStdString();
        EXPECT_FALSE(recording::ReadJournalSessionState(folder).running);
        EXPECT_TRUE(QFile::exists(home.filePath(QStringLiteral("config/Quorsa/Tickplot.reg"))));
    }
}

} // namespace
} // namespace korvinet::app
