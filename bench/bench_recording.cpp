// One reading appended to the recording journal, including the data sync that
// makes it survive a crash or a power cut. The goal is under 1 ms on the
// development machine's disk, so the sampling tick never waits noticeably.
// The journal folder is made in the current folder, not in the temporary
// folder, which may live in memory.
#include "platform/regional.h"
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
    const Regional regional{QLocale::c()};
    const QTemporaryDir dir(QDir::current().filePath(QStringLiteral("journal-bench-XXXXXX")));
    RecordingJournal journal(dir.path(), regional);
    double now = 40982.375; // 2012-03-14 09:00
    journal.SetFileHeader({QStringLiteral("KVT-PULSE1"), QStringLiteral("45 seconds"),
                           QStringLiteral("Radiation vs. Time"), QString()});
    if (!journal.Start(now, now).ok) {
        state.SkipWithError("the journal folder cannot be written");
        return;
    }
    Reading entry;
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

#ifndef _WIN32
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
