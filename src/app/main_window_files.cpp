#include "app/main_window.h"

#include "app/open_recording.h"

#include "files/chart_export.h"
#include "files/chart_print.h"
#include "files/data_file.h"
#include "files/file_commands.h"
#include "graph/chart.h"
#include "platform/clock.h"
#include "platform/datetime.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <memory>

namespace korvinet::app {

namespace {

// Like a form's own dialog, it keeps the name and the filter last accepted, so
// the next showing starts from them (the save commands clear the name first).
std::optional<files::ChosenFile> Chosen(FileDialogRequest& dialog, const FileChoice& choice) {
    if (!choice.accepted)
        return std::nullopt;
    dialog.fileName = choice.fileName;
    if (choice.filterIndex >= 1 && choice.filterIndex <= dialog.filters.size())
        dialog.filterIndex = choice.filterIndex;
    return files::ChosenFile{choice.fileName, choice.filterIndex};
}

} // namespace

files::ChartSaver TFormMain::MakeChartSaver() {
    const auto render = [this] { return Chart1->RenderImage(Chart1->size()); };
    const auto saveDataFile = [this](const QString& fileName) {
        files::DataFileHeader header;
        // The entry as the list shows it, not what may have been typed over it.
        const int averaging = CountTime->currentIndex();
        header.averagingTime = averaging >= 0 ? CountTime->itemText(averaging) : QString();
        header.title = Options.GraphTitle;
        header.notes = Options.GraphNotes;
        header.dateSaved = deps_.clock.Now();
        header.bottomAxisTitle = Chart1->BottomAxisTitle();
        header.leftAxisTitle = Chart1->LeftAxisTitle();
        // Written as the series is read; a long save shows its progress and
        // may be cancelled, which fails it with the old file kept.
        const std::unique_ptr<ProgressReport> progress =
            deps_.ui.StartProgress(QStringLiteral("Saving the data file..."));
        return files::WriteDataFilePoints(
            fileName,
            {Series1.Count(), [this](std::size_t i) { return Series1.XValue(i); },
             [this](std::size_t i) { return Series1.YValue(i); }},
            Counter, header, deps_.regional,
            [&progress](double done) { return !progress || progress->Update(done); });
    };
    // The temporary folder is asked for afresh on every save.
    return files::ChartSaver(render, saveDataFile,
                             [this](const QString& text) { deps_.ui.Message(text); });
}

bool TFormMain::SaveChartAs(const QString& fileName, int format) {
    return MakeChartSaver().SaveChartAs(fileName, format);
}

void TFormMain::SaveAsCSVClick() {
    files::SaveAsCsvCommand(
        [this] {
            SaveCSVDialog.fileName.clear();
            return Chosen(SaveCSVDialog, deps_.ui.SaveFile(SaveCSVDialog));
        },
        MakeChartSaver(), [this](const QString& text) { deps_.ui.Message(text); });
}

void TFormMain::SaveAsImage1Click() {
    files::SaveAsImageCommand(
        [this] {
            SaveGraphDialog.fileName.clear();
            return Chosen(SaveGraphDialog, deps_.ui.SaveFile(SaveGraphDialog));
        },
        MakeChartSaver(), [this](const QString& text) { deps_.ui.Message(text); });
}

void TFormMain::Print1Click() {
    // Set again on every print: the page margins follow from the chart's own,
    // and the chart fills the area inside them.
    const files::ChartPrintSettings settings = files::DefaultChartPrintSettings(
        files::ChartMargins{graph::kChartMarginLeft, graph::kChartMarginTop,
                            graph::kChartMarginRight, graph::kChartMarginBottom});
    const QSize chartSize = Chart1->size();
    const auto paintPage = [this, settings, chartSize](QPrinter& printer) {
        files::PrintChart(printer, settings, chartSize, [this, chartSize](QPainter& painter) {
            Chart1->Draw(painter, QRect(QPoint(0, 0), chartSize));
        });
    };

    QPrinter printer(QPrinter::HighResolution);
    // The chart is wider than tall: offered across the page, which the user
    // can still turn in the preview.
    printer.setPageOrientation(QPageLayout::Landscape);
    if (PrintPreview) {
        PrintPreview(printer, paintPage);
    } else {
        QPrintPreviewDialog preview(&printer, this);
        connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
                [&paintPage](QPrinter* target) { paintPage(*target); });
        preview.exec();
    }
    Chart1->update();
}

void TFormMain::CopyToClipboard1Click() {
    files::CopyToClipboardCommand(
        Chart1->RenderImage(Chart1->size()),
        [this](const QImage& image) { deps_.ui.SetClipboardImage(image); },
        [this](const QString& text) { deps_.ui.Message(text); });
}

void TFormMain::OpenDataFileClick() {
    OpenDataFileFrom(OpenCSVDialog);
}

void TFormMain::OpenRecordingClick() {
    const platform::Clock::Moment now = deps_.clock.NowWithOffset();
    const RecordingSource source{
        deps_.recordingsFolder, Recording.History(),
        platform::QtFromDateTime(now.local, now.utcOffsetSeconds).toMSecsSinceEpoch()};
    OpenRecordingCommand(
        OpenHooks(QStringLiteral("Opening the recording...")),
        [this](const RecordingSpanChoice& initial) {
            return deps_.ui.ChooseRecordingSpan(RecordingSpanNames(), initial);
        },
        source, deps_.regional, &RecordingSpanDialog);
}

void TFormMain::OpenDataFileFrom(FileDialogRequest& dialog) {
    files::OpenDataFileHooks hooks = OpenHooks(QStringLiteral("Opening the data file..."));
    hooks.chooseFile = [this, &dialog] { return Chosen(dialog, deps_.ui.OpenFile(dialog)); };
    // The points go straight into a series of their own while the file is
    // read, and take the place of Series1's only once the file has been
    // read whole.
    auto opened = std::make_shared<graph::TLineSeries>(Series1.Title(), Series1.SeriesColor());
    hooks.readPoint = [opened](double x, double y) { opened->Add(x, y); };
    hooks.showReadPoints = [this, opened] {
        // The graph was cleared just before: the points replace nothing.
        Chart1->SetAutoRepaint(false);
        Series1.TakePoints(*opened);
        graph::RefreshAverage(Series1, Series2);
        Chart1->SetAutoRepaint(true);
    };
    files::OpenDataFileCommand(hooks, deps_.regional);
}

files::OpenDataFileHooks TFormMain::OpenHooks(const QString& progressLabel) {
    files::OpenDataFileHooks hooks;
    hooks.graphHasPoints = [this] { return GraphPointCount() > 0; };
    hooks.confirm = [this](const QString& question) { return deps_.ui.Confirm(question); };
    hooks.message = [this](const QString& text) { deps_.ui.Message(text); };
    hooks.closeDevice = [this] {
        // Whether the close worked or not, the window shows no device.
        if (Counter.IsOpen())
            (void)Recording.Disconnect();
        UpdateConnectionState();
    };
    hooks.clearGraph = [this] { ClearGraph(); };
    hooks.setDataFilePath = [this](const QString& path) {
        DataFileName = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    };
    hooks.setHeaderLines = [this](const QStringList& lines) { DataFileLines = lines; };
    hooks.setAxisTitles = [this](const QString& bottom, const QString& left) {
        Chart1->SetBottomAxisTitle(bottom);
        Chart1->SetLeftAxisTitle(left);
    };
    hooks.selectUnit = [this](int unitIndex) {
        // Only what is shown changes: no unit-change handler runs and the
        // stored choice stays.
        Recording.SetUnit(static_cast<std::uint8_t>(unitIndex));
        ValUnits->setCurrentIndex(unitIndex);
    };
    // Started with the reading, not before: its half second must not run out
    // while a dialog or the question is still open. The report ends with the
    // hooks.
    struct Progress {
        bool started = false;
        std::unique_ptr<ProgressReport> report;
    };
    auto progress = std::make_shared<Progress>();
    hooks.progress = [this, progress, progressLabel](double done) {
        if (!progress->started) {
            progress->started = true;
            progress->report = deps_.ui.StartProgress(progressLabel);
        }
        return !progress->report || progress->report->Update(done);
    };
    hooks.showPoints = [this](const std::vector<device::Reading>& points) {
        // One repaint for the whole file instead of one per point.
        Chart1->SetAutoRepaint(false);
        for (const device::Reading& p : points)
            Series1.Add(p.time, p.value);
        graph::RefreshAverage(Series1, Series2);
        Chart1->SetAutoRepaint(true);
    };
    for (int i = 0; i < ValUnits->count(); ++i)
        hooks.unitNames << ValUnits->itemText(i);
    return hooks;
}

} // namespace korvinet::app
