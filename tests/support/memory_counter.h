#pragma once

#include "device/counter_device.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace korvinet::testing {

// A counter's memory as CounterMemory documents it: the records of whole
// intervals on the counter's own clock (a break in the log is simply no
// record), handed over oldest first from the first that ends after the
// moment asked for; while `answers` is false the counter does not answer.
struct FakeCounterMemory final : CounterMemory {
    std::int64_t offsetMs = 0; // the counter's clock minus the computer's
    std::vector<MemoryRecord> records;
    bool answers = true;
    int reads = 0;

    std::int64_t ClockOffsetMs() const override { return offsetMs; }
    bool ReadSince(std::int64_t sinceMs, std::vector<MemoryRecord>* out, QString* why) override {
        ++reads;
        if (!answers) {
            *why = QStringLiteral("no answer to the data log request");
            return false;
        }
        out->clear();
        std::copy_if(records.begin(), records.end(), std::back_inserter(*out),
                     [sinceMs](const MemoryRecord& r) { return r.endMs > sinceMs; });
        return true;
    }
};

// A counter with its own calibration (600 CPM per mR/hr, no dead time) that
// counts `countsPerSample` in every sample, and the memory given (none when
// null), found as the one counter of its finder.
class MemoryCounterFinder final : public CounterFinder {
public:
    explicit MemoryCounterFinder(FakeCounterMemory* memory) : memory_(memory) {}
    std::uint32_t countsPerSample = 3;

    std::vector<ListedCounter> List() override {
        return {ListedCounter{QStringLiteral("Memory counter MEM1"),
                              QStringLiteral("MEM1"),
                              QStringLiteral("Memory counter"),
                              QStringLiteral("mem"),
                              {},
                              {}}};
    }
    std::unique_ptr<CounterDevice> Make(const ListedCounter&) override {
        return std::make_unique<Device>(memory_, countsPerSample);
    }

private:
    class Device final : public CounterDevice {
    public:
        Device(FakeCounterMemory* memory, std::uint32_t counts) : memory_(memory), counts_(counts) {
            facts_.kind = QStringLiteral("Memory counter");
            facts_.model = QStringLiteral("MEM-1");
            facts_.serial = QStringLiteral("MEM1");
            facts_.port = QStringLiteral("/dev/ttyMEM0");
        }
        OpenResult Open(QString*) override { return OpenResult::Opened; }
        bool Restart() override { return true; }
        bool Sample(CounterSample* sample, QString*) override {
            sample->counts = counts_;
            sample->ms.reset();
            return true;
        }
        bool SetBeep(bool) override { return true; }
        bool Close() override { return true; }
        const CounterFacts& Facts() const override { return facts_; }
        std::optional<CounterCalibration> OwnCalibration() const override {
            return CounterCalibration{600.0, 0.0, QStringLiteral("its own")};
        }
        CounterLinkStatus LinkStatus() const override { return {}; }
        CounterMemory* Memory() override { return memory_; }

    private:
        FakeCounterMemory* memory_;
        std::uint32_t counts_;
        CounterFacts facts_;
    };

    FakeCounterMemory* memory_;
};

} // namespace korvinet::testing
