#include "device/simulated_driver.h"

#include "device/counter.h"
#include "platform/clock.h"

#include <algorithm>
#include <stdexcept>

namespace korvinet::device {

struct SimulatedDriver::Device {
    SimulatedDeviceProfile profile;
    bool attached = true;
    bool open = false;
    bool rts = false;
    std::uint32_t baud = 9600;
    std::uint8_t latency = 16;
    std::uint32_t queue = 0;
    std::uint64_t produced = 0;
    std::uint32_t lastTick = 0; // clock tick up to which pulses were produced
    std::deque<std::uint32_t> script;
    std::uint32_t arrivalsPerCall = 0;
    RateEpisodes episodes;
    std::uint64_t openMs = 0;                       // time open, up to lastTick
    std::uint64_t episodeStart = 0, episodeEnd = 0; // in openMs time
    SimulatedFault fault = SimulatedFault::None;
    std::uint64_t faultStart = 0; // in openMs time
    double nextSpike = 0;         // in openMs time
    double regularPhase = 0;      // ms after faultStart of the first fixed-rate pulse
};

SimulatedDriver::SimulatedDriver(const platform::Clock& clock, std::uint64_t seed)
    : clock_(clock), random_(seed) {}

SimulatedDriver::~SimulatedDriver() = default;

int SimulatedDriver::AddDevice(const SimulatedDeviceProfile& profile) {
    auto device = std::make_unique<Device>();
    device->profile = profile;
    devices_.push_back(std::move(device));
    return static_cast<int>(devices_.size()) - 1;
}

SimulatedDriver::Device& SimulatedDriver::At(int device) {
    if (device < 0 || device >= static_cast<int>(devices_.size()))
        throw std::out_of_range("no such simulated device");
    return *devices_[device];
}

const SimulatedDriver::Device& SimulatedDriver::At(int device) const {
    return const_cast<SimulatedDriver*>(this)->At(device);
}

void SimulatedDriver::DetachDevice(int device) {
    Device& d = At(device);
    d.attached = false;
    d.open = false; // unplugging ends any session with it
    d.queue = 0;
}
void SimulatedDriver::AttachDevice(int device) {
    At(device).attached = true;
}
void SimulatedDriver::SetCountRate(int device, double cpm) {
    At(device).profile.countsPerMinute = cpm;
}
void SimulatedDriver::SetRateEpisodes(int device, const RateEpisodes& episodes) {
    Device& d = At(device);
    if (d.open)
        Live(static_cast<FtHandle>(device + 1)); // the old schedule holds up to now
    d.episodes = episodes;
    d.episodeStart = d.openMs + NextGap(episodes);
    d.episodeEnd = d.episodeStart + episodes.lengthMs;
}
bool SimulatedDriver::InEpisode(int device) {
    Device& d = At(device);
    if (!d.open || !Live(static_cast<FtHandle>(device + 1)) || d.episodes.lengthMs == 0)
        return false;
    return d.openMs >= d.episodeStart && d.openMs < d.episodeEnd;
}
void SimulatedDriver::SetFault(int device, SimulatedFault fault, std::uint64_t startMs) {
    Device& d = At(device);
    if (d.open)
        Live(static_cast<FtHandle>(device + 1)); // the old behaviour holds up to now
    d.fault = fault;
    d.faultStart = startMs;
    if (d.open)
        ScheduleFault(d);
}
void SimulatedDriver::ScheduleFault(Device& d) {
    if (d.fault == SimulatedFault::Spikes) {
        std::exponential_distribution<double> gap(1 / kMeanSpikeGapMs);
        d.nextSpike = static_cast<double>(std::max(d.faultStart, d.openMs)) + gap(random_);
    } else if (d.fault == SimulatedFault::Regular) {
        std::uniform_real_distribution<double> phase(0, 1);
        d.regularPhase = phase(random_) * 60000 / std::max(d.profile.countsPerMinute, 1e-9);
    }
}
void SimulatedDriver::ScriptCounts(int device, const std::vector<std::uint32_t>& counts) {
    At(device).script.assign(counts.begin(), counts.end());
}
void SimulatedDriver::InjectPulses(int device, std::uint32_t count) {
    Device& d = At(device);
    if (d.open)
        Produce(d, count);
}
void SimulatedDriver::SetArrivalsPerCall(int device, std::uint32_t count) {
    At(device).arrivalsPerCall = count;
}
void SimulatedDriver::SetUserArea(int device, const std::vector<std::uint8_t>& bytes) {
    At(device).profile.userArea = bytes;
}
bool SimulatedDriver::IsOpen(int device) const {
    return At(device).open;
}
bool SimulatedDriver::Rts(int device) const {
    return At(device).rts;
}
std::uint32_t SimulatedDriver::Queued(int device) const {
    return At(device).queue;
}
std::uint64_t SimulatedDriver::PulsesProduced(int device) const {
    return At(device).produced;
}
std::uint32_t SimulatedDriver::BaudRate(int device) const {
    return At(device).baud;
}
std::uint8_t SimulatedDriver::LatencyTimer(int device) const {
    return At(device).latency;
}

void SimulatedDriver::FailCall(Op op, FtStatus status, int nth) {
    Fault& f = faults_[static_cast<int>(op)];
    f.armed = true;
    f.status = status;
    f.failFrom = calls_[static_cast<int>(op)] + std::max(nth, 1);
}

void SimulatedDriver::ClearFaults() {
    faults_.fill(Fault{});
}

int SimulatedDriver::CallCount(Op op) const {
    return calls_[static_cast<int>(op)];
}

std::vector<std::uint8_t> SimulatedDriver::MakeConfig(std::uint16_t range,
                                                      std::uint16_t sensitivity,
                                                      std::uint8_t deadTimeUs, std::uint8_t flags,
                                                      std::int8_t accuracy, std::uint8_t revision) {
    std::vector<std::uint8_t> block = {1,
                                       revision,
                                       static_cast<std::uint8_t>(range & 0xFF),
                                       static_cast<std::uint8_t>(range >> 8),
                                       static_cast<std::uint8_t>(sensitivity & 0xFF),
                                       static_cast<std::uint8_t>(sensitivity >> 8),
                                       deadTimeUs,
                                       0,
                                       0,
                                       flags,
                                       static_cast<std::uint8_t>(accuracy)};
    const std::uint16_t crc = TCounter::ConfigChecksum(block.data(), block.size());
    block.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    block.push_back(static_cast<std::uint8_t>(crc >> 8));
    return block;
}

SimulatedDeviceProfile SimulatedDriver::DemoDevice(int number, double countsPerMinute) {
    SimulatedDeviceProfile profile;
    profile.description = QStringLiteral("KVT-PULSE1");
    profile.serialNumber = QStringLiteral("KV%1").arg(100001 + number, 6, 10, QLatin1Char('0'));
    profile.comPort = 4 + number;
    profile.userArea = MakeConfig(1000, 1000, 90, 0x86, 15, 2);
    profile.countsPerMinute = countsPerMinute;
    return profile;
}

RateEpisodes SimulatedDriver::DemoEpisodes(double countsPerMinute) {
    if (!(countsPerMinute > 0))
        return {};
    return {60000, 240000, 60000, std::max(1500.0, countsPerMinute)};
}

std::uint64_t SimulatedDriver::NextGap(const RateEpisodes& episodes) {
    if (episodes.maxGapMs <= episodes.minGapMs)
        return episodes.minGapMs;
    std::uniform_int_distribution<std::uint64_t> gap(episodes.minGapMs, episodes.maxGapMs);
    return gap(random_);
}

double SimulatedDriver::ExpectedPulses(Device& d, std::uint32_t dt) {
    const std::uint64_t from = d.openMs;
    const std::uint64_t to = from + dt;
    d.openMs = to;
    double raisedMs = 0;
    if (d.episodes.lengthMs > 0) {
        for (;;) {
            const std::uint64_t lo = std::max(from, d.episodeStart);
            const std::uint64_t hi = std::min(to, d.episodeEnd);
            if (hi > lo)
                raisedMs += static_cast<double>(hi - lo);
            if (d.episodeEnd > to)
                break;
            d.episodeStart = d.episodeEnd + NextGap(d.episodes);
            d.episodeEnd = d.episodeStart + d.episodes.lengthMs;
        }
    }
    return (std::max(d.profile.countsPerMinute, 0.0) * BaseRateMs(d, from, to) +
            std::max(d.episodes.extraCountsPerMinute, 0.0) * raisedMs) /
           60000.0;
}

double SimulatedDriver::BaseRateMs(const Device& d, std::uint64_t from, std::uint64_t to) const {
    if (d.fault == SimulatedFault::None || d.fault == SimulatedFault::Spikes)
        return static_cast<double>(to - from);
    // Pieces on which the factor is constant (step, the fixed-rate source)
    // or linear (drift), each integrated at its middle.
    const std::uint64_t piece = d.fault == SimulatedFault::Drift ? kDriftMs : kStepMs;
    double sum = 0;
    while (from < to) {
        std::uint64_t next = to;
        if (from < d.faultStart)
            next = std::min(to, d.faultStart);
        else if (d.fault != SimulatedFault::Regular)
            next = std::min(to, d.faultStart + ((from - d.faultStart) / piece + 1) * piece);
        const double middle = (static_cast<double>(from) + static_cast<double>(next)) / 2;
        const double since = middle - static_cast<double>(d.faultStart);
        double factor = 1;
        if (since >= 0) {
            const auto round = static_cast<std::uint64_t>(since / static_cast<double>(piece));
            const double part = since / static_cast<double>(piece) - static_cast<double>(round);
            if (d.fault == SimulatedFault::Regular)
                factor = 0;
            else if (d.fault == SimulatedFault::Drift)
                factor = 1 + (round % 2 == 0 ? part : 1 - part);
            else if (round % 2 == 0)
                factor = kStepFactor;
        }
        sum += factor * static_cast<double>(next - from);
        from = next;
    }
    return sum;
}

std::uint64_t SimulatedDriver::FaultPulses(Device& d, std::uint64_t from, std::uint64_t to) {
    std::uint64_t pulses = 0;
    if (d.fault == SimulatedFault::Spikes) {
        std::exponential_distribution<double> gap(1 / kMeanSpikeGapMs);
        for (; d.nextSpike <= static_cast<double>(to); d.nextSpike += gap(random_))
            pulses += kSpikeCounts;
    } else if (d.fault == SimulatedFault::Regular && d.profile.countsPerMinute > 0) {
        // Pulses at faultStart + regularPhase + j period, j = 0, 1, ...
        const double period = 60000 / d.profile.countsPerMinute;
        const double first = static_cast<double>(d.faultStart) + d.regularPhase;
        const auto upTo = [&](std::uint64_t t) {
            const double since = static_cast<double>(t) - first;
            return since < 0 ? 0 : static_cast<std::uint64_t>(since / period) + 1;
        };
        pulses = upTo(to) - upTo(from);
    }
    return pulses;
}

FtStatus SimulatedDriver::Enter(Op op) {
    const int calls = ++calls_[static_cast<int>(op)];
    const Fault& f = faults_[static_cast<int>(op)];
    return (f.armed && calls >= f.failFrom) ? f.status : FT_OK;
}

void SimulatedDriver::Produce(Device& device, std::uint32_t count) {
    device.queue += count;
    device.produced += count;
}

SimulatedDriver::Device* SimulatedDriver::Live(FtHandle handle) {
    if (handle == 0 || handle > devices_.size())
        return nullptr;
    Device& d = *devices_[handle - 1];
    if (!d.open || !d.attached)
        return nullptr;
    // Pulses that the counter delivered since the last look.
    const std::uint32_t now = clock_.TickCount();
    const std::uint32_t dt = now - d.lastTick;
    d.lastTick = now;
    if (dt > 0) {
        const std::uint64_t from = d.openMs;
        const double expected = ExpectedPulses(d, dt);
        if (expected > 0) {
            std::poisson_distribution<std::uint32_t> poisson(expected);
            Produce(d, poisson(random_));
        }
        if (d.fault != SimulatedFault::None)
            Produce(d, static_cast<std::uint32_t>(FaultPulses(d, from, d.openMs)));
    }
    if (d.arrivalsPerCall > 0)
        Produce(d, d.arrivalsPerCall);
    return &d;
}

FtStatus SimulatedDriver::CreateDeviceInfoList(std::uint32_t* numDevices) {
    list_.clear();
    if (const FtStatus s = Enter(Op::CreateDeviceInfoList); s != FT_OK) {
        *numDevices = 0;
        return s;
    }
    for (int i = 0; i < static_cast<int>(devices_.size()); ++i)
        if (devices_[i]->attached)
            list_.push_back(i);
    *numDevices = static_cast<std::uint32_t>(list_.size());
    return FT_OK;
}

FtStatus SimulatedDriver::GetDeviceInfoList(std::vector<FtDeviceListInfoNode>& list,
                                            std::uint32_t* numDevices) {
    if (const FtStatus s = Enter(Op::GetDeviceInfoList); s != FT_OK)
        return s;
    list.clear();
    for (int i : list_) {
        const Device& d = *devices_[i];
        FtDeviceListInfoNode node;
        node.Flags = d.open ? 1 : 0;
        node.Type = 5; // FT232R
        node.ID = 0x04036001;
        node.LocId = static_cast<std::uint32_t>(0x1000 + i);
        node.SerialNumber = d.profile.serialNumber;
        node.Description = d.profile.description;
        list.push_back(node);
    }
    *numDevices = static_cast<std::uint32_t>(list.size());
    return FT_OK;
}

FtStatus SimulatedDriver::Open(int index, FtHandle* handle) {
    if (const FtStatus s = Enter(Op::Open); s != FT_OK)
        return s;
    // The index counts the attached devices, as a fresh enumeration would.
    int position = 0;
    for (int i = 0; i < static_cast<int>(devices_.size()); ++i) {
        Device& d = *devices_[i];
        if (!d.attached)
            continue;
        if (position++ != index)
            continue;
        if (d.open)
            return FT_DEVICE_NOT_OPENED; // one handle per device, as with the real driver
        d.open = true;
        d.queue = 0;
        d.lastTick = clock_.TickCount();
        d.openMs = 0;
        d.episodeStart = NextGap(d.episodes);
        d.episodeEnd = d.episodeStart + d.episodes.lengthMs;
        ScheduleFault(d);
        *handle = static_cast<FtHandle>(i + 1);
        return FT_OK;
    }
    return FT_DEVICE_NOT_FOUND;
}

FtStatus SimulatedDriver::Close(FtHandle handle) {
    if (const FtStatus s = Enter(Op::Close); s != FT_OK)
        return s;
    Device* d = Live(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    d->open = false;
    d->queue = 0;
    return FT_OK;
}

FtStatus SimulatedDriver::GetComPortNumber(FtHandle handle, std::int32_t* port) {
    if (const FtStatus s = Enter(Op::GetComPortNumber); s != FT_OK)
        return s;
    Device* d = Live(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    *port = d->profile.comPort;
    return FT_OK;
}

FtStatus SimulatedDriver::SetBaudRate(FtHandle handle, std::uint32_t baud) {
    if (const FtStatus s = Enter(Op::SetBaudRate); s != FT_OK)
        return s;
    Device* d = Live(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    d->baud = baud;
    return FT_OK;
}

FtStatus SimulatedDriver::GetDeviceInfo(FtHandle handle, std::uint32_t* type, std::uint32_t* id,
                                        QString* serialNumber, QString* description) {
    if (const FtStatus s = Enter(Op::GetDeviceInfo); s != FT_OK)
        return s;
    Device* d = Live(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    *type = 5;
    *id = 0x04036001;
    *serialNumber = d->profile.serialNumber;
    *description = d->profile.description;
    return FT_OK;
}

FtStatus SimulatedDriver::EE_UARead(FtHandle handle, std::uint8_t* data, std::uint32_t size,
                                    std::uint32_t* bytesRead) {
    if (const FtStatus s = Enter(Op::EE_UARead); s != FT_OK)
        return s;
    Device* d = Live(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    const auto n = std::min<std::size_t>(size, d->profile.userArea.size());
    std::copy_n(d->profile.userArea.begin(), n, data);
    *bytesRead = static_cast<std::uint32_t>(n);
    return FT_OK;
}

FtStatus SimulatedDriver::SetLatencyTimer(FtHandle handle, std::uint8_t ms) {
    if (const FtStatus s = Enter(Op::SetLatencyTimer); s != FT_OK)
        return s;
    Device* d = Live(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    d->latency = ms;
    return FT_OK;
}

FtStatus SimulatedDriver::Purge(FtHandle handle, std::uint32_t mask) {
    if (const FtStatus s = Enter(Op::Purge); s != FT_OK)
        return s;
    Device* d = Live(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    if (mask & FT_PURGE_RX)
        d->queue = 0;
    return FT_OK;
}

FtStatus SimulatedDriver::GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) {
    if (const FtStatus s = Enter(Op::GetQueueStatus); s != FT_OK)
        return s;
    Device* d = Live(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    if (!d->script.empty()) {
        Produce(*d, d->script.front());
        d->script.pop_front();
    }
    *rxBytes = d->queue;
    return FT_OK;
}

FtStatus SimulatedDriver::DiscardReceived(FtHandle handle, std::uint32_t count) {
    if (const FtStatus s = Enter(Op::DiscardReceived); s != FT_OK)
        return s;
    Device* d = Live(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    d->queue -= std::min(count, d->queue);
    return FT_OK;
}

FtStatus SimulatedDriver::SetRts(FtHandle handle) {
    if (const FtStatus s = Enter(Op::SetRts); s != FT_OK)
        return s;
    Device* d = Live(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    d->rts = true;
    return FT_OK;
}

FtStatus SimulatedDriver::ClrRts(FtHandle handle) {
    if (const FtStatus s = Enter(Op::ClrRts); s != FT_OK)
        return s;
    Device* d = Live(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    d->rts = false;
    return FT_OK;
}

} // namespace korvinet::device
