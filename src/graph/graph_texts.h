#pragma once

#include <QString>
#include <QStringList>

class QPainter;

namespace korvinet::device {
class TCounter;
} // namespace korvinet::device

namespace korvinet::platform {
class Regional;
} // namespace korvinet::platform

namespace korvinet::graph {

class TLineSeries;

// The file name shown for an opened data file: what follows the last "\" or
// "/" of the path (the whole path when it has neither), without surrounding
// blanks and control characters.
QString DataFileDisplayName(const QString& path);

// The lines of the "Graph Statistics" memo: the data file's name and header
// lines when one is shown, the latest reading time once an open device has
// taken a sample,
// Latest/Average/Min/Max with unit, and the elapsed span. Empty when either
// series is empty (the memo is then left as it is).
QStringList StatisticsLines(const TLineSeries& live, const TLineSeries& average,
                            const device::TCounter& counter, const platform::Regional& regional,
                            const QString& dataFilePath, const QStringList& headerLines);

// The memo's lines as clipboard text, CR LF between lines.
QString StatisticsClipboardText(const QStringList& lines);
QString StatisticsClipboardText(const QString& memoText);

// What the overlays on the chart read besides the series.
struct OverlayContext {
    const TLineSeries& live;
    const TLineSeries& average;
    const device::TCounter& counter;
    const platform::Regional& regional;
    QString notes;             // GraphNotes
    QString averagingTimeText; // the selected averaging-time entry, empty if none
};

// "Date Span: <first date> to <last date>" of the live series.
QString DateSpanText(const TLineSeries& live, const platform::Regional& regional);
// "Latest: ...   Average: ...   Max: ...   ET: ..." plus the averaging time
// while a device is open.
QString SummaryLine(const OverlayContext& context);

// Fixed places of the overlay texts; chartHeight is the chart control's
// height, also when drawing onto a larger surface.
inline constexpr int kModelTextX = 600;
inline constexpr int kOverlayTop = 15;
inline constexpr int kOverlayLeft = 25;
inline constexpr int kNotesFromBottom = 35;
inline constexpr int kSummaryFromBottom = 20;

// True when the overlays (and the statistics text) are to be drawn at all.
bool HasOverlays(const TLineSeries& live, const TLineSeries& average);

// Draws model text, date span, notes and summary line, each text built just
// before it is drawn, so a failure part-way leaves the earlier ones on the
// surface. Draws nothing when HasOverlays() is false. May throw; the caller
// catches and reports.
void DrawChartOverlays(QPainter& painter, int chartHeight, const OverlayContext& context);

} // namespace korvinet::graph
