// The recording journal behind the main window: every reading recorded in
// its own tick, failures that leave the measurement alone, and the graph
// restored after an unclean end.
#include "graph/chart.h"
#include "main_window_rig.h"
#include "recording/journal_folder.h"
#include "recording/journal_restore.h"
#include "recording/recording_journal.h"
#include "support/file_size_limit.h"
#include "support/series_points.h"
#include "support/test_reading.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QtTest>

namespace korvinet::app {

using testing::MainWindowRig;

namespace {

constexpr double kSecond = 1.0 / 86400.0;

QByteArray Bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The readings lines of a journal file: all but the header block and titles.
int JournalReadings(const QString& path) {
    return std::max<int>(0, static_cast<int>(Bytes(path).count('\n')) - 7);
}

} // namespace

class RecordingWindowTest : public QObject {
    Q_OBJECT

private slots:
    // A full disk costs the journal its readings, not the graph: the reason
    // stands in the status line without a box, and the next tick that can
    // write clears it again.
    void aFullDiskLeavesTheMeasurementRunning() {
        MainWindowRig rig;
        rig.AddCounter();
        TFormMain& w = rig.Open();
        const QString day = QDir(rig.recordingsFolder).filePath(QStringLiteral("2012-03-14.csv"));
        rig.Plan(5);
        QVERIFY(rig.RunPlanned());
        QStringList shown;
        QObject::connect(w.CountTimer, &QTimer::timeout, &w,
                         [&] { shown << w.RecordingStatusLbl->text(); });
        {
            const testing::FileSizeLimit full(0);
            rig.Plan(5, 3000, 3);
            QVERIFY(rig.RunPlanned());
        }
        rig.Plan(5);
        QVERIFY(rig.RunPlanned());

        QCOMPARE(w.GraphPointCount(), 5);
        QVERIFY(rig.ui.Calls().isEmpty());
        QCOMPARE(shown.size(), 4);
        QVERIFY2(shown[0].startsWith(QStringLiteral("Recording to ")), qPrintable(shown[0]));
        QVERIFY(shown[0].contains(QStringLiteral("2012-03-14.csv")));
        QCOMPARE(shown.mid(1, 2), QStringList({shown[0], shown[0]}));
        QCOMPARE(shown[3], QString());
        QCOMPARE(JournalReadings(day), 2);
    }

    // After an unclean end the graph comes back before the first sample,
    // alarm points red, when its unit is the one displayed; the connection at
    // start does not wipe it. Clearing the graph and a clean exit each leave
    // nothing to restore.
    // A station recording into the folder keeps its session: the window
    // neither restores it as its own nor writes into its files, and says so;
    // once the other program has ended, the next tick records.
    void aFolderInUseIsLeftToItsRecorder() {
        MainWindowRig rig;
        rig.AddCounter();
        QVERIFY(QDir().mkpath(rig.recordingsFolder));
        QLockFile station(QDir(rig.recordingsFolder).filePath(QStringLiteral("journal.lock")));
        QVERIFY(station.tryLock(0));
        const double start = rig.clock.Now() - 60 * kSecond;
        recording::RecordingJournal running(rig.recordingsFolder, rig.regional);
        QVERIFY(running.Start(start, start).ok);
        QVERIFY(running
                    .Append(testing::MakeReading(start + 3 * kSecond, QStringLiteral("mR/hr"),
                                                 QStringLiteral("0.012"), false))
                    .ok);
        const QString day = QDir(rig.recordingsFolder).filePath(QStringLiteral("2012-03-14.csv"));
        const QByteArray before = Bytes(day);

        TFormMain& w = rig.Open();
        rig.Plan(5);
        QVERIFY(rig.RunPlanned());
        QCOMPARE(w.GraphPointCount(), 1);
        QVERIFY(w.RecordingStatusLbl->text().startsWith(
            QStringLiteral("Not recording: another program (process %1)")
                .arg(QCoreApplication::applicationPid())));
        QCOMPARE(Bytes(day), before);
        QVERIFY(recording::ReadJournalSessionState(rig.recordingsFolder).running);

        // The other program ends: the next tick records.
        QVERIFY(running.Close().ok);
        station.unlock();
        rig.Plan(5);
        QVERIFY(rig.RunPlanned());
        QCOMPARE(w.RecordingStatusLbl->text(), QString());
        QCOMPARE(Bytes(day).count('\n'), before.count('\n') + 1);
    }

    void theLastSessionIsRestoredAfterAnUncleanEnd() {
        const double start = 40982.375 - 60 * kSecond; // a minute before the rig's clock
        for (const QString& unit : {QStringLiteral("mR/hr"), QStringLiteral("\u00B5Sv/hr")}) {
            const bool sameUnit = unit == QStringLiteral("mR/hr");
            MainWindowRig rig;
            rig.AddCounter();
            {
                recording::RecordingJournal crashed(rig.recordingsFolder, rig.regional);
                QVERIFY(crashed.Start(start, start).ok);
                QVERIFY(crashed
                            .Append(testing::MakeReading(start + 3 * kSecond, unit,
                                                         QStringLiteral("0.012"), false))
                            .ok);
                QVERIFY(crashed
                            .Append(testing::MakeReading(start + 6 * kSecond, unit,
                                                         QStringLiteral("0.150"), true))
                            .ok);
            } // no Close(): as if killed
            QFile day(QDir(rig.recordingsFolder).filePath(QStringLiteral("2012-03-14.csv")));
            QVERIFY(day.open(QIODevice::Append));
            day.write("3/14/2012 8:59:09 AM, 0.0x5\r\n"); // damaged on the disk
            day.close();

            TFormMain& w = rig.Open();
            QCOMPARE(w.GraphPointCount(), sameUnit ? 2 : 0);
            QCOMPARE(w.RecordingStatusLbl->text(),
                     sameUnit ? QStringLiteral("Restored 2 readings from the last session (1 "
                                               "damaged line skipped)")
                              : QString());
            if (!sameUnit) {
                QCOMPARE(recording::ListJournalFiles(rig.recordingsFolder).size(), std::size_t{1});
                continue;
            }
            QCOMPARE(testing::PointsOf(w.Series1)[0].color, graph::kDefaultPointColor);
            QCOMPARE(testing::PointsOf(w.Series1)[1].color, graph::kColorRed);
            // Drawn before the first sample, the statistics and the
            // accumulated counts name no time the counter has not taken.
            w.Chart1->RenderImage();
            const QString statistics = w.Statistics->toPlainText();
            QVERIFY2(statistics.startsWith(QStringLiteral("Latest:    0.150")),
                     qPrintable(statistics));
            QCOMPARE(w.Accumulator->toPlainText(),
                     QStringLiteral("Total Counts: 0\nET: 000d:00h:00m:00s"));
            rig.Plan(5);
            QVERIFY(rig.RunPlanned());
            QCOMPARE(w.GraphPointCount(), 3);
            // A restore after this would show the new tick's reading too.
            QCOMPARE(recording::RestoreLastSession(rig.recordingsFolder, unit, 48, rig.clock.Now(),
                                                   rig.regional)
                         .points.size(),
                     std::size_t{3});

            rig.ui.AnswerConfirm(
                QStringLiteral("Are you sure you want clear all data on the graph?"), true);
            w.MenuResetGraph->trigger();
            QCOMPARE(w.RecordingStatusLbl->text(), QString());
            const recording::JournalSessionState cleared =
                recording::ReadJournalSessionState(rig.recordingsFolder);
            QVERIFY(cleared.running);
            QCOMPARE(cleared.start, rig.clock.Now());

            rig.Close();
            QVERIFY(!recording::ReadJournalSessionState(rig.recordingsFolder).running);
            rig.driver.DetachDevice(0); // the closed window still holds its port
            TFormMain& again = rig.Open();
            QCOMPARE(again.GraphPointCount(), 0);
            QCOMPARE(again.RecordingStatusLbl->text(), QString());
        }
    }
};

} // namespace korvinet::app

QTEST_MAIN(korvinet::app::RecordingWindowTest)
#include "test_recording_window.moc"
