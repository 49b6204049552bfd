#include "recording/journal_restore.h"

#include "files/data_file.h"
#include "platform/datetime.h"
#include "recording/journal_folder.h"

#include <QDir>
#include <QFile>
#include <cmath>

namespace korvinet {

namespace {

// The whole lines of a data file; an unfinished last line is left out, as the
// journal cuts it off before writing on.
bool ReadWholeLines(const QString& path, const Regional& regional, DataFileContents* contents) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = file.readAll();
    bytes.truncate(bytes.lastIndexOf('\n') + 1);
    return ParseDataFile(bytes, {}, regional, contents);
}

bool SameUnit(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

RestoredSession RestoreLastSession(const QString& folder, const QString& displayUnitName,
                                   double spanHours, double now, const Regional& regional) {
    RestoredSession restored;
    const JournalSessionState state = ReadJournalSessionState(folder);
    if (!state.running)
        return restored;
    restored.endedCleanly = false;
    restored.sessionStart = state.start;

    // Half a millisecond of slack against rounding in the last bit.
    constexpr double kSlack = 0.5 / kMsPerDay;
    const double from =
        std::max(SplitDateTime(state.start).WholeSecond().DateTime(), now - spanHours / 24.0) -
        kSlack;
    const QDate firstDay = JournalDay(from);
    const QDir dir(folder);
    QString runUnit;
    for (const JournalFile& file : ListJournalFiles(folder)) {
        if (file.day < firstDay)
            continue;
        DataFileContents contents;
        if (!ReadWholeLines(dir.filePath(file.Name()), regional, &contents))
            continue;
        DataFileContents alarms;
        ReadWholeLines(dir.filePath(file.AlarmsName()), regional, &alarms);
        std::size_t alarm = 0;
        for (Reading& point : contents.points) {
            if (!(point.time >= from) ||
                (!restored.points.empty() && point.time <= restored.points.back().time))
                continue;
            if (!SameUnit(contents.leftAxisTitle, runUnit)) {
                // A unit change cleared the graph: only what follows it counts.
                restored.points.clear();
                runUnit = contents.leftAxisTitle;
            }
            while (alarm < alarms.points.size() && alarms.points[alarm].time < point.time - kSlack)
                ++alarm;
            point.alarm =
                alarm < alarms.points.size() && alarms.points[alarm].time <= point.time + kSlack;
            restored.points.push_back(std::move(point));
        }
    }
    if (!restored.points.empty() && !SameUnit(runUnit, displayUnitName)) {
        restored.points.clear();
        restored.otherUnit = true;
    }
    return restored;
}

QString RestoredReadingsText(int count) {
    return QStringLiteral("Restored %1 readings from the last session").arg(count);
}

} // namespace korvinet
