#pragma once

#include "device/counter_device.h"
#include "device/reading.h"

#include <QtGlobal>
#include <optional>
#include <vector>

namespace korvinet::device {
class TCounter;
} // namespace korvinet::device

namespace korvinet::recording {

// What of a counter's own memory fills the journal's gap: the records moved
// to the computer's clock (endMs minus the counter clock's offset) that lie
// wholly after the journal's last reading (afterUtcMs) and not after now,
// oldest first. A record that begins before that reading overlaps what the
// journal holds, one that ends after now is not a time that has been, and
// one that overlaps the record kept before it contradicts it: each is
// dropped rather than guessed at, so nothing is ever journalled twice. A
// record of no time tells no rate and goes too.
std::vector<device::MemoryRecord> GapRecords(const std::vector<device::MemoryRecord>& records,
                                             std::int64_t clockOffsetMs, qint64 afterUtcMs,
                                             qint64 nowUtcMs);

// The reading of a record on the computer's clock, taken when it ended: its
// counts per minute converted as the counter converts a live sample, in its
// display unit, with the band of its own counts; dated in the local time of
// that moment. None when the rate is beyond the counter's range, as a live
// sample would have been. The alarm is a live decision and stays off.
std::optional<device::Reading> MemoryReading(const device::MemoryRecord& record,
                                             const device::TCounter& counter);

} // namespace korvinet::recording
