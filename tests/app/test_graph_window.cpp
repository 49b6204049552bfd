// The graph features as the window wires them: graph settings entries with
// their messages, the overlays and statistics after each drawing, clearing.
#include "files/data_file.h"
#include "graph/chart.h"
#include "graph/graph_texts.h"
#include "main_window_rig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QtTest>

namespace korvinet::app {

using testing::MainWindowRig;

class GraphWindowTest : public QObject {
    Q_OBJECT

    static void Enter(QLineEdit* edit, const QString& text, TFormMain& w) {
        edit->setText(text);
        w.ApplyGraphSettings();
    }

    // Readings 1, 2, 3 and 6 three seconds apart from 2012-03-14 09:00:00.
    static void FourReadings(TFormMain& w) {
        const double start = 40982.375;
        const double ys[] = {1, 2, 3, 6};
        for (int i = 0; i < 4; ++i)
            w.Series1.Add(start + i * 3 / 86400.0, ys[i]);
        graph::RefreshAverage(w.Series1, w.Series2);
    }

private slots:
    void defaultsReachChartAndControls() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.Chart1->Title(), QStringLiteral("Radiation vs. Time"));
        QVERIFY(w.Chart1->LeftAxisAutomaticMaximum());
        QVERIFY(!w.EditChartYMax->isEnabled());
        QCOMPARE(w.EditMaxSpan->text(), QStringLiteral("48.00"));
        QCOMPARE(w.Chart1->LeftAxisTitle(), QStringLiteral("mR/hr"));
    }

    void yMaxEntries() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        const QString message =
            QStringLiteral("Please enter a valid number for YMax or select \"Auto\"");

        w.EditChartYMax->clear();
        rig.ui.ExpectMessage(message);
        w.SetChecked(w.ChartYMaxAuto, false); // runs ApplyGraphSettings as a click does
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.EditChartYMax->text(), QStringLiteral("1"));
        QVERIFY(w.EditChartYMax->isEnabled());
        QVERIFY(!w.Chart1->LeftAxisAutomaticMaximum());

        Enter(w.EditChartYMax, QStringLiteral("0.5"), w);
        QCOMPARE(w.Chart1->LeftAxisMaximum(), 0.5);
        QCOMPARE(w.Options.YMaxValue, 0.5);

        for (const char* bad : {"-2", "0", "abc"}) {
            rig.ui.ExpectMessage(message);
            Enter(w.EditChartYMax, QString::fromLatin1(bad), w);
            QVERIFY2(rig.ui.ScriptDone(), bad);
            QCOMPARE(w.EditChartYMax->text(), QStringLiteral("0.5"));
            QCOMPARE(w.Chart1->LeftAxisMaximum(), 0.5);
        }
    }

    void spanEntriesRoundToTwoDecimals() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        Enter(w.EditMaxSpan, QStringLiteral("12.3456"), w);
        QCOMPARE(w.EditMaxSpan->text(), QStringLiteral("12.35"));
        QCOMPARE(w.Options.MaxSpan, 12.35);
        Enter(w.EditMaxSpan, QStringLiteral("0.006"), w);
        QCOMPARE(w.EditMaxSpan->text(), QStringLiteral("0.01"));
        for (const char* bad : {"0.004", "abc"}) {
            rig.ui.ExpectMessage(QStringLiteral("Total Span is not a valid value! ") + bad);
            Enter(w.EditMaxSpan, QString::fromLatin1(bad), w);
            QVERIFY2(rig.ui.ScriptDone(), bad);
            QCOMPARE(w.EditMaxSpan->text(), QStringLiteral("0.01"));
        }
    }

    void titleShowsOnLeavingTheEdit() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        Enter(w.EditChartTitle, QStringLiteral("Basement"), w);
        QCOMPARE(w.Chart1->Title(), QStringLiteral("Basement"));
        QCOMPARE(w.Options.GraphTitle, QStringLiteral("Basement"));
    }

    void everyDrawingRebuildsStatistics() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.Statistics->setPlainText(QStringLiteral("kept while the graph is empty"));
        w.Chart1->RenderImage();
        QCOMPARE(w.Statistics->toPlainText(), QStringLiteral("kept while the graph is empty"));

        FourReadings(w);
        w.DataFileName = QStringLiteral("C:\\data\\run1.csv");
        w.DataFileLines = QStringList{QStringLiteral("#Title: Basement")};
        const QImage image = w.Chart1->RenderImage();
        const QStringList lines = w.Statistics->toPlainText().split(QLatin1Char('\n'));
        const QStringList expected = {
            QStringLiteral("Filename: run1.csv"),     QStringLiteral("#Title: Basement"),
            QStringLiteral("Latest:    6.000 mR/hr"), QStringLiteral("Average:   3.000 mR/hr"),
            QStringLiteral("Min:       1.000 mR/hr"), QStringLiteral("Max:       6.000 mR/hr"),
            QStringLiteral("ET: 000d:00h:00m:09s")};
        QCOMPARE(lines, expected);

        // The summary line is drawn near the bottom left: black pixels there.
        bool ink = false;
        for (int x = 25; x < 200 && !ink; ++x)
            for (int y = 450; y < 462 && !ink; ++y)
                ink = qGray(image.pixel(x, y)) < 100;
        QVERIFY(ink);

        w.ButtonCopyStatisticsClick();
        QCOMPARE(rig.ui.ClipboardText(), expected.join(QStringLiteral("\r\n")));
    }

    // Clearing the graph or opening a file shows the next data whole, not
    // through the old zoom.
    void clearingOrOpeningEndsTheZoom() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.Chart1->SetZoomAnimated(false);
        const auto zoomIn = [&w] {
            FourReadings(w);
            w.Chart1->ZoomToRect(QRect(300, 100, 200, 100));
            QVERIFY(w.Chart1->IsZoomed());
        };
        zoomIn();
        rig.ui.AnswerConfirm(QStringLiteral("Are you sure you want clear all data on the graph?"),
                             true);
        w.MenuResetGraphClick();
        QVERIFY(!w.Chart1->IsZoomed());

        const QString path = rig.dir.filePath(QStringLiteral("later.csv"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Time, mR/hr\r\n3/15/2012 8:00:00 AM, 5\r\n3/15/2012 9:00:00 AM, 7\r\n");
        file.close();
        zoomIn();
        rig.ui.AnswerConfirm(files::kOpenDataFileQuestion, true);
        rig.ui.AnswerOpenFile(QStringLiteral("Open CSV File"), path);
        w.OpenDataFileClick();
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(!w.Chart1->IsZoomed());
        const graph::ChartLayout layout = w.Chart1->Layout(w.Chart1->rect());
        QCOMPARE(layout.xMin, w.Series1.FirstX());
        QCOMPARE(layout.xMax, w.Series1.LastX());
    }

    // The memo is rebuilt at every drawing: it follows the end, where the
    // latest values are, until the user scrolls, and then stays put.
    void statisticsKeepTheScrollPosition() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.DataFileName = QStringLiteral("/data/run1.csv");
        for (int i = 1; i <= 6; ++i)
            w.DataFileLines << QStringLiteral("# Header line %1").arg(i);
        FourReadings(w);
        w.Chart1->RenderImage();
        QScrollBar* bar = w.Statistics->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());

        bar->setValue(2);
        w.Series1.Add(w.Series1.LastX() + 3 / 86400.0, 7);
        graph::RefreshAverage(w.Series1, w.Series2);
        w.Chart1->RenderImage();
        QVERIFY(w.Statistics->toPlainText().contains(QStringLiteral("Latest:    7.000")));
        QCOMPARE(bar->value(), 2);
    }

    // The legend stays clear of the notes and the summary line, on screen,
    // in images and on paper (all the same drawing): where those two lines
    // lie, the chart shows exactly what the overlays alone would show on
    // white.
    void legendLeavesTheNotesAndSummaryLinesFree() {
        MainWindowRig rig;
        rig.AddCounter();
        TFormMain& w = rig.Open();
        QVERIFY(w.Counter.IsOpen()); // the summary line ends with the averaging time
        Enter(w.EditChartNotes, QString(100, QLatin1Char('W')), w);
        FourReadings(w);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const int height = w.Chart1->height();

        QImage overlays(w.Chart1->size(), QImage::Format_RGB32);
        overlays.fill(Qt::white);
        const QString averaging = w.CountTime->currentText();
        const graph::OverlayContext context{
            w.Series1, w.Series2, w.Counter, rig.regional, w.Options.GraphNotes, averaging};
        {
            QPainter painter(&overlays);
            graph::DrawChartOverlays(painter, height, context);
        }
        QFont bold(QStringLiteral("Arial"));
        bold.setPixelSize(12);
        bold.setBold(true);
        const QFontMetrics metrics(bold);
        const QRect lines[] = {
            QRect(graph::kOverlayLeft, height - graph::kNotesFromBottom,
                  metrics.horizontalAdvance(w.Options.GraphNotes), metrics.height()),
            QRect(graph::kOverlayLeft, height - graph::kSummaryFromBottom,
                  metrics.horizontalAdvance(graph::SummaryLine(context)), metrics.height())};

        const QImage pictures[] = {
            w.Chart1->RenderImage(w.Chart1->size()),
            w.Chart1->grab().toImage().convertToFormat(QImage::Format_RGB32)};
        for (const QImage& picture : pictures) {
            QCOMPARE(picture.size(), overlays.size());
            for (const QRect& line : lines) {
                const QRect area = line.intersected(picture.rect());
                QVERIFY(area.width() > 300);
                QCOMPARE(picture.copy(area), overlays.copy(area));
            }
        }
        const graph::ChartLayout layout = w.Chart1->Layout(w.Chart1->rect());
        for (const QRect& line : lines)
            QVERIFY(!layout.legend.intersects(line));
        QVERIFY(layout.legend.bottom() <= height - graph::kNotesFromBottom);
        const QString file = QDir::current().filePath(QStringLiteral("chart_overlays.png"));
        QVERIFY(pictures[1].save(file));
        qInfo().noquote() << "chart picture:" << file;
    }

    void clearGraphAsksAndEmptiesEverything() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        FourReadings(w);
        w.Chart1->RenderImage();
        w.DataFileName = QStringLiteral("run1.csv");
        const QString question =
            QStringLiteral("Are you sure you want clear all data on the graph?");

        rig.ui.AnswerConfirm(question, false);
        w.MenuResetGraphClick();
        QCOMPARE(w.GraphPointCount(), 4);

        rig.ui.AnswerConfirm(question, true);
        w.MenuResetGraphClick();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.GraphPointCount(), 0);
        QVERIFY(w.Series2.IsEmpty());
        QVERIFY(w.Statistics->toPlainText().isEmpty());
        QVERIFY(w.DataFileName.isEmpty());
        QCOMPARE(w.Chart1->LeftAxisTitle(), QStringLiteral("mR/hr"));
    }
};

} // namespace korvinet::app

QTEST_MAIN(korvinet::app::GraphWindowTest)
#include "test_graph_window.moc"
