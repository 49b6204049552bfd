#pragma once

#include "files/chart_export.h"

#include <QRectF>
#include <QSize>

class QPainter;
class QPrinter;

namespace korvinet::files {

// The chart's own margins, percent of the chart (left, top, right, bottom).
struct ChartMargins {
    int left = 2;
    int top = 2;
    int right = 5;
    int bottom = 2;
};

// Page margins in whole percent of the page width (left, right) and height
// (top, bottom).
struct PageMargins {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    friend bool operator==(const PageMargins&, const PageMargins&) = default;
};

// How the chart goes on paper; kept by the window and set again before every
// print.
struct ChartPrintSettings {
    PageMargins margins;
    bool proportional = false; // true keeps the chart's on-screen aspect ratio
};

// Print margins that put the chart's drawing where a page of 11 by 8.5 units
// would have it: 100/11 minus the chart's left and right margins, 100/8.5
// minus its top and bottom margins, each cut toward zero. The chart's usual
// margins (2, 2, 5, 2) give 7 left, 9 top, 4 right, 9 bottom.
PageMargins PrintMarginsFor(const ChartMargins& chart = ChartMargins{});
// The settings Print starts with: those margins, proportional printing off.
ChartPrintSettings DefaultChartPrintSettings(const ChartMargins& chart = ChartMargins{});

// The part of `page` left inside the margins.
QRectF PrintArea(const QRectF& page, const PageMargins& margins);
// Where the chart goes inside `page`: the whole print area, or with
// proportional printing the largest rectangle of the chart's aspect ratio
// centred in it.
QRectF ChartTargetRect(const QRectF& page, const ChartPrintSettings& settings,
                       const QSize& chartSize);

// Draws the chart (its own drawing at `chartSize`, overlays included) scaled
// into the target rectangle of `page` on `painter`. The chart is drawn at a
// multiple of its size first, so text and lines keep their on-screen
// proportions at any printer resolution.
void PaintChartOnPage(QPainter& painter, const QRectF& page, const ChartPrintSettings& settings,
                      const QSize& chartSize, const PaintChart& paint);

// Prints one page with the chart on `printer` (what the print preview asks
// for). False when the printer cannot be painted on.
bool PrintChart(QPrinter& printer, const ChartPrintSettings& settings, const QSize& chartSize,
                const PaintChart& paint);

} // namespace korvinet::files
