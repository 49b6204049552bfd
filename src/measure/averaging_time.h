#pragma once

#include <QString>
#include <QStringList>

namespace korvinet::measure {

// The sampling interval never changes; the averaging time only says how many
// of the newest 3-second samples make up the count rate.
constexpr int kSampleIntervalMs = 3000;
constexpr int kProgressStepMs = 250;

// The entries of the averaging time list, shortest first.
const QStringList& CountTimeEntries();

// Samples covered by an averaging time entry such as "45 seconds" or
// "3 minutes": its leading whole number (0 when there is none), times 60 when
// the text names minutes, divided by the sample interval in seconds.
int AveragingWindowFor(const QString& entryText, int intervalMs = kSampleIntervalMs);

} // namespace korvinet::measure
