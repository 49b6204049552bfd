#include "graph/graph_settings.h"

#include "graph/chart.h"
#include "platform/regional.h"
#include "platform/text_format.h"

namespace korvinet::graph {

bool ParseRoundedPositive(const QString& text, int decimals, const platform::Regional& regional,
                          double* value) {
    double rounded = 0.0;
    if (!regional.ParseRounded(text, decimals, &rounded) || !(rounded > 0.0))
        return false;
    *value = rounded;
    return true;
}

GraphSettingsOutcome ComputeGraphSettings(const GraphSettingsEntries& entries,
                                          const GraphSettingsValues& previous,
                                          const platform::Regional& regional) {
    GraphSettingsOutcome out;
    out.values = previous;
    out.values.GraphTitle = entries.title;
    out.values.GraphNotes = entries.notes;

    out.values.YMaxAutoEnabled = entries.yMaxAuto;
    out.yMaxEditEnabled = !entries.yMaxAuto;
    if (!entries.yMaxAuto) {
        // A negative maximum would lie below the axis minimum of 0, which the
        // chart refuses; treat it like any other invalid entry.
        double yMax = 0.0;
        if (regional.ParseNumber(entries.yMaxText, &yMax) && yMax > 0.0) {
            out.values.YMaxValue = yMax;
            out.axisMaximum = yMax;
        } else {
            out.messages << kYMaxMessage;
            out.yMaxEditText = regional.GeneralFloatText(previous.YMaxValue);
        }
    }

    double span = 0.0;
    if (ParseRoundedPositive(entries.maxSpanText, 2, regional, &span))
        out.values.MaxSpan = span;
    else
        out.messages << kSpanMessagePrefix + entries.maxSpanText;
    out.maxSpanEditText = platform::FormatC("%.2f", out.values.MaxSpan);
    out.maxSpanEditText.replace(QLatin1Char('.'), regional.DecimalSeparator());
    return out;
}

void ApplyGraphSettingsToChart(const GraphSettingsOutcome& outcome, TChart& chart) {
    chart.SetTitle(outcome.values.GraphTitle);
    chart.SetLeftAxisAutomaticMaximum(outcome.values.YMaxAutoEnabled);
    if (outcome.axisMaximum)
        chart.SetLeftAxisMaximum(*outcome.axisMaximum);
}

} // namespace korvinet::graph
