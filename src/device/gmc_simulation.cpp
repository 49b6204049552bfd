#include "device/gmc_simulation.h"

#include <QDateTime>
#include <QTimeZone>
#include <bit>
#include <cctype>

namespace korvinet::device {

namespace {

// Commands with binary parameters of a fixed length, which may hold '>'.
int ParameterBytes(QByteArrayView name) {
    if (name == "SPIR")
        return 5;
    if (name == "SETDATETIME")
        return 6;
    return -1; // up to ">>"
}

QByteArray Stamp(std::int64_t ms) {
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
    QByteArray bytes;
    bytes += char(at.date().year() - 2000);
    bytes += char(at.date().month());
    bytes += char(at.date().day());
    bytes += char(at.time().hour());
    bytes += char(at.time().minute());
    bytes += char(at.time().second());
    return bytes;
}

} // namespace

GmcSimulation::GmcSimulation(GmcVersion version, SimulatedMemory memory)
    : version_(version), memory_(std::move(memory)) {
    if (!memory_.nowMs)
        memory_.nowMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
}

std::int64_t GmcSimulation::DeviceMs() const {
    return memory_.nowMs() + memory_.clockOffsetMs;
}

QByteArray GmcSimulation::Counted(std::uint32_t pulses) {
    if (!heartbeat_)
        return {};
    QByteArray word;
    if (version_ == GmcVersion::Rfc1201) {
        const std::uint32_t cps = std::min<std::uint32_t>(pulses, 0x3fff);
        word += char(cps >> 8);
        word += char(cps & 0xff);
    } else {
        for (int shift = 24; shift >= 0; shift -= 8)
            word += char(pulses >> shift & 0xff);
    }
    return word;
}

void GmcSimulation::Unheard(std::uint32_t) {
    heartbeat_ = false; // unplugging ends the host's session
}

QByteArray GmcSimulation::Heard(QByteArrayView bytes) {
    heard_ += bytes.toByteArray();
    QByteArray replies;
    for (;;) {
        const qsizetype open = heard_.indexOf('<');
        if (open < 0) {
            heard_.clear();
            break;
        }
        heard_.remove(0, open);
        qsizetype nameEnd = 1;
        while (nameEnd < heard_.size() && std::isalnum(static_cast<unsigned char>(heard_[nameEnd])))
            ++nameEnd;
        const QByteArray name = heard_.mid(1, nameEnd - 1);
        int parameters = ParameterBytes(name);
        if (parameters < 0) {
            const qsizetype close = heard_.indexOf(">>", 1);
            if (close < 0)
                break;
            parameters = static_cast<int>(close - nameEnd);
        }
        if (heard_.size() < nameEnd + parameters + 2)
            break;
        const QByteArray command = heard_.first(nameEnd + parameters + 2);
        heard_.remove(0, command.size());
        if (command.endsWith(">>"))
            replies += Answer(name);
    }
    return replies;
}

QByteArray GmcSimulation::Answer(QByteArrayView name) {
    const bool rfc1201 = version_ == GmcVersion::Rfc1201;
    if (name == "GETVER")
        return rfc1201 ? QByteArray("GMC-300Re 4.54") : QByteArray("GMC-500+Re 2.42");
    if (name == "GETSERIAL") {
        QByteArray serial = memory_.serial.toLatin1().right(7);
        return serial.rightJustified(7, '\0');
    }
    if (name == "HEARTBEAT1" || name == "HEARTBEAT0") {
        heartbeat_ = name == "HEARTBEAT1";
        return {};
    }
    if (name == "GETDATETIME")
        return Stamp(DeviceMs()) + char(0xaa);
    if (name == "GETCFG") {
        QByteArray config(rfc1201 ? 256 : 512, '\0');
        const std::pair<int, float> points[] = {{60, 0.39f}, {240, 1.56f}, {1000, 6.5f}};
        for (int p = 0; p < 3; ++p) {
            const int at = 8 + 6 * p;
            config[at] = char(points[p].first >> 8);
            config[at + 1] = char(points[p].first & 0xff);
            const auto bits = std::bit_cast<std::uint32_t>(points[p].second);
            for (int i = 0; i < 4; ++i)
                config[at + 2 + i] = char(rfc1201 ? bits >> (8 * i) : bits >> (24 - 8 * i));
        }
        return config;
    }
    return {};
}

} // namespace korvinet::device
