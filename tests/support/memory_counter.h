#pragma once

#include "device/counter_device.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace korvinet::testing {

// A counter's memory as CounterMemory documents it: records of whole
// intervals on the counter's clock (a break in the log is no record), handed
// over oldest first from the first that ends after the moment asked for.
struct FakeCounterMemory final : CounterMemory {
    std::int64_t offsetMs = 0; // the counter's clock minus the computer's
    std::vector<MemoryRecord> records;
    bool answers = true;
    int reads = 0;

    std::int64_t ClockOffsetMs() const override { return offsetMs; }
    bool ReadSince(std::int64_t sinceMs, std::vector<MemoryRecord>* out, QString* why) override {
        ++reads;
        *why = answers ? QString() : QStringLiteral("no answer to the data log request");
        out->clear();
        std::copy_if(records.begin(), records.end(), std::back_inserter(*out),
                     [sinceMs](const MemoryRecord& r) { return r.endMs > sinceMs; });
        return answers;
    }
};

// The counter "MEM1" with its own calibration (600 CPM per mR/hr), 3 counts
// a sample and the memory given; its finder finds it alone.
struct MemoryCounter final : CounterDevice {
    explicit MemoryCounter(CounterMemory* m) : memory(m) { facts.serial = QStringLiteral("MEM1"); }
    CounterMemory* memory;
    CounterFacts facts;

    OpenResult Open(QString*) override { return OpenResult::Opened; }
    bool Restart() override { return true; }
    bool Sample(CounterSample* sample, QString*) override {
        *sample = {3, std::nullopt};
        return true;
    }
    bool SetBeep(bool) override { return true; }
    bool Close() override { return true; }
    const CounterFacts& Facts() const override { return facts; }
    std::optional<CounterCalibration> OwnCalibration() const override {
        return CounterCalibration{600.0, 0.0, QStringLiteral("its own")};
    }
    CounterLinkStatus LinkStatus() const override { return {}; }
    CounterMemory* Memory() override { return memory; }

    struct Finder final : CounterFinder {
        explicit Finder(CounterMemory* m) : memory(m) {}
        CounterMemory* memory;
        std::vector<ListedCounter> List() override {
            ListedCounter listed;
            listed.name = QStringLiteral("MEM1");
            return {listed};
        }
        std::unique_ptr<CounterDevice> Make(const ListedCounter&) override {
            return std::make_unique<MemoryCounter>(memory);
        }
    };
};

} // namespace korvinet::testing
