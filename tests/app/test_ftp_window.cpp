// The hidden FTP panel's handlers: the settings copied from its controls and
// an upload attempt from the window against a real FTP server on 127.0.0.1,
// with every status text the label shows.

#include "main_window_rig.h"
#include "net_test_servers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace korvinet::app {

using testing::FtpServer;
using testing::MainWindowRig;
using testing::UnusedPort;

namespace {

// Every text the status label paints, in order.
class StatusRecorder : public QObject {
public:
    explicit StatusRecorder(QLabel* label) : label_(label) { label->installEventFilter(this); }
    QStringList texts;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == label_ && event->type() == QEvent::Paint &&
            (texts.isEmpty() || texts.last() != label_->text()))
            texts.append(label_->text());
        return false;
    }

private:
    QLabel* label_;
};

// What the stand-in writer puts into the upload's file for each format code.
QByteArray FileFor(int formatCode) {
    QByteArray bytes = QByteArray("format ") + QByteArray::number(formatCode) + "\r\n";
    for (int i = 0; i < 70000; ++i)
        bytes += static_cast<char>(i * 13); // binary: every byte value
    return bytes;
}

} // namespace

class FtpWindowTest : public QObject {
    Q_OBJECT

private slots:
    // The upload's temporary file goes to a folder of the test's own, so a
    // file left behind is seen.
    void init() {
        QVERIFY(temp.isValid());
        savedTmpDir = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(temp.path()));
        QCOMPARE(QDir(QDir::tempPath()).canonicalPath(), QDir(temp.path()).canonicalPath());
    }
    void cleanup() {
        if (savedTmpDir.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", savedTmpDir);
        QVERIFY2(QDir(temp.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 "upload temporary file left behind");
    }

    void editSettingsCopiesTheControls() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.FTPHost->setText(QStringLiteral("ftp.example:2121"));
        w.FTPUsername->setText(QStringLiteral("user"));
        w.FTPPassword->setText(QStringLiteral("pw"));
        w.FTPDirectory->setText(QStringLiteral("htdocs/graph"));
        w.FTPFilename->setText(QStringLiteral("now.csv"));
        w.FTPInterval->setText(QStringLiteral(" 15 "));
        w.FTPEnabled->setChecked(true);
        w.FTPFiletype->setCurrentIndex(2);
        w.FTPEditSettings();
        QCOMPARE(w.Options.ftpHost, QStringLiteral("ftp.example:2121"));
        QCOMPARE(w.Options.ftpUsername, QStringLiteral("user"));
        QCOMPARE(w.Options.ftpPassword, QStringLiteral("pw"));
        QCOMPARE(w.Options.ftpDirectory, QStringLiteral("htdocs/graph"));
        QCOMPARE(w.Options.ftpFilename, QStringLiteral("now.csv"));
        QCOMPARE(w.Options.ftpInterval, 15);
        QVERIFY(w.Options.ftpEnabled);
        QCOMPARE(w.Options.ftpFiletype, 2);

        // Not a whole number of minutes: the last good interval stays. No
        // entry chosen: -1.
        w.FTPInterval->setText(QStringLiteral("ten"));
        w.FTPFiletype->setCurrentIndex(-1);
        w.FTPEditSettings();
        QCOMPARE(w.Options.ftpInterval, 15);
        QCOMPARE(w.Options.ftpFiletype, -1);

        // Enabling timed uploads never starts the timer.
        QVERIFY(!w.TimerFTP->isActive());
        QCOMPARE(w.TimerFTP->interval(), 600000);
        QVERIFY(rig.ui.Calls().isEmpty());
    }

    // The panel's controls run the settings handler as the user leaves them.
    void leavingAFieldStoresIt() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.GroupBox3->setEnabled(true);
        w.GroupBox3->show();
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.FTPDirectory->setFocus(Qt::MouseFocusReason);
        QTest::keyClicks(w.FTPDirectory, QStringLiteral("pub"));
        QCOMPARE(w.Options.ftpDirectory, QString());
        w.FTPFilename->setFocus(Qt::TabFocusReason);
        QCOMPARE(w.Options.ftpDirectory, QStringLiteral("pub"));
    }

    void attemptFromTheWindow_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("directory");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<int>("fileType");
        QTest::addColumn<bool>("writes");
        QTest::addColumn<QStringList>("statuses"); // "<success>" for the dated text
        const QString user = FtpServer::kUser;
        const QString pw = FtpServer::kPassword;
        const QString up = QStringLiteral("upload");
        const QString connecting = QStringLiteral("Connecting to host.");
        const QString loggedIn = QStringLiteral("Logged in OK");
        const QStringList success = {connecting, loggedIn, QStringLiteral("<success>")};
        QTest::newRow("JPEG") << user << pw << up << true << 0 << true << success;
        QTest::newRow("BMP") << user << pw << up << true << 1 << true << success;
        QTest::newRow("CSV") << user << pw << up << true << 2 << true << success;
        QTest::newRow("wrong password")
            << user << QStringLiteral("wrong") << up << true << 1 << true
            << QStringList{connecting, QStringLiteral("LOGIN FAILURE")};
        QTest::newRow("missing directory")
            << user << pw << QStringLiteral("no/such") << true << 1 << true
            << QStringList{connecting, loggedIn, QStringLiteral("Error switching directories!")};
        QTest::newRow("storing refused")
            << QStringLiteral("reader") << QStringLiteral("reader") << up << true << 1 << true
            << QStringList{connecting, loggedIn, QStringLiteral("Error uploading file")};
        QTest::newRow("nothing listening")
            << user << pw << up << false << 1 << true
            << QStringList{connecting, QStringLiteral("UNABLE TO CONNECT!")};
        QTest::newRow("file not written")
            << user << pw << up << true << 1 << false
            << QStringList{QStringLiteral("Error saving file locally!")};
    }
    void attemptFromTheWindow() {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, directory);
        QFETCH(bool, listening);
        QFETCH(int, fileType);
        QFETCH(bool, writes);
        QFETCH(QStringList, statuses);
        FtpServer server;
        QVERIFY2(server.Up(), "FTP server did not start");
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        QList<int> codes;
        QStringList wrong;
        w.FtpFileWriter = [&](const QString& fileName, int code) {
            codes.append(code);
            // A fresh file of the user's temporary folder, named while the
            // attempt runs.
            if (w.FtpTempFileName != fileName)
                wrong << QStringLiteral("name not kept");
            if (!QFileInfo(fileName).fileName().startsWith(QStringLiteral("quo")))
                wrong << QStringLiteral("prefix");
            if (QFileInfo(fileName).dir().canonicalPath() != QDir(temp.path()).canonicalPath())
                wrong << QStringLiteral("folder");
            if (!QFileInfo::exists(fileName))
                wrong << QStringLiteral("not made");
            QFile file(fileName);
            return writes && file.open(QIODevice::WriteOnly) && file.write(FileFor(code)) > 0;
        };
        StatusRecorder recorder(w.FTPStatusLbl);
        ShowPanel(w);

        // The user fills in the panel; the host has the host:port form.
        w.FTPHost->setText(listening ? server.Host()
                                     : QStringLiteral("127.0.0.1:%1").arg(UnusedPort()));
        w.FTPUsername->setText(user);
        w.FTPPassword->setText(password);
        w.FTPDirectory->setText(directory);
        w.FTPFilename->setText(QStringLiteral("radiation.jpg"));
        w.FTPFiletype->setCurrentIndex(fileType);
        w.FTPEditSettings();
        recorder.texts.clear(); // the label as first shown
        QTest::mouseClick(w.FTPSendNow, Qt::LeftButton);

        QStringList expected = statuses;
        expected.replaceInStrings(QStringLiteral("<success>"),
                                  rig.regional.DateTimeText(rig.clock.Now()) +
                                      QStringLiteral(": Upload success!"));
        QCOMPARE(recorder.texts, expected);
        QCOMPARE(w.FTPStatusLbl->text(), expected.last());
        for (const QString& text : recorder.texts)
            QVERIFY2(!text.contains(password), qPrintable(text));
        QCOMPARE(codes, QList<int>{fileType + 1});
        QCOMPARE(wrong, QStringList());
        QVERIFY(w.FtpTempFileName.isEmpty());
        QFile stored(server.Stored(QStringLiteral("radiation.jpg")));
        if (expected.last().endsWith(QLatin1String("Upload success!"))) {
            QVERIFY(stored.open(QIODevice::ReadOnly));
            QCOMPARE(stored.readAll(), FileFor(fileType + 1));
        } else {
            QVERIFY(!stored.exists());
        }
        QVERIFY(rig.ui.Calls().isEmpty());
    }

    // The upload timer runs the same attempt with the stored settings.
    void timerTickSends() {
        FtpServer server;
        QVERIFY2(server.Up(), "FTP server did not start");
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.FtpFileWriter = [](const QString& fileName, int code) {
            QFile file(fileName);
            return file.open(QIODevice::WriteOnly) && file.write(FileFor(code)) > 0;
        };
        w.Options.ftpHost = server.Host();
        w.Options.ftpUsername = FtpServer::kUser;
        w.Options.ftpPassword = FtpServer::kPassword;
        w.Options.ftpDirectory = QStringLiteral("upload");
        // The defaults: a bitmap stored under the name radiation.jpg.
        QCOMPARE(w.Options.ftpFiletype, 1);
        QCOMPARE(w.Options.ftpFilename, QStringLiteral("radiation.jpg"));
        // The program never starts the timer; here it fires once, for real.
        QSignalSpy fired(w.TimerFTP, &QTimer::timeout);
        w.TimerFTP->start(1);
        QVERIFY(fired.wait());
        w.TimerFTP->stop();
        QCOMPARE(w.FTPStatusLbl->text(),
                 rig.regional.DateTimeText(rig.clock.Now()) + QStringLiteral(": Upload success!"));
        QFile stored(server.Stored(QStringLiteral("radiation.jpg")));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), FileFor(2));
    }

    // Without a stand-in the upload's file is written by SaveChartAs: the
    // server gets exactly what SaveChartAs writes for that type, or the
    // attempt ends at "Error saving file locally!" when it writes nothing.
    void uploadIsWhatSaveChartAsWrites_data() {
        QTest::addColumn<int>("fileType");
        QTest::newRow("JPEG") << 0;
        QTest::newRow("BMP") << 1;
        QTest::newRow("CSV") << 2;
    }
    void uploadIsWhatSaveChartAsWrites() {
        QFETCH(int, fileType);
        FtpServer server;
        QVERIFY2(server.Up(), "FTP server did not start");
        QTemporaryDir local;
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        const QString localFile = local.filePath(QStringLiteral("local"));
        const bool written = w.SaveChartAs(localFile, fileType + 1);
        w.Options.ftpHost = server.Host();
        w.Options.ftpUsername = FtpServer::kUser;
        w.Options.ftpPassword = FtpServer::kPassword;
        w.Options.ftpDirectory = QStringLiteral("upload");
        w.Options.ftpFiletype = fileType;

        w.FTPSendNowClick();

        QFile stored(server.Stored(QStringLiteral("radiation.jpg")));
        if (!written) {
            QCOMPARE(w.FTPStatusLbl->text(), QStringLiteral("Error saving file locally!"));
            QVERIFY(!stored.exists());
            return;
        }
        QCOMPARE(w.FTPStatusLbl->text(),
                 rig.regional.DateTimeText(rig.clock.Now()) + QStringLiteral(": Upload success!"));
        QFile expected(localFile);
        QVERIFY(expected.open(QIODevice::ReadOnly));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), expected.readAll());
    }

    // No file type chosen: SaveChartAs refuses the code 0 with its own box
    // (when it writes files at all), the attempt reports the local failure
    // and never connects.
    void noFileTypeNeverConnects() {
        QTemporaryDir local;
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        const bool savesWork = w.SaveChartAs(local.filePath(QStringLiteral("probe.csv")), 3);
        if (savesWork)
            rig.ui.ExpectMessage(QStringLiteral("SaveChartAs: Unknown format 0"));
        StatusRecorder recorder(w.FTPStatusLbl);
        ShowPanel(w);
        w.FTPFiletype->setCurrentIndex(-1);
        w.FTPHost->setText(QStringLiteral("127.0.0.1:%1").arg(UnusedPort()));
        w.FTPEditSettings();
        QCOMPARE(w.Options.ftpFiletype, -1);
        recorder.texts.clear(); // the label as first shown

        w.FTPSendNowClick();

        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(recorder.texts, QStringList{QStringLiteral("Error saving file locally!")});
    }

private:
    // The panel is hidden in the program; shown here so that every status
    // text is painted (and so recorded) as the attempt sets it.
    static void ShowPanel(TFormMain& w) {
        w.GroupBox6->hide();
        w.GroupBox3->setEnabled(true);
        w.GroupBox3->show();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
    }

    QTemporaryDir temp;
    QByteArray savedTmpDir;
};

} // namespace korvinet::app

QTEST_MAIN(korvinet::app::FtpWindowTest)
#include "test_ftp_window.moc"
