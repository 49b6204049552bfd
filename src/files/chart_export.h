#pragma once

#include <QByteArray>
#include <QDir>
#include <QImage>
#include <QString>
#include <functional>

class QPainter;

namespace korvinet::files {

// Messages of the export commands, exactly as the user sees them.
inline const QString kImageNotSaved = QStringLiteral("Error: The file could not be saved.");
inline const QString kGraphCopied = QStringLiteral("Graph has been copied to clipboard");
// The two filters of the image save dialog, in this order.
inline const QString kJpegImageFilter = QStringLiteral("JPEG Image (*.jpg)");
inline const QString kBitmapImageFilter = QStringLiteral("Bitmap Image (*.bmp)");

// Format codes of SaveChartAs.
enum ChartFormat : int { kChartJpeg = 1, kChartBmp = 2, kChartDataFile = 3 };

// "SaveChartAs: Unknown format " and the code in decimal.
QString UnknownFormatMessage(int code);

// The chart's own drawing at its on-screen size, overlays included, in the
// chart's coordinates (0,0 top left).
using PaintChart = std::function<void(QPainter& painter)>;

// The chart bitmap: `size` pixels (the chart's client area), 24-bit colour,
// drawn by `paint`. The chart covers the whole area; the white underneath only
// keeps stray pixels defined should it not.
QImage ChartBitmap(const QSize& size, const PaintChart& paint);

// A Windows BMP file of the image, 24 bits per pixel; empty on failure.
QByteArray EncodeBmp(const QImage& image);
// A JPEG file of the image: 24-bit colour, quality 90, progressive (the
// library's simple progression), everything else at the library's defaults.
// Empty on failure.
QByteArray EncodeJpeg(const QImage& image);

// The format code for the filter chosen in the image save dialog, given by its
// 1-based position (JPEG first, bitmap second): 1 for JPEG, 2 for BMP, 0
// (unknown) for anything else. The extension the user typed plays no part.
int ImageFormatForFilterIndex(int filterIndex);

// The one way the graph is saved: as a JPEG (1), a BMP (2) or a data file (3).
// The chart drawing and the data file writer come from the window.
class ChartSaver {
public:
    using RenderChart = std::function<QImage()>; // the chart bitmap
    using SaveDataFile = std::function<bool(const QString& fileName)>;
    using ShowMessage = std::function<void(const QString& text)>; // plain message box

    ChartSaver(RenderChart render, SaveDataFile saveDataFile, ShowMessage showMessage,
               QString tempFolder = QDir::tempPath());

    // True when the file was written whole. Shows a message only for an
    // unknown format code; callers report a failed save in their own words.
    bool SaveChartAs(const QString& fileName, int formatCode) const;

private:
    bool SaveBmp(const QString& fileName) const;
    bool SaveJpeg(const QString& fileName) const;

    RenderChart render_;
    SaveDataFile saveDataFile_;
    ShowMessage showMessage_;
    QString tempFolder_;
};

} // namespace korvinet::files
