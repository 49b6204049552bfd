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

// A date-time cut to its whole second, as the data file's text keeps it.
double WholeSecond(double dateTime) {
    const double day = std::floor(dateTime);
    double ms = std::round((dateTime - day) * kMsPerDay);
    ms -= std::fmod(ms, 1000.0);
    return day + ms / kMsPerDay;
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
    const double from = std::max(WholeSecond(state.start), now - spanHours / 24.0) - kSlack;
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
        for (GraphPoint& point : contents.points) {
            if (!(point.x >= from) ||
                (!restored.points.empty() && point.x <= restored.points.back().x))
                continue;
            if (!SameUnit(contents.leftAxisTitle, runUnit)) {
                // A unit change cleared the graph: only what follows it counts.
                restored.points.clear();
                runUnit = contents.leftAxisTitle;
            }
            while (alarm < alarms.points.size() && alarms.points[alarm].x < point.x - kSlack)
                ++alarm;
            if (alarm < alarms.points.size() && alarms.points[alarm].x <= point.x + kSlack)
                point.color = kColorRed;
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
