#include "recording/journal_restore.h"

#include "files/data_file.h"
#include "platform/datetime.h"
#include "recording/journal_file.h"
#include "recording/journal_folder.h"

#include <QDir>
#include <cmath>

namespace korvinet::recording {

namespace {

bool SameUnit(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

RestoredSession RestoreLastSession(const QString& folder, const QString& displayUnitName,
                                   double spanHours, double now,
                                   const platform::Regional& regional) {
    RestoredSession restored;
    const JournalSessionState state = ReadJournalSessionState(folder);
    if (!state.running)
        return restored;
    restored.endedCleanly = false;
    restored.sessionStart = state.start;

    // Half a millisecond of slack against rounding in the last bit.
    constexpr double kSlack = 0.5 / platform::kMsPerDay;
    const double from = std::max(platform::SplitDateTime(state.start).WholeSecond().DateTime(),
                                 now - spanHours / 24.0) -
                        kSlack;
    const QDate firstDay = JournalDay(from);
    const QDir dir(folder);
    QString runUnit;
    for (const JournalFile& file : ListJournalFiles(folder)) {
        if (file.day < firstDay)
            continue;
        // Only what the journal wrote itself, and of that only the lines from
        // the session's start on: a day's file may be huge.
        const QString path = dir.filePath(file.Name());
        files::DataFileContents contents;
        if (ReadJournalFileFront(path).origin != JournalFileOrigin::Own ||
            !ReadDataFileFrom(path, from, regional, &contents))
            continue;
        files::DataFileContents alarms;
        ReadDataFileFrom(dir.filePath(file.AlarmsName()), from - kSlack, regional, &alarms);
        std::size_t alarm = 0;
        for (device::Reading& point : contents.points) {
            if (!(point.time >= from) ||
                (!restored.points.empty() && point.time <= restored.points.back().time))
                continue;
            if (!SameUnit(contents.leftAxisTitle, runUnit)) {
                // A unit change cleared the graph: only what follows it counts.
                restored.points.clear();
                restored.skippedLines = 0;
                runUnit = contents.leftAxisTitle;
            }
            while (alarm < alarms.points.size() && alarms.points[alarm].time < point.time - kSlack)
                ++alarm;
            point.alarm =
                alarm < alarms.points.size() && alarms.points[alarm].time <= point.time + kSlack;
            restored.points.push_back(std::move(point));
        }
        restored.skippedLines += contents.corruptLines;
    }
    if (!restored.points.empty() && !SameUnit(runUnit, displayUnitName)) {
        restored.points.clear();
        restored.skippedLines = 0;
        restored.otherUnit = true;
    }
    return restored;
}

QString RestoredReadingsText(int count, int skippedLines) {
    QString text = QStringLiteral("Restored %1 readings from the last session").arg(count);
    if (skippedLines > 0)
        text += skippedLines == 1 ? QStringLiteral(" (1 damaged line skipped)")
                                  : QStringLiteral(" (%1 damaged lines skipped)").arg(skippedLines);
    return text;
}

} // namespace korvinet::recording
