#include "files/chart_print.h"

#include <QFile>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace korvinet::files {
namespace {

const QSize kChartSize(800, 470);

void PaintRed(QPainter& p) {
    p.fillRect(QRect(QPoint(0, 0), kChartSize), Qt::red);
}

TEST(PageMargins, FollowFromTheChartsOwnMargins) {
    EXPECT_EQ(PrintMarginsFor(), (PageMargins{7, 9, 4, 9}));
    EXPECT_EQ(PrintMarginsFor(ChartMargins{0, 0, 0, 0}), (PageMargins{9, 11, 9, 11}));
    EXPECT_EQ(PrintMarginsFor(ChartMargins{10, 12, 10, 12}), (PageMargins{0, 0, 0, 0}));
    const ChartPrintSettings start = DefaultChartPrintSettings();
    EXPECT_EQ(start.margins, (PageMargins{7, 9, 4, 9}));
    EXPECT_FALSE(start.proportional);
}

TEST(PrintArea, IsThePageLessItsPercentMargins) {
    const QRectF page(0, 0, 1000, 2000);
    EXPECT_EQ(PrintArea(page, PageMargins{7, 9, 4, 9}), QRectF(70, 180, 890, 1640));
    // Without proportional printing the chart fills the area; with it the
    // chart keeps 800:470 and is centred.
    ChartPrintSettings settings{PageMargins{0, 0, 0, 0}, false};
    EXPECT_EQ(ChartTargetRect(page, settings, kChartSize), page);
    settings.proportional = true;
    const QRectF fitted = ChartTargetRect(page, settings, kChartSize);
    EXPECT_DOUBLE_EQ(fitted.width(), 1000);
    EXPECT_DOUBLE_EQ(fitted.height(), 587.5);
    EXPECT_DOUBLE_EQ(fitted.center().y(), 1000);
}

TEST(PaintChartOnPage, FillsExactlyTheAreaInsideTheMargins) {
    QImage page(1100, 850, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    PaintChartOnPage(painter, page.rect(), DefaultChartPrintSettings(), kChartSize, PaintRed);
    painter.end();
    // 7 % of 1100 = 77, 4 % = 44; 9 % of 850 = 76.5.
    struct Probe {
        int x, y;
        bool red;
    };
    const Probe probes[] = {{80, 80, true},   {1050, 770, true},  {550, 425, true},
                            {74, 400, false}, {1060, 400, false}, {550, 74, false},
                            {550, 776, false}};
    for (const Probe& p : probes)
        EXPECT_EQ(page.pixel(p.x, p.y) == qRgb(255, 0, 0), p.red) << p.x << "," << p.y;
}

TEST(PrintChart, PrintsOnePageToAPdfPrinter) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("chart.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    int paints = 0;
    ASSERT_TRUE(PrintChart(printer, DefaultChartPrintSettings(), kChartSize, [&](QPainter& p) {
        ++paints;
        PaintRed(p);
        p.drawText(20, 20, QStringLiteral("overlay"));
    }));
    EXPECT_EQ(paints, 1);
    QFile pdf(path);
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(pdf.readAll());
    EXPECT_TRUE(text.startsWith("%PDF"));
    EXPECT_EQ(text.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?!s)"))), 1);
}

} // namespace
} // namespace korvinet::files
