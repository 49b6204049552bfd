#include "app/main_window.h"

#include "app/form_fonts.h"
#include "device/display_units.h"
#include "device/serial_finder.h"

#include "graph/chart.h"
#include "graph/graph_texts.h"
#include "net/http_client.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <exception>

namespace korvinet::app {

namespace {

template <class W>
W* Place(QWidget* parent, const char* name, int left, int top, int width = -1, int height = -1) {
    auto* widget = new W(parent);
    widget->setObjectName(QLatin1String(name));
    if (width < 0) {
        widget->move(left, top);
    } else {
        widget->setGeometry(left, top, width, height);
    }
    return widget;
}

QLabel* PlaceLabel(QWidget* parent, const char* name, int left, int top, const QString& text) {
    auto* label = Place<QLabel>(parent, name, left, top);
    label->setText(text);
    label->adjustSize(); // sized to its text, as an auto-size label
    return label;
}

QCheckBox* PlaceCheck(QWidget* parent, const char* name, int left, int top, int width, int height,
                      const QString& text) {
    auto* box = Place<QCheckBox>(parent, name, left, top, width, height);
    box->setText(text);
    // Caption on the left of the box.
    box->setLayoutDirection(Qt::RightToLeft);
    return box;
}

QPushButton* PlaceButton(QWidget* parent, const char* name, int left, int top, int width,
                         int height, const QString& text) {
    auto* button = Place<QPushButton>(parent, name, left, top, width, height);
    button->setText(text);
    button->setAutoDefault(false);
    return button;
}

QComboBox* PlaceList(QWidget* parent, const char* name, int left, int top, int width,
                     bool editable) {
    auto* list = Place<QComboBox>(parent, name, left, top, width, 21);
    list->setEditable(editable);
    if (editable)
        list->setInsertPolicy(QComboBox::NoInsert);
    return list;
}

QLineEdit* PlaceEdit(QWidget* parent, const char* name, int left, int top, int width,
                     int maxLength = 0) {
    auto* edit = Place<QLineEdit>(parent, name, left, top, width, 21);
    if (maxLength > 0)
        edit->setMaxLength(maxLength);
    return edit;
}

QGroupBox* PlaceGroup(QWidget* parent, const char* name, int left, int top, int width, int height,
                      const QString& caption) {
    auto* group = Place<QGroupBox>(parent, name, left, top, width, height);
    group->setTitle(caption);
    return group;
}

QPlainTextEdit* PlaceMemo(QWidget* parent, const char* name, int left, int top, int width,
                          int height, const QColor& background) {
    auto* memo = Place<QPlainTextEdit>(parent, name, left, top, width, height);
    memo->setReadOnly(true);
    memo->setFrameShape(QFrame::NoFrame);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo->setFont(SizedFont(memo->font(), 11, false, QStringLiteral("Courier New")));
    QPalette palette = memo->palette();
    palette.setColor(QPalette::Base, background);
    memo->setPalette(palette);
    return memo;
}

} // namespace

TFormMain::TFormMain(const MainWindowDeps& deps, QWidget* parent)
    : QMainWindow(parent),
      Recording(deps.driver, deps.clock, deps.regional, {deps.recordingsFolder}, deps.serial),
      Counter(Recording.Counter()), HttpClient(std::make_unique<net::HttpClient>(deps.clock)),
      timerSafeUi_(deps.ui, this), deps_{deps.driver, deps.clock,    timerSafeUi_,
                                         deps.store,  deps.regional, deps.recordingsFolder,
                                         deps.serial} {
    // 1. The window, its controls, menu, timers and dialogs.
    BuildLayout();
    BuildMenu();
    ConnectCommands();

    // 3-4. Owned texts start empty, the generated memos and the FTP status
    // are cleared.
    DataFileLines.clear();
    DataFileName.clear();
    FtpTempFileName.clear();
    Statistics->clear();
    Accumulator->clear();
    FTPStatusLbl->clear();

    // 5. The display units, in code order.
    ValUnits->clear();
    for (const device::DisplayUnit& unit : device::kDisplayUnits)
        ValUnits->addItem(unit.name.toString());

    // 6. The stored options; from here on they are saved at exit.
    LoadSettings();
    SaveAtExit = true;
    // Readings, statistics and files follow the counter's unit even while no
    // counter is connected: start it in the stored unit the list shows.
    if (Options.UnitsIndex >= 0 && Options.UnitsIndex < ValUnits->count())
        Recording.SetUnit(static_cast<std::uint8_t>(Options.UnitsIndex));
    // Serial ports are searched only for the kinds the user gave them.
    if (deps_.serial)
        deps_.serial->SetChoices(device::ParseCounterChoices(Options.CounterChoices));

    // 7-9. Look for counters (a single one connects at once), bring the
    // controls up to date and apply the loaded graph settings.
    ButtonRefreshClick();
    UpdateConnectionState();
    ApplyGraphSettings();

    // The last session's readings, if it ended uncleanly, and this session's
    // journal; the first sample comes only once the event loop runs.
    StartRecording();
}

TFormMain::~TFormMain() {
    // Nothing may tick into a half-destroyed window.
    CountTimer->stop();
    TimerProgressBar->stop();
    TimerFTP->stop();
    // A clean end: the next start shows an empty graph.
    Recording.Close();
    DataFileLines.clear();
    if (SaveAtExit)
        SaveSettings();
}

void TFormMain::BuildLayout() {
    setWindowTitle(QStringLiteral("Korvinet - Quorsa Technologies"));
    setFont(FormFont());

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setAutoFillBackground(true);
    const QColor face = palette().color(QPalette::Midlight);
    QPalette clientPalette = client->palette();
    clientPalette.setColor(QPalette::Window, face);
    client->setPalette(clientPalette);
    // No minimum size: the window shrinks below the layout, and the controls
    // keep their places and are cut off at its edges.
    setCentralWidget(client);
    const QFont base = font();

    Label1 = PlaceLabel(client, "Label1", 21, 6, QStringLiteral("Current Reading:"));
    Label1->setFont(SizedFont(base, 16, true));
    Label1->adjustSize();
    ValReading = Place<QLabel>(client, "ValReading", 23, 30, 181, 33);
    ValReading->setText(QStringLiteral("-"));
    ValReading->setFont(SizedFont(base, 16, true));
    ValReading->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // "Geiger Counter"
    Hardware =
        PlaceGroup(client, "Hardware", 3, 60, 201, 231, QStringLiteral("   Geiger Counter   "));
    SelectDevice = PlaceList(Hardware, "SelectDevice", 10, 30, 150, false);
    SelectDevice->setPlaceholderText(QStringLiteral("Select Device"));
    SelectDevice->setEnabled(false);
    ButtonRefresh = Place<QToolButton>(Hardware, "ButtonRefresh", 165, 25, 30, 30);
    ButtonRefresh->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    ButtonRefresh->setToolTip(QStringLiteral("Refresh device list"));
    ButtonRefresh->setCursor(Qt::PointingHandCursor);
    ButtonDeviceInfo = Place<QToolButton>(Hardware, "ButtonDeviceInfo", 165, 25, 30, 30);
    ButtonDeviceInfo->setIcon(style()->standardIcon(QStyle::SP_MessageBoxQuestion));
    ButtonDeviceInfo->setToolTip(QStringLiteral("View device information"));
    ButtonDeviceInfo->hide();
    LabelUnits = PlaceLabel(Hardware, "LabelUnits", 10, 75, QStringLiteral("Display Units:"));
    ValUnits = PlaceList(Hardware, "ValUnits", 100, 70, 80, true);
    LabelTimeBase =
        PlaceLabel(Hardware, "LabelTimeBase", 10, 105, QStringLiteral("Averaging Time:"));
    CountTime = PlaceList(Hardware, "CountTime", 100, 100, 80, true);
    CountTime->addItems({QStringLiteral("15 seconds"), QStringLiteral("30 seconds"),
                         QStringLiteral("45 seconds"), QStringLiteral("1 minute"),
                         QStringLiteral("3 minutes"), QStringLiteral("5 minutes"),
                         QStringLiteral("10 minutes")});
    CheckBoxBeep = PlaceCheck(Hardware, "CheckBoxBeep", 10, 130, 141, 17,
                              QStringLiteral("Beep With Each Count:"));
    AlarmEnabled =
        PlaceCheck(Hardware, "AlarmEnabled", 10, 155, 81, 17, QStringLiteral("Alarm Level:"));
    AlarmBuzzer = PlaceCheck(Hardware, "AlarmBuzzer", 10, 180, 121, 17,
                             QStringLiteral("Enable Alarm Buzzer:"));
    OpenCloseDevice = PlaceButton(Hardware, "OpenCloseDevice", 30, 200, 141, 21,
                                  QStringLiteral("Connect to Device"));
    OpenCloseDevice->setFont(SizedFont(base, 13, true, QStringLiteral("Arial")));
    OpenCloseDevice->setCursor(Qt::PointingHandCursor);
    // Sits on the window, over the group, beside "Alarm Level:".
    EditAlarmLevel = PlaceEdit(client, "EditAlarmLevel", 103, 212, 81, 100);

    // "Graph Statistics"
    GroupBox1 =
        PlaceGroup(client, "GroupBox1", 3, 300, 201, 171, QStringLiteral("Graph Statistics   "));
    Statistics = PlaceMemo(GroupBox1, "Statistics", 10, 20, 180, 121, face);
    Statistics->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Statistics->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ButtonCopyStatistics = PlaceButton(GroupBox1, "ButtonCopyStatistics", 50, 145, 101, 21,
                                       QStringLiteral("Copy to Clipboard"));

    // "Graph Settings"
    GroupBox2 =
        PlaceGroup(client, "GroupBox2", 3, 480, 201, 140, QStringLiteral("   Graph Settings   "));
    Label3 = PlaceLabel(GroupBox2, "Label3", 10, 25, QStringLiteral("Title:"));
    EditChartTitle = PlaceEdit(GroupBox2, "EditChartTitle", 40, 20, 151, 100);
    EditChartTitle->setText(QStringLiteral("Radiation vs. Time"));
    Label4 = PlaceLabel(GroupBox2, "Label4", 10, 55, QStringLiteral("Notes:"));
    EditChartNotes = PlaceEdit(GroupBox2, "EditChartNotes", 50, 50, 141, 100);
    ChartYMaxAuto =
        PlaceCheck(GroupBox2, "ChartYMaxAuto", 10, 80, 81, 17, QStringLiteral("YMax:  Auto:"));
    EditChartYMax = PlaceEdit(GroupBox2, "EditChartYMax", 100, 80, 81);
    Label2 = PlaceLabel(GroupBox2, "Label2", 10, 115, QStringLiteral("Total Span:"));
    EditMaxSpan = PlaceEdit(GroupBox2, "EditMaxSpan", 80, 110, 51);
    EditMaxSpan->setText(QStringLiteral("48"));
    Label5 = PlaceLabel(GroupBox2, "Label5", 140, 115, QStringLiteral("Hours"));

    Chart1 = Place<graph::TChart>(client, "Chart1", 211, 0, 800, 470);
    Chart1->AddSeries(&Series1);
    Chart1->AddSeries(&Series2);
    Chart1->SetBand(&Band);
    // Live and opened points are labelled with their time of day in the
    // user's long time format.
    Chart1->SetTimeLabelFormat(graph::TimeLabelFormat::LongTime(deps_.regional));
    Chart1->SetAfterDrawHandler(
        [this](QPainter& painter, const QRect& target) { Chart1AfterDraw(painter, target); });
    // The notes and summary lines need the bottom of the chart to themselves.
    Chart1->SetFooterBand(graph::kNotesFromBottom);

    // "Graph"
    GroupBox4 = PlaceGroup(client, "GroupBox4", 223, 480, 241, 140, QStringLiteral("   Graph   "));
    Button5 =
        PlaceButton(GroupBox4, "Button5", 10, 20, 100, 30, QStringLiteral("Save as Data (CSV)"));
    Button4 = PlaceButton(GroupBox4, "Button4", 130, 20, 100, 30, QStringLiteral("Save as Image"));
    Button1 = PlaceButton(GroupBox4, "Button1", 10, 60, 100, 30, QStringLiteral("Print"));
    Button2 =
        PlaceButton(GroupBox4, "Button2", 130, 60, 100, 30, QStringLiteral("Copy to Clipboard"));
    Button3 = PlaceButton(GroupBox4, "Button3", 70, 100, 100, 30, QStringLiteral("Clear Graph"));

    // The upload panel's place shows the update check instead.
    GroupBox6 = PlaceGroup(client, "GroupBox6", 473, 480, 351, 140,
                           QStringLiteral("   FTP/Website Upload   "));
    Label14 = PlaceLabel(GroupBox6, "Label14", 20, 30, QStringLiteral("Coming Soon..."));
    Label14->setFont(SizedFont(base, 13, false));
    Label14->adjustSize();
    Button6 = PlaceButton(GroupBox6, "Button6", 130, 20, 131, 31,
                          QStringLiteral("Check for updates now"));
    // The free part of the panel, where a recording failure is seen without
    // getting in the way of the measurement.
    RecordingStatusLbl = Place<QLabel>(GroupBox6, "RecordingStatusLbl", 10, 60, 331, 72);
    RecordingStatusLbl->setWordWrap(true);
    RecordingStatusLbl->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    RecordingStatusLbl->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // The upload panel itself, kept hidden and switched off.
    GroupBox3 = PlaceGroup(client, "GroupBox3", 473, 480, 351, 140,
                           QStringLiteral("   FTP/Website Upload   "));
    Label6 = PlaceLabel(GroupBox3, "Label6", 10, 21, QStringLiteral("FTP Host:"));
    FTPHost = PlaceEdit(GroupBox3, "FTPHost", 70, 18, 100);
    Label7 = PlaceLabel(GroupBox3, "Label7", 180, 21, QStringLiteral("Username:"));
    FTPUsername = PlaceEdit(GroupBox3, "FTPUsername", 240, 18, 100);
    Label8 = PlaceLabel(GroupBox3, "Label8", 10, 45, QStringLiteral("Password:"));
    FTPPassword = PlaceEdit(GroupBox3, "FTPPassword", 70, 42, 100);
    FTPPassword->setEchoMode(QLineEdit::Password);
    Label9 = PlaceLabel(GroupBox3, "Label9", 180, 45, QStringLiteral("Directory:"));
    FTPDirectory = PlaceEdit(GroupBox3, "FTPDirectory", 240, 42, 100);
    Label10 = PlaceLabel(GroupBox3, "Label10", 10, 69, QStringLiteral("Filename:"));
    FTPFilename = PlaceEdit(GroupBox3, "FTPFilename", 70, 66, 100);
    Label11 = PlaceLabel(GroupBox3, "Label11", 180, 69, QStringLiteral("Type:"));
    FTPFiletype = PlaceList(GroupBox3, "FTPFiletype", 210, 66, 135, false);
    FTPFiletype->addItems({QStringLiteral("Graph - JPEG  (*.jpg)"),
                           QStringLiteral("Graph - BITMAP (*.bmp)"),
                           QStringLiteral("Data - CSV (*.csv)")});
    FTPEnabled = PlaceCheck(GroupBox3, "FTPEnabled", 10, 94, 80, 17, QStringLiteral("Enable FTP"));
    Label12 = PlaceLabel(GroupBox3, "Label12", 100, 95, QStringLiteral("Send every"));
    FTPInterval = PlaceEdit(GroupBox3, "FTPInterval", 160, 92, 30);
    Label13 = PlaceLabel(GroupBox3, "Label13", 195, 95, QStringLiteral("minutes"));
    FTPSendNow = PlaceButton(GroupBox3, "FTPSendNow", 260, 90, 80, 23, QStringLiteral("Send Now"));
    FTPStatusLbl = Place<QLabel>(GroupBox3, "FTPStatusLbl", 10, 118, 331, 18);
    GroupBox3->setEnabled(false);
    GroupBox3->hide();

    LabelStatus = PlaceLabel(client, "LabelStatus", 833, 480, {});
    LabelStatus->setFont(SizedFont(base, 13, true));
    LabelStatus->setText(QStringLiteral("Accumulating Counts..."));
    LabelStatus->adjustSize();
    ProgressBarSample = Place<QProgressBar>(client, "ProgressBarSample", 833, 500, 171, 17);
    ProgressBarSample->setRange(0, 100);
    ProgressBarSample->setValue(0);
    ProgressBarSample->setTextVisible(false);
    // In the gap below the bar: a quiet note, the box says the rest.
    LabelCountsStopped = Place<QLabel>(client, "LabelCountsStopped", 833, 517, 171, 13);
    QPalette quiet = LabelCountsStopped->palette();
    quiet.setColor(QPalette::WindowText, QColor(0x80, 0, 0));
    LabelCountsStopped->setPalette(quiet);

    GroupBox5 = PlaceGroup(client, "GroupBox5", 833, 530, 171, 90,
                           QStringLiteral("   Accumulated Counts   "));
    Accumulator = PlaceMemo(GroupBox5, "Accumulator", 11, 15, 150, 46, face);
    Accumulator->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Accumulator->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    CopyAccumToClipboard = PlaceButton(GroupBox5, "CopyAccumToClipboard", 10, 60, 100, 21,
                                       QStringLiteral("Copy to Clipboard"));
    AccumulatorReset =
        PlaceButton(GroupBox5, "AccumulatorReset", 120, 60, 40, 21, QStringLiteral("Reset"));

    // Keyboard order: the groups as the window lists them, and the controls
    // in each group in its own order.
    const QList<QWidget*> tabOrder = {OpenCloseDevice,
                                      CheckBoxBeep,
                                      ValUnits,
                                      SelectDevice,
                                      ButtonRefresh,
                                      CountTime,
                                      ButtonDeviceInfo,
                                      AlarmEnabled,
                                      AlarmBuzzer,
                                      Statistics,
                                      ButtonCopyStatistics,
                                      EditMaxSpan,
                                      EditChartTitle,
                                      EditChartYMax,
                                      ChartYMaxAuto,
                                      EditChartNotes,
                                      FTPHost,
                                      FTPUsername,
                                      FTPPassword,
                                      FTPDirectory,
                                      FTPFilename,
                                      FTPFiletype,
                                      FTPEnabled,
                                      FTPInterval,
                                      FTPSendNow,
                                      Button1,
                                      Button2,
                                      Button3,
                                      Button4,
                                      Button5,
                                      EditAlarmLevel,
                                      Accumulator,
                                      AccumulatorReset,
                                      CopyAccumToClipboard,
                                      Button6};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);

    CountTimer = new QTimer(this);
    CountTimer->setObjectName(QStringLiteral("CountTimer"));
    CountTimer->setInterval(3000);
    TimerProgressBar = new QTimer(this);
    TimerProgressBar->setObjectName(QStringLiteral("TimerProgressBar"));
    TimerProgressBar->setInterval(250);
    TimerFTP = new QTimer(this);
    TimerFTP->setObjectName(QStringLiteral("TimerFTP"));
    TimerFTP->setInterval(600000);

    SaveGraphDialog.title = QStringLiteral("Save Graph Image");
    SaveGraphDialog.defaultExt = QStringLiteral("jpg");
    SaveGraphDialog.filters = {QStringLiteral("JPEG Image (*.jpg)"),
                               QStringLiteral("Bitmap Image (*.bmp)")};
    SaveGraphDialog.overwritePrompt = true;
    SaveCSVDialog.title = QStringLiteral("Save Data as CSV");
    SaveCSVDialog.defaultExt = QStringLiteral("csv");
    SaveCSVDialog.filters = {QStringLiteral("CSV Data (*.csv)"), QStringLiteral("Text (*.txt)"),
                             QStringLiteral("All Files (*.*)")};
    SaveCSVDialog.overwritePrompt = true;
    OpenCSVDialog.title = QStringLiteral("Open CSV File");
    OpenCSVDialog.defaultExt = QStringLiteral("csv");
    OpenCSVDialog.filters = SaveCSVDialog.filters;
}

void TFormMain::BuildMenu() {
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    const auto menu = [this](const char* name, const QString& caption) {
        QMenu* m = MainMenu1->addMenu(caption);
        m->setObjectName(QLatin1String(name));
        return m;
    };
    const auto item = [](QMenu* m, const char* name, const QString& caption) {
        QAction* a = m->addAction(caption);
        a->setObjectName(QLatin1String(name));
        return a;
    };
    File1 = menu("File1", QStringLiteral("File"));
    OpenDataFile = item(File1, "OpenDataFile", QStringLiteral("Open Data File"));
    FileOptions = item(File1, "FileOptions", QStringLiteral("Options..."));
    RestoreDefaultOptions =
        item(File1, "RestoreDefaultOptions", QStringLiteral("Restore Default Options"));
    Exit1 = item(File1, "Exit1", QStringLiteral("Exit"));
    // After the items that were there before it, so that each keeps its
    // place.
    OpenRecording = item(File1, "OpenRecording", QStringLiteral("Open Recording..."));
    Graph1 = menu("Graph1", QStringLiteral("Graph"));
    Print1 = item(Graph1, "Print1", QStringLiteral("Print"));
    CopyToClipboard1 = item(Graph1, "CopyToClipboard1", QStringLiteral("Copy to Clipboard"));
    SaveAsCSV = item(Graph1, "SaveAsCSV", QStringLiteral("Save as Data (CSV)"));
    SaveAsImage1 = item(Graph1, "SaveAsImage1", QStringLiteral("Save as Image"));
    MenuResetGraph = item(Graph1, "MenuResetGraph", QStringLiteral("Clear Graph"));
    Help1 = menu("Help1", QStringLiteral("Help"));
    About1 = item(Help1, "About1", QStringLiteral("About"));
    Instructions = item(Help1, "Instructions", QStringLiteral("Instructions/Help"));
    CheckForUpdates1 = item(Help1, "CheckForUpdates1", QStringLiteral("Check for Updates"));

    // Outer size 1020 x 675 with the usual frame; the client area below the
    // menu keeps the design size.
    setGeometry(50, 50, 1012, 628 + MainMenu1->sizeHint().height());
}

void TFormMain::Run(void (TFormMain::*handler)()) {
    RunCommand([this, handler] { (this->*handler)(); });
}

void TFormMain::RunCommand(const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception& e) {
        deps_.ui.ErrorBox(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        deps_.ui.ErrorBox(QStringLiteral("Unknown error"));
    }
}

void TFormMain::OnLeave(QLineEdit* edit, void (TFormMain::*handler)()) {
    leaveHandlers_.insert(edit, handler);
    edit->installEventFilter(this);
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        const auto it = leaveHandlers_.constFind(watched);
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // Leaving means moving on to another control of this window; opening
        // a menu or switching to another window does not leave the field.
        if (it != leaveHandlers_.constEnd() && reason != Qt::PopupFocusReason &&
            reason != Qt::ActiveWindowFocusReason)
            Run(it.value());
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFormMain::SetChecked(QCheckBox* box, bool checked) {
    if (box->isChecked() == checked)
        return;
    box->setChecked(checked);
    const auto it = clickHandlers_.constFind(box);
    if (it != clickHandlers_.constEnd())
        Run(it.value());
}

void TFormMain::ConnectCommands() {
    const auto click = [this](QAbstractButton* button, void (TFormMain::*handler)()) {
        connect(button, &QAbstractButton::clicked, this, [this, handler] { Run(handler); });
    };
    const auto check = [this, click](QCheckBox* box, void (TFormMain::*handler)()) {
        clickHandlers_.insert(box, handler);
        click(box, handler);
    };
    const auto menu = [this](QAction* action, void (TFormMain::*handler)()) {
        connect(action, &QAction::triggered, this, [this, handler] { Run(handler); });
    };
    const auto tick = [this](QTimer* timer, void (TFormMain::*handler)()) {
        connect(timer, &QTimer::timeout, this, [this, handler] {
            const TimerSafeUi::TimerSlot slot(timerSafeUi_);
            Run(handler);
        });
    };
    // A list changes when the user picks an entry or types into its box.
    const auto change = [this](QComboBox* list, void (TFormMain::*handler)()) {
        connect(list, &QComboBox::activated, this, [this, handler] { Run(handler); });
        if (QLineEdit* typed = list->lineEdit())
            connect(typed, &QLineEdit::textEdited, this, [this, handler] { Run(handler); });
    };

    menu(OpenDataFile, &TFormMain::OpenDataFileClick);
    menu(OpenRecording, &TFormMain::OpenRecordingClick);
    menu(FileOptions, &TFormMain::FileOptionsClick);
    menu(RestoreDefaultOptions, &TFormMain::RestoreDefaultOptionsClick);
    menu(Exit1, &TFormMain::Exit1Click);
    menu(Print1, &TFormMain::Print1Click);
    menu(CopyToClipboard1, &TFormMain::CopyToClipboard1Click);
    menu(SaveAsCSV, &TFormMain::SaveAsCSVClick);
    menu(SaveAsImage1, &TFormMain::SaveAsImage1Click);
    menu(MenuResetGraph, &TFormMain::MenuResetGraphClick);
    menu(About1, &TFormMain::About1Click);
    menu(Instructions, &TFormMain::InstructionsClick);
    menu(CheckForUpdates1, &TFormMain::CheckForUpdatesClick);

    click(ButtonRefresh, &TFormMain::ButtonRefreshClick);
    click(OpenCloseDevice, &TFormMain::OpenCloseDeviceClick);
    click(ButtonDeviceInfo, &TFormMain::ButtonDeviceInfoClick);
    change(ValUnits, &TFormMain::ValUnitsChange);
    change(CountTime, &TFormMain::EditTimeBaseChange);
    tick(CountTimer, &TFormMain::CountTimerTimer);
    tick(TimerProgressBar, &TFormMain::TimerProgressBarTimer);
    click(Button3, &TFormMain::MenuResetGraphClick);
    check(CheckBoxBeep, &TFormMain::CheckBoxBeepClick);
    check(AlarmEnabled, &TFormMain::AlarmEnabledClick);
    check(AlarmBuzzer, &TFormMain::AlarmBuzzerClick);
    OnLeave(EditAlarmLevel, &TFormMain::EditAlarmLevelExit);
    click(CopyAccumToClipboard, &TFormMain::CopyAccumToClipboardClick);
    click(AccumulatorReset, &TFormMain::AccumulatorResetClick);
    click(ButtonCopyStatistics, &TFormMain::ButtonCopyStatisticsClick);
    for (QLineEdit* edit : {EditChartTitle, EditChartNotes, EditChartYMax, EditMaxSpan})
        OnLeave(edit, &TFormMain::ApplyGraphSettings);
    check(ChartYMaxAuto, &TFormMain::ApplyGraphSettings);
    click(Button5, &TFormMain::SaveAsCSVClick);
    click(Button4, &TFormMain::SaveAsImage1Click);
    click(Button1, &TFormMain::Print1Click);
    click(Button2, &TFormMain::CopyToClipboard1Click);
    for (QLineEdit* edit :
         {FTPHost, FTPUsername, FTPPassword, FTPDirectory, FTPFilename, FTPInterval})
        OnLeave(edit, &TFormMain::FTPEditSettings);
    check(FTPEnabled, &TFormMain::FTPEditSettings);
    change(FTPFiletype, &TFormMain::FTPEditSettings);
    click(FTPSendNow, &TFormMain::FTPSendNowClick);
    tick(TimerFTP, &TFormMain::FTPSendNowClick);
    click(Button6, &TFormMain::CheckForUpdatesClick);
}

} // namespace korvinet::app
