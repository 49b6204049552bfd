#include "device/serial_simulator.h"

#include "device/gmc_simulation.h"
#include "device/rad_pro_simulation.h"
#include "device/serial_kinds.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace korvinet::device {

QByteArray TextLineSimulation::PowerOn() {
    return QByteArrayLiteral("Geiger Counter 1.00\r\n");
}

QByteArray TextLineSimulation::Counted(std::uint32_t pulses) {
    // The kit counts in 16 bits and keeps each second in 8.
    const std::uint32_t cps = std::min<std::uint32_t>(pulses, 65535);
    const bool overflow = cps > 255;
    const std::uint8_t kept = static_cast<std::uint8_t>(std::min<std::uint32_t>(cps, 255));
    slowSum_ = slowSum_ - seconds_[next_] + kept;
    seconds_[next_] = kept;
    const int lagging = (next_ + kLong - kShort) % kLong;
    fastSum_ = fastSum_ + kept - seconds_[lagging];
    next_ = (next_ + 1) % kLong;
    const std::uint32_t fastCpm = fastSum_ * (kLong / kShort);

    std::uint32_t cpm = slowSum_;
    const char* mode = "SLOW";
    if (overflow) {
        cpm = cps * 60;
        mode = "INST";
    } else if (fastCpm > 1000) {
        cpm = fastCpm;
        mode = "FAST";
    }
    const std::uint32_t scaled = cpm * 57 / 100; // µSv/hr times 100
    char line[96];
    std::snprintf(line, sizeof line, "CPS, %u, CPM, %u, uSv/hr, %u.%02u, %s\r\n", cps, cpm,
                  static_cast<unsigned>(static_cast<std::uint16_t>(scaled / 100)), scaled % 100,
                  mode);
    return QByteArray(line);
}

QByteArray PulseByteSimulation::Counted(std::uint32_t pulses) {
    return QByteArray(static_cast<qsizetype>(pulses), '\x55');
}

std::unique_ptr<SimulatedProtocol> MakeSimulation(QStringView kind, const SimulatedMemory& memory) {
    if (kind == kTextLineKind)
        return std::make_unique<TextLineSimulation>();
    if (kind == kPulseByteKind)
        return std::make_unique<PulseByteSimulation>();
    if (kind == kRadProKind)
        return std::make_unique<RadProSimulation>(memory);
    if (kind == u"gmc-300")
        return std::make_unique<GmcSimulation>(GmcVersion::Rfc1201, memory);
    if (kind == u"gmc-500")
        return std::make_unique<GmcSimulation>(GmcVersion::Rfc1801, memory);
    return nullptr;
}

QString SimulatedSerialKind(QStringView simulation) {
    if (simulation == kTextLineKind || simulation == kPulseByteKind || simulation == kRadProKind)
        return simulation.toString();
    if (simulation == u"gmc-300" || simulation == u"gmc-500")
        return kGmcKind.toString();
    return {};
}

PtyCounter::PtyCounter(std::unique_ptr<SimulatedProtocol> protocol, Identity identity)
    : protocol_(std::move(protocol)), identity_(std::move(identity)),
      stop_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

PtyCounter::~PtyCounter() {
    if (thread_.joinable()) {
        stopping_ = true;
        const std::uint64_t one = 1;
        (void)!::write(stop_, &one, sizeof one);
        thread_.join();
    }
    std::lock_guard lock(mutex_);
    CloseLocked();
    if (stop_ >= 0)
        ::close(stop_);
}

bool PtyCounter::Plug(QString* error) {
    std::lock_guard lock(mutex_);
    CloseLocked();
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        if (error)
            *error = QStringLiteral("openpty: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        master_ = slave_ = -1;
        return false;
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    path_ = QString::fromLocal8Bit(name);
    WriteLocked(protocol_->PowerOn());
    return true;
}

void PtyCounter::Unplug() {
    std::lock_guard lock(mutex_);
    CloseLocked();
}

void PtyCounter::CloseLocked() {
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    master_ = slave_ = -1;
    path_.clear();
}

void PtyCounter::WriteLocked(QByteArrayView bytes) {
    // Nobody reading: the line drops what the counter sends, as a real one's
    // would go nowhere.
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (master_ >= 0 && left > 0) {
        const ssize_t n = ::write(master_, data, static_cast<std::size_t>(left));
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            break;
        }
        data += n;
        left -= n;
    }
}

void PtyCounter::Count(std::uint32_t pulses) {
    std::lock_guard lock(mutex_);
    WriteLocked(protocol_->Counted(pulses));
}

void PtyCounter::Send(QByteArrayView bytes) {
    std::lock_guard lock(mutex_);
    WriteLocked(bytes);
}

SerialPortEntry PtyCounter::Entry() const {
    std::lock_guard lock(mutex_);
    SerialPortEntry entry;
    entry.path = path_;
    entry.serialNumber = identity_.serialNumber;
    entry.description = identity_.description;
    entry.kind = identity_.kind;
    return entry;
}

void PtyCounter::Run(PulseSource source, int unplugAfterMs, int unplugForMs) {
    thread_ = std::thread([this, source = std::move(source), unplugAfterMs, unplugForMs] {
        Loop(source, unplugAfterMs, unplugForMs);
    });
}

void PtyCounter::Loop(PulseSource source, int unplugAfterMs, int unplugForMs) {
    using Steady = std::chrono::steady_clock;
    const Steady::time_point start = Steady::now();
    const auto period = std::chrono::milliseconds(protocol_->PeriodMs());
    Steady::time_point next = start + period;
    enum { Before, Unplugged, After } phase = unplugAfterMs >= 0 ? Before : After;
    while (!stopping_) {
        const auto now = Steady::now();
        if (phase == Before && now - start >= std::chrono::milliseconds(unplugAfterMs)) {
            Unplug();
            phase = Unplugged;
        }
        if (phase == Unplugged &&
            now - start >= std::chrono::milliseconds(unplugAfterMs + unplugForMs)) {
            (void)Plug();
            phase = After;
        }
        if (now >= next) {
            if (source) {
                const std::uint32_t pulses = source();
                if (phase != Unplugged) {
                    Count(pulses);
                } else {
                    std::lock_guard lock(mutex_);
                    protocol_->Unheard(pulses);
                }
            }
            next += period;
            if (next < now)
                next = now + period; // a stall is not made up in a burst
            continue;
        }

        int master = -1;
        {
            std::lock_guard lock(mutex_);
            master = master_;
        }
        pollfd fds[2] = {{stop_, POLLIN, 0}, {master, POLLIN, 0}};
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now);
        const int ready = ::poll(fds, master >= 0 ? 2 : 1, static_cast<int>(wait.count()) + 1);
        if (ready > 0 && master >= 0 && (fds[1].revents & POLLIN)) {
            std::lock_guard lock(mutex_);
            if (master_ != master)
                continue; // unplugged meanwhile
            char buffer[512];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0)
                WriteLocked(protocol_->Heard(QByteArrayView(buffer, n)));
        }
    }
}

PtyCounter& SimulatedSerialPorts::Add(std::unique_ptr<PtyCounter> counter) {
    counters_.push_back(std::move(counter));
    return *counters_.back();
}

QList<SerialPortEntry> SimulatedSerialPorts::Ports() {
    QList<SerialPortEntry> ports;
    for (const auto& counter : counters_) {
        SerialPortEntry entry = counter->Entry();
        if (!entry.path.isEmpty())
            ports.append(entry);
    }
    return ports;
}

} // namespace korvinet::device
