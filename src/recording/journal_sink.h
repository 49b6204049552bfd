#pragma once

#include "measure/reading_sink.h"
#include "recording/recording_journal.h"

#include <functional>

namespace korvinet::recording {

class HistoryStore;

// Records a measurement session in a recording journal: added to the session
// as a sink, it appends every reading taken (every tick that adds a point to
// the graph) within that tick, in the unit it was taken in. Failed and
// overrange ticks add no point and write nothing.
//
// A journal failure never reaches the session: it is handed to `onChange`
// once, when the journal's status changes (failing, failing differently,
// working again), and the next reading tries again.
class JournalSink final : public measure::ReadingSink {
public:
    // What the header block of a file started now says (device, averaging
    // time, title, notes); asked before every reading, since the journal alone
    // knows when a file starts.
    using HeaderSource = std::function<JournalFileHeader()>;
    using StatusHandler = std::function<void(const JournalStatus&)>;

    // `journal` (and `history`, which hears of every reading right after the
    // journal) outlives the sink; either function may be empty.
    JournalSink(RecordingJournal& journal, HeaderSource header, StatusHandler onChange,
                HistoryStore* history = nullptr);

    void OnReading(const measure::SessionReading& reading) override;
    void OnCounter(const measure::CounterEvent&) override {}
    void Stop(const std::function<void()>& done) override { done(); }

private:
    RecordingJournal& journal_;
    HeaderSource header_;
    StatusHandler onChange_;
    HistoryStore* history_;
};

} // namespace korvinet::recording
