#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdint>
#include <functional>

namespace korvinet::maps {

// What an upload needs of one recorded reading: its moment, the counts of
// its sample and the time the sample took.
struct CountSample {
    qint64 utcMs = 0;
    std::uint32_t counts = 0;
    std::uint32_t intervalMs = 0;
};
using SampleVisitor = std::function<bool(const CountSample& sample)>;
// Hands the recorded samples with fromMs <= utcMs < toMs to the visitor in
// time order, until it returns false.
using ReadSamples = std::function<void(qint64 fromMs, qint64 toMs, const SampleVisitor& visit)>;

// The samples a recording journal in `folder` kept.
ReadSamples JournalSamples(const QString& folder);

} // namespace korvinet::maps
