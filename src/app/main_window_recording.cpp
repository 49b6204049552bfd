#include "app/main_window.h"

#include "graph/chart.h"
#include "platform/clock.h"
#include "recording/journal_folder.h"
#include "recording/journal_restore.h"
#include "recording/journal_sink.h"
#include "recording/recording_journal.h"

#include <QComboBox>
#include <QLabel>

namespace korvinet {

void TFormMain::StartRecording() {
    if (deps_.recordingsFolder.isEmpty() || Journal)
        return;
    // While a station (or another window) records into the folder, this
    // window measures without a journal rather than mixing the two.
    auto lock = std::make_unique<JournalFolderLock>(deps_.recordingsFolder);
    QString why;
    if (!lock->TryLock(&why)) {
        RecordingStatusLbl->setText(QStringLiteral("Not recording: ") + why);
        return;
    }
    JournalLock = std::move(lock);
    Journal = std::make_unique<RecordingJournal>(deps_.recordingsFolder, deps_.regional);
    Journal->SetKeepDays(Options.RecordingKeepDays);

    const double now = deps_.clock.Now();
    const RestoredSession restored = RestoreLastSession(deps_.recordingsFolder, Counter.UnitName(),
                                                        Options.MaxSpan, now, deps_.regional);
    const int count = static_cast<int>(restored.points.size());
    if (count > 0) {
        // One repaint for all of them instead of one per point.
        Chart1->SetAutoRepaint(false);
        Chart1->SetLeftAxisTitle(Counter.UnitName());
        for (const GraphPoint& p : restored.points)
            Series1.Add(p.x, p.y, p.label, p.color);
        RefreshAverage(Series1, Series2);
        Chart1->SetAutoRepaint(true);
    }
    // A restored session goes on: should this one end uncleanly as well, the
    // next start shows its readings again together with the new ones.
    const JournalStatus started = Journal->Start(now, count > 0 ? restored.sessionStart : now);

    const auto header = [this] {
        JournalFileHeader h;
        h.device = Counter.Info().Model;
        // The entry as the list shows it, not what may have been typed over it.
        const int averaging = CountTime->currentIndex();
        h.averagingTime = averaging >= 0 ? CountTime->itemText(averaging) : QString();
        h.title = Options.GraphTitle;
        h.notes = Options.GraphNotes;
        h.bottomAxisTitle = Chart1->BottomAxisTitle();
        return h;
    };
    JournalRecorder = std::make_unique<JournalSink>(
        *Journal, header, [this](const JournalStatus& status) { ShowRecordingStatus(status); });
    Session.AddSink(*JournalRecorder);

    if (!started.ok)
        ShowRecordingStatus(started);
    else if (count > 0)
        RecordingStatusLbl->setText(RestoredReadingsText(count));
}

void TFormMain::ShowRecordingStatus(const JournalStatus& status) {
    if (status.changed)
        RecordingStatusLbl->setText(status.text);
}

} // namespace korvinet
