#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace korvinet::platform {
class Regional;
} // namespace korvinet::platform

namespace korvinet::graph {

class TChart;

// What the "Graph Settings" controls hold when the user leaves one of them.
struct GraphSettingsEntries {
    QString title;         // EditChartTitle
    QString notes;         // EditChartNotes
    bool yMaxAuto = false; // ChartYMaxAuto
    QString yMaxText;      // EditChartYMax
    QString maxSpanText;   // EditMaxSpan
};

// The graph fields of the settings record.
struct GraphSettingsValues {
    QString GraphTitle;
    QString GraphNotes;
    bool YMaxAutoEnabled = false;
    double YMaxValue = 1.0;
    double MaxSpan = 48.0;
};

// Everything one run of the graph settings handler decides; the window copies
// it into the record, the controls and the chart, and shows the messages.
struct GraphSettingsOutcome {
    GraphSettingsValues values;
    // Set when a valid fixed maximum was entered; otherwise the chart keeps
    // its present maximum.
    std::optional<double> axisMaximum;
    bool yMaxEditEnabled = true;
    // Set when EditChartYMax is to show the stored maximum again.
    std::optional<QString> yMaxEditText;
    QString maxSpanEditText; // always rewritten, two decimals
    QStringList messages;    // shown one after the other, in this order
};

inline const QString kYMaxMessage =
    QStringLiteral("Please enter a valid number for YMax or select \"Auto\"");
inline const QString kSpanMessagePrefix = QStringLiteral("Total Span is not a valid value! ");

// The entry check of numeric edit boxes: the entry rounded to the shown
// decimals (Regional::ParseRounded), valid when greater than 0.
bool ParseRoundedPositive(const QString& text, int decimals, const platform::Regional& regional,
                          double* value);

GraphSettingsOutcome ComputeGraphSettings(const GraphSettingsEntries& entries,
                                          const GraphSettingsValues& previous,
                                          const platform::Regional& regional);

// Title, automatic-maximum switch and, when one was entered, the fixed
// maximum onto the chart.
void ApplyGraphSettingsToChart(const GraphSettingsOutcome& outcome, TChart& chart);

} // namespace korvinet::graph
