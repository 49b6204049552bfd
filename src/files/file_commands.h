#pragma once

#include "device/reading.h"
#include "files/data_file.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

namespace korvinet::platform {
class Regional;
} // namespace korvinet::platform

namespace korvinet::files {

class ChartSaver;

// The command side of data files and export: each function runs one menu
// command from start to end and reaches the window only through the hooks it
// is given, in the order the user sees them.

// A file picked in a standard dialog; no value means the user cancelled.
struct ChosenFile {
    QString fileName;
    int filterIndex = 1; // 1-based filter in use when the dialog closed
};
using ChooseFile = std::function<std::optional<ChosenFile>()>;
using ShowMessage = std::function<void(const QString& text)>;

// "Save as Data (CSV)": the save dialog (cleared name), SaveChartAs with code
// 3, "Error: The file could not be saved" when that fails.
void SaveAsCsvCommand(const ChooseFile& chooseFile, const ChartSaver& saver,
                      const ShowMessage& message);

// "Save as Image": the save dialog (cleared name); its filter picks JPEG (1)
// or BMP (2), whatever the typed extension; "Error: The file could not be
// saved." when the save fails.
void SaveAsImageCommand(const ChooseFile& chooseFile, const ChartSaver& saver,
                        const ShowMessage& message);

// "Copy to Clipboard": the chart bitmap replaces the clipboard contents, then
// "Graph has been copied to clipboard".
void CopyToClipboardCommand(const QImage& chart,
                            const std::function<void(const QImage&)>& setClipboardImage,
                            const ShowMessage& message);

// Everything "Open Data File" does to the window.
struct OpenDataFileHooks {
    std::function<bool()> graphHasPoints;                 // Series1 not empty
    std::function<bool(const QString& question)> confirm; // Yes counts as agreement
    ChooseFile chooseFile;                                // OpenCSVDialog
    ShowMessage message;
    // Closes the counter device session (its result does not matter) and
    // brings the controls to the disconnected state, timers stopped.
    std::function<void()> closeDevice;
    // The clear-graph routine: both series emptied, statistics cleared, the
    // left-axis title set to the unit selected in the list, the open data file
    // path emptied, the chart repainted.
    std::function<void()> clearGraph;
    std::function<void(const QString& path)> setDataFilePath;
    std::function<void(const QStringList& lines)> setHeaderLines;
    std::function<void(const QString& bottom, const QString& left)> setAxisTitles;
    // Display unit of the counter and the selection of the unit list only:
    // no question, no clearing, the stored settings untouched.
    std::function<void(int unitIndex)> selectUnit;
    // Appends the points to Series1, refreshes the average and repaints.
    std::function<void(const std::vector<device::Reading>& points)> showPoints;
    // Instead of showPoints, when set: each point is handed over as it is
    // read (the window keeps it aside), and showReadPoints puts them all
    // into Series1 where showPoints would.
    DataPointSink readPoint;
    std::function<void()> showReadPoints;
    // When set, told how far the reading got; false cancels the open, which
    // then leaves the window as it was.
    DataFileProgress progress;
    QStringList unitNames; // the unit list's entries in order
};

// "Open Data File". A running measurement is closed only once the chosen file
// has been read; a "No", a cancelled dialog, an unopenable file or a
// cancelled reading changes nothing.
void OpenDataFileCommand(const OpenDataFileHooks& window, const platform::Regional& regional);
// Its second half, for every open alike: the data read (`ok` false for a
// failure outside a single line) takes the graph's place as an opened data
// file's does, with `path` as the open data file (empty: none). Cancelled
// contents change nothing.
void ShowOpenedData(const OpenDataFileHooks& window, const QString& path,
                    const DataFileContents& contents, bool ok);

} // namespace korvinet::files
