#pragma once

#include "device/counter_device.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace korvinet::testing {

// A counter's memory as CounterMemory documents it: records of whole
// intervals on the counter's clock (a break in the log is no record), handed
// over oldest first from the first that ends after the moment asked for.
struct FakeCounterMemory final : device::CounterMemory {
    std::int64_t offsetMs = 0; // the counter's clock minus the computer's
    std::vector<device::MemoryRecord> records;
    bool answers = true;
    int reads = 0;

    std::int64_t ClockOffsetMs() const override { return offsetMs; }
    bool ReadSince(std::int64_t sinceMs, std::vector<device::MemoryRecord>* out,
                   QString* why) override {
        ++reads;
        *why = answers ? QString() : QStringLiteral("no answer to the data log request");
        out->clear();
        std::copy_if(records.begin(), records.end(), std::back_inserter(*out),
                     [sinceMs](const device::MemoryRecord& r) { return r.endMs > sinceMs; });
        return answers;
    }
};

// The counter "MEM1" with its own calibration (600 CPM per mR/hr), 3 counts
// a sample and the memory given; its finder finds it alone.
struct MemoryCounter final : device::CounterDevice {
    explicit MemoryCounter(device::CounterMemory* m) : memory(m) {
        facts.serial = QStringLiteral("MEM1");
    }
    device::CounterMemory* memory;
    device::CounterFacts facts;

    OpenResult Open(QString*) override { return OpenResult::Opened; }
    bool Restart() override { return true; }
    bool Sample(device::CounterSample* sample, QString*) override {
        *sample = {3, std::nullopt};
        return true;
    }
    bool SetBeep(bool) override { return true; }
    bool Close() override { return true; }
    const device::CounterFacts& Facts() const override { return facts; }
    std::optional<device::CounterCalibration> OwnCalibration() const override {
        return device::CounterCalibration{600.0, 0.0, QStringLiteral("its own")};
    }
    device::CounterLinkStatus LinkStatus() const override { return {}; }
    device::CounterMemory* Memory() override { return memory; }

    struct Finder final : device::CounterFinder {
        explicit Finder(device::CounterMemory* m) : memory(m) {}
        device::CounterMemory* memory;
        std::vector<device::ListedCounter> List() override {
            device::ListedCounter listed;
            listed.name = QStringLiteral("MEM1");
            return {listed};
        }
        std::unique_ptr<device::CounterDevice> Make(const device::ListedCounter&) override {
            return std::make_unique<MemoryCounter>(memory);
        }
    };
};

} // namespace korvinet::testing
