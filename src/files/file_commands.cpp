#include "files/file_commands.h"

#include "files/chart_export.h"
#include "files/data_file.h"

namespace korvinet::files {

void SaveAsCsvCommand(const ChooseFile& chooseFile, const ChartSaver& saver,
                      const ShowMessage& message) {
    const std::optional<ChosenFile> chosen = chooseFile();
    if (!chosen)
        return;
    if (!saver.SaveChartAs(chosen->fileName, kChartDataFile))
        message(kDataFileNotSaved);
}

void SaveAsImageCommand(const ChooseFile& chooseFile, const ChartSaver& saver,
                        const ShowMessage& message) {
    const std::optional<ChosenFile> chosen = chooseFile();
    if (!chosen)
        return;
    if (!saver.SaveChartAs(chosen->fileName, ImageFormatForFilterIndex(chosen->filterIndex)))
        message(kImageNotSaved);
}

void CopyToClipboardCommand(const QImage& chart,
                            const std::function<void(const QImage&)>& setClipboardImage,
                            const ShowMessage& message) {
    setClipboardImage(chart);
    message(kGraphCopied);
}

void OpenDataFileCommand(const OpenDataFileHooks& window, const platform::Regional& regional) {
    if (window.graphHasPoints() && !window.confirm(kOpenDataFileQuestion))
        return;
    const std::optional<ChosenFile> chosen = window.chooseFile();
    if (!chosen)
        return;
    DataFileReader reader(regional);
    if (!reader.Open(chosen->fileName)) {
        window.message(kDataFileNotOpened);
        return;
    }

    // Read before anything changes, so a cancelled reading leaves the
    // measurement and the graph as they were.
    DataFileContents contents;
    const bool ok = reader.Read(window.unitNames, &contents, window.readPoint, window.progress);
    ShowOpenedData(window, chosen->fileName, contents, ok);
}

void ShowOpenedData(const OpenDataFileHooks& window, const QString& path,
                    const DataFileContents& contents, bool ok) {
    if (contents.cancelled)
        return;

    window.closeDevice();
    window.clearGraph();
    window.setDataFilePath(path);
    window.setHeaderLines({});

    window.setHeaderLines(contents.headerLines);
    if (contents.hasColumnTitles) {
        window.setAxisTitles(contents.bottomAxisTitle, contents.leftAxisTitle);
        if (contents.unitIndex >= 0)
            window.selectUnit(contents.unitIndex);
    }
    if (!ok) {
        window.setDataFilePath(QString());
        window.message(kDataFileNotRead);
        return;
    }
    if (window.readPoint)
        window.showReadPoints();
    else
        window.showPoints(contents.points);
    if (contents.corruptLines > 0)
        window.message(CorruptLinesNote(contents.corruptLines));
}

} // namespace korvinet::files
