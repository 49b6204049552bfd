// What the X server shows of the main window against what the window's
// widgets draw afresh, on a virtual display of the test's own: damage left
// on the screen by a drawing pass is seen only there.
#include "main_window_rig.h"
#include "support/example_data_file.h"

#include <QFile>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QtTest>

namespace korvinet::app {

class WindowRepaintTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb")); }

    // Opening a file whose header lines overfill the statistics memo as a
    // file dialog over the window closes: the memo follows its end while the
    // uncovered part of the window is drawn, and the counter panel, the
    // statistics caption and the memo still show whole on the screen.
    void openingAFileLeavesTheWindowWhole() {
        testing::MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.move(0, 0);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QString path = rig.dir.filePath(QStringLiteral("example.csv"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(testing::kExampleFile) > 0);
        file.close();

        QWidget dialog; // where the file dialog stood, over the chart and the memo
        dialog.setWindowFlag(Qt::FramelessWindowHint);
        dialog.setGeometry(180, 80, 620, 410);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        rig.ui.AnswerOpenFile(QStringLiteral("Open CSV File"), path);
        dialog.hide();
        rig.ui.ExpectMessage(
            QStringLiteral("Note: 1 lines in the data file were corrupt and ignored."));
        w.OpenDataFileClick();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.GraphPointCount(), 2);
        QTest::qWait(300); // until every drawing has reached the screen
        QVERIFY(w.Statistics->verticalScrollBar()->value() > 0);

        const QImage screen =
            w.screen()->grabWindow(w.winId()).toImage().convertToFormat(QImage::Format_RGB32);
        const QImage fresh = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QRect panels(w.Hardware->mapTo(&w, QPoint(0, 0)),
                           w.GroupBox1->mapTo(&w, w.GroupBox1->rect().bottomRight()));
        QCOMPARE(screen.copy(panels), fresh.copy(panels));
    }
};

} // namespace korvinet::app

QTEST_MAIN(korvinet::app::WindowRepaintTest)
#include "test_window_repaint.moc"
