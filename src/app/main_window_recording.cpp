#include "app/main_window.h"

#include "graph/chart.h"
#include "platform/clock.h"
#include "platform/regional.h"
#include "recording/journal_reader.h"
#include "recording/recorder_settings.h"

#include <QComboBox>
#include <QLabel>

namespace korvinet::app {

namespace {

// A reading that raised the alarm is drawn red.
graph::TColor PointColor(const device::Reading& reading) {
    return reading.alarm ? graph::kColorRed : graph::kDefaultPointColor;
}

} // namespace

void TFormMain::StartRecording() {
    Recording.SetKeepDays(Options.RecordingKeepDays);
    Recording.SetFileHeader([this] {
        recording::JournalFileHeader h = recording::JournalHeaderOf(Options, Recording);
        h.bottomAxisTitle = Chart1->BottomAxisTitle();
        return h;
    });
    // A failure once, and nothing again once recording works.
    Recording.SetStatusHandler([this](const QString& text) { RecordingStatusLbl->setText(text); });
    Recording.AddSink(graphSink_);

    const recording::RestoredSession restored =
        Recording.StartRecording(true, Counter.UnitName(), Options.MaxSpan);
    const int count = static_cast<int>(restored.points.size());
    if (count > 0) {
        // One repaint for all of them instead of one per point.
        Chart1->SetAutoRepaint(false);
        Chart1->SetLeftAxisTitle(Counter.UnitName());
        for (const device::Reading& p : restored.points)
            Series1.Add(p.time, p.value, PointColor(p));
        graph::RefreshAverage(Series1, Series2);
        Chart1->SetAutoRepaint(true);
        if (Recording.RecordingStatus().isEmpty())
            RecordingStatusLbl->setText(
                recording::RestoredReadingsText(count, restored.skippedLines));
    }
}

void TFormMain::AddToGraph(const measure::SessionReading& reading) {
    if (!reading.Ok())
        return;
    // The point joins the graph in its place in time.
    graph::AppendLiveReading(Series1, Series2,
                             graph::GraphPoint{reading.time, reading.value, PointColor(reading)},
                             Options.MaxSpan);
    if (Options.ShowConfidenceBand && reading.band) {
        Band.Add(reading.time, reading.band->low.value, reading.band->high.value);
        Band.RemoveBefore(Series1.FirstX());
    }
    LatestBand = reading.band;
}

void TFormMain::AddBackfillToGraph(const measure::CounterEvent& event) {
    const double from = deps_.clock.Now() - Options.MaxSpan / 24.0;
    Chart1->SetAutoRepaint(false);
    recording::JournalReader(deps_.recordingsFolder)
        .Visit(event.firstUtcMs, event.lastUtcMs + 1, [&](const device::TimedReading& t) {
            // Another unit's readings are not mixed in, as with a restore.
            if (t.reading.time >= from && t.reading.unitCode == Counter.UnitCode() &&
                (Series1.Count() == 0 || t.reading.time > Series1.LastX())) {
                measure::SessionReading reading;
                static_cast<device::Reading&>(reading) = t.reading;
                AddToGraph(reading);
            }
            return true;
        });
    Chart1->SetAutoRepaint(true);
}

} // namespace korvinet::app
