#pragma once

#include "graph/graph_point.h"
#include "graph/line_series.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class QPainter;
class QVariantAnimation;

namespace korvinet::graph {

class TBandSeries;
class TLineSeries;

// Where the plot area lies on a surface and which data ranges it shows.
struct ChartLayout {
    QRectF plot;   // the plot area, in the surface's coordinates
    QRectF legend; // the legend's box, its shadow included
    double yTop;   // pixel row of yMax (the axis starts 5 % below the plot top)
    double xMin = 0.0, xMax = 1.0, yMin = 0.0, yMax = 1.0;

    QPointF Map(double x, double y) const;
    double XToData(double px) const;
    double YToData(double py) const;
};

// The graph chart: a white panel with title, a time axis labelled with the
// time of day of the first series' points (in the time label format, made
// as they are drawn), a value axis from 0, a legend below and one
// line per series, in which a point's colour (when not the default) colours
// the segment leading to it.
//
// Draw() is the one routine that paints the chart; the widget, image export
// and printing all go through it, and it ends by calling the after-draw
// handler, so overlays appear on every surface.
//
// The chart does not own its series; they must outlive every drawing.
class TChart : public QWidget {
    Q_OBJECT
public:
    using AfterDrawHandler = std::function<void(QPainter& painter, const QRect& target)>;

    static constexpr double kLeftAxisMinimum = 0.0;
    static constexpr double kInitialLeftAxisMaximum = 391.0;
    static constexpr double kSmallestLabelStep = 0.001;
    static constexpr int kDesignWidth = 800;
    static constexpr int kDesignHeight = 470;

    explicit TChart(QWidget* parent = nullptr);
    ~TChart() override;

    // Series are drawn in the order added, each with a legend entry; the
    // chart repaints when one changes (while automatic repainting is on).
    void AddSeries(TLineSeries* series);
    // A band drawn under the lines (none: null); it repaints with them.
    void SetBand(const TBandSeries* band) { band_ = band; }
    // How the time axis labels the first series' points; without a format
    // it shows evenly spread times of day.
    void SetTimeLabelFormat(std::optional<TimeLabelFormat> format) {
        timeLabels_ = std::move(format);
    }

    void SetTitle(const QString& title);
    const QString& Title() const { return title_; }
    void SetBottomAxisTitle(const QString& title);
    const QString& BottomAxisTitle() const { return bottomTitle_; }
    void SetLeftAxisTitle(const QString& title);
    const QString& LeftAxisTitle() const { return leftTitle_; }

    void SetLeftAxisAutomaticMaximum(bool automatic);
    bool LeftAxisAutomaticMaximum() const { return autoMax_; }
    // Refused (false, nothing changes) below the axis minimum of 0 or when
    // not a finite number.
    bool SetLeftAxisMaximum(double maximum);
    double LeftAxisMaximum() const { return yMaxFixed_; }

    // Off: series changes do not repaint. Switching it on repaints once.
    void SetAutoRepaint(bool on);
    bool AutoRepaint() const { return autoRepaint_; }

    void SetAfterDrawHandler(AfterDrawHandler handler) { afterDraw_ = std::move(handler); }
    // A band of this height along the bottom edge is left to the after-draw
    // handler's texts: the legend and the axes stay above it, so nothing the
    // chart draws lies under those texts.
    void SetFooterBand(int pixels);

    // Paints the whole chart into target, then runs the after-draw handler
    // with pen, brush and font reset to plain defaults. Everything is clipped
    // to target.
    void Draw(QPainter& painter, const QRect& target);
    // The chart in an image of the given size (the on-screen size by default).
    QImage RenderImage(QSize size = QSize(kDesignWidth, kDesignHeight));

    ChartLayout Layout(const QRect& target) const;

    // Zoom: drag right and down to zoom into the rectangle, left or up to
    // return to the full view. The data and the overlays are unaffected.
    // Emptying the series (clearing the graph, opening a file) ends a zoom
    // at once: the next data is shown whole.
    void ZoomToRect(const QRect& pixels);
    void UndoZoom();
    bool IsZoomed() const { return zoom_.has_value(); }
    void SetZoomAnimated(bool animated) { zoomAnimated_ = animated; }

    QSize sizeHint() const override { return {kDesignWidth, kDesignHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct Ranges {
        double xMin, xMax, yMin, yMax;
    };

    void SeriesChanged();
    void EndZoom();
    Ranges DataRanges() const;
    Ranges ShownRanges() const;
    void AnimateTo(const Ranges& to, bool unzoomAtEnd);
    bool NearFirstSeries(const QPoint& pos) const;

    void DrawSeries(QPainter& painter, const ChartLayout& layout, const TLineSeries& series) const;
    void DrawBottomLabels(QPainter& painter, const ChartLayout& layout) const;

    std::vector<TLineSeries*> series_;
    const TBandSeries* band_ = nullptr;
    std::optional<TimeLabelFormat> timeLabels_;
    QString title_ = QStringLiteral("Radiation vs. Time");
    QString bottomTitle_ = QStringLiteral("Time");
    QString leftTitle_ = QStringLiteral("mR/hr");
    bool autoMax_ = false;
    double yMaxFixed_ = kInitialLeftAxisMaximum;
    bool autoRepaint_ = true;
    AfterDrawHandler afterDraw_;
    int footerBand_ = 0;

    std::optional<Ranges> zoom_;
    std::optional<Ranges> animFrom_, animTo_;
    double animT_ = 1.0;
    bool unzoomAtEnd_ = false;
    bool zoomAnimated_ = true;
    QVariantAnimation* animation_ = nullptr;
    bool dragging_ = false;
    QPoint dragStart_, dragNow_;
};

// Draws one series' line into the layout's plot: every point when there are
// no more than pixel columns, otherwise the columns' kept vertices
// (DecimateToColumns), so the work follows the plot's width.
void DrawLineSeries(QPainter& painter, const ChartLayout& layout, const TLineSeries& series);

// 0x00BBGGRR to a QColor.
QColor ColorFromTColor(TColor color);

// The chart's own margins, percent of its width (left, right) and height.
inline constexpr int kChartMarginLeft = 2;
inline constexpr int kChartMarginTop = 2;
inline constexpr int kChartMarginRight = 5;
inline constexpr int kChartMarginBottom = 2;

// Empties the graph with repainting held off, then repaints once: both
// series cleared, the mean refreshed, the left axis titled with the unit.
void ClearGraphSeries(TChart& chart, TLineSeries& live, TLineSeries& average,
                      const QString& unitName);

} // namespace korvinet::graph
