#pragma once

#include "platform/datetime.h"

#include <QDateTime>
#include <cstdint>
#include <optional>

namespace korvinet::device {

// A bound that may have been capped: near saturation the dead-time factor is
// limited, and a value computed with the cap reads "at least".
struct BoundedValue {
    double value = 0.0;
    bool capped = false; // the true value is higher
};

// The 95 % band of a rate in a display unit.
struct RateBand {
    BoundedValue low;
    BoundedValue high;
};

// One reading as a plain value, the way everything below the window hands it
// on: the measuring session makes it, the journal keeps it, the sinks publish
// it, the data files save it and the graph draws it. How it looks on screen
// (colours, time-of-day labels) is decided where it is drawn.
struct Reading {
    // Local date-time, days since 30 December 1899 (see platform/datetime.h).
    double time = 0.0;
    // The offset from UTC in force when it was taken; none for a reading read
    // back from a data file, which keeps local time only.
    std::optional<std::int32_t> utcOffsetSeconds;
    // In the display unit; TCounter::kOverrange (-1) when overrange.
    double value = 0.0;
    std::uint8_t unitCode = 2; // the display unit's code (kDisplayUnits)
    // Counts per minute over the averaging window, without dead-time
    // correction; the overrange marker when overrange.
    double cpm = 0.0;
    std::uint32_t counts = 0;     // counts in this sample
    std::uint32_t intervalMs = 0; // milliseconds this sample covers
    bool alarm = false;           // the alarm is on, by the rule in force
    bool overrange = false;
    // The 95 % band of the rate over the averaging window, in the display
    // unit; none where it is not known (overrange, or a reading read back
    // from a file that does not keep it).
    std::optional<RateBand> band;
};

// A reading and the moment it names, milliseconds since 1970-01-01 UTC: as
// the journal reads it back and the station's web site serves it, which
// order and page readings by the moment, not by the local time.
struct TimedReading {
    Reading reading;
    qint64 utcMs = 0;
};

// The moment a reading was taken, with its offset where known.
inline QDateTime MomentOf(const Reading& reading) {
    return reading.utcOffsetSeconds
               ? platform::QtFromDateTime(reading.time, *reading.utcOffsetSeconds)
               : platform::QtFromDateTime(reading.time);
}

} // namespace korvinet::device
