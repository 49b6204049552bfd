#pragma once

#include "measure/measurement_session.h"

#include <QString>
#include <cstdint>
#include <functional>

namespace korvinet::measure {

// The counter as a sink hears of it: found and opened, or lost; or the
// journal has been given what its own memory kept while nobody read it.
struct CounterEvent {
    enum class Kind { Connected, Lost, Backfilled };
    Kind kind = Kind::Connected;
    QString serial;
    QString model;
    std::uint8_t unitCode = 2;
    QString reason; // why it was lost, in the counter's words
    // Backfilled: the journal now holds `readings` readings from the
    // counter's memory, from firstUtcMs to lastUtcMs, all after the moment
    // of its reading before them (afterUtcMs), and none in between of any
    // other kind. They were handed to no sink as readings: whoever wants
    // them reads them from the journal.
    int readings = 0;
    qint64 afterUtcMs = 0;
    qint64 lastUtcMs = 0;
    qint64 firstUtcMs = 0;
};

// Where the readings go once taken: the journal, the window's graph, a
// broker, a web page, a map. The recorder hands every sink everything, in the
// order the sinks were added, within the tick.
//
// Implementations report their own failures and must not throw: what comes
// after them in the tick (the other sinks, the display) must still run.
class ReadingSink {
public:
    virtual ~ReadingSink() = default;
    // Every tick's reading, failed ones included.
    virtual void OnReading(const SessionReading& reading) = 0;
    virtual void OnCounter(const CounterEvent& event) = 0;
    // The program is ending: finish what is under way (a broker told
    // "offline", a queue written out) and then call done, exactly once; at
    // once when there is nothing to wait for.
    virtual void Stop(const std::function<void()>& done) = 0;
};

} // namespace korvinet::measure
