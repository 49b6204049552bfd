// One reading appended to the recording journal, including the data sync that
// makes it survive a crash or a power cut. The goal is under 1 ms on the
// development machine's disk, so the sampling tick never waits noticeably.
// The journal folder is made in the current folder, not in the temporary
// folder, which may live in memory.
#include "platform/regional.h"
#include "recording/recording_journal.h"

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

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
    JournalEntry entry{now, QStringLiteral("mR/hr"), QStringLiteral("0.012"), false};
    for (auto _ : state) {
        entry.time += 1.0 / 86400.0;
        if (!journal.Append(entry).ok) {
            state.SkipWithError("append failed");
            break;
        }
    }
}
BENCHMARK(BM_JournalAppend)->Unit(benchmark::kMicrosecond);

} // namespace
