#include "recording/journal_reader.h"

#include "device/counter.h"
#include "platform/datetime.h"
#include "recording/journal_folder.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace korvinet::recording {

using device::TimedReading;

namespace {

constexpr qint64 kUnixEpochJulianDay = 2440588;
const qint64 kEpochJulianDay = QDate(1899, 12, 30).toJulianDay();

// The count rate is written to the decimals of the "CPM" unit.
constexpr int kCpmUnit = 1;

// A number as a sample line writes it: to the decimals of the display unit
// with this code ("OVERRANGE" for the overrange marker).
QByteArray NumberText(double value, int unitCode) {
    return device::TCounter::FormatValueOf(value, static_cast<std::int8_t>(unitCode)).toLatin1();
}

void AddValue(QByteArray* line, double value, int unitCode) {
    *line += ',';
    *line += NumberText(value, unitCode);
}

// Milliseconds since 1970-01-01 UTC of a local date and millisecond of the
// day at an offset from UTC.
qint64 UtcMsOf(const QDate& date, int msOfDay, int offsetMinutes) {
    return (date.toJulianDay() - kUnixEpochJulianDay) * 86400000 + msOfDay -
           qint64(offsetMinutes) * 60000;
}

// Digits at text[at, at + n) as a number; -1 when any is not a digit.
int Digits(QByteArrayView text, qsizetype at, int n) {
    if (at + n > text.size())
        return -1;
    int value = 0;
    for (int i = 0; i < n; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "2026-12-09T10:00:03[.120](+01:00|-05:30|Z)": the local date-time and the
// moment in UTC, without asking the system's time-zone data.
bool ParseTime(QByteArrayView text, double* local, qint64* utcMs, int* offsetSeconds) {
    const int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
    const int hour = Digits(text, 11, 2), minute = Digits(text, 14, 2),
              second = Digits(text, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0 ||
        text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || hour > 23 || minute > 59 || second > 59)
        return false;
    qsizetype at = 19;
    int ms = 0;
    if (text[at] == '.') {
        ms = Digits(text, at + 1, 3);
        if (ms < 0)
            return false;
        at += 4;
    }
    int offsetMinutes = 0;
    if (at < text.size() && text[at] == 'Z' && at + 1 == text.size()) {
        offsetMinutes = 0;
    } else {
        const int oh = Digits(text, at + 1, 2), om = Digits(text, at + 4, 2);
        if (at + 6 != text.size() || (text[at] != '+' && text[at] != '-') || oh < 0 || om < 0 ||
            text[at + 3] != ':')
            return false;
        offsetMinutes = (text[at] == '-' ? -1 : 1) * (oh * 60 + om);
    }
    const QDate date(year, month, day);
    if (!date.isValid())
        return false;
    const int msOfDay = ((hour * 60 + minute) * 60 + second) * 1000 + ms;
    *local = platform::DayAndMs{date.toJulianDay() - kEpochJulianDay, msOfDay}.DateTime();
    *utcMs = UtcMsOf(date, msOfDay, offsetMinutes);
    *offsetSeconds = offsetMinutes * 60;
    return true;
}

template <typename T> bool Number(QByteArrayView text, T* value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, *value);
    return result.ec == std::errc() && result.ptr == end;
}

// A number as its sample line reads back: rounded as NumberText writes it;
// as it is where the line holds no number (the overrange marker, a unit
// that is none).
double Rounded(double value, int unitCode) {
    const QByteArray text = NumberText(value, unitCode);
    double rounded = 0.0;
    return Number(QByteArrayView(text), &rounded) ? rounded : value;
}

// The samples files that may hold moments in [fromUtcMs, toUtcMs), a day's
// parts together: a local day reaches at most 14 hours to either side of its
// UTC day.
std::vector<std::vector<QString>> SampleFilesFor(const QString& folder, qint64 fromUtcMs,
                                                 qint64 toUtcMs) {
    const QDate first = QDateTime::fromMSecsSinceEpoch(fromUtcMs, Qt::UTC).date().addDays(-1);
    const QDate last = QDateTime::fromMSecsSinceEpoch(toUtcMs, Qt::UTC).date().addDays(1);
    std::vector<std::vector<QString>> days;
    const QDir dir(folder);
    QDate day;
    // A counter's memory fills the day's gaps: its parts are read with the
    // day's others.
    std::vector<JournalFile> files = ListJournalSamples(folder);
    const std::vector<JournalFile> memory = ListJournalSamples(folder, true);
    files.insert(files.end(), memory.begin(), memory.end());
    std::stable_sort(files.begin(), files.end(),
                     [](const JournalFile& a, const JournalFile& b) { return a.day < b.day; });
    for (const JournalFile& file : files) {
        if (file.day < first || file.day > last)
            continue;
        if (file.day != day)
            days.emplace_back();
        day = file.day;
        days.back().push_back(dir.filePath(JournalSamplesName(file.day, file.part, file.memory)));
    }
    return days;
}

} // namespace

QByteArray JournalSampleLine(const device::Reading& r) {
    QByteArray line = platform::IsoLocalTimeText(device::MomentOf(r), true).toLatin1();
    AddValue(&line, r.value, r.unitCode);
    line += ',' + QByteArray::number(r.unitCode);
    AddValue(&line, r.cpm, kCpmUnit);
    line += ',' + QByteArray::number(r.counts) + ',' + QByteArray::number(r.intervalMs);
    line += r.alarm ? ",1" : ",0";
    if (r.band) {
        AddValue(&line, r.band->low.value, r.unitCode);
        AddValue(&line, r.band->high.value, r.unitCode);
    } else {
        line += ",,";
    }
    return line + '\n';
}

TimedReading AsJournalled(const device::Reading& reading) {
    // The moment as the line's time names it: the local time to the
    // millisecond, the offset from UTC in whole minutes.
    const QDateTime moment = device::MomentOf(reading);
    const int offsetMinutes = moment.offsetFromUtc() / 60;
    TimedReading kept{reading,
                      UtcMsOf(moment.date(), moment.time().msecsSinceStartOfDay(), offsetMinutes)};
    device::Reading& r = kept.reading;
    r.time = platform::DateTimeFromQt(moment);
    r.utcOffsetSeconds = offsetMinutes * 60;
    r.value = Rounded(r.value, r.unitCode);
    r.cpm = Rounded(r.cpm, kCpmUnit);
    if (r.band) {
        r.band->low.value = Rounded(r.band->low.value, r.unitCode);
        r.band->high.value = Rounded(r.band->high.value, r.unitCode);
    }
    return kept;
}

bool ParseJournalSampleLine(QByteArrayView line, TimedReading* sample) {
    if (line.endsWith('\r'))
        line.chop(1);
    QByteArrayView fields[9];
    int n = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == ',') {
            if (n == 9)
                return false;
            fields[n++] = line.sliced(start, i - start);
            start = i + 1;
        }
    }
    device::Reading& r = sample->reading;
    r = device::Reading{};
    int unit = 0, alarm = 0, offset = 0;
    if (n != 9 || !ParseTime(fields[0], &r.time, &sample->utcMs, &offset) ||
        !Number(fields[1], &r.value) || !Number(fields[2], &unit) ||
        !device::FindDisplayUnit(unit) || !Number(fields[3], &r.cpm) ||
        !Number(fields[4], &r.counts) || !Number(fields[5], &r.intervalMs) ||
        !Number(fields[6], &alarm) || alarm < 0 || alarm > 1)
        return false;
    r.unitCode = static_cast<std::uint8_t>(unit);
    r.utcOffsetSeconds = offset;
    r.alarm = alarm == 1;
    if (!fields[7].isEmpty() || !fields[8].isEmpty()) {
        device::RateBand band;
        if (!Number(fields[7], &band.low.value) || !Number(fields[8], &band.high.value))
            return false;
        r.band = band;
    }
    return std::isfinite(r.value) && std::isfinite(r.cpm);
}

std::optional<qint64> JournalReader::LastUtcMs() const {
    std::vector<JournalFile> files = ListJournalSamples(folder_);
    const std::vector<JournalFile> memory = ListJournalSamples(folder_, true);
    files.insert(files.end(), memory.begin(), memory.end());
    std::stable_sort(files.begin(), files.end(),
                     [](const JournalFile& a, const JournalFile& b) { return a.day > b.day; });
    constexpr qint64 kTail = 4096; // far more than a line
    const QDir dir(folder_);
    std::optional<qint64> last;
    for (std::size_t i = 0; i < files.size() && (!last || files[i].day == files[i - 1].day); ++i) {
        QFile file(dir.filePath(JournalSamplesName(files[i].day, files[i].part, files[i].memory)));
        if (!file.open(QIODevice::ReadOnly) ||
            file.read(sizeof kJournalSamplesHeader - 1) != kJournalSamplesHeader ||
            !file.seek(std::max<qint64>(sizeof kJournalSamplesHeader - 1, file.size() - kTail)))
            continue;
        const QByteArray tail = file.read(kTail);
        // Whole lines only, the last that reads.
        qsizetype end = tail.lastIndexOf('\n');
        while (end > 0) {
            const qsizetype start = tail.lastIndexOf('\n', end - 1) + 1;
            TimedReading sample;
            if (ParseJournalSampleLine(QByteArrayView(tail).sliced(start, end - start), &sample)) {
                last = std::max(last.value_or(sample.utcMs), sample.utcMs);
                break;
            }
            end = start - 1;
        }
    }
    return last;
}

int JournalReader::Visit(qint64 fromUtcMs, qint64 toUtcMs,
                         const std::function<bool(const TimedReading&)>& visit) const {
    int corrupt = 0;
    if (fromUtcMs >= toUtcMs)
        return 0;
    std::vector<TimedReading> day;
    for (const std::vector<QString>& parts : SampleFilesFor(folder_, fromUtcMs, toUtcMs)) {
        day.clear();
        for (const QString& path : parts) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QByteArray bytes = file.readAll();
            // Another program's file under a samples name is no history.
            if (!bytes.startsWith(kJournalSamplesHeader))
                continue;
            // Up to the last line end: a line being written (or cut by a
            // crash) is not a reading yet.
            const qsizetype end = bytes.lastIndexOf('\n') + 1;
            for (qsizetype at = 0; at < end;) {
                const qsizetype next = bytes.indexOf('\n', at);
                const QByteArrayView line(bytes.constData() + at, next - at);
                at = next + 1;
                if (line.isEmpty() || line.front() == '#')
                    continue;
                TimedReading sample;
                if (!ParseJournalSampleLine(line, &sample))
                    ++corrupt;
                else if (sample.utcMs >= fromUtcMs && sample.utcMs < toUtcMs)
                    day.push_back(sample);
            }
        }
        // In order even if the clock was set back while recording.
        std::stable_sort(day.begin(), day.end(), [](const TimedReading& a, const TimedReading& b) {
            return a.utcMs < b.utcMs;
        });
        for (const TimedReading& sample : day)
            if (!visit(sample))
                return corrupt;
    }
    return corrupt;
}

} // namespace korvinet::recording
