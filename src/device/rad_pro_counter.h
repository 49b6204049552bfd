#pragma once

#include "device/counter_device.h"
#include "device/serial_exchange.h"
#include "device/serial_ports.h"

#include <QByteArrayView>
#include <optional>
#include <vector>

namespace korvinet::platform {
class Clock;
} // namespace korvinet::platform

namespace korvinet::device {

// A counter running the open Rad Pro firmware (FS2011, Bosean FS-600/1000/
// 5000, FNIRSI GC-01/03, GMC-800 and others), which answers request lines at
// 115200 baud: "GET tubePulseCount\r\n" -> "OK 1500\r\n", "ERROR\r\n" for a
// request it does not know. Requests end "\r\n"; the firmware skips every
// byte below a space but the "\n", so older releases, which documented "\n"
// alone, read them too, and replies end with either.
//
// The counts are the difference of the tube's lifetime pulse count between
// two samples, taken modulo 2^32 (the firmware lets it overflow to 0), over
// the time between the two replies. The calibration is the tube's
// sensitivity in cpm per µSv/h (called tubeConversionFactor before 2.0),
// and the dead time the device compensates with where the owner turned
// that on: the pulse count is raw, so it is compensated here, once. With the
// device's compensation off, the device's measured upper bound of its dead
// time is used where it is a dead time a tube can have at all.
//
// Its memory is the data log ("GET datalog"): times and lifetime pulse counts
// of a session at a time, ";;" between sessions.
class RadProCounter final : public CounterDevice, public CounterMemory {
public:
    static constexpr int kBaud = 115200;
    // How long a reply may keep us waiting; the counter answers within
    // milliseconds.
    static constexpr int kReplyMs = 1000;

    struct Identity {
        QString hardware; // "FS2011 (STM32F051C8)"
        QString software; // "Rad Pro 2.0/en"
        QString deviceId;
    };
    // The value of a reply "OK value"; none for ERROR or what does not read.
    static std::optional<QByteArrayView> Value(QByteArrayView line);
    static std::optional<Identity> ReadIdentity(QByteArrayView value);
    // The hardware without the microcontroller in brackets: "FS2011".
    static QString Model(const QString& hardware);
    // The records of a data log reply's value ("time,tubePulseCount;;t,n;...")
    // whose intervals end after sinceMs. False when the log does not read.
    static bool ReadDatalog(QByteArrayView value, std::int64_t sinceMs,
                            std::vector<MemoryRecord>* records);
    // "Rad Pro FS2011" when a Rad Pro counter answers on the port; none
    // otherwise.
    static std::optional<QString> Recognise(const SerialPortEntry& port);

    RadProCounter(SerialPortEntry port, int baud, const platform::Clock& clock);

    OpenResult Open(QString* error) override;
    bool Restart() override;
    bool Sample(CounterSample* sample, QString* why) override;
    bool SetBeep(bool) override { return false; }
    bool Close() override;
    const CounterFacts& Facts() const override { return facts_; }
    std::optional<CounterCalibration> OwnCalibration() const override { return calibration_; }
    CounterLinkStatus LinkStatus() const override { return {exchange_.Received(), replies_, 0}; }
    CounterMemory* Memory() override { return exchange_.IsOpen() ? this : nullptr; }

    std::int64_t ClockOffsetMs() const override { return clockOffsetMs_; }
    bool ReadSince(std::int64_t sinceMs, std::vector<MemoryRecord>* records, QString* why) override;

private:
    // The value of the reply to "GET what"; none with why set when the
    // counter did not answer, an empty value with why empty on ERROR.
    std::optional<QByteArray> Get(QByteArrayView what, int idleMs, QString* why);
    std::optional<double> GetNumber(QByteArrayView what, QString* why);
    bool ReadCount(std::uint32_t* count, QString* why);

    SerialPortEntry port_;
    int baud_;
    const platform::Clock& clock_;
    CounterFacts facts_;
    std::optional<CounterCalibration> calibration_;
    std::int64_t clockOffsetMs_ = 0;
    std::uint32_t lastCount_ = 0;
    std::uint32_t lastTick_ = 0;
    std::uint64_t replies_ = 0;
    SerialExchange exchange_;
};

} // namespace korvinet::device
