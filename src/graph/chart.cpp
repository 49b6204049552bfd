#include "graph/chart.h"

#include "graph/band_series.h"
#include "graph/line_series.h"
#include "platform/datetime.h"

#include <QDateTime>
#include <QFont>
#include <QFontMetrics>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>

namespace korvinet::graph {

namespace {

// Fixed sizes of the chart's parts, in pixels.
constexpr int kLabelBandBottom = 60;
constexpr int kTitleBandBottom = 15;
constexpr int kLabelBandLeft = 30;
constexpr int kTickLength = 4;
constexpr int kLegendGap = 5;
constexpr int kLegendSampleWidth = 25;
constexpr double kAxisStartOffset = 0.05;
constexpr double kLabelSpacing = 0.20;
constexpr int kZoomAnimationMs = 200;
constexpr int kMinimumZoomDrag = 3;
constexpr int kMaxValueLabels = 1000;

QFont ArialFont(int pixels, bool bold) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QFont TitleFont() {
    return ArialFont(16, true);
}
QFont AxisTitleFont() {
    return ArialFont(13, true);
}
QFont LabelFont() {
    return ArialFont(11, false);
}

// Nice label step (1, 2 or 5 times a power of ten) of at least minimum.
double NiceStep(double minimum) {
    minimum = std::max(minimum, TChart::kSmallestLabelStep);
    const double power = std::pow(10.0, std::floor(std::log10(minimum)));
    for (double f : {1.0, 2.0, 5.0, 10.0}) {
        if (f * power >= minimum * (1 - 1e-9))
            return f * power;
    }
    return 10.0 * power;
}

// Value labels in the user's number format; very large values in exponent
// form so they cannot push the plot off the panel.
QString ValueLabel(double value, int decimals) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    if (std::fabs(value) >= 1e7)
        return locale.toString(value, 'g', 6);
    return locale.toString(value, 'f', decimals);
}

int StepDecimals(double step) {
    return std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 3);
}

struct Vertex {
    QPointF point;
    TColor incoming; // colour of the segment leading here
};

} // namespace

QColor ColorFromTColor(TColor color) {
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

QPointF ChartLayout::Map(double x, double y) const {
    const double px = plot.left() + (x - xMin) * plot.width() / (xMax - xMin);
    double py = plot.bottom() - (y - yMin) * (plot.bottom() - yTop) / (yMax - yMin);
    // Far-off values still draw as lines leaving the plot, without
    // overflowing the rasteriser's fixed-point coordinates.
    py = std::clamp(py, plot.top() - 1e5, plot.bottom() + 1e5);
    return {px, py};
}

double ChartLayout::XToData(double px) const {
    return xMin + (px - plot.left()) * (xMax - xMin) / plot.width();
}

double ChartLayout::YToData(double py) const {
    return yMin + (plot.bottom() - py) * (yMax - yMin) / (plot.bottom() - yTop);
}

TChart::TChart(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    resize(kDesignWidth, kDesignHeight);
}

TChart::~TChart() = default;

void TChart::AddSeries(TLineSeries* series) {
    series_.push_back(series);
    // The series may outlive the chart (the window's members are destroyed
    // before its child widgets, or the other way round): guard the callback.
    QPointer<TChart> self(this);
    series->SetChangeHandler([self] {
        if (self)
            self->SeriesChanged();
    });
    SeriesChanged();
}

void TChart::SeriesChanged() {
    if (zoom_ || animTo_) {
        if (std::all_of(series_.begin(), series_.end(),
                        [](const TLineSeries* s) { return s->IsEmpty(); }))
            EndZoom();
    }
    if (autoRepaint_)
        update();
}

void TChart::EndZoom() {
    if (animation_) {
        animation_->disconnect(this);
        animation_->stop();
    }
    animFrom_.reset();
    animTo_.reset();
    zoom_.reset();
}

void TChart::SetFooterBand(int pixels) {
    footerBand_ = std::max(0, pixels);
    update();
}

void TChart::SetTitle(const QString& title) {
    title_ = title;
    update();
}

void TChart::SetBottomAxisTitle(const QString& title) {
    bottomTitle_ = title;
    update();
}

void TChart::SetLeftAxisTitle(const QString& title) {
    leftTitle_ = title;
    update();
}

void TChart::SetLeftAxisAutomaticMaximum(bool automatic) {
    autoMax_ = automatic;
    update();
}

bool TChart::SetLeftAxisMaximum(double maximum) {
    if (!std::isfinite(maximum) || maximum < kLeftAxisMinimum)
        return false;
    yMaxFixed_ = maximum;
    update();
    return true;
}

void TChart::SetAutoRepaint(bool on) {
    autoRepaint_ = on;
    if (on)
        update();
}

TChart::Ranges TChart::DataRanges() const {
    Ranges r{0.0, 1.0, kLeftAxisMinimum, yMaxFixed_};
    bool any = false;
    double dataMax = kLeftAxisMinimum;
    for (const TLineSeries* s : series_) {
        if (s->IsEmpty())
            continue;
        r.xMin = any ? std::min(r.xMin, s->FirstX()) : s->FirstX();
        r.xMax = any ? std::max(r.xMax, s->LastX()) : s->LastX();
        dataMax = any ? std::max(dataMax, s->MaxY()) : s->MaxY();
        any = true;
    }
    if (!(r.xMax > r.xMin)) {
        // One instant only: a minute either side, so the point sits centred.
        const double pad = 60.0 / 86400.0;
        r.xMin -= pad;
        r.xMax += pad;
    }
    if (autoMax_)
        r.yMax = any && dataMax > kLeftAxisMinimum ? dataMax : 1.0;
    if (!(r.yMax > r.yMin))
        r.yMax = r.yMin + kSmallestLabelStep;
    return r;
}

TChart::Ranges TChart::ShownRanges() const {
    if (animFrom_ && animTo_) {
        const double t = animT_;
        auto lerp = [t](double a, double b) { return a + (b - a) * t; };
        return {lerp(animFrom_->xMin, animTo_->xMin), lerp(animFrom_->xMax, animTo_->xMax),
                lerp(animFrom_->yMin, animTo_->yMin), lerp(animFrom_->yMax, animTo_->yMax)};
    }
    return zoom_ ? *zoom_ : DataRanges();
}

ChartLayout TChart::Layout(const QRect& target) const {
    const double w = target.width();
    const double h = target.height();
    const QRectF inner(target.left() + kChartMarginLeft * w / 100,
                       target.top() + kChartMarginTop * h / 100,
                       w * (100 - kChartMarginLeft - kChartMarginRight) / 100,
                       h * (100 - kChartMarginTop - kChartMarginBottom) / 100);

    const QFontMetrics titleMetrics(TitleFont());
    const QFontMetrics axisTitleMetrics(AxisTitleFont());
    const QFontMetrics labelMetrics(LabelFont());
    const double legendHeight = labelMetrics.height() + 6;

    ChartLayout layout;
    const Ranges r = ShownRanges();
    layout.xMin = r.xMin;
    layout.xMax = r.xMax;
    layout.yMin = r.yMin;
    layout.yMax = r.yMax;

    const double top = inner.top() + titleMetrics.height() + 4;
    // Left label band: wide enough for the longest value label.
    const QString widest = ValueLabel(std::max(std::fabs(r.yMax), std::fabs(r.yMin)), 3);
    const double labelBand =
        std::max<double>(kLabelBandLeft, labelMetrics.horizontalAdvance(widest));
    const double left = inner.left() + axisTitleMetrics.height() + labelBand + kTickLength;

    // The legend at the bottom, centred under the plot, above the footer
    // band (its one-pixel shadow and a pixel of air included).
    double legendWidth = 8;
    for (const TLineSeries* s : series_)
        legendWidth += kLegendSampleWidth + 4 + labelMetrics.horizontalAdvance(s->Title()) + 12;
    const double boxBottom = std::min(inner.bottom() - 1.0, target.top() + h - footerBand_ - 2.0);
    layout.legend = QRectF((left + inner.right()) / 2.0 - legendWidth / 2.0,
                           boxBottom - legendHeight, legendWidth + 1, legendHeight + 1);

    const double bottom = layout.legend.bottom() - legendHeight - kLegendGap - kTitleBandBottom -
                          kLabelBandBottom - kTickLength;
    layout.plot = QRectF(QPointF(left, top), QPointF(inner.right(), std::max(bottom, top + 1)));
    layout.yTop = layout.plot.top() + kAxisStartOffset * layout.plot.height();
    return layout;
}

void TChart::Draw(QPainter& painter, const QRect& target) {
    painter.save();
    painter.setClipRect(target, Qt::IntersectClip);
    painter.fillRect(target, Qt::white);
    painter.setRenderHint(QPainter::Antialiasing, false);

    const ChartLayout layout = Layout(target);
    const QRectF& plot = layout.plot;
    const QFontMetrics labelMetrics(LabelFont(), painter.device());

    // Title, centred over the panel.
    painter.setPen(Qt::black);
    painter.setFont(TitleFont());
    const QRectF titleBox(target.left() + kChartMarginLeft * target.width() / 100.0,
                          target.top() + kChartMarginTop * target.height() / 100.0,
                          target.width() * (100 - kChartMarginLeft - kChartMarginRight) / 100.0,
                          QFontMetrics(TitleFont()).height());
    painter.drawText(titleBox, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, title_);

    // Left axis: a nice step keeping labels at least 20 % of their height apart.
    const double pixelsPerUnit = (plot.bottom() - layout.yTop) / (layout.yMax - layout.yMin);
    const double minPixels = labelMetrics.height() * (1.0 + kLabelSpacing);
    const double step = pixelsPerUnit > 0 ? NiceStep(minPixels / pixelsPerUnit) : 0.0;
    painter.setFont(LabelFont());
    QPen gridPen(QColor(0xC0, 0xC0, 0xC0));
    gridPen.setStyle(Qt::DotLine);
    if (std::isfinite(step) && step > 0) {
        const int decimals = StepDecimals(step);
        const double firstLabel = std::ceil(layout.yMin / step - 1e-9) * step;
        for (int i = 0; i <= kMaxValueLabels; ++i) {
            const double v = firstLabel + i * step;
            if (v > layout.yMax + step * 1e-6)
                break;
            const double py = std::round(layout.Map(layout.xMin, v).y());
            painter.setPen(gridPen);
            painter.drawLine(QPointF(plot.left(), py), QPointF(plot.right(), py));
            painter.setPen(Qt::black);
            painter.drawLine(QPointF(plot.left() - kTickLength, py), QPointF(plot.left(), py));
            const QString text = ValueLabel(std::fabs(v) < step * 1e-6 ? 0.0 : v, decimals);
            const double tw = labelMetrics.horizontalAdvance(text);
            painter.drawText(QPointF(plot.left() - kTickLength - 2 - tw,
                                     py + (labelMetrics.ascent() - labelMetrics.descent()) / 2.0),
                             text);
        }
    }

    // Left axis title, turned to read upwards.
    painter.setFont(AxisTitleFont());
    const QFontMetrics axisTitleMetrics(AxisTitleFont(), painter.device());
    painter.save();
    painter.translate(target.left() + kChartMarginLeft * target.width() / 100.0 +
                          axisTitleMetrics.ascent(),
                      (layout.yTop + plot.bottom()) / 2.0);
    painter.rotate(-90);
    painter.drawText(QPointF(-axisTitleMetrics.horizontalAdvance(leftTitle_) / 2.0, 0), leftTitle_);
    painter.restore();

    DrawBottomLabels(painter, layout);

    // Bottom axis title below its label band.
    painter.setFont(AxisTitleFont());
    painter.setPen(Qt::black);
    const QRectF bottomTitleBox(plot.left(), plot.bottom() + kTickLength + kLabelBandBottom,
                                plot.width(), kTitleBandBottom);
    painter.drawText(bottomTitleBox, Qt::AlignHCenter | Qt::AlignVCenter, bottomTitle_);

    // Axis lines; the back wall is not filled.
    painter.setPen(Qt::black);
    painter.drawLine(plot.bottomLeft(), plot.topLeft());
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());

    painter.save();
    painter.setClipRect(plot.adjusted(0, -1, 1, 1), Qt::IntersectClip);
    if (band_)
        DrawBand(painter, layout, *band_);
    for (const TLineSeries* s : series_)
        DrawSeries(painter, layout, *s);
    painter.restore();

    // Legend below the chart area: a colour sample and the title per series,
    // in a box with a one-pixel shadow.
    painter.setFont(LabelFont());
    const QRectF legendBox = layout.legend.adjusted(0, 0, -1, -1);
    painter.fillRect(legendBox.translated(1, 1), Qt::black);
    painter.fillRect(legendBox, Qt::white);
    painter.setPen(Qt::black);
    painter.drawRect(legendBox);
    double lx = legendBox.left() + 6;
    const double midY = legendBox.center().y();
    for (const TLineSeries* s : series_) {
        painter.setPen(QPen(ColorFromTColor(s->SeriesColor()), 2));
        painter.drawLine(QPointF(lx, midY), QPointF(lx + kLegendSampleWidth, midY));
        lx += kLegendSampleWidth + 4;
        painter.setPen(Qt::black);
        painter.drawText(QPointF(lx, midY + (labelMetrics.ascent() - labelMetrics.descent()) / 2.0),
                         s->Title());
        lx += labelMetrics.horizontalAdvance(s->Title()) + 12;
    }

    if (afterDraw_) {
        painter.save();
        painter.setPen(QPen(Qt::black));
        painter.setBrush(Qt::NoBrush);
        painter.setFont(QFont());
        painter.setBackgroundMode(Qt::TransparentMode);
        afterDraw_(painter, target);
        painter.restore();
    }
    painter.restore();
}

void TChart::DrawBottomLabels(QPainter& painter, const ChartLayout& layout) const {
    const QRectF& plot = layout.plot;
    const QFontMetrics metrics(LabelFont(), painter.device());
    const double needed = metrics.height() * (1.0 + kLabelSpacing);
    const double baseline = (metrics.ascent() - metrics.descent()) / 2.0;
    painter.setFont(LabelFont());
    painter.setPen(Qt::black);

    auto drawLabel = [&](double px, const QString& text) {
        painter.drawLine(QPointF(px, plot.bottom()), QPointF(px, plot.bottom() + kTickLength));
        painter.save();
        painter.translate(px, plot.bottom() + kTickLength + 2);
        painter.rotate(-90);
        painter.drawText(QPointF(-metrics.horizontalAdvance(text), baseline), text);
        painter.restore();
    };

    const TLineSeries* first = series_.empty() ? nullptr : series_.front();
    if (first && !first->IsEmpty() && timeLabels_) {
        // As many point labels as fit: the next label is the first point at
        // least one label height further right.
        const std::size_t count = first->Count();
        std::size_t i = first->LowerBound(layout.xMin);
        while (i < count && first->XValue(i) <= layout.xMax) {
            const double px = layout.Map(first->XValue(i), 0).x();
            drawLabel(px, timeLabels_->Text(first->XValue(i)));
            const double nextX = layout.XToData(px + needed);
            i = std::max(i + 1, first->LowerBound(nextX));
        }
        return;
    }
    // Time-of-day values, evenly spread.
    const int count = std::max(1, static_cast<int>(plot.width() / (needed * 3)));
    for (int i = 0; i <= count; ++i) {
        const double px = plot.left() + plot.width() * i / count;
        const QDateTime dt = platform::QtFromDateTime(layout.XToData(px));
        drawLabel(px, dt.toString(QStringLiteral("hh:mm:ss AP")));
    }
}

void TChart::DrawSeries(QPainter& painter, const ChartLayout& layout,
                        const TLineSeries& series) const {
    DrawLineSeries(painter, layout, series);
}

void DrawLineSeries(QPainter& painter, const ChartLayout& layout, const TLineSeries& series) {
    const std::size_t count = series.Count();
    if (count == 0)
        return;
    // The points in view plus one either side, so lines run to the edges.
    const std::size_t lo = series.LowerBound(layout.xMin);
    const std::size_t hi = series.UpperBound(layout.xMax);
    const std::size_t begin = lo == 0 ? 0 : lo - 1;
    const std::size_t end = hi == count ? count : hi + 1;
    const std::size_t n = end - begin;

    std::vector<Vertex> vertices;
    const double columns = std::max(1.0, layout.plot.width());
    if (static_cast<double>(n) <= columns) {
        vertices.reserve(n);
        for (std::size_t i = begin; i < end; ++i)
            vertices.push_back(
                {layout.Map(series.XValue(i), series.YValue(i)), series.PointColor(i)});
    } else {
        // More points than pixel columns: per column the first, lowest,
        // highest and last point, coloured so no red stretch vanishes.
        const double scale = layout.plot.width() / (layout.xMax - layout.xMin);
        const std::vector<KeptVertex> kept =
            DecimateToColumns(series, begin, end, layout.xMin, scale);
        vertices.reserve(kept.size());
        for (const KeptVertex& k : kept)
            vertices.push_back(
                {layout.Map(series.XValue(k.index), series.YValue(k.index)), k.incoming});
    }
    if (vertices.size() == 1) {
        // A lone point still shows as a dot.
        painter.setPen(QPen(ColorFromTColor(series.SeriesColor()), 1));
        painter.drawPoint(vertices.front().point);
        return;
    }

    // Runs of equally coloured segments as one polyline each.
    auto penColor = [&](TColor c) { return c == kDefaultPointColor ? series.SeriesColor() : c; };
    std::vector<QPointF> run;
    run.reserve(vertices.size());
    std::size_t v = 1;
    while (v < vertices.size()) {
        const TColor c = penColor(vertices[v].incoming);
        run.clear();
        run.push_back(vertices[v - 1].point);
        while (v < vertices.size() && penColor(vertices[v].incoming) == c)
            run.push_back(vertices[v++].point);
        painter.setPen(QPen(ColorFromTColor(c), 1));
        painter.drawPolyline(run.data(), static_cast<int>(run.size()));
    }
}

QImage TChart::RenderImage(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    Draw(painter, QRect(QPoint(0, 0), size));
    painter.end();
    return image;
}

void ClearGraphSeries(TChart& chart, TLineSeries& live, TLineSeries& average,
                      const QString& unitName) {
    chart.SetAutoRepaint(false);
    live.Clear();
    average.Clear();
    RefreshAverage(live, average);
    chart.SetLeftAxisTitle(unitName);
    chart.SetAutoRepaint(true);
}

void TChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Draw(painter, rect());
    if (dragging_) {
        painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(dragStart_, dragNow_).normalized());
    }
}

void TChart::ZoomToRect(const QRect& pixels) {
    const ChartLayout layout = Layout(rect());
    const QRectF r = QRectF(pixels).normalized();
    Ranges to{layout.XToData(r.left()), layout.XToData(r.right()), layout.YToData(r.bottom()),
              layout.YToData(r.top())};
    if (!(to.xMax > to.xMin) || !(to.yMax > to.yMin))
        return;
    AnimateTo(to, false);
}

void TChart::UndoZoom() {
    if (!zoom_ && !animTo_)
        return;
    AnimateTo(DataRanges(), true);
}

void TChart::AnimateTo(const Ranges& to, bool unzoomAtEnd) {
    const Ranges from = ShownRanges();
    if (animation_)
        animation_->stop();
    unzoomAtEnd_ = unzoomAtEnd;
    auto finish = [this, to] {
        animFrom_.reset();
        animTo_.reset();
        if (unzoomAtEnd_)
            zoom_.reset();
        else
            zoom_ = to;
        update();
    };
    if (!zoomAnimated_) {
        finish();
        return;
    }
    animFrom_ = from;
    animTo_ = to;
    animT_ = 0.0;
    if (!animation_) {
        animation_ = new QVariantAnimation(this);
        animation_->setStartValue(0.0);
        animation_->setEndValue(1.0);
        animation_->setDuration(kZoomAnimationMs);
    }
    // Each zoom ends its own way: drop the previous run's connections.
    animation_->disconnect(this);
    connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        animT_ = value.toDouble();
        update();
    });
    connect(animation_, &QVariantAnimation::finished, this, finish);
    animation_->start();
}

bool TChart::NearFirstSeries(const QPoint& pos) const {
    if (series_.empty() || series_.front()->Count() == 0)
        return false;
    const ChartLayout layout = Layout(rect());
    if (!layout.plot.contains(pos))
        return false;
    const TLineSeries& first = *series_.front();
    const double x = layout.XToData(pos.x());
    // The segment under the mouse, from the point before to the point after.
    const std::size_t after = std::min(first.LowerBound(x), first.Count() - 1);
    const std::size_t before = after == 0 ? 0 : after - 1;
    const QPointF a = layout.Map(first.XValue(before), first.YValue(before));
    const QPointF b = layout.Map(first.XValue(after), first.YValue(after));
    const QPointF d = b - a;
    const double len2 = QPointF::dotProduct(d, d);
    const double t =
        len2 > 0 ? std::clamp(QPointF::dotProduct(QPointF(pos) - a, d) / len2, 0.0, 1.0) : 0.0;
    const QPointF nearest = a + d * t;
    return QLineF(nearest, QPointF(pos)).length() <= 3.0;
}

void TChart::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    dragging_ = true;
    dragStart_ = dragNow_ = event->position().toPoint();
}

void TChart::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        dragNow_ = event->position().toPoint();
        update();
        return;
    }
    setCursor(NearFirstSeries(event->position().toPoint()) ? Qt::CrossCursor : Qt::ArrowCursor);
}

void TChart::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_ || event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    dragging_ = false;
    const QPoint end = event->position().toPoint();
    const QPoint delta = end - dragStart_;
    if (delta.x() >= kMinimumZoomDrag && delta.y() >= kMinimumZoomDrag)
        ZoomToRect(QRect(dragStart_, end));
    else if (delta.x() < 0 || delta.y() < 0)
        UndoZoom();
    update();
}

} // namespace korvinet::graph
