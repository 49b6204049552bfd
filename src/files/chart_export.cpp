#include "files/chart_export.h"

#include "files/file_output.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryFile>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace korvinet::files {

namespace {

constexpr int kJpegQuality = 90;

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

// libjpeg's default reaction to an error ends the process; come back instead.
void OnJpegError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

void IgnoreJpegMessage(j_common_ptr) {}

// Kept free of objects with destructors: a libjpeg error returns here by
// longjmp. `rgb` is 3 bytes per pixel, rows `stride` bytes apart.
bool CompressJpeg(const unsigned char* rgb, int width, int height, qsizetype stride,
                  unsigned char** buffer, unsigned long* size) {
    jpeg_compress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = OnJpegError;
    error.manager.output_message = IgnoreJpegMessage;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, buffer, size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, kJpegQuality, TRUE);
    jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb + info.next_scanline * stride);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

} // namespace

QString UnknownFormatMessage(int code) {
    return QStringLiteral("SaveChartAs: Unknown format ") + QString::number(code);
}

QImage ChartBitmap(const QSize& size, const PaintChart& paint) {
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.fill(Qt::white);
    QPainter painter(&image);
    paint(painter);
    return image;
}

QByteArray EncodeBmp(const QImage& image) {
    if (image.isNull())
        return {};
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "BMP");
    if (!writer.write(image.convertToFormat(QImage::Format_RGB32)))
        return {};
    return bytes;
}

QByteArray EncodeJpeg(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    if (rgb.isNull())
        return {};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const bool ok = CompressJpeg(rgb.constBits(), rgb.width(), rgb.height(), rgb.bytesPerLine(),
                                 &buffer, &size);
    QByteArray bytes;
    if (ok && buffer != nullptr)
        bytes = QByteArray(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(size));
    std::free(buffer);
    return bytes;
}

int ImageFormatForFilterIndex(int filterIndex) {
    switch (filterIndex) {
    case 1:
        return kChartJpeg;
    case 2:
        return kChartBmp;
    default:
        return 0;
    }
}

ChartSaver::ChartSaver(RenderChart render, SaveDataFile saveDataFile, ShowMessage showMessage,
                       QString tempFolder)
    : render_(std::move(render)), saveDataFile_(std::move(saveDataFile)),
      showMessage_(std::move(showMessage)), tempFolder_(std::move(tempFolder)) {}

bool ChartSaver::SaveChartAs(const QString& fileName, int formatCode) const {
    switch (formatCode) {
    case kChartJpeg:
        return SaveJpeg(fileName);
    case kChartBmp:
        return SaveBmp(fileName);
    case kChartDataFile:
        return !fileName.isEmpty() && saveDataFile_(fileName);
    default:
        showMessage_(UnknownFormatMessage(formatCode));
        return false;
    }
}

bool ChartSaver::SaveBmp(const QString& fileName) const {
    if (fileName.isEmpty())
        return false;
    const QByteArray bmp = EncodeBmp(render_());
    return !bmp.isEmpty() && WriteWholeFile(fileName, bmp);
}

bool ChartSaver::SaveJpeg(const QString& fileName) const {
    if (fileName.isEmpty() || tempFolder_.isEmpty() || !QDir(tempFolder_).exists())
        return false;
    // The picture passes through a bitmap file of its own, made with a unique
    // name, only readable by the user, and removed when this returns whatever
    // happens.
    QTemporaryFile scratch(QDir(tempFolder_).filePath(QStringLiteral("quoXXXXXX")));
    scratch.setAutoRemove(true);
    // Asking for the name links the file into the folder under its "quo"
    // name (Qt may otherwise keep it unnamed).
    if (!scratch.open() || scratch.fileName().isEmpty())
        return false;
    const QByteArray bmp = EncodeBmp(render_());
    if (bmp.isEmpty() || scratch.write(bmp) != bmp.size() || !scratch.flush())
        return false;
    if (!scratch.seek(0))
        return false;
    QImage bitmap;
    if (!bitmap.loadFromData(scratch.readAll(), "BMP"))
        return false;
    const QByteArray jpeg = EncodeJpeg(bitmap);
    return !jpeg.isEmpty() && WriteWholeFile(fileName, jpeg);
}

} // namespace korvinet::files
