// A long graph in the main window: a data file of 20 days of 3-second
// readings opened through the menu, then live ticks on top of it, with the
// window's real timers and a simulated counter.
#include "files/data_file.h"
#include "main_window_rig.h"
#include "platform/datetime.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

namespace korvinet::app {

using testing::MainWindowRig;

namespace {

constexpr int kPoints = 576000;
constexpr double kSecond = 1.0 / 86400.0;
// Readings up to just before the rig clock's 2012-03-14 09:00:00.
constexpr double kFirst = 40982.375 - kPoints * 3 * kSecond;

double ReadingAt(std::size_t i) {
    return static_cast<double>(i % 997) / 1000.0;
}

} // namespace

class LongGraphWindowTest : public QObject {
    Q_OBJECT

private slots:
    void opensTwentyDaysAndTicksOnThem() {
        MainWindowRig rig;
        rig.AddCounter(0, 0.0);
        TFormMain& w = rig.Open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QString path = rig.dir.filePath(QStringLiteral("twenty days.csv"));
        files::DataFileHeader header;
        header.bottomAxisTitle = QStringLiteral("Time");
        header.leftAxisTitle = w.Counter.UnitName();
        QVERIFY(files::WriteDataFilePoints(
            path, {kPoints, [](std::size_t i) { return kFirst + 3.0 * i * kSecond; }, ReadingAt},
            w.Counter, header, rig.regional));

        // The measurement the window started with goes; no question, as the
        // graph is empty.
        rig.ui.AnswerOpenFile(QStringLiteral("Open CSV File"), path);
        w.OpenDataFile->trigger();
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(rig.ui.Texts(QStringLiteral("Message")).isEmpty());
        QCOMPARE(w.GraphPointCount(), kPoints);
        QCOMPARE(platform::QtFromDateTime(w.Series1.XValue(kPoints - 1)).time(), QTime(8, 59, 57));
        QCOMPARE(w.Series1.MaxY(), 0.996);
        QVERIFY(QTest::qWaitFor([&] { return w.Statistics->toPlainText().contains("Max:"); }));

        // Live readings join the opened ones: the graph is carried over the
        // connection (which would clear it) and trimmed to ten days.
        graph::TLineSeries opened(w.Series1.Title(), w.Series1.SeriesColor());
        opened.TakePoints(w.Series1);
        w.OpenCloseDevice->click();
        QVERIFY(w.Counter.IsOpen());
        w.Series1.TakePoints(opened);
        w.Options.MaxSpan = 24 * 20 + 1;
        rig.Plan(30, 3000, 2);
        QVERIFY(rig.RunPlanned());
        QCOMPARE(w.GraphPointCount(), kPoints + 2);
        QCOMPARE(platform::QtFromDateTime(w.Series1.XValue(kPoints + 1)).time(), QTime(9, 0, 6));
        w.Options.MaxSpan = 24 * 10;
        rig.Plan(30, 3000);
        QVERIFY(rig.RunPlanned());
        // Ten days back from 9:00:09 reach the file's 9:00:09 reading; the
        // file has none at 9:00:00, the readings at 9:00:03, 06 and 09 are live.
        QCOMPARE(w.GraphPointCount(), 10 * 28800);
        QCOMPARE(w.Series1.FirstX(), w.Series1.LastX() - 10.0);
        double total = 0;
        for (std::size_t i = 0; i < w.Series1.Count(); ++i)
            total += w.Series1.YValue(i);
        QVERIFY(qAbs(w.Series2.LastY() - total / w.Series1.Count()) < 1e-12);
        QVERIFY(
            QTest::qWaitFor([&] { return w.Statistics->toPlainText().contains("9:00:09 AM"); }));
    }
};

} // namespace korvinet::app

QTEST_MAIN(korvinet::app::LongGraphWindowTest)
#include "test_long_graph_window.moc"
