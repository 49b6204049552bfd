#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace korvinet::device {

// What a counter counted since the previous sample (or since it was opened
// or restarted), and the milliseconds those counts cover where the counter
// can tell: a counter that reports counts of its own periods (a text line a
// second) or answers with a running total at known times measures its
// interval where the counts were received. A counter that sends nothing but
// pulses leaves ms empty, and the sample covers the time since the previous
// one on the sampler's clock.
struct CounterSample {
    std::uint32_t counts = 0;
    std::optional<std::uint32_t> ms;
};

// How counts become a dose rate: the sensitivity in counts per minute for
// 1 mR/hr (1 mR/hr = 10 µSv/hr in this program) and the dead time, with
// where the figures come from ("EEPROM", "tube SBM-20", ...).
struct CounterCalibration {
    double sensitivity = 0.0; // CPM per mR/hr
    double deadTime = 0.0;    // seconds
    QString source;
};

// What a counter tells of itself once it is open.
struct CounterFacts {
    QString kind;   // the kind's name as lists show it: "Text-line counter"
    QString model;  // the model or description it reports
    QString serial; // its serial number, or the port path where it has none
    QString port;   // "COM4", "/dev/ttyUSB0"; the description where there is no port
    std::int32_t comPort = 0;
    std::int32_t range = 0; // in mR/hr; 0: the counter states none
    bool speaker = false;
    std::uint8_t detectionFlags = 0;
    std::int8_t accuracy = 0;
};

// A line about the link to the counter, where its kind has one: lines that
// did not read and were skipped.
struct CounterLinkStatus {
    std::uint64_t bytes = 0;   // received since it was opened
    std::uint64_t lines = 0;   // lines read as readings
    std::uint64_t skipped = 0; // lines that did not read
};

// One stretch of a counter's own memory: the counts of the interval of ms
// milliseconds that ended at endMs, on the counter's own clock (milliseconds
// since 1970-01-01 UTC as the counter keeps time; subtract the clock's offset
// for the computer's).
struct MemoryRecord {
    std::int64_t endMs = 0;
    std::uint32_t ms = 0;
    std::uint32_t counts = 0;
    bool operator==(const MemoryRecord&) const = default;
};

// The memory of a counter that logs its counts while nobody reads it (a
// data log, a history in flash), and the clock those logs are kept by.
class CounterMemory {
public:
    virtual ~CounterMemory() = default;
    // The counter's clock minus the computer's, in milliseconds, measured
    // when the counter was opened (to the counter's resolution, a second).
    virtual std::int64_t ClockOffsetMs() const = 0;
    // The records of the intervals that end after sinceMs (on the counter's
    // clock), oldest first, read from the counter now: a transfer that takes
    // as long as the memory is large, between two samples. Intervals across
    // a break in the log (the counter switched off, its clock set) are not
    // records: their counts are unknown. False with why when the counter did
    // not answer; the counter is then to be closed.
    [[nodiscard]] virtual bool ReadSince(std::int64_t sinceMs, std::vector<MemoryRecord>* records,
                                         QString* why) = 0;
};

// One counter of some kind, below the measuring engine: TCounter keeps the
// histories, the averaging and the conversions, and drives one of these.
// Each kind of counter (one driver, one protocol) is one implementation.
class CounterDevice {
public:
    enum class OpenResult {
        Opened,
        NotOpened, // nothing was opened; nothing to close
        Closed,    // it was opened, failed while being set up and is closed again
    };

    virtual ~CounterDevice() = default;

    // Opens the counter, learns what it says of itself and starts its count
    // afresh. Unless Opened, error holds the whole message to show.
    [[nodiscard]] virtual OpenResult Open(QString* error) = 0;
    // Forgets what was counted so far: the next sample starts now. False
    // when the counter failed (it is then to be closed).
    [[nodiscard]] virtual bool Restart() = 0;
    // Takes what was counted since the last sample. False when no sample
    // could be taken (the counter is then to be closed); why may name the
    // reason, or stay empty for the common one.
    [[nodiscard]] virtual bool Sample(CounterSample* sample, QString* why) = 0;
    // The speaker clicks at every count, or not; only asked of a counter
    // whose facts say it has one.
    [[nodiscard]] virtual bool SetBeep(bool on) = 0;
    [[nodiscard]] virtual bool Close() = 0;

    virtual const CounterFacts& Facts() const = 0;
    // The calibration the counter carries itself; none for one that cannot
    // tell, whose user chooses a tube or a factor instead.
    virtual std::optional<CounterCalibration> OwnCalibration() const = 0;
    virtual CounterLinkStatus LinkStatus() const = 0;
    // Its memory and clock, while it is open; null for a counter without.
    virtual CounterMemory* Memory() = 0;
};

// One counter as a search finds it.
struct ListedCounter {
    QString name;   // as the device list shows it
    QString serial; // with description, what tells one listed counter from another
    QString description;
    QString address; // how its finder opens it: a driver index, a port path
    QString port;    // the port path, where it has one
    // The user's calibration for it, where it carries none of its own.
    std::optional<CounterCalibration> chosen;
};

// Finds the attached counters of the kinds it knows and makes the device
// that drives one of them.
class CounterFinder {
public:
    virtual ~CounterFinder() = default;
    virtual std::vector<ListedCounter> List() = 0;
    virtual std::unique_ptr<CounterDevice> Make(const ListedCounter& counter) = 0;
};

} // namespace korvinet::device
