#pragma once

#include "app/timer_safe_ui.h"
#include "app/ui_services.h"
#include "device/counter.h"
#include "files/file_commands.h"
#include "graph/band_series.h"
#include "graph/line_series.h"
#include "measure/measurement_session.h"
#include "net/ftp_upload.h"
#include "net/update_check.h"
#include "platform/version.h"
#include "recording/recorder.h"
#include "settings/settings_record.h"

#include <QHash>
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPainter;
class QPlainTextEdit;
class QPrinter;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolButton;

namespace korvinet::device {
class D2xxDriver;
class SerialFinder;
} // namespace korvinet::device

namespace korvinet::files {
class ChartSaver;
} // namespace korvinet::files

namespace korvinet::graph {
class TChart;
} // namespace korvinet::graph

namespace korvinet::net {
class HttpClient;
} // namespace korvinet::net

namespace korvinet::platform {
class Clock;
class Regional;
} // namespace korvinet::platform

namespace korvinet::settings {
class SettingsStore;
} // namespace korvinet::settings

namespace korvinet::app {

class TFormAbout;
class TFormOptions;

// What the main window needs from outside; all of it outlives the window.
struct MainWindowDeps {
    device::D2xxDriver& driver;
    const platform::Clock& clock;
    UiServices& ui;
    settings::SettingsStore& store;
    const platform::Regional& regional;
    // Where the recording journal keeps its files; empty: no journal.
    QString recordingsFolder;
    // The counters on serial ports, found by the kinds the user chose for
    // them in Options; none: the FTDI driver's counters alone.
    device::SerialFinder* serial = nullptr;
};

// The program's one main window: every control of the counter, graph, file,
// network and settings features, the menu and the command map that ties each
// control event to its handler. Controls and handlers are public so that the
// features built around the window, and their tests, reach them by name.
//
// The definition is split by feature: main_window.cpp (construction, layout,
// command map), main_window_device.cpp, main_window_measure.cpp,
// main_window_graph.cpp, main_window_files.cpp, main_window_net.cpp,
// main_window_recording.cpp, main_window_settings.cpp and
// main_window_shell.cpp.
class TFormMain : public QMainWindow {
    Q_OBJECT

public:
    using _Options = settings::SettingsRecord;

    explicit TFormMain(const MainWindowDeps& deps, QWidget* parent = nullptr);
    ~TFormMain() override;

    // The About window is created after the main window; Help > "About"
    // shows it once it is known, and its links and update button are tied to
    // this window here (main_window_net.cpp).
    void SetAboutWindow(TFormAbout* about);

    // --- Shell (main_window_shell.cpp)
    void Exit1Click();
    void About1Click();
    void InstructionsClick();
    // Where the instructions document is found: the current folder first,
    // then beside the executable, then the installed documentation folder.
    // Empty when it is in none of them.
    static QString FindInstructions(const QString& currentFolder, const QString& programFolder,
                                    const QString& docFolder);
    static inline const QString kInstructionsFile = QStringLiteral("Korvinet Instructions.pdf");

    // --- Device link (main_window_device.cpp)
    void ButtonRefreshClick();
    void OpenCloseDeviceClick();
    // Shows the connection as it is. A counter that is open is first set up
    // again with the window's settings, as connecting does.
    void UpdateConnectionState();
    // The connected state after the counter was set up; the disconnected
    // state, with the error, when that closed it.
    void ShowConnected(recording::Recorder::Connection connection);
    void ShowDeviceError();
    void ButtonDeviceInfoClick();
    // The status line's note on the counter: readings in CPM only for want
    // of a calibration, lines of a text-line counter that did not read.
    // The status line appears only once there is something to say.
    void ShowCounterNote();
    // Selects the stored unit in the units list without running its handler.
    void ShowStoredUnit();

    // --- Measurement cycle, alarm, accumulated counts (main_window_measure.cpp)
    void CountTimerTimer();
    void TimerProgressBarTimer();
    void EditTimeBaseChange();
    void ValUnitsChange();
    void ClearGraph();
    void MenuResetGraphClick();
    void CheckBoxBeepClick();
    void AlarmEnabledClick();
    void AlarmBuzzerClick();
    void EditAlarmLevelExit();
    void CopyAccumToClipboardClick();
    void AccumulatorResetClick();

    // The settings the counter is connected with: the stored unit and beep
    // setting, the averaging time the list shows.
    recording::Recorder::CounterSettings WantedCounterSettings() const;
    // Keeps the averaging entry the list shows as the stored choice; when the
    // list shows none, the stored entry comes back with an error box. The
    // sample's progress starts afresh.
    void ShowAveragingEntry();

    // The settings a tick works with.
    measure::MeasurementSession::AlarmSettings TickSettings() const;
    // Shows whether the counts have stopped or do not look like radiation
    // (when those warnings are on), quietly, beside the sample timer.
    void ShowCountsStopped(const measure::SessionReading& reading);

    // --- Options (main_window_settings.cpp)
    // File > "Options...": the dialog over the current settings; OK puts its
    // values in force at once.
    void FileOptionsClick();
    // Shows the Options dialog modally and tells whether the user pressed OK.
    // Left empty, the dialog runs its own event loop; tests put a stand-in
    // here that sets its controls and answers.
    std::function<bool(TFormOptions& dialog)> RunOptionsDialog;

    // --- Graph (main_window_graph.cpp)
    void ApplyGraphSettings();
    // Runs at the end of every drawing of the chart, on screen, into an image
    // or onto a printer page.
    void Chart1AfterDraw(QPainter& painter, const QRect& target);
    void ButtonCopyStatisticsClick();
    // What a drawing puts into the statistics memo and, while a counter is
    // connected, into the accumulated counts memo.
    struct MemoTexts {
        QString statistics;
        std::optional<QString> accumulator;
    };
    void ShowMemoTexts(const MemoTexts& texts);
    // Puts the statistics text into its memo, keeping the user's scroll
    // position (or the end, when the view was at the end).
    void ShowStatistics(const QString& text);
    // Number of points in the reading series.
    int GraphPointCount() const;

    // --- Data files and export (main_window_files.cpp)
    // format: 1 JPEG, 2 BMP, 3 data file.
    bool SaveChartAs(const QString& fileName, int format);
    void SaveAsCSVClick();
    void SaveAsImage1Click();
    void Print1Click();
    void CopyToClipboard1Click();
    void OpenDataFileClick();
    // "Open Recording...": a span of the journal, read from its history
    // store, opened as a data file is (open_recording.h).
    void OpenRecordingClick();
    // Shows the print preview for `printer`, which runs `paintPage` whenever
    // the preview or the print needs the page drawn. Left empty, Print runs
    // the desktop's modal print preview; tests put a stand-in here that
    // prints without waiting for a user.
    std::function<void(QPrinter& printer, const std::function<void(QPrinter&)>& paintPage)>
        PrintPreview;

    // --- Recording journal (main_window_recording.cpp)
    // Fills the graph again from the journal when the last session did not
    // end cleanly, starts this session's journal and records Session's
    // readings in it from the next tick on. Runs once, at the end of the
    // construction: before the first sample, after the connection at start
    // (which clears the graph).
    void StartRecording();
    // Puts a reading taken on the graph (red when it raised the alarm), its
    // band on the band series; the window's graph is one of the recorder's
    // sinks.
    void AddToGraph(const measure::SessionReading& reading);
    // What a counter's memory filled the journal's gap with, where the
    // graph's span reaches: it follows the graph's last point, before the
    // live readings to come.
    void AddBackfillToGraph(const measure::CounterEvent& event);

    // --- Network (main_window_net.cpp)
    void CheckForUpdatesClick();
    void FTPEditSettings();
    void FTPSendNowClick();

    // --- Settings (main_window_settings.cpp)
    void LoadSettings();
    // False (after showing "Error saving settings!") when the store could not
    // be written.
    bool SaveSettings();
    void RestoreDefaults();
    void RestoreDefaultOptionsClick();

    // --- Owned state
    // The measuring engine: the counter connection, the sampling cycle, the
    // recording journal and the sinks the readings go to (this window's
    // graph among them).
    recording::Recorder Recording;
    // The counter as the window reads it; it is changed through Recording.
    const device::TCounter& Counter;
    // The band of the latest reading, for the statistics; none before the
    // first reading and after the graph was cleared.
    std::optional<device::RateBand> LatestBand;
    _Options Options;
    bool SaveAtExit = false;
    QStringList DataFileLines; // lines kept from the data file opened last
    QString DataFileName;      // the data file opened last
    QString FtpTempFileName;   // temporary file of the upload under way

    // --- Network state (main_window_net.cpp)
    // Fetches the version file; time-out 5000 ms per wait.
    std::unique_ptr<net::HttpClient> HttpClient;
    // The update server: version file, download page and the About links.
    // The build's choice; tests point it at a server of their own.
    QString UpdateHostName = net::UpdateHost();
    // The program's own version text, compared by the update check and shown
    // by the About window; empty when the build carries none.
    QString ProgramVersion = platform::OwnVersionText();
    // Writes the file an upload sends; SaveChartAs when empty. Tests put a
    // stand-in here to choose the bytes uploaded.
    net::FtpUploader::SaveChartAsFunction FtpFileWriter;

    // --- Controls, named as in the form
    QLabel* Label1 = nullptr;
    QLabel* ValReading = nullptr;
    QGroupBox* Hardware = nullptr;
    QComboBox* SelectDevice = nullptr;
    QToolButton* ButtonRefresh = nullptr;
    QToolButton* ButtonDeviceInfo = nullptr;
    QLabel* LabelUnits = nullptr;
    QComboBox* ValUnits = nullptr;
    QLabel* LabelTimeBase = nullptr;
    QComboBox* CountTime = nullptr;
    QCheckBox* CheckBoxBeep = nullptr;
    QCheckBox* AlarmEnabled = nullptr;
    QLineEdit* EditAlarmLevel = nullptr;
    QCheckBox* AlarmBuzzer = nullptr;
    QPushButton* OpenCloseDevice = nullptr;

    QGroupBox* GroupBox1 = nullptr;
    QPlainTextEdit* Statistics = nullptr;
    QPushButton* ButtonCopyStatistics = nullptr;

    QGroupBox* GroupBox2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* EditChartTitle = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* EditChartNotes = nullptr;
    QCheckBox* ChartYMaxAuto = nullptr;
    QLineEdit* EditChartYMax = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* EditMaxSpan = nullptr;
    QLabel* Label5 = nullptr;

    // The readings and their mean; the chart draws them. Declared before the
    // chart's construction in BuildLayout() registers them with it.
    graph::TLineSeries Series1{QStringLiteral("Live Reading"), graph::kColorBlue};
    graph::TLineSeries Series2{QStringLiteral("Average"), graph::kColorGreen};
    // The 95 % band around the readings while that option is on.
    graph::TBandSeries Band{graph::kColorBlue};
    graph::TChart* Chart1 = nullptr;

    QGroupBox* GroupBox4 = nullptr;
    QPushButton* Button5 = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;

    QGroupBox* GroupBox6 = nullptr;
    QLabel* Label14 = nullptr;
    QPushButton* Button6 = nullptr;
    // The recording journal's status: why recording fails, or how many
    // readings were restored at start; empty while all is well.
    QLabel* RecordingStatusLbl = nullptr;

    QGroupBox* GroupBox3 = nullptr;
    QLabel* Label6 = nullptr;  // "FTP Host:"
    QLabel* Label7 = nullptr;  // "Username:"
    QLabel* Label8 = nullptr;  // "Password:"
    QLabel* Label9 = nullptr;  // "Directory:"
    QLabel* Label10 = nullptr; // "Filename:"
    QLabel* Label11 = nullptr; // "Type:"
    QLabel* Label12 = nullptr; // "Send every"
    QLabel* Label13 = nullptr; // "minutes"
    QLineEdit* FTPHost = nullptr;
    QLineEdit* FTPUsername = nullptr;
    QLineEdit* FTPPassword = nullptr;
    QLineEdit* FTPDirectory = nullptr;
    QLineEdit* FTPFilename = nullptr;
    QLineEdit* FTPInterval = nullptr;
    QComboBox* FTPFiletype = nullptr;
    QCheckBox* FTPEnabled = nullptr;
    QPushButton* FTPSendNow = nullptr;
    QLabel* FTPStatusLbl = nullptr;

    QLabel* LabelStatus = nullptr;
    QProgressBar* ProgressBarSample = nullptr;
    QLabel* LabelCountsStopped = nullptr; // "No counts for 45 seconds" while so
    QLabel* LabelCounterNote = nullptr;   // in the status line; made when first needed
    QGroupBox* GroupBox5 = nullptr;
    QPlainTextEdit* Accumulator = nullptr;
    QPushButton* CopyAccumToClipboard = nullptr;
    QPushButton* AccumulatorReset = nullptr;

    QTimer* CountTimer = nullptr;
    QTimer* TimerProgressBar = nullptr;
    QTimer* TimerFTP = nullptr;

    FileDialogRequest SaveGraphDialog;
    FileDialogRequest SaveCSVDialog;
    FileDialogRequest OpenCSVDialog;
    // The span "Open Recording..." last opened.
    RecordingSpanChoice RecordingSpanDialog;

    QMenuBar* MainMenu1 = nullptr;
    QMenu* File1 = nullptr;
    QMenu* Graph1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* OpenDataFile = nullptr;
    QAction* FileOptions = nullptr;
    QAction* RestoreDefaultOptions = nullptr;
    QAction* Exit1 = nullptr;
    QAction* OpenRecording = nullptr;
    QAction* Print1 = nullptr;
    QAction* CopyToClipboard1 = nullptr;
    QAction* SaveAsCSV = nullptr;
    QAction* SaveAsImage1 = nullptr;
    QAction* MenuResetGraph = nullptr;
    QAction* About1 = nullptr;
    QAction* Instructions = nullptr;
    QAction* CheckForUpdates1 = nullptr;

    // Runs a command; a failure that escapes it is shown in an error box and
    // the program goes on. Every control event runs its handler through this.
    void RunCommand(const std::function<void()>& command);

    // Every check box whose state the user changes runs its handler; so does
    // a change made in code through this, as a user's click would.
    void SetChecked(QCheckBox* box, bool checked);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Closing the main window ends the run, also while the About window is
    // open.
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildLayout();
    void BuildMenu();
    void ConnectCommands();
    void Run(void (TFormMain::*handler)());
    void OnLeave(QLineEdit* edit, void (TFormMain::*handler)());
    // The alarm's controls follow the alarm switch.
    void ShowAlarmControls();
    // The save path behind SaveChartAs, drawing on this window's chart,
    // series and settings.
    files::ChartSaver MakeChartSaver();
    // "Open Data File" with the file chosen in `dialog`.
    void OpenDataFileFrom(FileDialogRequest& dialog);
    // What every open does to the window, its progress shown under `label`
    // from the first report on, and ended with the hooks.
    files::OpenDataFileHooks OpenHooks(const QString& progressLabel);

    // The graph as a sink of Recording.
    class GraphSink final : public measure::ReadingSink {
    public:
        explicit GraphSink(TFormMain& window) : window_(window) {}
        void OnReading(const measure::SessionReading& reading) override {
            window_.AddToGraph(reading);
        }
        void OnCounter(const measure::CounterEvent& event) override {
            if (event.kind == measure::CounterEvent::Kind::Backfilled)
                window_.AddBackfillToGraph(event);
        }
        void Stop(const std::function<void()>& done) override { done(); }

    private:
        TFormMain& window_;
    };
    GraphSink graphSink_{*this};
    // Every box of the window goes through it, so none opens inside a timer's
    // slot.
    TimerSafeUi timerSafeUi_;
    MainWindowDeps deps_;
    TFormAbout* aboutWindow_ = nullptr;
    // Memo texts of an on-screen drawing, shown once the drawing is over.
    std::optional<MemoTexts> pendingTexts_;
    QHash<QObject*, void (TFormMain::*)()> leaveHandlers_;
    QHash<QCheckBox*, void (TFormMain::*)()> clickHandlers_;
};

} // namespace korvinet::app
