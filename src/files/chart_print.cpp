#include "files/chart_print.h"

#include <QPainter>
#include <QPrinter>
#include <algorithm>
#include <cmath>

namespace korvinet::files {

namespace {

// Chart drawings are rendered at most this many times their screen size for
// paper; beyond it the bitmap only costs memory.
constexpr int kMaxPrintScale = 4;

int CutPercent(double value) {
    return static_cast<int>(std::trunc(value));
}

} // namespace

PageMargins PrintMarginsFor(const ChartMargins& chart) {
    const double horizontal = 100.0 / 11.0;
    const double vertical = 100.0 / 8.5;
    return PageMargins{CutPercent(horizontal - chart.left), CutPercent(vertical - chart.top),
                       CutPercent(horizontal - chart.right), CutPercent(vertical - chart.bottom)};
}

ChartPrintSettings DefaultChartPrintSettings(const ChartMargins& chart) {
    return ChartPrintSettings{PrintMarginsFor(chart), false};
}

QRectF PrintArea(const QRectF& page, const PageMargins& margins) {
    const double left = page.width() * margins.left / 100.0;
    const double right = page.width() * margins.right / 100.0;
    const double top = page.height() * margins.top / 100.0;
    const double bottom = page.height() * margins.bottom / 100.0;
    return page.adjusted(left, top, -right, -bottom);
}

QRectF ChartTargetRect(const QRectF& page, const ChartPrintSettings& settings,
                       const QSize& chartSize) {
    const QRectF area = PrintArea(page, settings.margins);
    if (!settings.proportional || chartSize.isEmpty() || area.isEmpty())
        return area;
    const QSizeF fitted = QSizeF(chartSize).scaled(area.size(), Qt::KeepAspectRatio);
    QRectF target(QPointF(), fitted);
    target.moveCenter(area.center());
    return target;
}

void PaintChartOnPage(QPainter& painter, const QRectF& page, const ChartPrintSettings& settings,
                      const QSize& chartSize, const PaintChart& paint) {
    const QRectF target = ChartTargetRect(page, settings, chartSize);
    if (chartSize.isEmpty() || target.isEmpty())
        return;
    const double needed =
        std::max(target.width() / chartSize.width(), target.height() / chartSize.height());
    const int scale = std::clamp(static_cast<int>(std::ceil(needed)), 1, kMaxPrintScale);
    const QImage picture = ChartBitmap(chartSize * scale, [&](QPainter& p) {
        p.scale(scale, scale);
        paint(p);
    });
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture);
    painter.restore();
}

bool PrintChart(QPrinter& printer, const ChartPrintSettings& settings, const QSize& chartSize,
                const PaintChart& paint) {
    // Margins are our own percentages of the whole sheet, so paint on the
    // full paper and leave the printer's own margins out of it.
    printer.setFullPage(true);
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    const QRectF page = printer.pageLayout().fullRectPixels(printer.resolution());
    PaintChartOnPage(painter, QRectF(QPointF(0, 0), page.size()), settings, chartSize, paint);
    return painter.end();
}

} // namespace korvinet::files
