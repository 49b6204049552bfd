// What the X server shows of the main window against what the window's
// widgets draw afresh, on a virtual display of the test's own: damage left
// on the screen by a drawing pass is seen only there.
#include "main_window_rig.h"

#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QtTest>

namespace korvinet {

namespace {

// A data file as it is usually opened: header lines, then 100 readings.
QByteArray HundredReadings() {
    QByteArray bytes = "# Device: KVT-PULSE1\r\n"
                       "# Units: mR/hr\r\n"
                       "# Averaging Time: 45 seconds sec\r\n"
                       "# Title: Radiation vs. Time\r\n"
                       "# Notes: North wall, shelf 2\r\n"
                       "# Date Saved: 3/14/2012 10:15:02 AM\r\n"
                       "Time, mR/hr\r\n";
    for (int i = 0; i < 100; ++i) {
        const int seconds = 3 + 3 * i;
        bytes += QStringLiteral("3/14/2012 9:%1:%2 AM, 0.0%3\r\n")
                     .arg(seconds / 60, 2, 10, QLatin1Char('0'))
                     .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                     .arg(12 + i % 7)
                     .toLatin1();
    }
    return bytes;
}

// Pixels of the area that differ between the screen and a fresh drawing.
int DifferingPixels(QWidget& window, const QRect& area) {
    const QImage screen =
        window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage fresh = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    int differing = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            differing += screen.pixel(x, y) != fresh.pixel(x, y);
    return differing;
}

} // namespace

class WindowRepaintTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb")); }

    // Opening a file whose header lines fill the statistics memo, as a file
    // dialog over the window closes: the memo follows its end while the
    // uncovered part of the window is redrawn, and the counter panel, the
    // statistics caption and the memo still show whole and sound.
    void openingAFileLeavesTheWindowWhole() {
        testing::MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.move(0, 0);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QString path = rig.dir.filePath(QStringLiteral("hundred.csv"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(HundredReadings());
        file.close();

        // Where the file dialog stood: over the chart and the memo's right half.
        QWidget dialog;
        dialog.setWindowFlag(Qt::FramelessWindowHint);
        dialog.setGeometry(180, 80, 620, 410);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        rig.ui.AnswerOpenFile(QStringLiteral("Open CSV File"), path);
        dialog.hide();
        w.OpenDataFileClick();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.GraphPointCount(), 100);

        const QRect panels(
            w.Hardware->mapTo(&w, QPoint(0, 0)),
            w.GroupBox1->mapTo(&w, QPoint(w.GroupBox1->width() - 1, w.GroupBox1->height() - 1)));
        // Until every drawing has reached the screen.
        QTest::qWait(300);
        QVERIFY(w.Statistics->verticalScrollBar()->value() > 0);
        QCOMPARE(DifferingPixels(w, panels), 0);
    }
};

} // namespace korvinet

QTEST_MAIN(korvinet::WindowRepaintTest)
#include "test_window_repaint.moc"
