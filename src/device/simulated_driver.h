#pragma once

#include "device/d2xx.h"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <random>
#include <vector>

namespace korvinet::platform {
class Clock;
} // namespace korvinet::platform

namespace korvinet::device {

// What one simulated counter looks like to the driver.
struct SimulatedDeviceProfile {
    QString description = QStringLiteral("KVT-PULSE1");
    QString serialNumber = QStringLiteral("KV000001");
    std::int32_t comPort = 4;
    std::vector<std::uint8_t> userArea; // EEPROM user area, any bytes
    double countsPerMinute = 0.0;       // Poisson pulse rate while open
};

// Now and then a simulated counter counts faster for a while, as a real one
// does when a source comes near: after a quiet gap drawn evenly between
// minGapMs and maxGapMs (counted from opening, then from the end of the
// previous episode) the rate rises by extraCountsPerMinute for lengthMs.
struct RateEpisodes {
    std::uint32_t minGapMs = 0;
    std::uint32_t maxGapMs = 0;
    std::uint32_t lengthMs = 0;
    double extraCountsPerMinute = 0.0;
};

// A counter gone wrong, as the health check on the counts must tell it from
// radiation. Each starts at a given open time of the device:
// - Spikes: kSpikeCounts extra counts at once, at random moments
//   kMeanSpikeGapMs apart on average (interference on a long cable);
// - Regular: pulses at a fixed rate, the device's rate, instead of Poisson
//   pulses (an oscillating input);
// - Drift: the rate rises evenly to double over kDriftMs and falls back over
//   as long, again and again (a slow genuine change);
// - Step: the rate is kStepFactor times for kStepMs, then as before for
//   kStepMs, and so on (a source brought near and taken away).
enum class SimulatedFault { None, Spikes, Regular, Drift, Step };

// A driver backend that needs no hardware: any number of virtual counters,
// each with an EEPROM user area and a pulse source, and a fault switch for
// every call. Pulses are produced from the clock as time passes (Poisson at
// the device's rate), by script (one entry per queue-status call), on demand,
// or at every driver call, so tests can make bytes arrive between two calls
// exactly as a busy real counter does.
class SimulatedDriver final : public D2xxDriver {
public:
    enum class Op {
        CreateDeviceInfoList,
        GetDeviceInfoList,
        Open,
        Close,
        GetComPortNumber,
        SetBaudRate,
        GetDeviceInfo,
        EE_UARead,
        SetLatencyTimer,
        Purge,
        GetQueueStatus,
        DiscardReceived,
        SetRts,
        ClrRts,
        Count
    };

    explicit SimulatedDriver(const platform::Clock& clock, std::uint64_t seed = 1);
    ~SimulatedDriver() override;

    // Devices are numbered in the order they were added; that number stays
    // with the device, while the driver's own list index counts only the
    // attached ones.
    int AddDevice(const SimulatedDeviceProfile& profile);
    void DetachDevice(int device);
    void AttachDevice(int device);

    void SetCountRate(int device, double countsPerMinute);
    // Raised-rate episodes while the device is open; a length of 0 switches
    // them off. The first gap starts when the device is next opened (or now,
    // if it is open).
    void SetRateEpisodes(int device, const RateEpisodes& episodes);
    // Whether an episode is running at the current clock time.
    bool InEpisode(int device);
    // The device goes wrong from startMs of its open time on (counted from
    // each opening); None puts it right.
    void SetFault(int device, SimulatedFault fault, std::uint64_t startMs = 0);
    static constexpr std::uint32_t kSpikeCounts = 50;
    static constexpr double kMeanSpikeGapMs = 120000;
    static constexpr std::uint64_t kDriftMs = 6 * 3600000ull;
    static constexpr double kStepFactor = 5;
    static constexpr std::uint64_t kStepMs = 30 * 60000ull;
    void ScriptCounts(int device, const std::vector<std::uint32_t>& counts);
    void InjectPulses(int device, std::uint32_t count);
    void SetArrivalsPerCall(int device, std::uint32_t count);
    void SetUserArea(int device, const std::vector<std::uint8_t>& bytes);

    bool IsOpen(int device) const;
    bool Rts(int device) const;
    std::uint32_t Queued(int device) const;
    std::uint64_t PulsesProduced(int device) const;
    std::uint32_t BaudRate(int device) const;
    std::uint8_t LatencyTimer(int device) const;

    // Makes op fail with status, starting with its nth call from now on and
    // for every call after it.
    void FailCall(Op op, FtStatus status = FT_IO_ERROR, int nth = 1);
    void ClearFaults();
    int CallCount(Op op) const;

    // A valid 13-byte configuration block (checksum included).
    static std::vector<std::uint8_t> MakeConfig(std::uint16_t range, std::uint16_t sensitivity,
                                                std::uint8_t deadTimeUs, std::uint8_t flags,
                                                std::int8_t accuracy, std::uint8_t revision = 1);
    // The counter the demo starts with: 0-1000 mR/hr, 600 cpm per mR/hr,
    // 90 us dead time, beta and gamma, speaker fitted, +-15 %.
    static SimulatedDeviceProfile DemoDevice(int number, double countsPerMinute);
    // The demo's episodes on a background of countsPerMinute: a minute at
    // 1500 cpm more (about 2.5 mR/hr, above the default alarm level), or at
    // double the rate when that is more, every one to four minutes. None for
    // a silent counter.
    static RateEpisodes DemoEpisodes(double countsPerMinute);

    // D2xxDriver
    FtStatus CreateDeviceInfoList(std::uint32_t* numDevices) override;
    FtStatus GetDeviceInfoList(std::vector<FtDeviceListInfoNode>& list,
                               std::uint32_t* numDevices) override;
    FtStatus Open(int index, FtHandle* handle) override;
    FtStatus Close(FtHandle handle) override;
    FtStatus GetComPortNumber(FtHandle handle, std::int32_t* port) override;
    FtStatus SetBaudRate(FtHandle handle, std::uint32_t baud) override;
    FtStatus GetDeviceInfo(FtHandle handle, std::uint32_t* type, std::uint32_t* id,
                           QString* serialNumber, QString* description) override;
    FtStatus EE_UARead(FtHandle handle, std::uint8_t* data, std::uint32_t size,
                       std::uint32_t* bytesRead) override;
    FtStatus SetLatencyTimer(FtHandle handle, std::uint8_t ms) override;
    FtStatus Purge(FtHandle handle, std::uint32_t mask) override;
    FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) override;
    FtStatus DiscardReceived(FtHandle handle, std::uint32_t count) override;
    FtStatus SetRts(FtHandle handle) override;
    FtStatus ClrRts(FtHandle handle) override;

private:
    struct Device;
    struct Fault {
        bool armed = false;
        FtStatus status = FT_OK;
        int failFrom = 0; // call number (of calls_) from which it fails
    };

    // Counts the call and returns the injected failure, or FT_OK.
    FtStatus Enter(Op op);
    // The open device behind a handle, brought up to date with its pulses;
    // null for a handle that is not open.
    Device* Live(FtHandle handle);
    void Produce(Device& device, std::uint32_t count);
    // Expected pulses over the next dt milliseconds of the device's open
    // time, episodes included; moves the episode schedule along.
    double ExpectedPulses(Device& device, std::uint32_t dt);
    // The device's rate times its fault's rate factor, integrated over the
    // open times [from, to), in CPM x ms.
    double BaseRateMs(const Device& device, std::uint64_t from, std::uint64_t to) const;
    // The fault's own pulses (spikes, the fixed-rate source) over the open
    // times (from, to]; moves the spike schedule along.
    std::uint64_t FaultPulses(Device& device, std::uint64_t from, std::uint64_t to);
    // Starts the fault's schedule for a device opened or changed now.
    void ScheduleFault(Device& device);
    std::uint64_t NextGap(const RateEpisodes& episodes);
    Device& At(int device);
    const Device& At(int device) const;

    const platform::Clock& clock_;
    std::mt19937_64 random_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::vector<int> list_; // the device list built by CreateDeviceInfoList
    std::array<int, static_cast<int>(Op::Count)> calls_{};
    std::array<Fault, static_cast<int>(Op::Count)> faults_{};
};

} // namespace korvinet::device
