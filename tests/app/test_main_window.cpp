// The main window: its layout, menu, timers, command map and device controls.

#include "app/about_window.h"
#include "app/open_recording.h"
#include "graph/chart.h"
#include "main_window_rig.h"
#include "support/script_server.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <stdexcept>

namespace korvinet::app {

using testing::MainWindowRig;
using testing::UnusedPort;

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void controlsSitAtTheirPlaces_data() {
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("geometry");
        const auto row = [](const char* name, const char* parent, int x, int y, int w, int h) {
            QTest::newRow(name) << QString::fromLatin1(parent) << QRect(x, y, w, h);
        };
        row("ValReading", "ClientArea", 23, 30, 181, 33);
        row("Hardware", "ClientArea", 3, 60, 201, 231);
        row("ButtonRefresh", "Hardware", 165, 25, 30, 30);
        row("ButtonDeviceInfo", "Hardware", 165, 25, 30, 30);
        row("CheckBoxBeep", "Hardware", 10, 130, 141, 17);
        row("AlarmEnabled", "Hardware", 10, 155, 81, 17);
        row("AlarmBuzzer", "Hardware", 10, 180, 121, 17);
        row("OpenCloseDevice", "Hardware", 30, 200, 141, 21);
        row("GroupBox1", "ClientArea", 3, 300, 201, 171);
        row("Statistics", "GroupBox1", 10, 20, 180, 121);
        row("ButtonCopyStatistics", "GroupBox1", 50, 145, 101, 21);
        row("GroupBox2", "ClientArea", 3, 480, 201, 140);
        row("ChartYMaxAuto", "GroupBox2", 10, 80, 81, 17);
        row("Chart1", "ClientArea", 211, 0, 800, 470);
        row("GroupBox4", "ClientArea", 223, 480, 241, 140);
        row("Button5", "GroupBox4", 10, 20, 100, 30);
        row("Button4", "GroupBox4", 130, 20, 100, 30);
        row("Button1", "GroupBox4", 10, 60, 100, 30);
        row("Button2", "GroupBox4", 130, 60, 100, 30);
        row("Button3", "GroupBox4", 70, 100, 100, 30);
        row("GroupBox6", "ClientArea", 473, 480, 351, 140);
        row("Button6", "GroupBox6", 130, 20, 131, 31);
        row("GroupBox3", "ClientArea", 473, 480, 351, 140);
        row("FTPStatusLbl", "GroupBox3", 10, 118, 331, 18);
        row("ProgressBarSample", "ClientArea", 833, 500, 171, 17);
        row("GroupBox5", "ClientArea", 833, 530, 171, 90);
        row("Accumulator", "GroupBox5", 11, 15, 150, 46);
        row("CopyAccumToClipboard", "GroupBox5", 10, 60, 100, 21);
        row("AccumulatorReset", "GroupBox5", 120, 60, 40, 21);
    }
    void controlsSitAtTheirPlaces() {
        QFETCH(QString, parent);
        QFETCH(QRect, geometry);
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        auto* control = w.findChild<QWidget*>(name);
        QVERIFY2(control, qPrintable(name));
        QCOMPARE(control->parentWidget()->objectName(), parent);
        QCOMPARE(control->geometry(), geometry);
    }

    void positionedControlsWithoutSize() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        const struct {
            QWidget* control;
            QPoint at;
            int width; // -1: sized to its text
        } places[] = {
            {w.Label1, {21, 6}, -1},
            {w.SelectDevice, {10, 30}, 150},
            {w.LabelUnits, {10, 75}, -1},
            {w.ValUnits, {100, 70}, 80},
            {w.LabelTimeBase, {10, 105}, -1},
            {w.CountTime, {100, 100}, 80},
            {w.EditAlarmLevel, {103, 212}, 81},
            {w.Label3, {10, 25}, -1},
            {w.EditChartTitle, {40, 20}, 151},
            {w.Label4, {10, 55}, -1},
            {w.EditChartNotes, {50, 50}, 141},
            {w.EditChartYMax, {100, 80}, 81},
            {w.Label2, {10, 115}, -1},
            {w.EditMaxSpan, {80, 110}, 51},
            {w.Label5, {140, 115}, -1},
            {w.Label14, {20, 30}, -1},
            {w.LabelStatus, {833, 480}, -1},
        };
        for (const auto& p : places) {
            QCOMPARE(p.control->pos(), p.at);
            if (p.width >= 0)
                QCOMPARE(p.control->width(), p.width);
        }
        // The alarm level field lies on the window, over the counter group.
        QCOMPARE(w.EditAlarmLevel->parentWidget(), w.centralWidget());
    }

    void windowTextsAndInitialState() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        QCOMPARE(w.windowTitle(), QStringLiteral("Korvinet - Quorsa Technologies"));
        QCOMPARE(w.pos(), QPoint(50, 50));
        QCOMPARE(w.Hardware->title(), QStringLiteral("   Geiger Counter   "));
        QCOMPARE(w.GroupBox1->title(), QStringLiteral("Graph Statistics   "));
        QCOMPARE(w.GroupBox2->title(), QStringLiteral("   Graph Settings   "));
        QCOMPARE(w.GroupBox4->title(), QStringLiteral("   Graph   "));
        QCOMPARE(w.GroupBox3->title(), QStringLiteral("   FTP/Website Upload   "));
        QCOMPARE(w.GroupBox6->title(), QStringLiteral("   FTP/Website Upload   "));
        QCOMPARE(w.GroupBox5->title(), QStringLiteral("   Accumulated Counts   "));
        QCOMPARE(w.Label14->text(), QStringLiteral("Coming Soon..."));
        QCOMPARE(w.Button6->text(), QStringLiteral("Check for updates now"));
        QCOMPARE(w.ValReading->text(), QStringLiteral("-"));
        QCOMPARE(w.ValReading->font().pixelSize(), 16);
        QVERIFY(w.ValReading->font().bold());
        QCOMPARE(w.OpenCloseDevice->font().pixelSize(), 13);
        QCOMPARE(w.Statistics->font().family(), QStringLiteral("Courier New"));
        QVERIFY(w.Statistics->isReadOnly() && w.Accumulator->isReadOnly());
        QVERIFY(w.Statistics->toPlainText().isEmpty() && w.Accumulator->toPlainText().isEmpty());
        QCOMPARE(w.ButtonRefresh->toolTip(), QStringLiteral("Refresh device list"));
        QCOMPARE(w.ButtonDeviceInfo->toolTip(), QStringLiteral("View device information"));
        QCOMPARE(w.EditAlarmLevel->maxLength(), 100);
        QCOMPARE(w.EditChartTitle->maxLength(), 100);
        QCOMPARE(w.EditChartNotes->maxLength(), 100);
        QCOMPARE(w.FTPPassword->echoMode(), QLineEdit::Password);
        QCOMPARE(w.ProgressBarSample->minimum(), 0);
        QCOMPARE(w.ProgressBarSample->value(), 0);

        QStringList units;
        for (int i = 0; i < w.ValUnits->count(); ++i)
            units << w.ValUnits->itemText(i);
        QCOMPARE(units, QStringList({"CPM (uncomp)", "CPM", "mR/hr", "\u00b5R/hr", "\u00b5Sv/hr"}));
        QStringList times;
        for (int i = 0; i < w.CountTime->count(); ++i)
            times << w.CountTime->itemText(i);
        QCOMPARE(times, QStringList({"15 seconds", "30 seconds", "45 seconds", "1 minute",
                                     "3 minutes", "5 minutes", "10 minutes"}));
        QStringList types;
        for (int i = 0; i < w.FTPFiletype->count(); ++i)
            types << w.FTPFiletype->itemText(i);
        QCOMPARE(types, QStringList({"Graph - JPEG  (*.jpg)", "Graph - BITMAP (*.bmp)",
                                     "Data - CSV (*.csv)"}));

        // The upload panel stays hidden and switched off; its place shows
        // the update check.
        w.show();
        QVERIFY(!w.GroupBox3->isVisible() && !w.GroupBox3->isEnabled());
        QVERIFY(w.GroupBox6->isVisible());
        QVERIFY(w.FTPStatusLbl->text().isEmpty());
    }

    // Every caption must be readable in full in the font the form uses.
    void captionsFitTheirControls() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.show();
        for (QAbstractButton* button : w.findChildren<QAbstractButton*>()) {
            if (button->text().isEmpty())
                continue;
            const QFontMetrics metrics(button->font());
            int need = metrics.horizontalAdvance(button->text());
            if (qobject_cast<QCheckBox*>(button))
                need += button->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                        button->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
            else
                need += 4;
            QVERIFY2(need <= button->width(),
                     qPrintable(button->objectName() + " " + QString::number(need)));
        }
        for (QGroupBox* group : w.findChildren<QGroupBox*>()) {
            const QFontMetrics metrics(group->font());
            QVERIFY2(metrics.horizontalAdvance(group->title()) + 16 <= group->width(),
                     qPrintable(group->objectName()));
        }
        // The unit list is as narrow as on the original form, where
        // "CPM (uncomp)" does not fit either; the others show every entry.
        for (QComboBox* list : {w.CountTime, w.FTPFiletype}) {
            const QFontMetrics metrics(list->font());
            QStyleOptionComboBox option;
            option.initFrom(list);
            option.editable = list->isEditable();
            const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                              QStyle::SC_ComboBoxEditField, list);
            for (int i = 0; i < list->count(); ++i)
                QVERIFY2(metrics.horizontalAdvance(list->itemText(i)) <= field.width(),
                         qPrintable(list->objectName() + ": " + list->itemText(i) + " " +
                                    QString::number(metrics.horizontalAdvance(list->itemText(i))) +
                                    " in " + QString::number(field.width())));
        }
        // Labels sized to their text must not run into the control beside them.
        QVERIFY(w.LabelUnits->geometry().right() < w.ValUnits->x());
        QVERIFY(w.LabelTimeBase->geometry().right() < w.CountTime->x());
        QVERIFY(w.Label3->geometry().right() < w.EditChartTitle->x());
        QVERIFY(w.Label4->geometry().right() < w.EditChartNotes->x());
        QVERIFY(w.Label2->geometry().right() < w.EditMaxSpan->x());
        QVERIFY(w.Label14->geometry().right() < w.Button6->x());
    }

    void menuHoldsEveryCommand() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        const auto captions = [](QMenu* menu) {
            QStringList list;
            for (QAction* a : menu->actions())
                list << a->objectName() + "=" + a->text();
            return list;
        };
        QCOMPARE(w.File1->title(), QStringLiteral("File"));
        QCOMPARE(captions(w.File1),
                 QStringList({"OpenDataFile=Open Data File", "FileOptions=Options...",
                              "RestoreDefaultOptions=Restore Default Options", "Exit1=Exit",
                              "OpenRecording=Open Recording..."}));
        QCOMPARE(w.Graph1->title(), QStringLiteral("Graph"));
        QCOMPARE(captions(w.Graph1),
                 QStringList({"Print1=Print", "CopyToClipboard1=Copy to Clipboard",
                              "SaveAsCSV=Save as Data (CSV)", "SaveAsImage1=Save as Image",
                              "MenuResetGraph=Clear Graph"}));
        QCOMPARE(w.Help1->title(), QStringLiteral("Help"));
        QCOMPARE(captions(w.Help1), QStringList({"About1=About", "Instructions=Instructions/Help",
                                                 "CheckForUpdates1=Check for Updates"}));
        for (QAction* a : w.findChildren<QAction*>())
            QVERIFY(a->shortcut().isEmpty());
    }

    void timersAndDialogs() {
        MainWindowRig rig;
        TFormMain& w = rig.Open(false);
        QCOMPARE(w.CountTimer->interval(), 3000);
        QCOMPARE(w.TimerProgressBar->interval(), 250);
        QCOMPARE(w.TimerFTP->interval(), 600000);
        QVERIFY(!w.CountTimer->isActive() && !w.TimerProgressBar->isActive() &&
                !w.TimerFTP->isActive());
        QCOMPARE(w.findChild<QTimer*>("CountTimer"), w.CountTimer);

        QCOMPARE(w.SaveGraphDialog.title, QStringLiteral("Save Graph Image"));
        QCOMPARE(w.SaveGraphDialog.defaultExt, QStringLiteral("jpg"));
        QCOMPARE(w.SaveGraphDialog.filters,
                 QStringList({"JPEG Image (*.jpg)", "Bitmap Image (*.bmp)"}));
        QVERIFY(w.SaveGraphDialog.overwritePrompt);
        const QStringList csv = {"CSV Data (*.csv)", "Text (*.txt)", "All Files (*.*)"};
        QCOMPARE(w.SaveCSVDialog.title, QStringLiteral("Save Data as CSV"));
        QCOMPARE(w.SaveCSVDialog.defaultExt, QStringLiteral("csv"));
        QCOMPARE(w.SaveCSVDialog.filters, csv);
        QVERIFY(w.SaveCSVDialog.overwritePrompt);
        QCOMPARE(w.OpenCSVDialog.title, QStringLiteral("Open CSV File"));
        QCOMPARE(w.OpenCSVDialog.defaultExt, QStringLiteral("csv"));
        QCOMPARE(w.OpenCSVDialog.filters, csv);
    }

    // Every menu item, button, list and timer can be used without harm; the
    // only boxes that appear are the ones scripted here.
    void everyCommandRuns() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.show();
        TFormAbout about;
        w.SetAboutWindow(&about);
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // The network commands reach nothing but a closed port here.
        const QString closed = QStringLiteral("127.0.0.1:%1").arg(UnusedPort());
        w.UpdateHostName = closed;
        w.Options.ftpHost = closed;

        const QString none =
            QStringLiteral("No devices found, please check connections and try again.");
        const QString clear = QStringLiteral("Are you sure you want clear all data on the graph?");
        const QString noServer = QStringLiteral("Failed to connect to version server!");
        const QString copied = QStringLiteral("Graph has been copied to clipboard");
        const QString saveCsv = QStringLiteral("Save Data as CSV");
        const QString saveImage = QStringLiteral("Save Graph Image");
        // The print preview is closed at once, printing nothing.
        int previews = 0;
        w.PrintPreview = [&previews](QPrinter&, const std::function<void(QPrinter&)>&) {
            ++previews;
        };
        rig.ui.AnswerOpenFile(QStringLiteral("Open CSV File"), {}); // File > "Open Data File"
        rig.ui.AnswerConfirm(
            QStringLiteral("Are you sure you want to reset all settings to defaults?"), false);
        // File > "Open Recording...", before anything was recorded
        rig.ui.ExpectMessage(app::NoRecordingText(rig.recordingsFolder));
        rig.ui.ExpectMessage(copied);         // Graph > "Copy to Clipboard"
        rig.ui.AnswerSaveFile(saveCsv, {});   // Graph > "Save as Data (CSV)"
        rig.ui.AnswerSaveFile(saveImage, {}); // Graph > "Save as Image"
        rig.ui.AnswerConfirm(clear, false);   // Graph > "Clear Graph"
        rig.ui.ExpectMessage(noServer);       // Help > "Check for Updates"
        for (QAction* a : w.findChildren<QAction*>())
            if (a != w.Exit1 && !a->menu())
                a->trigger();
        rig.ui.ExpectMessage(none);           // the refresh button
        rig.ui.ExpectMessage(none);           // "Search for Device" searches again
        rig.ui.AnswerSaveFile(saveCsv, {});   // "Save as Data (CSV)"
        rig.ui.AnswerSaveFile(saveImage, {}); // "Save as Image"
        rig.ui.ExpectMessage(copied);         // "Copy to Clipboard"
        rig.ui.AnswerConfirm(clear, false);   // the "Clear Graph" button
        rig.ui.ExpectMessage(noServer);       // "Check for updates now"
        for (QAbstractButton* b : w.findChildren<QAbstractButton*>())
            if (b->isVisible())
                b->click();
        // The unit list asks before it changes anything.
        rig.ui.AnswerConfirm(
            QStringLiteral("Changing the units will clear all data on the graph.  Continue?"),
            false);
        for (QComboBox* list : w.findChildren<QComboBox*>())
            emit list->activated(0);
        // Each timer fires once; a sample without a counter fails like a lost
        // one, and its error opens once the tick is over.
        rig.ui.ExpectMessage(QStringLiteral("Error: Device not open!"));
        rig.Plan(0);
        for (QTimer* timer : {w.CountTimer, w.TimerProgressBar, w.TimerFTP}) {
            QSignalSpy fired(timer, &QTimer::timeout);
            timer->start(1);
            QVERIFY(fired.wait());
            timer->stop();
        }
        QTRY_VERIFY(rig.ui.Texts(QStringLiteral("Message")).contains("Error: Device not open!"));
        for (QLineEdit* edit : w.findChildren<QLineEdit*>()) {
            edit->setFocus(Qt::TabFocusReason);
            w.OpenCloseDevice->setFocus(Qt::TabFocusReason);
        }
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(previews, 2);      // Graph > "Print" and the "Print" button
        QVERIFY(about.isVisible()); // Help > About showed it
        w.Exit1->trigger();
        QVERIFY(!w.isVisible());
    }

    void aboutIsOneWindowBroughtToFront() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        TFormAbout about;
        QVERIFY(!about.isVisible());
        w.SetAboutWindow(&about);
        w.About1Click();
        QVERIFY(about.isVisible());
        about.close(); // closing only hides it
        w.About1Click();
        w.About1Click();
        QVERIFY(about.isVisible());
        QCOMPARE(about.windowTitle(), QStringLiteral("FormAbout"));
    }

    // Help > "Instructions/Help" opens the document of the current folder;
    // with none anywhere it does nothing at all.
    void instructionsOpenTheDocument() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(rig.dir.path()));
        w.Instructions->trigger();
        QVERIFY(rig.ui.Calls().isEmpty());
        QFile document(rig.dir.filePath(TFormMain::kInstructionsFile));
        QVERIFY(document.open(QIODevice::WriteOnly));
        document.close();
        w.Instructions->trigger();
        QDir::setCurrent(before);
        QCOMPARE(rig.ui.Texts(QStringLiteral("ShellOpen")),
                 QStringList{QFileInfo(document).absoluteFilePath()});
    }

    void escapedFailureIsShownAndTheProgramGoesOn() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        rig.ui.ExpectErrorBox(QStringLiteral("disk on fire"));
        w.RunCommand([] { throw std::runtime_error("disk on fire"); });
        QVERIFY(rig.ui.ScriptDone());
        bool ran = false;
        w.RunCommand([&] { ran = true; });
        QVERIFY(ran);
    }

    void startWithoutCounter() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        QVERIFY(rig.ui.Calls().isEmpty()); // no box while the window is built
        QCOMPARE(w.SelectDevice->count(), 1);
        QCOMPARE(w.SelectDevice->currentText(), QStringLiteral("(None Found)"));
        QVERIFY(w.SelectDevice->isEnabled());
        QCOMPARE(w.OpenCloseDevice->text(), QStringLiteral("Search for Device"));
        QCOMPARE(w.LabelStatus->text(), QStringLiteral("Not Connected"));
        QVERIFY(!w.ButtonRefresh->isHidden() && w.ButtonDeviceInfo->isHidden());
        QVERIFY(!w.CountTimer->isActive() && !w.TimerProgressBar->isActive());

        // A counter plugged in later is found and, being the only one,
        // connected at once by "Search for Device".
        rig.AddCounter();
        w.OpenCloseDevice->click();
        QVERIFY(w.Counter.IsOpen());
        QCOMPARE(w.OpenCloseDevice->text(), QStringLiteral("Disconnect COM4"));
    }

    void startWithOneCounterConnects() {
        MainWindowRig rig;
        rig.AddCounter();
        TFormMain& w = rig.Open();
        QVERIFY(rig.ui.Calls().isEmpty());
        QVERIFY(w.Counter.IsOpen());
        QVERIFY(rig.driver.IsOpen(0));
        QVERIFY(!rig.driver.Rts(0)); // beep on (RTS low), as BeepEnabled says
        QCOMPARE(w.SelectDevice->currentText(), QStringLiteral("COM4: KVT-PULSE1"));
        QVERIFY(!w.SelectDevice->isEnabled());
        QCOMPARE(w.OpenCloseDevice->text(), QStringLiteral("Disconnect COM4"));
        QCOMPARE(w.LabelStatus->text(), QStringLiteral("Next Sample Timer:"));
        QVERIFY(w.ButtonRefresh->isHidden() && !w.ButtonDeviceInfo->isHidden());
        QVERIFY(w.CountTimer->isActive() && w.TimerProgressBar->isActive());
        QCOMPARE(int(w.Counter.UnitCode()), w.Options.UnitsIndex);

        rig.ui.ExpectMessage(QStringLiteral(
            "Model:\t\t\tKVT-PULSE1\nSerial Number:\t\tKV100001\nCOM Port:\t\tCOM4\n"
            "Range:\t\t\t0 - 1000 mR/hr\nSensitivity:\t\t600 cpm/mR/hr\n"
            "Dead Time:\t\t90 \u00b5S\nDetects:\t\t BETA, GAMMA\nAccuracy:\t\t\u00b115%"));
        w.ButtonDeviceInfo->click();
        QVERIFY(rig.ui.ScriptDone());

        // Disconnecting asks nothing; the closed counter is listed again.
        w.OpenCloseDevice->click();
        QVERIFY(!w.Counter.IsOpen());
        QCOMPARE(w.OpenCloseDevice->text(), QStringLiteral("Connect to Device"));
        QCOMPARE(w.LabelStatus->text(), QStringLiteral("Not Connected"));
        QCOMPARE(w.ProgressBarSample->value(), 0);
        QVERIFY(!w.CountTimer->isActive() && !w.TimerProgressBar->isActive());
        QVERIFY(rig.ui.Calls().size() == 1);
    }

    void twoCountersWaitForTheUser() {
        MainWindowRig rig;
        rig.AddCounter(0);
        rig.AddCounter(1);
        TFormMain& w = rig.Open();
        QVERIFY(!w.Counter.IsOpen());
        QCOMPARE(w.SelectDevice->count(), 2);
        QCOMPARE(w.SelectDevice->currentIndex(), 0);
        QCOMPARE(w.OpenCloseDevice->text(), QStringLiteral("Connect to Device"));
        w.SelectDevice->setCurrentIndex(1);
        w.OpenCloseDevice->click();
        QVERIFY(w.Counter.IsOpen());
        QVERIFY(rig.driver.IsOpen(1) && !rig.driver.IsOpen(0));
        QCOMPARE(w.OpenCloseDevice->text(), QStringLiteral("Disconnect COM5"));
    }

    void failedConnectionShowsTheError() {
        MainWindowRig rig;
        rig.AddCounter(0);
        rig.AddCounter(1);
        TFormMain& w = rig.Open();
        rig.driver.FailCall(device::SimulatedDriver::Op::Open);
        rig.ui.ExpectMessage(QStringLiteral("Error: Failed to open port. Device not open!"));
        w.OpenCloseDevice->click();
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(!w.Counter.IsOpen());
        QCOMPARE(w.LabelStatus->text(), QStringLiteral("Not Connected"));
    }

    // An entry left over from a list made before a counter was unplugged
    // searches afresh rather than opening another counter.
    void staleListEntrySearchesAgain() {
        MainWindowRig rig;
        rig.AddCounter(0);
        const int second = rig.AddCounter(1);
        TFormMain& w = rig.Open();
        w.SelectDevice->setCurrentIndex(1);
        rig.driver.DetachDevice(second);
        w.UpdateConnectionState(); // lists again, the entries stay
        QCOMPARE(w.SelectDevice->count(), 2);
        w.OpenCloseDevice->click();
        QCOMPARE(w.SelectDevice->count(), 1);
        QVERIFY(w.Counter.IsOpen()); // the one counter left connects
        QCOMPARE(w.OpenCloseDevice->text(), QStringLiteral("Disconnect COM4"));
        QVERIFY(rig.ui.Calls().isEmpty());
    }

    // The window shrinks below its layout; the controls keep their places
    // and are cut off at its edges, and it grows back to the full layout.
    void windowCanBeMadeSmaller() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QSize full = w.size();
        w.resize(400, 300);
        QTRY_COMPARE(w.size(), QSize(400, 300));
        QCOMPARE(w.Chart1->geometry(), QRect(211, 0, 800, 470));
        QCOMPARE(w.GroupBox5->geometry(), QRect(833, 530, 171, 90));
        w.resize(full);
        QTRY_COMPARE(w.size(), full);
    }

    // The entry names a counter, not a place in the driver's list: after
    // counters were unplugged and plugged in, Connect opens the chosen one
    // wherever it now is, and searches afresh when it is gone.
    void chosenCounterIsTheOneOpened() {
        MainWindowRig rig;
        const int com4 = rig.AddCounter(0);
        const int com5 = rig.AddCounter(1);
        const int com6 = rig.AddCounter(2);
        rig.driver.DetachDevice(com5);
        TFormMain& w = rig.Open();
        QCOMPARE(w.SelectDevice->currentText(), QStringLiteral("COM4: KVT-PULSE1"));

        rig.driver.DetachDevice(com4);
        rig.driver.AttachDevice(com5);
        w.OpenCloseDevice->click();
        QVERIFY(!w.Counter.IsOpen());
        QVERIFY(!rig.driver.IsOpen(com5));
        QCOMPARE(w.SelectDevice->count(), 2);
        QCOMPARE(w.SelectDevice->itemText(0), QStringLiteral("COM5: KVT-PULSE1"));

        w.SelectDevice->setCurrentIndex(1);
        rig.driver.DetachDevice(com5); // COM6 moves up to the driver's first place
        w.OpenCloseDevice->click();
        QVERIFY(rig.driver.IsOpen(com6));
        QCOMPARE(w.OpenCloseDevice->text(), QStringLiteral("Disconnect COM6"));
        QVERIFY(rig.ui.Calls().isEmpty());
    }

    // Renders the window so a reviewer can look at it.
    void screenshot() {
        MainWindowRig rig;
        rig.AddCounter();
        TFormMain& w = rig.Open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QPixmap picture = w.grab();
        QVERIFY(!picture.isNull());
        QCOMPARE(picture.size(), w.size());
        const QString file = QDir::current().filePath(QStringLiteral("main_window.png"));
        QVERIFY(picture.save(file));
        qInfo().noquote() << "main window picture:" << file;
    }
};

} // namespace korvinet::app

QTEST_MAIN(korvinet::app::MainWindowTest)
#include "test_main_window.moc"
