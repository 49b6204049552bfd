// The update check as the user runs it from the window, against a real HTTP
// server on 127.0.0.1: every text shown, the answer to the question and the
// page the shell is asked to open.

#include "app/about_window.h"
#include "main_window_rig.h"
#include "net/update_check.h"
#include "net_test_servers.h"

#include <QAction>
#include <QPushButton>
#include <QTest>

namespace korvinet::app {

using testing::MainWindowRig;
using testing::UnusedPort;
using testing::UpdateServer;

namespace {

const QString kFailed = QStringLiteral("Failed to connect to version server!");

QString Offer(const QString& own, const QString& latest) {
    return QStringLiteral("An update is available:\nThis version: ") + own +
           QStringLiteral(", Latest version: ") + latest +
           QStringLiteral("\nWould you like to visit the update website?");
}

QString NoUpdate(const QString& own, const QString& latest) {
    return QStringLiteral("No updates are available at this time.\nThis version: ") + own +
           QStringLiteral(", Latest version: ") + latest;
}

} // namespace

class UpdateCheckWindowTest : public QObject {
    Q_OBJECT

private slots:
    void theWindowCarriesTheBuildsSettings() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        QCOMPARE(w.ProgramVersion, QStringLiteral("1.0.3.0"));
        QCOMPARE(w.UpdateHostName, korvinet::net::UpdateHost());
        QVERIFY(w.HttpClient);
    }

    // The version file decides between the question and the plain message;
    // Yes on the question opens the download page, No opens nothing.
    void versionFileDecides_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("own");
        QTest::addColumn<QString>("question");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("message");
        const QString v = QStringLiteral("1.0.3.0");
        QTest::newRow("offered, yes")
            << QByteArray("1.0.4.0\r\n") << v << Offer(v, "1.0.4.0") << true << QString();
        QTest::newRow("offered, no")
            << QByteArray("1.0.4.0\n") << v << Offer(v, "1.0.4.0") << false << QString();
        QTest::newRow("equal") << QByteArray("1.0.3.0") << v << QString() << false
                               << NoUpdate(v, "1.0.3.0");
        QTest::newRow("older") << QByteArray(" 1.0.2.9 \r\n") << v << QString() << false
                               << NoUpdate(v, "1.0.2.9");
        // Shown as received, read as 1.1.1.1.
        QTest::newRow("short text newer")
            << QByteArray("1.1\n") << v << Offer(v, "1.1") << true << QString();
        QTest::newRow("numbers, not text")
            << QByteArray("1.0.10.0") << QStringLiteral("1.0.9.0")
            << Offer(QStringLiteral("1.0.9.0"), "1.0.10.0") << false << QString();
    }
    void versionFileDecides() {
        QFETCH(QByteArray, file);
        QFETCH(QString, own);
        QFETCH(QString, question);
        QFETCH(bool, yes);
        QFETCH(QString, message);
        UpdateServer server;
        QVERIFY2(server.Up(), "http.server did not start");
        QVERIFY(server.ServeVersionFile(file));
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.UpdateHostName = server.Host();
        w.ProgramVersion = own;
        if (question.isEmpty())
            rig.ui.ExpectMessage(message);
        else
            rig.ui.AnswerConfirm(question, yes);

        w.CheckForUpdates1->trigger();

        QVERIFY(rig.ui.ScriptDone());
        const QStringList opened = rig.ui.Texts(QStringLiteral("ShellOpen"));
        if (yes)
            QCOMPARE(opened, QStringList{QStringLiteral("http://") + server.Host() +
                                         QStringLiteral("/files/software/Korvinet/")});
        else
            QVERIFY(opened.isEmpty());
    }

    void failuresAreOneMessage_data() {
        QTest::addColumn<QString>("what");
        QTest::newRow("version file missing (404)") << QStringLiteral("404");
        QTest::newRow("nothing listening") << QStringLiteral("unreachable");
        QTest::newRow("program without a version") << QStringLiteral("no version");
    }
    void failuresAreOneMessage() {
        QFETCH(QString, what);
        UpdateServer server;
        QVERIFY2(server.Up(), "http.server did not start");
        if (what != QLatin1String("404"))
            QVERIFY(server.ServeVersionFile("9.9.9.9\n"));
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.UpdateHostName = what == QLatin1String("unreachable")
                               ? QStringLiteral("127.0.0.1:%1").arg(UnusedPort())
                               : server.Host();
        if (what == QLatin1String("no version"))
            w.ProgramVersion.clear();
        rig.ui.ExpectMessage(kFailed);

        w.CheckForUpdates1->trigger();

        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(rig.ui.Calls().size(), 1); // nothing opened, nothing else shown
        // The client is ready for the next check.
        rig.ui.ExpectMessage(kFailed);
        w.CheckForUpdates1->trigger();
        QVERIFY(rig.ui.ScriptDone());
    }

    // Help > "Check for Updates", "Check for updates now" and the About
    // window's "Check for Updates Now" all run the same check.
    void everyCommandRunsTheCheck_data() {
        QTest::addColumn<QString>("command");
        QTest::newRow("Help menu") << QStringLiteral("menu");
        QTest::newRow("main window button") << QStringLiteral("Button6");
        QTest::newRow("About window button") << QStringLiteral("about");
    }
    void everyCommandRunsTheCheck() {
        QFETCH(QString, command);
        UpdateServer server;
        QVERIFY2(server.Up(), "http.server did not start");
        QVERIFY(server.ServeVersionFile("1.0.3.0\n"));
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.UpdateHostName = server.Host();
        TFormAbout about;
        w.SetAboutWindow(&about);
        rig.ui.ExpectMessage(NoUpdate(QStringLiteral("1.0.3.0"), QStringLiteral("1.0.3.0")));

        if (command == QLatin1String("menu")) {
            w.CheckForUpdates1->trigger();
        } else if (command == QLatin1String("Button6")) {
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QTest::mouseClick(w.Button6, Qt::LeftButton);
        } else {
            w.About1Click();
            QVERIFY(QTest::qWaitForWindowExposed(&about));
            QTest::mouseClick(about.ButtonCheckForUpdates, Qt::LeftButton);
        }

        QVERIFY(rig.ui.ScriptDone());
    }
};

} // namespace korvinet::app

QTEST_MAIN(korvinet::app::UpdateCheckWindowTest)
#include "test_update_check_window.moc"
