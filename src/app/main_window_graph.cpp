#include "app/main_window.h"

#include "graph/chart.h"
#include "graph/graph_settings.h"
#include "graph/graph_texts.h"
#include "measure/accumulated_counts.h"
#include "measure/confidence_band.h"
#include "platform/regional.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>
#include <utility>

namespace korvinet::app {

void TFormMain::ApplyGraphSettings() {
    const graph::GraphSettingsOutcome out = graph::ComputeGraphSettings(
        {EditChartTitle->text(), EditChartNotes->text(), ChartYMaxAuto->isChecked(),
         EditChartYMax->text(), EditMaxSpan->text()},
        {Options.GraphTitle, Options.GraphNotes, Options.YMaxAutoEnabled, Options.YMaxValue,
         Options.MaxSpan},
        deps_.regional);
    Options.GraphTitle = out.values.GraphTitle;
    Options.GraphNotes = out.values.GraphNotes;
    Options.YMaxAutoEnabled = out.values.YMaxAutoEnabled;
    Options.YMaxValue = out.values.YMaxValue;
    Options.MaxSpan = out.values.MaxSpan;
    graph::ApplyGraphSettingsToChart(out, *Chart1);
    EditChartYMax->setEnabled(out.yMaxEditEnabled);
    if (out.yMaxEditText)
        EditChartYMax->setText(*out.yMaxEditText);
    EditMaxSpan->setText(out.maxSpanEditText);
    for (const QString& message : out.messages)
        deps_.ui.Message(message);
}

void TFormMain::Chart1AfterDraw(QPainter& painter, const QRect& /*target*/) {
    if (!graph::HasOverlays(Series1, Series2))
        return;
    try {
        const QString averagingTime =
            CountTime->currentIndex() >= 0 ? CountTime->currentText() : QString();
        graph::DrawChartOverlays(
            painter, Chart1->height(),
            {Series1, Series2, Counter, deps_.regional, Options.GraphNotes, averagingTime});
        QStringList lines = graph::StatisticsLines(Series1, Series2, Counter, deps_.regional,
                                                   DataFileName, DataFileLines);
        // The band of the latest reading follows the latest reading.
        if (Options.ShowConfidenceBand && LatestBand) {
            qsizetype at = 0;
            while (at < lines.size() && !lines[at].startsWith(QStringLiteral("Latest:")))
                ++at;
            lines.insert(at < lines.size() ? at + 1 : at,
                         measure::ConfidenceBandLine(*LatestBand, Counter));
        }
        MemoTexts texts{lines.join(QLatin1Char('\n')), std::nullopt};
        if (Counter.IsOpen())
            texts.accumulator = measure::AccumulatedCountsLines(Counter).join(QLatin1Char('\n'));
        if (painter.device() != Chart1) {
            pendingTexts_.reset(); // older than these
            ShowMemoTexts(texts);
            return;
        }
        // On screen the chart is drawn within the window's drawing pass. A
        // memo changed now scrolls its pixels in the middle of that pass,
        // which leaves the controls above it blank or garbled on the screen
        // until something else repaints them: the memos take their texts
        // once the pass is over.
        const bool queued = pendingTexts_.has_value();
        pendingTexts_ = std::move(texts);
        if (!queued)
            QTimer::singleShot(0, this, [this] {
                if (const std::optional<MemoTexts> pending = std::exchange(pendingTexts_, {}))
                    ShowMemoTexts(*pending);
            });
    } catch (...) {
        // The drawing is under way: a modal box here would re-enter painting.
        // Show it as soon as the drawing has finished.
        QTimer::singleShot(0, this, [this] { deps_.ui.Message(QStringLiteral("Unknown Error!")); });
    }
}

void TFormMain::ShowMemoTexts(const MemoTexts& texts) {
    ShowStatistics(texts.statistics);
    if (texts.accumulator)
        Accumulator->setPlainText(*texts.accumulator);
}

void TFormMain::ShowStatistics(const QString& text) {
    if (Statistics->toPlainText() == text)
        return;
    // Rebuilt at every drawing: the view stays where the user put it. Until
    // the user scrolls up, it follows the end, where the latest values are.
    QScrollBar* vertical = Statistics->verticalScrollBar();
    QScrollBar* horizontal = Statistics->horizontalScrollBar();
    const bool atEnd = vertical->value() >= vertical->maximum();
    const int top = vertical->value();
    const int left = horizontal->value();
    Statistics->setPlainText(text);
    vertical->setValue(atEnd ? vertical->maximum() : top);
    horizontal->setValue(left);
}

void TFormMain::ButtonCopyStatisticsClick() {
    deps_.ui.SetClipboardText(graph::StatisticsClipboardText(Statistics->toPlainText()));
}

int TFormMain::GraphPointCount() const {
    return static_cast<int>(Series1.Count());
}

} // namespace korvinet::app
