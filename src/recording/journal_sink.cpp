#include "recording/journal_sink.h"

#include "recording/history_store.h"

#include <utility>

namespace korvinet::recording {

JournalSink::JournalSink(RecordingJournal& journal, HeaderSource header, StatusHandler onChange,
                         HistoryStore* history)
    : journal_(journal), header_(std::move(header)), onChange_(std::move(onChange)),
      history_(history) {}

void JournalSink::OnReading(const measure::SessionReading& reading) {
    if (!reading.Ok())
        return;
    if (header_)
        journal_.SetFileHeader(header_());
    const JournalStatus status = journal_.Append(reading);
    if (history_)
        history_->Recorded(reading, status.ok);
    if (status.changed && onChange_)
        onChange_(status);
}

} // namespace korvinet::recording
