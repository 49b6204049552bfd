// Data files, image export, printing and the clipboard as the main window
// runs them: the real window, real files in a temporary folder, the user's
// answers scripted.
#include "app/open_recording.h"
#include "app/qt_ui_services.h"
#include "files/chart_export.h"
#include "files/data_file.h"
#include "graph/chart.h"
#include "main_window_rig.h"
#include "recording/recording_journal.h"
#include "settings/settings_io.h"
#include "support/example_data_file.h"
#include "support/jpeg_decode.h"
#include "support/series_points.h"
#include "support/test_reading.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.

namespace korvinet::app {

using files::kOpenDataFileQuestion;

using testing::DecodedJpeg;
using testing::DecodeJpeg;
using testing::kExampleFile;
using testing::MainWindowRig;

namespace {

const QString kSaveCsvTitle = QStringLiteral("Save Data as CSV");
const QString kSaveImageTitle = QStringLiteral("Save Graph Image");
const QString kOpenTitle = QStringLiteral("Open CSV File");
const QString kImageFailed = QStringLiteral("Error: The file could not be saved.");

// 2012-03-14 09:00:00, the rig clock's start.
constexpr double kStart = 40982.375;
constexpr double kSecond = 1.0 / 86400.0;

// Readings 3 s apart from 9:00:03; the third taken above the alarm level.
void AddReadings(TFormMain& w, std::initializer_list<double> ys) {
    int i = 1;
    for (double y : ys) {
        w.Series1.Add(kStart + 3 * i * kSecond, y,
                      i == 3 ? graph::kColorRed : graph::kDefaultPointColor);
        ++i;
    }
    graph::RefreshAverage(w.Series1, w.Series2);
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Files whose name starts with "quo" in a folder: scratch bitmaps.
QStringList ScratchFiles(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("quo*")}, QDir::Files | QDir::Hidden);
}

// Points the temporary folder of the process elsewhere while it lives.
class TempFolderOverride {
public:
    explicit TempFolderOverride(const QString& folder) : old_(qgetenv("TMPDIR")) {
        qputenv("TMPDIR", folder.toLocal8Bit());
    }
    ~TempFolderOverride() {
        if (old_.isEmpty())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", old_);
    }

private:
    QByteArray old_;
};

int PdfPageCount(const QByteArray& pdf) {
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![s\\w])"));
    return static_cast<int>(QString::fromLatin1(pdf).count(page));
}

} // namespace

class FilesWindowTest : public QObject {
    Q_OBJECT

private slots:
    void dialogsAreTheFormsOwn() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        QCOMPARE(w.SaveGraphDialog.title, kSaveImageTitle);
        QCOMPARE(w.SaveGraphDialog.defaultExt, QStringLiteral("jpg"));
        // The export takes the format from the filter's position.
        QCOMPARE(w.SaveGraphDialog.filters,
                 QStringList({files::kJpegImageFilter, files::kBitmapImageFilter}));
        QVERIFY(w.SaveGraphDialog.overwritePrompt);
        const QStringList dataFilters = {QStringLiteral("CSV Data (*.csv)"),
                                         QStringLiteral("Text (*.txt)"),
                                         QStringLiteral("All Files (*.*)")};
        QCOMPARE(w.SaveCSVDialog.title, kSaveCsvTitle);
        QCOMPARE(w.SaveCSVDialog.defaultExt, QStringLiteral("csv"));
        QCOMPARE(w.SaveCSVDialog.filters, dataFilters);
        QVERIFY(w.SaveCSVDialog.overwritePrompt);
        QCOMPARE(w.OpenCSVDialog.title, kOpenTitle);
        QCOMPARE(w.OpenCSVDialog.defaultExt, QStringLiteral("csv"));
        QCOMPARE(w.OpenCSVDialog.filters, dataFilters);
    }

    // Cancelling any file dialog, or answering No, leaves the graph, the
    // file state and the folder as they were.
    void cancelledDialogsChangeNothing() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        AddReadings(w, {0.012, 0.015, 0.020});
        w.DataFileName = QStringLiteral("/data/before.csv");
        w.DataFileLines = {QStringLiteral("# Title: before")};
        w.Chart1->SetLeftAxisTitle(QStringLiteral("Dose"));
        w.SaveCSVDialog.fileName = QStringLiteral("old.csv");
        w.SaveGraphDialog.fileName = QStringLiteral("old.jpg");

        rig.ui.AnswerSaveFile(kSaveCsvTitle, {});
        w.Button5->click();
        rig.ui.AnswerSaveFile(kSaveImageTitle, {});
        w.Button4->click();
        rig.ui.AnswerConfirm(kOpenDataFileQuestion, false);
        w.OpenDataFile->trigger();
        rig.ui.AnswerConfirm(kOpenDataFileQuestion, true);
        rig.ui.AnswerOpenFile(kOpenTitle, {});
        w.OpenDataFile->trigger();
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(rig.ui.Texts(QStringLiteral("Message")).isEmpty());

        // Both save dialogs came up with an empty name.
        QCOMPARE(rig.ui.Dialogs().size(), 3);
        QVERIFY(rig.ui.Dialogs()[0].fileName.isEmpty());
        QVERIFY(rig.ui.Dialogs()[1].fileName.isEmpty());

        QCOMPARE(w.GraphPointCount(), 3);
        QCOMPARE(w.Series2.Count(), std::size_t{2});
        QCOMPARE(w.DataFileName, QStringLiteral("/data/before.csv"));
        QCOMPARE(w.DataFileLines, QStringList{QStringLiteral("# Title: before")});
        QCOMPARE(w.Chart1->LeftAxisTitle(), QStringLiteral("Dose"));
        QVERIFY(QDir(rig.dir.path())
                    .entryList({QStringLiteral("*.csv"), QStringLiteral("*.jpg")}, QDir::Files)
                    .isEmpty());
    }

    // What "Save as Data (CSV)" writes, byte for byte, and what reading it
    // back gives the window.
    void savedDataFileReadsBack() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.CountTime->setCurrentIndex(2);
        w.EditChartTitle->setText(QStringLiteral("Basement, north"));
        w.EditChartNotes->setText(QStringLiteral("Shelf 2"));
        w.ApplyGraphSettings();
        AddReadings(w, {0.012, 0.015, 0.5, 1.25});
        const std::vector<graph::GraphPoint> saved = testing::PointsOf(w.Series1);
        const QString path = rig.dir.filePath(QStringLiteral("run1.csv"));

        rig.ui.AnswerSaveFile(kSaveCsvTitle, path, 1);
        w.SaveAsCSV->trigger();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(ReadAll(path), QByteArray("# Device: \r\n"
                                           "# Units: mR/hr\r\n"
                                           "# Averaging Time: 45 seconds sec\r\n"
                                           "# Title: Basement, north\r\n"
                                           "# Notes: Shelf 2\r\n"
                                           "# Date Saved: 3/14/2012 9:00:00 AM\r\n"
                                           "Time, mR/hr\r\n"
                                           "3/14/2012 9:00:03 AM, 0.012\r\n"
                                           "3/14/2012 9:00:06 AM, 0.015\r\n"
                                           "3/14/2012 9:00:09 AM, 0.500\r\n"
                                           "3/14/2012 9:00:12 AM, 1.250\r\n"));

        w.Chart1->SetBottomAxisTitle(QStringLiteral("changed"));
        rig.ui.AnswerConfirm(kOpenDataFileQuestion, true);
        rig.ui.AnswerOpenFile(kOpenTitle, path);
        w.OpenDataFile->trigger();
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(rig.ui.Texts(QStringLiteral("Message")).isEmpty());

        QCOMPARE(w.Series1.Count(), saved.size());
        for (std::size_t i = 0; i < saved.size(); ++i) {
            QCOMPARE(qRound64(testing::PointsOf(w.Series1)[i].x / kSecond),
                     qRound64(saved[i].x / kSecond));
            QCOMPARE(testing::PointsOf(w.Series1)[i].y, saved[i].y);
            // Colours are not in the file: the alarm point comes back plain.
            QCOMPARE(testing::PointsOf(w.Series1)[i].color, graph::kDefaultPointColor);
        }
        QCOMPARE(w.Series2.Count(), std::size_t{2});
        QCOMPARE(w.Series2.LastY(), (0.012 + 0.015 + 0.5 + 1.25) / 4);
        QCOMPARE(w.Chart1->BottomAxisTitle(), QStringLiteral("Time"));
        QCOMPARE(w.Chart1->LeftAxisTitle(), QStringLiteral("mR/hr"));
        QCOMPARE(w.DataFileName, QFileInfo(path).absoluteFilePath());
        QCOMPARE(w.DataFileLines.size(), 6);
        QCOMPARE(w.DataFileLines.first(), QStringLiteral("# Device:"));
        QCOMPARE(w.DataFileLines[3], QStringLiteral("# Title: Basement, north"));

        // The statistics name the file and list its header lines.
        w.Chart1->RenderImage();
        const QStringList stats = w.Statistics->toPlainText().split(QLatin1Char('\n'));
        QVERIFY(stats.size() > 7);
        QCOMPARE(stats[0], QStringLiteral("Filename: run1.csv"));
        QCOMPARE(stats.mid(1, 6), w.DataFileLines);
        QCOMPARE(stats[7], QStringLiteral("Latest:    1.250 mR/hr"));
    }

    // A longer recording survives the round trip point for point.
    void longRecordingRoundTrip() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.Chart1->SetAutoRepaint(false);
        for (int i = 0; i < 2000; ++i) // crosses midnight on the second day
            w.Series1.Add(kStart + 0.6 + 3 * i * kSecond, (i % 97) / 1000.0);
        w.Chart1->SetAutoRepaint(true);
        const std::vector<graph::GraphPoint> saved = testing::PointsOf(w.Series1);
        const QString path = rig.dir.filePath(QStringLiteral("long.csv"));
        QVERIFY(w.SaveChartAs(path, 3));

        w.ClearGraph();
        rig.ui.AnswerOpenFile(kOpenTitle, path);
        w.OpenDataFileClick();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.Series1.Count(), saved.size());
        for (std::size_t i = 0; i < saved.size(); ++i) {
            QCOMPARE(qRound64(testing::PointsOf(w.Series1)[i].x / kSecond),
                     qRound64(saved[i].x / kSecond));
            QCOMPARE(testing::PointsOf(w.Series1)[i].y, saved[i].y);
        }
        // The point at exactly midnight was written with the date alone.
        QVERIFY(ReadAll(path).contains("\r\n3/15/2012, "));
    }

    // Short dates with blanks of their own: what the window saves under
    // these regional settings, it opens again, across midnight.
    void savedUnderRegionalSettingsOpensAgain_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::newRow("ko_KR") << QLocale(QLocale::Korean, QLocale::SouthKorea);
        QTest::newRow("hu_HU") << QLocale(QLocale::Hungarian, QLocale::Hungary);
        QTest::newRow("sk_SK") << QLocale(QLocale::Slovak, QLocale::Slovakia);
    }
    void savedUnderRegionalSettingsOpensAgain() {
        QFETCH(QLocale, locale);
        MainWindowRig rig;
        rig.regional = platform::Regional(locale);
        TFormMain& w = rig.Open();
        const double beforeMidnight = kStart + 0.625 - 30 * kSecond; // 23:59:30
        for (int i = 0; i < 20; ++i)
            w.Series1.Add(beforeMidnight + 3 * i * kSecond, 0.01 * i);
        graph::RefreshAverage(w.Series1, w.Series2);
        const std::vector<graph::GraphPoint> saved = testing::PointsOf(w.Series1);
        const QString path = rig.dir.filePath(QStringLiteral("regional.csv"));
        rig.ui.AnswerSaveFile(kSaveCsvTitle, path, 1);
        w.SaveAsCSV->trigger();

        rig.ui.AnswerConfirm(kOpenDataFileQuestion, true);
        rig.ui.AnswerOpenFile(kOpenTitle, path);
        w.OpenDataFile->trigger();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(rig.ui.Texts(QStringLiteral("Message")), QStringList());
        QCOMPARE(w.Series1.Count(), saved.size());
        for (std::size_t i = 0; i < saved.size(); ++i)
            QCOMPARE(qRound64(testing::PointsOf(w.Series1)[i].x / kSecond),
                     qRound64(saved[i].x / kSecond));
    }

    // The column titles decide the unit, without regard to letter case;
    // nothing else of a unit change happens.
    void secondColumnTitleSwitchesTheUnit_data() {
        QTest::addColumn<QByteArray>("titles");
        QTest::addColumn<int>("unit");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("bottom");
        const auto row = [](const char* tag, const QByteArray& titles, int unit, const char* left,
                            const char* bottom) {
            QTest::newRow(tag) << titles << unit << QString::fromUtf8(left)
                               << QString::fromUtf8(bottom);
        };
        row("small letters", "Time, cpm", 1, "cpm", "Time");
        row("micro sign in Windows-1252", "Time, \xb5Sv/hr", 4, "\u00b5Sv/hr", "Time");
        row("no unit", "When,  Dose ", 2, "Dose", "When");
        row("no comma", "CPM (UNCOMP)", 0, "CPM (UNCOMP)", "");
    }
    void secondColumnTitleSwitchesTheUnit() {
        QFETCH(QByteArray, titles);
        QFETCH(int, unit);
        QFETCH(QString, left);
        QFETCH(QString, bottom);
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        QCOMPARE(w.ValUnits->currentIndex(), 2);
        const QString path = rig.dir.filePath(QStringLiteral("units.csv"));
        WriteFile(path, "# Units: whatever\r\n" + titles + "\r\n3/14/2012 9:00:03 AM, 12.5\r\n");

        rig.ui.AnswerOpenFile(kOpenTitle, path);
        w.OpenDataFileClick();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.ValUnits->currentIndex(), unit);
        QCOMPARE(int(w.Counter.UnitCode()), unit);
        QCOMPARE(w.Options.UnitsIndex, 2);
        QCOMPARE(w.Chart1->LeftAxisTitle(), left);
        QCOMPARE(w.Chart1->BottomAxisTitle(), bottom);
        QCOMPARE(w.GraphPointCount(), 1);
        QCOMPARE(w.Series1.LastY(), 12.5);
    }

    // The example file: two points, the overrange line counted corrupt.
    void corruptLinesAreCountedInOneNote() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        const QString path = rig.dir.filePath(QStringLiteral("example.csv"));
        WriteFile(path,
                  kExampleFile + "3/14/2012 9:00:05 AM, 0.5\r\n\r\n3/14/2012 9:00:12 AM, 1\n");
        rig.ui.AnswerOpenFile(kOpenTitle, path);
        rig.ui.ExpectMessage(
            QStringLiteral("Note: 3 lines in the data file were corrupt and ignored."));
        w.OpenDataFile->trigger();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.GraphPointCount(), 3);
        QCOMPARE(w.Series1.YValue(1), 0.015);
        QCOMPARE(w.Series1.YValue(2), 1.0);
        QCOMPARE(w.DataFileLines.size(), 6);
        QCOMPARE(w.DataFileLines[5], QStringLiteral("# Date Saved: 3/14/2012 10:15:02 AM"));

        WriteFile(path, kExampleFile);
        rig.ui.AnswerConfirm(kOpenDataFileQuestion, true);
        rig.ui.AnswerOpenFile(kOpenTitle, path);
        rig.ui.ExpectMessage(
            QStringLiteral("Note: 1 lines in the data file were corrupt and ignored."));
        w.OpenDataFile->trigger();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.GraphPointCount(), 2);
    }

    // A measurement keeps running through a "No", a cancelled dialog and a
    // file that cannot be opened; it ends only once the chosen file is open.
    void openingWhileConnectedDisconnectsOnlyForAnOpenedFile() {
        MainWindowRig rig;
        const int device = rig.AddCounter();
        TFormMain& w = rig.Open();
        QVERIFY(w.Counter.IsOpen());
        QVERIFY(w.CountTimer->isActive());
        AddReadings(w, {1.0, 2.0});
        const auto stillMeasuring = [&] {
            return w.Counter.IsOpen() && rig.driver.IsOpen(device) && w.CountTimer->isActive() &&
                   w.TimerProgressBar->isActive() && w.GraphPointCount() == 2;
        };

        rig.ui.AnswerConfirm(kOpenDataFileQuestion, false);
        w.OpenDataFile->trigger();
        QVERIFY(stillMeasuring());
        rig.ui.AnswerConfirm(kOpenDataFileQuestion, true);
        rig.ui.AnswerOpenFile(kOpenTitle, {});
        w.OpenDataFile->trigger();
        QVERIFY(stillMeasuring());
        rig.ui.AnswerConfirm(kOpenDataFileQuestion, true);
        rig.ui.AnswerOpenFile(kOpenTitle, rig.dir.filePath(QStringLiteral("missing.csv")));
        rig.ui.ExpectMessage(QStringLiteral("Error: The file could not be opened."));
        w.OpenDataFile->trigger();
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(stillMeasuring());
        QVERIFY(w.DataFileName.isEmpty());

        const QString path = rig.dir.filePath(QStringLiteral("example.csv"));
        WriteFile(path, kExampleFile);
        rig.ui.AnswerConfirm(kOpenDataFileQuestion, true);
        rig.ui.AnswerOpenFile(kOpenTitle, path);
        rig.ui.ExpectMessage(
            QStringLiteral("Note: 1 lines in the data file were corrupt and ignored."));
        w.OpenDataFile->trigger();
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(!w.Counter.IsOpen());
        QVERIFY(!rig.driver.IsOpen(device));
        QVERIFY(!w.CountTimer->isActive() && !w.TimerProgressBar->isActive());
        QCOMPARE(w.LabelStatus->text(), QStringLiteral("Not Connected"));
        QCOMPARE(w.OpenCloseDevice->text(), QStringLiteral("Connect to Device"));
        QCOMPARE(w.GraphPointCount(), 2);
        QCOMPARE(w.Series1.YValue(0), 0.012);
    }

    // A blank line among the header lines makes the file unreadable: the
    // device is closed and the graph empty all the same, no file is shown.
    void blankHeaderLineMakesTheFileUnreadable() {
        MainWindowRig rig;
        rig.AddCounter();
        TFormMain& w = rig.Open();
        AddReadings(w, {1.0});
        const QString path = rig.dir.filePath(QStringLiteral("blank.csv"));
        WriteFile(path, "# Device: KVT-PULSE1\r\n\r\n# Units: mR/hr\r\nTime, CPM\r\n"
                        "3/14/2012 9:00:03 AM, 12\r\n");
        rig.ui.AnswerConfirm(kOpenDataFileQuestion, true);
        rig.ui.AnswerOpenFile(kOpenTitle, path);
        rig.ui.ExpectMessage(QStringLiteral("Error: The file could not be read"));
        w.OpenDataFile->trigger();
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(!w.Counter.IsOpen());
        QCOMPARE(w.GraphPointCount(), 0);
        QVERIFY(w.DataFileName.isEmpty());
        QCOMPARE(w.DataFileLines, QStringList{QStringLiteral("# Device: KVT-PULSE1")});
        QCOMPARE(w.ValUnits->currentIndex(), 2);
    }

    // The filter picks the format; the typed extension plays no part. No
    // scratch bitmap is left behind, whether the save worked or not.
    void imageFormatFollowsTheFilter() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        AddReadings(w, {0.012, 0.015, 0.020});
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        const TempFolderOverride useTemp(temp.path());

        const QString jpegPath = rig.dir.filePath(QStringLiteral("graph.bmp"));
        rig.ui.AnswerSaveFile(kSaveImageTitle, jpegPath, 1);
        w.SaveAsImage1->trigger();
        const QString bmpPath = rig.dir.filePath(QStringLiteral("graph.jpg"));
        rig.ui.AnswerSaveFile(kSaveImageTitle, bmpPath, 2);
        w.Button4->click();
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(rig.ui.Texts(QStringLiteral("Message")).isEmpty());

        const DecodedJpeg jpeg = DecodeJpeg(ReadAll(jpegPath));
        QVERIFY(jpeg.ok);
        QCOMPARE(jpeg.width, 800);
        QCOMPARE(jpeg.height, 470);
        QCOMPARE(jpeg.components, 3);
        QVERIFY(jpeg.progressive);

        const QByteArray bmp = ReadAll(bmpPath);
        QVERIFY(bmp.startsWith("BM"));
        QImage fromBmp;
        QVERIFY(fromBmp.loadFromData(bmp, "BMP"));
        QCOMPARE(fromBmp.size(), QSize(800, 470));
        // The picture is the chart as drawn now, overlays included.
        QCOMPARE(fromBmp.convertToFormat(QImage::Format_RGB32),
                 w.Chart1->RenderImage().convertToFormat(QImage::Format_RGB32));
        QVERIFY(ScratchFiles(temp.path()).isEmpty());

        rig.ui.AnswerSaveFile(kSaveImageTitle, rig.dir.filePath(QStringLiteral("no/such/a.jpg")),
                              1);
        rig.ui.ExpectMessage(kImageFailed);
        w.SaveAsImage1Click();
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(ScratchFiles(temp.path()).isEmpty());
        // Each showing starts with an empty name and the filter used last.
        QCOMPARE(rig.ui.Dialogs().size(), 3);
        QCOMPARE(rig.ui.Dialogs()[1].filterIndex, 1);
        QCOMPARE(rig.ui.Dialogs()[2].filterIndex, 2);
        QVERIFY(rig.ui.Dialogs()[2].fileName.isEmpty());
    }

    // A full disk is a failed save, never a truncated file reported saved.
    void fullDiskIsReported() {
        if (!QFileInfo::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full here");
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        AddReadings(w, {0.012, 0.015});
        rig.ui.AnswerSaveFile(kSaveCsvTitle, QStringLiteral("/dev/full"), 1);
        rig.ui.ExpectMessage(files::kDataFileNotSaved);
        w.SaveAsCSVClick();
        rig.ui.AnswerSaveFile(kSaveImageTitle, QStringLiteral("/dev/full"), 2);
        rig.ui.ExpectMessage(kImageFailed);
        w.SaveAsImage1Click();
        rig.ui.AnswerSaveFile(kSaveImageTitle, QStringLiteral("/dev/full"), 1);
        rig.ui.ExpectMessage(kImageFailed);
        w.SaveAsImage1Click();
        QVERIFY(rig.ui.ScriptDone());
    }

    void saveEntryPointCodes() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        const QString path = rig.dir.filePath(QStringLiteral("x.csv"));
        for (int code : {0, 4, -1}) {
            rig.ui.ExpectMessage(QStringLiteral("SaveChartAs: Unknown format ") +
                                 QString::number(code));
            QVERIFY(!w.SaveChartAs(path, code));
        }
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(!QFileInfo::exists(path));
        for (int code : {1, 2, 3})
            QVERIFY(!w.SaveChartAs(QString(), code));
        // An empty graph saves as the header and the column titles alone.
        QVERIFY(w.SaveChartAs(path, 3));
        const QList<QByteArray> lines = ReadAll(path).split('\n');
        QCOMPARE(lines.size(), 8); // seven lines and nothing after the last end
        QCOMPARE(lines[6], QByteArray("Time, mR/hr\r"));
        QVERIFY(rig.ui.Texts(QStringLiteral("Message")).size() == 3);
    }

    void copyPutsTheChartOnTheClipboard() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        AddReadings(w, {0.012, 0.015, 0.020});
        rig.ui.ExpectMessage(QStringLiteral("Graph has been copied to clipboard"));
        w.Button2->click();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(rig.ui.Calls().size(), 2);
        QCOMPARE(rig.ui.Calls()[0].kind, QStringLiteral("ClipboardImage"));
        QCOMPARE(rig.ui.ClipboardImage().size(), QSize(800, 470));
        QCOMPARE(rig.ui.ClipboardImage().convertToFormat(QImage::Format_RGB32),
                 w.Chart1->RenderImage().convertToFormat(QImage::Format_RGB32));
    }

    // Printing through the preview: one page of chart on a PDF printer, the
    // same drawing as on screen.
    void printGivesOnePage() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        AddReadings(w, {0.012, 0.015, 0.020});
        const QString pdf = rig.dir.filePath(QStringLiteral("graph.pdf"));
        int previews = 0;
        w.PrintPreview = [&](QPrinter& printer, const std::function<void(QPrinter&)>& paintPage) {
            ++previews;
            // The wide chart is offered across the page.
            QCOMPARE(printer.pageLayout().orientation(), QPageLayout::Landscape);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            paintPage(printer);
        };
        w.Button1->click();
        QCOMPARE(previews, 1);
        const QByteArray bytes = ReadAll(pdf);
        QVERIFY(bytes.startsWith("%PDF"));
        QCOMPARE(PdfPageCount(bytes), 1);
        static const QRegularExpression mediaBox(
            QStringLiteral("/MediaBox\\s*\\[\\s*0\\s+0\\s+([\\d.]+)\\s+([\\d.]+)"));
        const QRegularExpressionMatch box = mediaBox.match(QString::fromLatin1(bytes));
        QVERIFY(box.hasMatch());
        QVERIFY(box.captured(1).toDouble() > box.captured(2).toDouble());
        QVERIFY(rig.ui.Calls().isEmpty());
    }

    // Without a stand-in the desktop's print preview comes up modal with the
    // chart's page in it; closing it prints nothing.
    // The services the program ships (the desktop's dialogs, under the
    // wrapper that keeps boxes out of timer slots) show the progress of a
    // long open, and its Cancel leaves the graph as it was.
    void longOpenShowsItsProgressThroughTheShippedServices() {
        const QString path =
            QDir(QDir::tempPath())
                .filePath(
                    QStringLiteral("korvinet-long-%1.csv").arg(QCoreApplication::applicationPid()));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QByteArray bytes = "Time, mR/hr\r\n";
            const platform::Regional regional(QLocale::c());
            files::DataLineWriter lines(2, regional);
            for (int i = 0; i < 3000000; ++i) {
                lines.Append(kStart + i * kSecond, 0.012, bytes);
                if (bytes.size() > (1 << 20)) {
                    file.write(bytes);
                    bytes.clear();
                }
            }
            file.write(bytes);
        }
        MainWindowRig rig;
        QtUiServices shipped;
        rig.services = &shipped;
        TFormMain& w = rig.Open();
        shipped.SetOwner(&w);
        AddReadings(w, {0.012, 0.015, 0.040});
        bool progressShown = false;
        bool progressTooEarly = false;
        QElapsedTimer answering;
        QTimer user; // answers whatever the window shows, as a user would
        user.setInterval(10);
        connect(&user, &QTimer::timeout, this, [&] {
            const auto progressDialog = [] {
                for (QWidget* top : QApplication::topLevelWidgets())
                    if (auto* progress = qobject_cast<QProgressDialog*>(top);
                        progress && progress->isVisible())
                        return progress;
                return static_cast<QProgressDialog*>(nullptr);
            };
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                // The user takes a while to answer: no progress (whose half
                // second would run out meanwhile) before the file is chosen.
                if (!answering.isValid())
                    answering.start();
                for (QWidget* top : QApplication::topLevelWidgets())
                    progressTooEarly |= qobject_cast<QProgressDialog*>(top) != nullptr;
                for (QAbstractButton* button : box->buttons())
                    if (button->text() == QStringLiteral("&Yes") && answering.elapsed() > 700)
                        button->click();
            } else if (auto* dialog =
                           qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                dialog->selectFile(path);
                QMetaObject::invokeMethod(dialog, "accept");
            } else if (QProgressDialog* progress = progressDialog(); progress && !progressShown) {
                progressShown = true;
                progress->findChild<QPushButton*>()->click();
            }
        });
        user.start();
        w.OpenDataFile->trigger();
        user.stop();
        QFile::remove(path);
        QVERIFY(progressShown);
        QVERIFY(!progressTooEarly);
        QCOMPARE(testing::PointsOf(w.Series1).size(), std::size_t(3));
        QCOMPARE(w.Series1.LastY(), 0.040);
        shipped.SetOwner(nullptr);
    }

    void printPreviewShowsThePage() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        AddReadings(w, {0.012, 0.015});
        int pages = -1;
        bool sawPreview = false;
        bool landscape = false;
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            sawPreview = true;
            if (auto* preview = dialog->findChild<QPrintPreviewWidget*>()) {
                pages = preview->pageCount();
                landscape = preview->orientation() == QPageLayout::Landscape;
            }
            dialog->reject();
        });
        poll.start();
        QTimer::singleShot(10000, &poll, [] {
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close(); // never hang the run
        });
        w.Print1->trigger();
        poll.stop();
        QVERIFY(sawPreview);
        QCOMPARE(pages, 1);
        QVERIFY(landscape);
    }

    // "Open Recording..." comes after every other File item. With
    // nothing recorded it says so; the window's own recording, opened for
    // the last 24 hours, takes the measurement's place as a data file does,
    // and the statistics name the journal and the span.
    void openRecordingShowsTheWindowsOwnRecording() {
        MainWindowRig rig;
        rig.AddCounter();
        TFormMain& w = rig.Open();
        QCOMPARE(w.File1->actions().last(), w.OpenRecording);
        rig.ui.ExpectMessage(NoRecordingText(rig.recordingsFolder));
        w.OpenRecording->trigger();
        QVERIFY(rig.ui.ScriptDone());

        rig.Plan(5, 3000, 12);
        QVERIFY(rig.RunPlanned());
        const auto values = [&w] {
            std::vector<std::pair<double, double>> xy;
            for (const graph::GraphPoint& p : testing::PointsOf(w.Series1))
                // To the millisecond, and as the journal keeps a reading: as shown.
                xy.emplace_back(std::round(p.x * 86400e3), std::round(p.y * 1000));
            return xy;
        };
        const auto live = values();
        QCOMPARE(live.size(), std::size_t(12));
        rig.ui.AnswerConfirm(kOpenDataFileQuestion, true);
        rig.ui.AnswerRecordingSpan(RecordingSpanNames(), {true, 0, 0, 0});
        w.OpenRecording->trigger();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(rig.ui.Texts(QStringLiteral("Progress")),
                 QStringList{QStringLiteral("Opening the recording...")});
        QCOMPARE(values(), live);
        w.Chart1->RenderImage();
        const QStringList stats = w.Statistics->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(stats.mid(0, 3),
                 QStringList({QStringLiteral("Filename: recordings"),
                              QStringLiteral("# Recording: 3/13/2012 9:00:36 AM to "
                                             "3/14/2012 9:00:36 AM"),
                              QStringLiteral("# Every reading")}));
    }

    // A file in its own unit switches the list; the next connection measures
    // in the stored unit again, and the list and the fresh axis say so.
    void reconnectingAfterAFileShowsTheStoredUnit() {
        MainWindowRig rig;
        rig.AddCounter();
        TFormMain& w = rig.Open();
        QVERIFY(w.Counter.IsOpen());
        const QString path = rig.dir.filePath(QStringLiteral("cpm.csv"));
        WriteFile(path, "Time, CPM\r\n3/14/2012 9:00:03 AM, 31.5\r\n");
        rig.ui.AnswerOpenFile(kOpenTitle, path);
        w.OpenDataFile->trigger();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.ValUnits->currentText(), QStringLiteral("CPM"));
        QCOMPARE(w.Counter.UnitName(), QStringLiteral("CPM"));
        QCOMPARE(w.Options.UnitsIndex, 2);

        rig.ui.AnswerConfirm(
            QStringLiteral("Starting a new connection will clear the graph data.  Continue?"),
            true);
        w.OpenCloseDeviceClick();
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(w.Counter.IsOpen());
        QCOMPARE(w.Counter.UnitName(), QStringLiteral("mR/hr"));
        QCOMPARE(w.ValUnits->currentText(), QStringLiteral("mR/hr"));
        QCOMPARE(w.Chart1->LeftAxisTitle(), QStringLiteral("mR/hr"));
    }

    // Disconnected, values are formatted in the unit the list shows.
    void theStoredUnitIsInForceWithoutACounter() {
        MainWindowRig rig;
        settings::SettingsRecord stored;
        stored.UnitsIndex = 3;
        QVERIFY(settings::WriteSettings(rig.fileStore, stored));
        TFormMain& w = rig.Open();
        QCOMPARE(w.ValUnits->currentIndex(), 3);
        QCOMPARE(w.Counter.UnitName(), QString::fromUtf8("\u00B5R/hr"));
        QCOMPARE(w.Counter.FormatValue(12.34), QStringLiteral("12"));
    }
};

} // namespace korvinet::app

QTEST_MAIN(korvinet::app::FilesWindowTest)
#include "test_files_window.moc"
