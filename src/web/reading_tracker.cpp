#include "platform/datetime.h"
#include "recording/journal_reader.h"
#include "web/station_status.h"

#include <QDateTime>

namespace korvinet::web {

void ReadingTracker::OnReading(const SessionReading& s) {
    if (s.status == SessionReading::Status::Failed)
        return;
    // As the journal keeps it (values to the unit's decimals, the moment in
    // UTC), so the latest reading and the history agree to the digit.
    JournalSample kept;
    const QByteArray line = JournalSampleLine(s);
    if (s.status == SessionReading::Status::Ok &&
        ParseJournalSampleLine(QByteArrayView(line).chopped(1), &kept)) {
        latest_ = TimedReading{kept.reading, kept.utcMs};
    } else {
        latest_ = TimedReading{s, QtFromDateTime(s.time).toMSecsSinceEpoch()};
        latest_->reading.overrange = s.status == SessionReading::Status::Overrange;
    }
    ++taken_;
    counts_ += s.counts;
    countsStopped_ = s.countsStopped;
}

} // namespace korvinet::web
