#include "graph/graph_texts.h"

#include "device/counter.h"
#include "graph/line_series.h"
#include "platform/regional.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

namespace korvinet::graph {

namespace {

bool IsBlankOrControl(QChar c) {
    return c.isSpace() || c.category() == QChar::Other_Control;
}

QString ValueLine(const char* label, double value, const device::TCounter& counter) {
    return QString::fromLatin1(label) + counter.FormatValue(value) + QLatin1Char(' ') +
           counter.UnitName();
}

// Text with its top left corner at (x, y).
void DrawTextAt(QPainter& painter, int x, int y, const QString& text) {
    if (text.isEmpty())
        return;
    const QFontMetrics metrics(painter.font(), painter.device());
    painter.drawText(QPoint(x, y + metrics.ascent()), text);
}

} // namespace

QString DataFileDisplayName(const QString& path) {
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf('/'));
    QString name = path.mid(cut + 1);
    qsizetype begin = 0;
    qsizetype end = name.size();
    while (begin < end && IsBlankOrControl(name[begin]))
        ++begin;
    while (end > begin && IsBlankOrControl(name[end - 1]))
        --end;
    return name.mid(begin, end - begin);
}

QStringList StatisticsLines(const TLineSeries& live, const TLineSeries& average,
                            const device::TCounter& counter, const platform::Regional& regional,
                            const QString& dataFilePath, const QStringList& headerLines) {
    QStringList lines;
    if (!HasOverlays(live, average))
        return lines;
    if (!dataFilePath.isEmpty()) {
        lines << QStringLiteral("Filename: ") + DataFileDisplayName(dataFilePath);
        lines << headerLines;
    }
    // A graph restored at the start is shown before the counter's first
    // sample, which has no time yet.
    if (counter.IsOpen() && counter.HasReading())
        lines << regional.DateTimeText(counter.LatestReadingTime());
    lines << ValueLine("Latest:    ", live.LastY(), counter);
    lines << ValueLine("Average:   ", average.LastY(), counter);
    lines << ValueLine("Min:       ", live.MinY(), counter);
    lines << ValueLine("Max:       ", live.MaxY(), counter);
    lines << QStringLiteral("ET: ") + device::TCounter::ElapsedText(live.LastX() - live.FirstX());
    return lines;
}

QString StatisticsClipboardText(const QStringList& lines) {
    return lines.join(QStringLiteral("\r\n"));
}

QString StatisticsClipboardText(const QString& memoText) {
    QString text = memoText;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return StatisticsClipboardText(text.split(QLatin1Char('\n')));
}

QString DateSpanText(const TLineSeries& live, const platform::Regional& regional) {
    return QStringLiteral("Date Span: ") + regional.DateText(live.FirstX()) +
           QStringLiteral(" to ") + regional.DateText(live.LastX());
}

QString SummaryLine(const OverlayContext& c) {
    QString line = QStringLiteral("Latest: ") + c.counter.FormatValue(c.live.LastY());
    line += QStringLiteral("   Average: ") + c.counter.FormatValue(c.average.LastY());
    line += QStringLiteral("   Max: ") + c.counter.FormatValue(c.live.MaxY());
    line +=
        QStringLiteral("   ET: ") + device::TCounter::ElapsedText(c.live.LastX() - c.live.FirstX());
    if (c.counter.IsOpen())
        line += QStringLiteral("   Averaging Time: ") + c.averagingTimeText;
    return line;
}

bool HasOverlays(const TLineSeries& live, const TLineSeries& average) {
    return !live.IsEmpty() && !average.IsEmpty();
}

void DrawChartOverlays(QPainter& painter, int chartHeight, const OverlayContext& c) {
    if (!HasOverlays(c.live, c.average))
        return;
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    font.setBold(false);
    font.setItalic(false);
    font.setUnderline(false);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);
    painter.setBackgroundMode(Qt::TransparentMode);

    DrawTextAt(painter, kModelTextX, kOverlayTop, c.counter.Info().Model);
    DrawTextAt(painter, kOverlayLeft, kOverlayTop, DateSpanText(c.live, c.regional));

    font.setBold(true);
    painter.setFont(font);
    DrawTextAt(painter, kOverlayLeft, chartHeight - kNotesFromBottom, c.notes);
    DrawTextAt(painter, kOverlayLeft, chartHeight - kSummaryFromBottom, SummaryLine(c));
}

} // namespace korvinet::graph
