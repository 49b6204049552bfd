// Loading settings stores far larger than the program ever writes: 100,000
// values, and one value continued over 4 MiB of lines. The goal is well under
// a second for each, so that no file a user may hand us holds up the start.
#include "settings/reg_file_store.h"

#include <benchmark/benchmark.h>

namespace {

using korvinet::settings::RegFileSettingsStore;

QByteArray Header() {
    return "Windows Registry Editor Version 5.00\n\n[" + RegFileSettingsStore::kKeyPath.toUtf8() +
           "]\n";
}

void Load(benchmark::State& state, const QByteArray& bytes, const QString& probe) {
    for (auto _ : state) {
        const auto key = RegFileSettingsStore::ReadKey(bytes, RegFileSettingsStore::kKeyPath);
        if (!key || !key->Query(probe))
            state.SkipWithError("value not loaded");
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

void BM_LoadManyValues(benchmark::State& state) {
    QByteArray bytes = Header();
    for (int i = 0; i < 100000; ++i)
        bytes += "\"Value" + QByteArray::number(i) +
                 "\"=dword:" + QByteArray::number(i, 16).rightJustified(8, '0') + '\n';
    Load(state, bytes, QStringLiteral("Value99999"));
}
BENCHMARK(BM_LoadManyValues)->Unit(benchmark::kMillisecond);

void BM_LoadLongContinuedValue(benchmark::State& state) {
    QByteArray bytes = Header() + "\"Big\"=hex:";
    while (bytes.size() < 4 * 1024 * 1024)
        bytes +=
            "  5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,\\\n";
    bytes += "  5a\n";
    Load(state, bytes, QStringLiteral("Big"));
}
BENCHMARK(BM_LoadLongContinuedValue)->Unit(benchmark::kMillisecond);

} // namespace
