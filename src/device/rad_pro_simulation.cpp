#include "device/rad_pro_simulation.h"

#include <QDateTime>
#include <QList>
#include <cmath>

namespace korvinet::device {

RadProSimulation::RadProSimulation(SimulatedMemory memory, std::uint32_t firstCount)
    : memory_(std::move(memory)), count_(firstCount) {
    if (!memory_.nowMs)
        memory_.nowMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
    memory_.logIntervalS = std::max(1, memory_.logIntervalS);
    const std::int64_t now = DeviceSeconds();
    const std::int64_t interval = memory_.logIntervalS;
    // The span it logged before anyone listened, in one session.
    double carried = 0.0;
    for (std::int64_t t = now - memory_.pastS; memory_.pastS > 0 && t < now; t += interval) {
        carried += memory_.pastCpm * static_cast<double>(interval) / 60.0;
        const auto whole = static_cast<std::uint32_t>(std::floor(carried));
        carried -= whole;
        log_.push_back({static_cast<std::uint32_t>(t), count_, sessionStart_});
        sessionStart_ = false;
        count_ += whole;
    }
    nextLog_ = now;
}

std::int64_t RadProSimulation::DeviceSeconds() const {
    return (memory_.nowMs() + memory_.clockOffsetMs) / 1000;
}

void RadProSimulation::Log() {
    const std::int64_t now = DeviceSeconds();
    if (now < nextLog_)
        return;
    log_.push_back({static_cast<std::uint32_t>(now), count_, sessionStart_});
    sessionStart_ = false;
    nextLog_ = now + memory_.logIntervalS;
}

QByteArray RadProSimulation::Counted(std::uint32_t pulses) {
    count_ += pulses; // overflows to 0 after 2^32 - 1, as the firmware's does
    Log();
    return {};
}

QByteArray RadProSimulation::Heard(QByteArrayView bytes) {
    QByteArray replies;
    for (const char c : bytes) {
        if (c == '\n') {
            replies += Answer(line_);
            line_.clear();
        } else if (static_cast<unsigned char>(c) >= ' ' && line_.size() < 64) {
            line_ += c;
        }
    }
    return replies;
}

QByteArray RadProSimulation::Answer(QByteArrayView request) {
    const QList<QByteArray> words = request.toByteArray().split(' ');
    const auto ok = [](const QByteArray& value) { return "OK " + value + "\r\n"; };
    if (words.size() < 2 || words[0] != "GET")
        return QByteArrayLiteral("ERROR\r\n");
    const QByteArray& what = words[1];
    if (what == "deviceId" && words.size() == 2)
        return ok("FS2011 (STM32F051C8);Rad Pro 3.0/en;" +
                  (memory_.serial.isEmpty() ? QByteArray("b5706d937087f975b5812810")
                                            : memory_.serial.toLatin1()));
    if (what == "deviceTime")
        return ok(QByteArray::number(DeviceSeconds()));
    if (what == "tubePulseCount")
        return ok(QByteArray::number(count_));
    if (what == "tubeSensitivity")
        return ok("153.800");
    if (what == "tubeDeadTime")
        return ok("0.0002420");
    if (what == "tubeDeadTimeCompensation")
        return ok("0.0000000");
    if (what != "datalog")
        return QByteArrayLiteral("ERROR\r\n");

    std::uint32_t limits[3] = {0, 0xffffffffu, 0xffffffffu}; // start, end, records
    for (qsizetype i = 2; i < words.size() && i < 5; ++i) {
        bool read = false;
        limits[i - 2] = words[i].toUInt(&read);
        if (!read)
            break;
    }
    QByteArray reply = "OK time,tubePulseCount";
    std::uint32_t sent = 0;
    for (const Record& record : log_) {
        if (record.time < limits[0] || record.time > limits[1] || sent >= limits[2])
            continue;
        if (record.sessionStart)
            reply += ';';
        reply += ';' + QByteArray::number(record.time) + ',' + QByteArray::number(record.count);
        ++sent;
    }
    return reply + "\r\n";
}

} // namespace korvinet::device
