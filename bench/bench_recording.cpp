// One reading appended to the recording journal, including the data sync that
// makes it survive a crash or a power cut. The goal is under 1 ms on the
// development machine's disk, so the sampling tick never waits noticeably.
// A start after a crash beside a huge day file: under 1 s and under 100 MB
// of memory more.
// The journal folder is made in the current folder, not in the temporary
// folder, which may live in memory.
#include "bench_memory.h"
#include "platform/datetime.h"
#include "platform/regional.h"
#include "recording/history_store.h"
#include "recording/journal_restore.h"
#include "recording/recording_journal.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

using namespace korvinet;

void BM_JournalAppend(benchmark::State& state) {
    const platform::Regional regional{QLocale::c()};
    const QTemporaryDir dir(QDir::current().filePath(QStringLiteral("journal-bench-XXXXXX")));
    recording::RecordingJournal journal(dir.path(), regional);
    double now = 40982.375; // 2012-03-14 09:00
    journal.SetFileHeader({QStringLiteral("KVT-PULSE1"), QStringLiteral("45 seconds"),
                           QStringLiteral("Radiation vs. Time"), QString()});
    if (!journal.Start(now, now).ok) {
        state.SkipWithError("the journal folder cannot be written");
        return;
    }
    device::Reading entry;
    entry.time = now;
    entry.value = 0.012;
    entry.cpm = 7.2;
    entry.counts = 3;
    entry.intervalMs = 3000;
    for (auto _ : state) {
        entry.time += 1.0 / 86400.0;
        if (!journal.Append(entry).ok) {
            state.SkipWithError("append failed");
            break;
        }
    }
}
BENCHMARK(BM_JournalAppend)->Unit(benchmark::kMicrosecond);

// A day of a counter's memory, a record a minute, filling the journal's gap
// when the counter is connected: its memory parts written and the history's
// summaries made again from the gap's hour. The window waits for it before
// its next sample, so the goal is well under a second.
void BM_BackfillDay(benchmark::State& state) {
    const platform::Regional regional{QLocale::c()};
    std::vector<device::Reading> day(1440);
    for (std::size_t minute = 0; minute < day.size(); ++minute) {
        day[minute].time = 40982.0 + double(minute) / 1440.0; // 2012-03-14
        day[minute].value = 0.012;
        day[minute].cpm = day[minute].counts = 30;
        day[minute].intervalMs = 60000;
    }
    for (auto _ : state) {
        state.PauseTiming();
        const QTemporaryDir dir(QDir::current().filePath(QStringLiteral("journal-bench-XXXXXX")));
        recording::HistoryStore history(dir.path());
        QString why;
        recording::RecordingJournal memory(dir.path(), regional, true);
        if (!history.Open(0, &why)) {
            state.SkipWithError("the history cannot be kept");
            return;
        }
        state.ResumeTiming();
        history.Rewind(0);
        std::size_t written = 0;
        if (!memory.AppendMany(day, &written).ok) {
            state.SkipWithError("append failed");
            return;
        }
        history.TakeLate(platform::QtFromDateTime(40983.0).toMSecsSinceEpoch()); // the day after
    }
}
BENCHMARK(BM_BackfillDay)->Unit(benchmark::kMillisecond);

#ifndef _WIN32
using bench::MemoryKb;
using bench::ResetPeakMemory;

// The start of the window or the station after a crash when today's file is
// 205 MB: the restore of the last session (an hour of readings at the file's
// end) and the journal's first reading, which opens that file again. The file
// grows by one reading per iteration. Counters: the restored readings and the
// peak memory above what the process held before (MB).
void BM_StartAfterCrashWithLargeDayFile(benchmark::State& state) {
    constexpr double kSecond = 1.0 / 86400.0;
    constexpr double kNineOClock = 40982.375; // 2012-03-14 09:00
    const platform::Regional regional{QLocale::c()};
    const QTemporaryDir dir(QDir::current().filePath(QStringLiteral("journal-bench-XXXXXX")));
    const QString mr = QStringLiteral("mR/hr");
    device::Reading entry;
    entry.time = kNineOClock - 9 * 3600 * kSecond; // midnight
    {
        // The day's first session began the file...
        recording::RecordingJournal journal(dir.path(), regional);
        if (!journal.Start(entry.time, entry.time).ok || !journal.Append(entry).ok) {
            state.SkipWithError("the journal folder cannot be written");
            return;
        }
        journal.Close();
    }
    {
        // ...and the morning's readings, again and again, fill it to 205 MB.
        QFile day(QDir(dir.path()).filePath(QStringLiteral("2012-03-14.csv")));
        if (!day.open(QIODevice::Append)) {
            state.SkipWithError("the day file cannot be written");
            return;
        }
        QByteArray morning;
        for (int s = 1; s < 9 * 3600; s += 3)
            morning += QStringLiteral("3/14/2012 %1:%2:%3 AM, 0.012\r\n")
                           .arg(s / 3600 == 0 ? 12 : s / 3600)
                           .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                           .arg(s % 60, 2, 10, QLatin1Char('0'))
                           .toLatin1();
        while (day.size() < 205 * 1000 * 1000)
            if (day.write(morning) != morning.size()) {
                state.SkipWithError("the day file cannot be written");
                return;
            }
    }
    // The last session: an hour from 9:00, then a crash (no Close()).
    entry.time = kNineOClock;
    {
        recording::RecordingJournal journal(dir.path(), regional);
        if (!journal.Start(entry.time, entry.time).ok) {
            state.SkipWithError("the journal cannot start");
            return;
        }
        for (int i = 0; i < 1200; ++i) {
            entry.time += 3 * kSecond;
            if (!journal.Append(entry).ok) {
                state.SkipWithError("append failed");
                return;
            }
        }
    }
    ResetPeakMemory();
    const long before = MemoryKb("VmRSS:");
    std::size_t restored = 0;
    for (auto _ : state) {
        entry.time += 3 * kSecond;
        const double now = entry.time;
        const recording::RestoredSession session =
            recording::RestoreLastSession(dir.path(), mr, 48.0, now, regional);
        recording::RecordingJournal journal(dir.path(), regional);
        if (!journal.Start(now, session.sessionStart).ok || !journal.Append(entry).ok) {
            state.SkipWithError("the journal cannot go on");
            break;
        }
        restored = session.points.size();
    }
    state.counters["restored"] = static_cast<double>(restored);
    state.counters["extra_MB"] = static_cast<double>(MemoryKb("VmHWM:") - before) / 1024.0;
}
BENCHMARK(BM_StartAfterCrashWithLargeDayFile)->Unit(benchmark::kMillisecond);

// The disk's own floor beside it: one journal-sized line appended to a plain
// file and made durable, by fdatasync (0) or by opening the file O_DSYNC (1).
// What BM_JournalAppend takes beyond this is the journal's own work.
void BM_LineDataSync(benchmark::State& state) {
    const bool dsync = state.range(0) == 1;
    const QTemporaryDir dir(QDir::current().filePath(QStringLiteral("journal-bench-XXXXXX")));
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("lines.csv")));
    const int fd =
        ::open(path.constData(), O_WRONLY | O_CREAT | O_APPEND | (dsync ? O_DSYNC : 0), 0644);
    if (fd < 0) {
        state.SkipWithError("the file cannot be created");
        return;
    }
    static constexpr char kLine[] = "3/14/2012 9:00:03 AM, 0.012\r\n";
    for (auto _ : state) {
        if (::write(fd, kLine, sizeof kLine - 1) != sizeof kLine - 1 ||
            (!dsync && ::fdatasync(fd) != 0)) {
            state.SkipWithError("write failed");
            break;
        }
    }
    ::close(fd);
}
BENCHMARK(BM_LineDataSync)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
#endif

} // namespace
