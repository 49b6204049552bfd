#include "files/chart_export.h"
#include "support/file_size_limit.h"
#include "support/jpeg_decode.h"

#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>

namespace korvinet::files {
namespace {

using testing::DecodedJpeg;
using testing::DecodeJpeg;

const QSize kChartSize(800, 470);

// A stand-in for the chart's drawing: left half red, right half blue, a black
// bar along the top.
void PaintTestChart(QPainter& p) {
    p.fillRect(0, 0, 400, 470, Qt::red);
    p.fillRect(400, 0, 400, 470, Qt::blue);
    p.fillRect(0, 0, 800, 40, Qt::black);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool Near(QRgb a, QRgb b, int tolerance = 12) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

class ChartSaverTest : public ::testing::Test {
protected:
    QTemporaryDir temp;   // stands for the user's temporary folder
    QTemporaryDir output; // where the user saves
    QStringList messages;
    QStringList dataFilesSaved;
    QStringList scratchSeen; // temporary folder contents while the chart was drawn
    QFile::Permissions scratchPermissions;
    bool renderFails = false;

    ChartSaver MakeSaver(const QString& tempFolder) {
        return ChartSaver(
            [this] {
                scratchSeen = QDir(temp.path()).entryList(QDir::Files);
                for (const QString& name : scratchSeen)
                    scratchPermissions = QFile::permissions(temp.filePath(name));
                return renderFails ? QImage() : ChartBitmap(kChartSize, PaintTestChart);
            },
            [this](const QString& name) {
                dataFilesSaved << name;
                return true;
            },
            [this](const QString& text) { messages << text; }, tempFolder);
    }
    ChartSaver MakeSaver() { return MakeSaver(temp.path()); }

    QString Out(const char* name) const { return output.filePath(QString::fromLatin1(name)); }
    QStringList TempFiles() const { return QDir(temp.path()).entryList(QDir::Files); }
};

TEST_F(ChartSaverTest, JpegIsProgressiveColourOfTheChartsSize) {
    // The extension does not choose the format; the code does.
    const QString path = Out("graph.bmp");
    ASSERT_TRUE(MakeSaver().SaveChartAs(path, kChartJpeg));
    const DecodedJpeg jpeg = DecodeJpeg(ReadAll(path));
    ASSERT_TRUE(jpeg.ok);
    EXPECT_EQ(jpeg.width, 800);
    EXPECT_EQ(jpeg.height, 470);
    EXPECT_EQ(jpeg.components, 3);
    EXPECT_TRUE(jpeg.progressive);
    EXPECT_TRUE(Near(jpeg.Pixel(200, 250), qRgb(255, 0, 0)));
    EXPECT_TRUE(Near(jpeg.Pixel(600, 250), qRgb(0, 0, 255)));
    EXPECT_TRUE(Near(jpeg.Pixel(400, 10), qRgb(0, 0, 0)));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(ChartSaverTest, ScratchBitmapIsPrivateUniqueAndAlwaysRemoved) {
    ASSERT_TRUE(MakeSaver().SaveChartAs(Out("a.jpg"), kChartJpeg));
    ASSERT_EQ(scratchSeen.size(), 1);
    EXPECT_TRUE(scratchSeen[0].startsWith("quo"));
    EXPECT_EQ(scratchPermissions & (QFile::ReadGroup | QFile::ReadOther), 0); // owner only
    EXPECT_TRUE(TempFiles().isEmpty());

    // Failures after the scratch file was made: unwritable target, no picture.
    EXPECT_FALSE(MakeSaver().SaveChartAs(Out("missing/folder/a.jpg"), kChartJpeg));
    EXPECT_FALSE(MakeSaver().SaveChartAs("/dev/full", kChartJpeg));
    EXPECT_TRUE(TempFiles().isEmpty());
    renderFails = true;
    scratchSeen.clear();
    EXPECT_FALSE(MakeSaver().SaveChartAs(Out("b.jpg"), kChartJpeg));
    EXPECT_EQ(scratchSeen.size(), 1);
    EXPECT_TRUE(TempFiles().isEmpty());
    EXPECT_FALSE(QFile::exists(Out("b.jpg")));

    // No usable temporary folder.
    renderFails = false;
    EXPECT_FALSE(MakeSaver(temp.filePath("gone")).SaveChartAs(Out("c.jpg"), kChartJpeg));
    EXPECT_FALSE(MakeSaver(QString()).SaveChartAs(Out("c.jpg"), kChartJpeg));
}

TEST_F(ChartSaverTest, BitmapFilterWritesA24BitBmpWhateverTheName) {
    const QString path = Out("graph.jpg");
    ASSERT_TRUE(MakeSaver().SaveChartAs(path, kChartBmp));
    const QByteArray bytes = ReadAll(path);
    ASSERT_GT(bytes.size(), 54);
    EXPECT_TRUE(bytes.startsWith("BM"));
    EXPECT_EQ(static_cast<unsigned char>(bytes[28]), 24); // bits per pixel
    QImage back;
    ASSERT_TRUE(back.loadFromData(bytes, "BMP"));
    EXPECT_EQ(back.size(), kChartSize);
    EXPECT_EQ(back.pixel(200, 250), qRgb(255, 0, 0));
    EXPECT_EQ(back.pixel(600, 250), qRgb(0, 0, 255));
    EXPECT_TRUE(TempFiles().isEmpty());
}

TEST_F(ChartSaverTest, ImageFailuresReturnFalseWithoutAMessage) {
    EXPECT_FALSE(MakeSaver().SaveChartAs("/dev/full", kChartBmp));
    EXPECT_FALSE(MakeSaver().SaveChartAs(QString(), kChartBmp));
    EXPECT_FALSE(MakeSaver().SaveChartAs(QString(), kChartJpeg));
    renderFails = true;
    EXPECT_FALSE(MakeSaver().SaveChartAs(Out("x.bmp"), kChartBmp));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(ChartSaverTest, FullDiskLeavesTheImageSavedBeforeWhole) {
    const QString saved = Out("graph.bmp");
    ASSERT_TRUE(MakeSaver().SaveChartAs(saved, kChartBmp));
    const QByteArray before = ReadAll(saved);
    {
        testing::FileSizeLimit diskFull(before.size() / 2);
        EXPECT_FALSE(MakeSaver().SaveChartAs(saved, kChartBmp));
    }
    EXPECT_EQ(ReadAll(saved), before);
    EXPECT_EQ(QDir(output.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"graph.bmp"});
}

TEST_F(ChartSaverTest, FormatCodesChooseTheWriter) {
    const ChartSaver saver = MakeSaver();
    EXPECT_TRUE(saver.SaveChartAs(Out("d.csv"), kChartDataFile));
    EXPECT_FALSE(saver.SaveChartAs(QString(), kChartDataFile)); // an empty name fails
    EXPECT_EQ(dataFilesSaved, QStringList{Out("d.csv")});
    for (int code : {0, 4, -1, 12}) {
        messages.clear();
        EXPECT_FALSE(saver.SaveChartAs(Out("u.x"), code));
        EXPECT_EQ(messages, QStringList{"SaveChartAs: Unknown format " + QString::number(code)});
    }
    EXPECT_FALSE(QFile::exists(Out("u.x")));
    EXPECT_EQ(dataFilesSaved.size(), 1);
}

TEST(ImageFormatForFilterIndex, TheFilterDecides) {
    EXPECT_EQ(ImageFormatForFilterIndex(1), kChartJpeg);
    EXPECT_EQ(ImageFormatForFilterIndex(2), kChartBmp);
    EXPECT_EQ(ImageFormatForFilterIndex(0), 0);
    EXPECT_EQ(ImageFormatForFilterIndex(3), 0);
}

TEST(ChartBitmap, HasTheChartsSizeAndDrawing) {
    const QImage image = ChartBitmap(kChartSize, PaintTestChart);
    EXPECT_EQ(image.size(), kChartSize);
    EXPECT_EQ(image.pixel(10, 100), qRgb(255, 0, 0));
    EXPECT_EQ(ChartBitmap(kChartSize, [](QPainter&) {}).pixel(5, 5), qRgb(255, 255, 255));
}

} // namespace
} // namespace korvinet::files
