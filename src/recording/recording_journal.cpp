#include "recording/recording_journal.h"

#include "device/counter.h"
#include "files/data_file.h"
#include "platform/regional.h"
#include "recording/journal_file.h"
#include "recording/journal_reader.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <utility>

namespace korvinet::recording {

using device::Reading;

RecordingJournal::RecordingJournal(QString folder, const platform::Regional& regional, bool memory)
    : folder_(std::move(folder)), regional_(regional), memory_(memory), stateWritten_(memory) {}

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
    if (memory_)
        return true; // the session's state is the other journal's
    QString why;
    if (WriteJournalSessionState(folder_, JournalSessionState{running, sessionStart_}, &why))
        return true;
    return Failed(QDir(folder_).filePath(QStringLiteral("journal.state")), why);
}

JournalStatus RecordingJournal::Append(const Reading& reading) {
    return AppendRun(std::span(&reading, 1));
}

JournalStatus RecordingJournal::AppendMany(const std::vector<Reading>& readings,
                                           std::size_t* written) {
    *written = 0;
    JournalStatus status = Report(true);
    for (std::size_t i = 0, j = 0; i < readings.size(); i = j) {
        const QDate day = JournalDay(readings[i].time);
        for (j = i + 1; j < readings.size() && readings[j].unitCode == readings[i].unitCode &&
                        JournalDay(readings[j].time) == day;
             ++j) {
        }
        status = AppendRun(std::span(readings).subspan(i, j - i));
        if (!status.ok)
            break;
        *written = j;
    }
    return status;
}

// Readings of one day and unit, in time order, written together: each file
// synced once for all of them.
JournalStatus RecordingJournal::AppendRun(std::span<const Reading> readings) {
    const Reading& first = readings.front();
    const QString unitName = device::TCounter::UnitNameOf(static_cast<std::int8_t>(first.unitCode));
    const QDate day = JournalDay(first.time);
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
    if (!file_.IsOpen() && !OpenFileFor(day, unitName, first.time))
        return Report(false);

    // The alarm goes on its list first: a crash in between leaves a listed
    // time without a reading, which marks nothing.
    bool alarmListed = true;
    for (const Reading& reading : readings)
        alarmListed = (!reading.alarm || AppendAlarm(reading)) && alarmListed;

    // Then the sample and the data file's line, as one step: the sample is
    // taken back when the line cannot follow (a full disk), so that neither
    // file holds a reading the other lacks.
    qint64 samplesBefore = 0;
    if (!AppendSamples(day, readings, &samplesBefore)) {
        // Said of the day's file, whose reading went unrecorded with it.
        Failed(file_.Path(), samples_.Error());
        return Report(false);
    }
    QByteArray text;
    if (needsHeader_) {
        files::DataFileHeader header;
        header.averagingTime = header_.averagingTime;
        header.title = header_.title;
        header.notes = header_.notes;
        header.dateSaved = first.time;
        header.bottomAxisTitle = header_.bottomAxisTitle;
        header.leftAxisTitle = unitName;
        text = files::DataFileHeaderText(header_.device, unitName, header, regional_).toUtf8();
    }
    for (const Reading& reading : readings)
        text += Line(reading);
    if (!file_.Append(text)) {
        Failed(file_.Path(), file_.Error());
        file_.Close(); // the next reading starts from a freshly opened file
        if (!samples_.CutTo(samplesBefore))
            samples_.Close(); // taken back when opened again
        return Report(false);
    }
    needsHeader_ = false;
    return Report(alarmListed && stateWritten_);
}

bool RecordingJournal::AppendSamples(QDate day, std::span<const Reading> readings,
                                     qint64* sizeBefore) {
    if ((!samples_.IsOpen() || samplesDay_ != day) && !OpenSamplesFor(day))
        return false;
    QByteArray bytes;
    if (samples_.Size() == 0)
        bytes = kJournalSamplesHeader;
    for (const Reading& reading : readings)
        bytes += JournalSampleLine(reading);
    *sizeBefore = samples_.Size();
    if (!samples_.Append(bytes)) {
        samples_.Close();
        return false;
    }
    return true;
}

// The day's last samples file if the journal began it and can still write
// to it, otherwise a new part. Whose it is is settled from its front before
// it is opened, as for the data files.
bool RecordingJournal::OpenSamplesFor(QDate day) {
    const QDir dir(folder_);
    int last = 0;
    for (const JournalFile& file : ListJournalSamples(folder_, memory_))
        if (file.day == day)
            last = file.part;
    samplesDay_ = day;
    if (last > 0) {
        const QString path = dir.filePath(JournalSamplesName(day, last, memory_));
        if (ReadJournalSamplesOrigin(path) != JournalFileOrigin::Foreign && samples_.Open(path)) {
            TakeBackUnrecordedSample(day);
            return true;
        }
    }
    for (int part = last + 1;; ++part) {
        const QString path = dir.filePath(JournalSamplesName(day, part, memory_));
        if (QFileInfo::exists(path))
            continue; // taken meanwhile: passed over, never opened
        if (!samples_.Open(path))
            return false;
        if (samples_.Size() == 0)
            return true;
        samples_.Close();
    }
}

// A crash between a sample and its data file line leaves a sample whose
// reading the data file lacks. It is taken back, as a line that fails takes
// it back, so that both files hold the same readings; but only where the
// data files show it for certain: none of the day's parts is the journal's,
// the last of them is in another unit, or its last line was taken before
// the sample's second.
void RecordingJournal::TakeBackUnrecordedSample(QDate day) {
    QFile file(samples_.Path());
    const qint64 size = samples_.Size();
    constexpr qint64 kTail = 4096; // far more than a line
    if (size == 0 || !file.open(QIODevice::ReadOnly) ||
        !file.seek(std::max<qint64>(0, size - kTail)))
        return;
    const QByteArray tail = file.read(kTail);
    if (tail.size() != std::min(size, kTail) || !tail.endsWith('\n'))
        return;
    const QByteArrayView line =
        QByteArrayView(tail).chopped(1).sliced(tail.lastIndexOf('\n', tail.size() - 2) + 1);
    device::TimedReading sample;
    if (!ParseJournalSampleLine(line, &sample))
        return;

    const QDir dir(folder_);
    const std::vector<JournalFile> files = ListJournalFiles(folder_, memory_);
    for (auto part = files.rbegin(); part != files.rend(); ++part) {
        if (part->day != day)
            continue;
        const QString path = dir.filePath(part->Name());
        const JournalFileFront front = ReadJournalFileFront(path);
        if (front.origin != JournalFileOrigin::Own)
            continue;
        if (front.unit.compare(
                device::TCounter::UnitNameOf(static_cast<std::int8_t>(sample.reading.unitCode)),
                Qt::CaseInsensitive) == 0) {
            const std::optional<double> last = LastDataFileTime(path, front, regional_);
            if (!last || *last > sample.reading.time - 1.0 / 86400.0)
                return; // there, or not known for certain
        }
        break;
    }
    if (!samples_.CutTo(size - line.size() - 1))
        samples_.Close();
}

// Picks the file for a reading of `day` in `unitName`: the day's last file if
// the journal began it in that unit (or stopped while beginning it), and its
// alarm list if there is one, otherwise a new part. Whether they are the
// journal's own is settled from their fronts before they are opened for
// writing: opening cuts an unfinished last line, and another program's file
// is never touched.
bool RecordingJournal::OpenFileFor(QDate day, const QString& unitName, double time) {
    const QDir dir(folder_);
    JournalFile last{day, 0, memory_};
    for (const JournalFile& file : ListJournalFiles(folder_, memory_))
        if (file.day == day)
            last = file;
    const QString newColumns = header_.bottomAxisTitle + QStringLiteral(", ") + unitName;

    if (last.part > 0) {
        const JournalFileFront front = ReadJournalFileFront(dir.filePath(last.Name()));
        const bool unfinished = front.origin == JournalFileOrigin::Unfinished;
        const QString columns = unfinished ? newColumns : front.columns;
        // A memory read later may reach back before what an earlier one
        // wrote (the counter's clock was set back): its own part then.
        const auto ascending = [&] {
            if (!memory_ || unfinished)
                return true;
            const std::optional<double> lastTime =
                LastDataFileTime(dir.filePath(last.Name()), front, regional_);
            return lastTime && *lastTime < time;
        };
        if ((unfinished || (front.origin == JournalFileOrigin::Own &&
                            front.unit.compare(unitName, Qt::CaseInsensitive) == 0)) &&
            AlarmListBelongs(dir.filePath(last.AlarmsName()), columns) && ascending()) {
            // An unfinished start is begun again.
            if (file_.Open(dir.filePath(last.Name())) &&
                (!unfinished || file_.Size() == 0 || file_.Clear())) {
                current_ = last;
                currentUnit_ = unitName;
                currentColumns_ = columns;
                needsHeader_ = unfinished;
                return true;
            }
            // One it can no longer write to (its permissions changed, say)
            // is followed by a new part, not by a day of nothing recorded.
            Failed(file_.Path(), file_.Error());
            file_.Close();
        }
    }

    // A new part; one that has come into being since the folder was listed
    // is not the journal's either, nor is an alarm list found under its name.
    for (JournalFile next{day, last.part + 1, memory_};; ++next.part) {
        // Opening cuts an unfinished last line: a name taken meanwhile is
        // passed over, never opened.
        if (QFileInfo::exists(dir.filePath(next.Name())) ||
            QFileInfo::exists(dir.filePath(next.AlarmsName())))
            continue;
        if (!file_.Open(dir.filePath(next.Name())))
            return Failed(file_.Path(), file_.Error());
        if (file_.Size() == 0) {
            current_ = next;
            currentUnit_ = unitName;
            currentColumns_ = newColumns;
            needsHeader_ = true;
            return true;
        }
        file_.Close();
    }
}

QByteArray RecordingJournal::Line(const Reading& reading) {
    if (!lines_ || lineUnit_ != reading.unitCode) {
        lines_ = std::make_unique<files::DataLineWriter>(reading.unitCode, regional_);
        lines_->SetUtf8(true); // journal files are always UTF-8
        lineUnit_ = reading.unitCode;
    }
    QByteArray line;
    lines_->Append(reading.time, reading.value, line);
    return line;
}

bool RecordingJournal::AppendAlarm(const Reading& reading) {
    const QString path = QDir(folder_).filePath(current_.AlarmsName());
    if (!alarms_.IsOpen() || alarms_.Path() != path) {
        // Checked again as it is opened: one put there meanwhile is not the
        // journal's either.
        if (!AlarmListBelongs(path, currentColumns_))
            return Failed(path, QStringLiteral("another program's file is in its place"));
        if (!alarms_.Open(path))
            return Failed(alarms_.Path(), alarms_.Error());
    }
    QByteArray lines;
    if (alarms_.Size() == 0)
        lines = currentColumns_.toUtf8() + "\r\n";
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

} // namespace korvinet::recording
