#include "device/counter.h"

#include "platform/clock.h"

#include <QFileInfo>
#include <algorithm>

namespace korvinet::device {

namespace {

const QString kCloseFailed = QStringLiteral("Failed to close device");

} // namespace

TCounter::TCounter(D2xxDriver& driver, const platform::Clock& clock, CounterFinder* otherKinds)
    : ftdi_(driver), otherKinds_(otherKinds), clock_(clock) {}

TCounter::~TCounter() = default;

std::uint16_t TCounter::ConfigChecksum(const std::uint8_t* bytes, std::size_t count) {
    return FtdiCounter::ConfigChecksum(bytes, count);
}

int TCounter::ListDevices() {
    deviceNames_.clear();
    deviceIndices_.clear();
    deviceIdentities_.clear();
    listed_.clear();

    for (CounterFinder* finder : {static_cast<CounterFinder*>(&ftdi_), otherKinds_}) {
        if (!finder)
            continue;
        for (ListedCounter& counter : finder->List()) {
            deviceNames_.append(counter.name);
            deviceIndices_.append(counter.address);
            deviceIdentities_.append({counter.serial, counter.description});
            listed_.push_back({std::move(counter), finder});
        }
    }
    return static_cast<int>(deviceNames_.size());
}

int TCounter::FindDevice(const DeviceIdentity& device, int hint) const {
    if (hint >= 0 && hint < deviceIdentities_.size() && deviceIdentities_.at(hint) == device)
        return hint;
    return static_cast<int>(deviceIdentities_.indexOf(device));
}

int TCounter::FindNamed(const QString& serialOrPath) const {
    // A path may be a link to the port (/dev/serial/by-id/...).
    const QString real = serialOrPath.startsWith(QLatin1Char('/'))
                             ? QFileInfo(serialOrPath).canonicalFilePath()
                             : QString();
    for (int i = 0; i < static_cast<int>(listed_.size()); ++i) {
        const ListedCounter& counter = listed_[static_cast<std::size_t>(i)].counter;
        if (counter.serial == serialOrPath ||
            (!counter.port.isEmpty() && (counter.port == serialOrPath || counter.port == real)))
            return i;
    }
    return -1;
}

bool TCounter::Open(std::uint32_t deviceIndex) {
    return OpenDevice(std::make_unique<FtdiCounter>(ftdi_.Driver(), static_cast<int>(deviceIndex)),
                      std::nullopt);
}

bool TCounter::OpenListed(int position) {
    if (position < 0 || position >= static_cast<int>(listed_.size()))
        return false;
    const Listed& entry = listed_[static_cast<std::size_t>(position)];
    std::unique_ptr<CounterDevice> device = entry.finder->Make(entry.counter);
    if (!device)
        return false;
    return OpenDevice(std::move(device), entry.counter.chosen);
}

bool TCounter::OpenDevice(std::unique_ptr<CounterDevice> device,
                          const std::optional<CounterCalibration>& chosen) {
    QString error;
    switch (device->Open(&error)) {
    case CounterDevice::OpenResult::NotOpened:
        lastError_ = error;
        return false;
    case CounterDevice::OpenResult::Closed:
        // It was open for a moment: what this counter measured before is
        // gone with it.
        lastError_ = error;
        ClearSession();
        return false;
    case CounterDevice::OpenResult::Opened:
        break;
    }
    device_ = std::move(device);
    open_ = true;

    const CounterFacts& facts = device_->Facts();
    info_.SerialNumber = facts.serial;
    info_.Model = facts.model;
    info_.ComPortNumber = facts.comPort;
    info_.PortName = facts.port;
    kind_ = facts.kind;
    hasSpeaker_ = facts.speaker;
    range_ = facts.range;
    detectionFlags_ = facts.detectionFlags;
    accuracy_ = facts.accuracy;
    const std::optional<CounterCalibration> calibration =
        device_->OwnCalibration() ? device_->OwnCalibration() : chosen;
    cpmOnly_ = !calibration || !(calibration->sensitivity > 0);
    sensitivity_ = cpmOnly_ ? 0.0 : calibration->sensitivity;
    deadTime_ = cpmOnly_ ? 0.0 : calibration->deadTime;
    calibrationSource_ = cpmOnly_ ? QString() : calibration->source;
    calibrationChosen_ = !cpmOnly_ && !device_->OwnCalibration();

    ClearHistories();
    RestartAccumulation();
    lastTick_ = clock_.TickCount();
    return true;
}

std::uint8_t TCounter::UnitCode() const {
    const DisplayUnit* unit = FindDisplayUnit(unitCode_);
    return open_ && cpmOnly_ && unit && unit->perSensitivity ? kCpmUnit : unitCode_;
}

CounterLinkStatus TCounter::LinkStatus() const {
    return open_ && device_ ? device_->LinkStatus() : CounterLinkStatus{};
}

void TCounter::ClearHistories() {
    counts_.fill(0);
    elapsed_.fill(0);
}

void TCounter::ClearSession() {
    ClearHistories();
    accumulatedTotal_ = 0;
    accumulationStart_ = 0.0;
    lastTick_ = 0;
    latestReadingTime_ = 0.0;
    countRate_ = 0.0;
    averagingWindow_ = 0;
}

bool TCounter::Close() {
    if (!open_) {
        lastError_ += QStringLiteral(". Device not open!");
        return false;
    }
    open_ = false;
    ClearSession();
    const bool closed = device_->Close();
    device_.reset();
    if (!closed) {
        causeBeforeClose_ = lastError_;
        lastError_ = kCloseFailed;
        return false;
    }
    return true;
}

QString TCounter::FailureCause() const {
    return lastError_ == kCloseFailed && !causeBeforeClose_.isEmpty() ? causeBeforeClose_
                                                                      : lastError_;
}

bool TCounter::ResetCounter() {
    ClearHistories();
    if (!open_) {
        lastError_ = QStringLiteral("Device not open!");
        return false;
    }
    if (!device_->Restart()) {
        lastError_ = QStringLiteral("Failed to reset counter");
        Close();
        return false;
    }
    lastTick_ = clock_.TickCount();
    return true;
}

bool TCounter::ReadCounts() {
    if (!open_) {
        lastError_ = QStringLiteral("Device not open!");
        return false;
    }
    CounterSample sample;
    QString why;
    if (!device_->Sample(&sample, &why)) {
        lastError_ = why.isEmpty() ? QStringLiteral("Failed to get counts") : why;
        Close();
        return false;
    }
    const std::uint32_t n = sample.counts;

    const std::uint32_t now = clock_.TickCount();
    // Counts that carry no time of their own cover the time since the last
    // sample, modulo 2^32: that survives a wrap.
    const std::uint32_t elapsed = sample.ms ? *sample.ms : now - lastTick_;
    lastTick_ = now;
    const platform::Clock::Moment taken = clock_.NowWithOffset();
    latestReadingTime_ = taken.local;
    latestReadingOffset_ = taken.utcOffsetSeconds;

    std::copy_backward(counts_.begin(), counts_.end() - 1, counts_.end());
    std::copy_backward(elapsed_.begin(), elapsed_.end() - 1, elapsed_.end());
    counts_[0] = n;
    elapsed_[0] = elapsed;
    accumulatedTotal_ += n;

    std::uint64_t countSum = 0, msSum = 0;
    const int window = std::min(averagingWindow_, kHistorySize);
    for (int i = 0; i < window; ++i) {
        countSum += counts_[i];
        msSum += elapsed_[i];
    }
    countRate_ =
        msSum > 0 ? static_cast<double>(static_cast<long double>(countSum) * 60000 / msSum) : 0.0;

    if (IsOverrange(countRate_)) {
        countRate_ = kOverrange;
        lastError_ = QStringLiteral("CAUTION: READING OVERRANGE!  DATA IS INVALID!");
        return false;
    }
    return true;
}

bool TCounter::IsOverrange(double countRate) const {
    if (cpmOnly_)
        return !(ConvertRate(countRate, kCpmUnit) >= 0);
    const double mrPerHour = ConvertRate(countRate, kMilliRoentgenPerHour);
    return (range_ > 0 && mrPerHour > range_) || !(mrPerHour >= 0);
}

std::optional<std::int64_t> TCounter::MemoryClockOffsetMs() const {
    CounterMemory* memory = open_ ? device_->Memory() : nullptr;
    if (!memory)
        return std::nullopt;
    return memory->ClockOffsetMs();
}

bool TCounter::ReadMemory(std::int64_t sinceMs, std::vector<MemoryRecord>* records) {
    records->clear();
    CounterMemory* memory = open_ ? device_->Memory() : nullptr;
    if (!memory)
        return true;
    QString why;
    if (memory->ReadSince(sinceMs, records, &why))
        return true;
    records->clear();
    lastError_ = why.isEmpty() ? QStringLiteral("Failed to read the counter's memory") : why;
    Close();
    return false;
}

bool TCounter::SetBeep(bool on) {
    if (!open_) {
        lastError_ = QStringLiteral("Device not open!");
        return false;
    }
    if (!hasSpeaker_) {
        lastError_ = QStringLiteral("Device does not have a speaker.");
        return false;
    }
    if (!device_->SetBeep(on)) {
        lastError_ = QStringLiteral("Failed to set beep");
        Close();
        return false;
    }
    return true;
}

void TCounter::RestartAccumulation() {
    accumulatedTotal_ = 0;
    accumulationStart_ = (open_ && HasReading()) ? latestReadingTime_ : clock_.Now();
}

} // namespace korvinet::device
