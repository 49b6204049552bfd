#include "recording/recording_journal.h"

#include "device/counter.h"
#include "files/data_file.h"
#include "platform/regional.h"
#include "recording/journal_file.h"
#include "recording/journal_reader.h"

#include <QDir>
#include <QFileInfo>
#include <utility>

namespace korvinet {

RecordingJournal::RecordingJournal(QString folder, const Regional& regional)
    : folder_(std::move(folder)), regional_(regional) {}

JournalStatus RecordingJournal::Start(double now, double sessionStart) {
    sessionStart_ = sessionStart;
    lastDay_ = JournalDay(now);
    if (!QDir().mkpath(folder_)) {
        Failed(folder_, QStringLiteral("the folder cannot be created"));
        return Report(false);
    }
    stateWritten_ = WriteState(true);
    RemoveExpiredJournalFiles(folder_, lastDay_, keepDays_);
    return Report(stateWritten_);
}

JournalStatus RecordingJournal::MarkGraphCleared(double now) {
    sessionStart_ = now;
    stateWritten_ = WriteState(true);
    return Report(stateWritten_);
}

JournalStatus RecordingJournal::Close() {
    file_.Close();
    alarms_.Close();
    samples_.Close();
    stateWritten_ = false; // a reading after this would start the session again
    return Report(WriteState(false));
}

bool RecordingJournal::WriteState(bool running) {
    QString why;
    if (WriteJournalSessionState(folder_, JournalSessionState{running, sessionStart_}, &why))
        return true;
    return Failed(QDir(folder_).filePath(QStringLiteral("journal.state")), why);
}

JournalStatus RecordingJournal::Append(const Reading& reading) {
    const QString unitName = TCounter::UnitNameOf(static_cast<std::int8_t>(reading.unitCode));
    const QDate day = JournalDay(reading.time);
    if (lastDay_.isValid() && day > lastDay_)
        RemoveExpiredJournalFiles(folder_, day, keepDays_);
    if (!lastDay_.isValid() || day > lastDay_)
        lastDay_ = day;

    if ((!file_.IsOpen() || !stateWritten_) && !QDir().mkpath(folder_)) {
        Failed(folder_, QStringLiteral("the folder cannot be created"));
        return Report(false);
    }
    // A session whose start could not be marked is marked as soon as it can;
    // the reading is kept all the same.
    if (!stateWritten_)
        stateWritten_ = WriteState(true);

    if (file_.IsOpen() && (day != current_.day || unitName != currentUnit_))
        file_.Close();
    if (!file_.IsOpen() && !OpenFileFor(day, unitName))
        return Report(false);

    // The alarm goes on its list first: a crash in between leaves a listed
    // time without a reading, which marks nothing.
    const bool alarmListed = !reading.alarm || AppendAlarm(current_, reading, unitName);

    QByteArray text;
    if (needsHeader_) {
        DataFileHeader header;
        header.averagingTime = header_.averagingTime;
        header.title = header_.title;
        header.notes = header_.notes;
        header.dateSaved = reading.time;
        header.bottomAxisTitle = header_.bottomAxisTitle;
        header.leftAxisTitle = unitName;
        text = DataFileHeaderText(header_.device, unitName, header, regional_).toUtf8();
    }
    text += Line(reading);
    if (!file_.Append(text)) {
        Failed(file_.Path(), file_.Error());
        file_.Close(); // the next reading starts from a freshly opened file
        return Report(false);
    }
    needsHeader_ = false;
    const bool sampled = AppendSample(day, reading);
    return Report(alarmListed && sampled && stateWritten_);
}

bool RecordingJournal::AppendSample(QDate day, const Reading& reading) {
    const QString path = QDir(folder_).filePath(day.toString(QStringLiteral("yyyy-MM-dd")) +
                                                QStringLiteral(".samples"));
    if ((!samples_.IsOpen() || samples_.Path() != path) && !samples_.Open(path))
        return Failed(samples_.Path(), samples_.Error());
    QByteArray bytes = JournalSampleLine(reading);
    if (samples_.Size() == 0)
        bytes.prepend(kJournalSamplesHeader);
    if (!samples_.Append(bytes)) {
        Failed(samples_.Path(), samples_.Error());
        samples_.Close();
        return false;
    }
    return true;
}

// Picks the file for a reading of `day` in `unitName`: the day's last file if
// the journal began it in that unit (or stopped while beginning it),
// otherwise a new part. Whether it is the journal's own is settled from its
// front before it is opened for writing: opening cuts an unfinished last
// line, and another program's file is never touched.
bool RecordingJournal::OpenFileFor(QDate day, const QString& unitName) {
    const QDir dir(folder_);
    JournalFile last{day, 0};
    for (const JournalFile& file : ListJournalFiles(folder_))
        if (file.day == day)
            last = file;

    if (last.part > 0) {
        const JournalFileFront front = ReadJournalFileFront(dir.filePath(last.Name()));
        const bool unfinished = front.origin == JournalFileOrigin::Unfinished;
        if (unfinished || (front.origin == JournalFileOrigin::Own &&
                           front.unit.compare(unitName, Qt::CaseInsensitive) == 0)) {
            // An unfinished start is begun again.
            if (!file_.Open(dir.filePath(last.Name())) ||
                (unfinished && file_.Size() > 0 && !file_.Clear()))
                return Failed(file_.Path(), file_.Error());
            current_ = last;
            currentUnit_ = unitName;
            needsHeader_ = unfinished;
            return true;
        }
    }

    // A new part; one that has come into being since the folder was listed
    // is not the journal's either.
    for (JournalFile next{day, last.part + 1};; ++next.part) {
        // Opening cuts an unfinished last line: a name taken meanwhile is
        // passed over, never opened.
        if (QFileInfo::exists(dir.filePath(next.Name())))
            continue;
        if (!file_.Open(dir.filePath(next.Name())))
            return Failed(file_.Path(), file_.Error());
        if (file_.Size() == 0) {
            current_ = next;
            currentUnit_ = unitName;
            needsHeader_ = true;
            return true;
        }
        file_.Close();
    }
}

QByteArray RecordingJournal::Line(const Reading& reading) {
    if (!lines_ || lineUnit_ != reading.unitCode) {
        lines_ = std::make_unique<DataLineWriter>(reading.unitCode, regional_);
        lines_->SetUtf8(true); // journal files are always UTF-8
        lineUnit_ = reading.unitCode;
    }
    QByteArray line;
    lines_->Append(reading.time, reading.value, line);
    return line;
}

bool RecordingJournal::AppendAlarm(const JournalFile& file, const Reading& reading,
                                   const QString& unitName) {
    const QString path = QDir(folder_).filePath(file.AlarmsName());
    if ((!alarms_.IsOpen() || alarms_.Path() != path) && !alarms_.Open(path))
        return Failed(alarms_.Path(), alarms_.Error());
    QByteArray lines;
    if (alarms_.Size() == 0)
        lines = (header_.bottomAxisTitle + QStringLiteral(", ") + unitName).toUtf8() + "\r\n";
    lines += Line(reading);
    if (!alarms_.Append(lines)) {
        Failed(alarms_.Path(), alarms_.Error());
        alarms_.Close();
        return false;
    }
    return true;
}

bool RecordingJournal::Failed(const QString& path, const QString& why) {
    error_ = QStringLiteral("Recording to %1 failed: %2").arg(QDir::toNativeSeparators(path), why);
    return false;
}

JournalStatus RecordingJournal::Report(bool ok) {
    JournalStatus status;
    status.ok = ok;
    status.text = ok ? QString() : error_;
    status.changed = ok != lastOk_ || status.text != lastText_;
    lastOk_ = ok;
    lastText_ = status.text;
    return status;
}

} // namespace korvinet
