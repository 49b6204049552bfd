#pragma once

#include "device/reading.h"

#include <QString>
#include <vector>

namespace korvinet::platform {
class Regional;
} // namespace korvinet::platform

namespace korvinet::recording {

// What the journal gives back of a session that did not end cleanly.
struct RestoredSession {
    bool endedCleanly = true;  // the last session closed (or there was none): nothing to do
    double sessionStart = 0.0; // where the last session's readings begin
    std::vector<device::Reading> points; // ascending time, alarm points marked
    // The session's last readings were taken in another unit than the display
    // unit; they stay in the journal and nothing is restored.
    bool otherUnit = false;
    // Damaged lines among the restored readings' (a power cut, a disk error).
    int skippedLines = 0;
};

// The readings of the last session, if it did not end cleanly: those within
// `spanHours` before `now`, from the last unit change on (a unit change
// clears the graph), provided that unit is `displayUnitName`. Unfinished or
// damaged lines are skipped, files the journal did not write are passed by,
// and only the lines from the session's start on are read; nothing in the
// folder is changed.
RestoredSession RestoreLastSession(const QString& folder, const QString& displayUnitName,
                                   double spanHours, double now,
                                   const platform::Regional& regional);

// "Restored 120 readings from the last session", and " (3 damaged lines
// skipped)" when there were some.
QString RestoredReadingsText(int count, int skippedLines = 0);

} // namespace korvinet::recording
