#pragma once

#include "device/counter_device.h"
#include "device/serial_exchange.h"
#include "device/serial_ports.h"

#include <QByteArrayView>
#include <mutex>
#include <optional>
#include <vector>

namespace korvinet::platform {
class Clock;
} // namespace korvinet::platform

namespace korvinet::device {

// The protocol versions of GQ's GMC counters: GQ-RFC1201 (GMC-280/300/320)
// and GQ-RFC1801 (GMC-500/600/800). Both take commands "<NAME>>" with
// binary parameters, at 115200 or 57600 baud, and answer in raw bytes. They
// differ in widths: the per-second heartbeat is 2 bytes, most significant
// first, of which the lowest 14 bits count (bits 14 and 15 are reserved),
// in RFC1201, and 4 bytes in RFC1801; the configuration is 256 bytes in
// RFC1201 and 512 in RFC1801.
enum class GmcVersion { Rfc1201, Rfc1801 };

// Reading what a GMC counter says.
struct GmcReplies {
    // The model of a <GETVER>> reply ("GMC-320Re 4.26" -> "GMC-320",
    // "GMC-600+Re 1.14" -> "GMC-600+"); none when it is no GMC's.
    static std::optional<QString> Model(QByteArrayView version);
    // RFC1801 covers the GMC-500 and after; the others speak RFC1201.
    static GmcVersion VersionOf(const QString& model);
    static int HeartbeatBytes(GmcVersion version) { return version == GmcVersion::Rfc1201 ? 2 : 4; }
    static std::uint32_t HeartbeatCount(GmcVersion version, QByteArrayView word);
    // The sensitivity in cpm per µSv/h of the configuration's first
    // calibration point that has one. Neither document gives the layout:
    // the points are at offsets 8, 14 and 20, a CPM of 2 bytes, most
    // significant first, and then the µSv/h it gives as a 4-byte float,
    // least significant byte first in RFC1201 and most significant first
    // in RFC1801, as the configuration the counters return is laid out.
    static std::optional<double> Sensitivity(GmcVersion version, QByteArrayView config);
};

// A GQ GMC counter (GmcVersion): counts from its heartbeat, one count a
// second, and the calibration it stores. The history in its flash is left
// unread: the protocol documents give the command that reads it but not how
// the records are laid out, and a gap filled by guessing would put readings
// nobody can trust into the journal.
class GmcCounter final : public CounterDevice {
public:
    static constexpr int kBaud = 115200;
    static constexpr int kOtherBaud = 57600;
    static constexpr std::uint32_t kSilenceMs = 10000;

    // "GQ GMC-320" when a GMC counter answers on the port at either baud
    // rate; none otherwise.
    static std::optional<QString> Recognise(const SerialPortEntry& port);

    // With baud 0 both common rates are tried.
    GmcCounter(SerialPortEntry port, int baud, const platform::Clock& clock);

    OpenResult Open(QString* error) override;
    bool Restart() override;
    bool Sample(CounterSample* sample, QString* why) override;
    bool SetBeep(bool) override { return false; }
    bool Close() override;
    const CounterFacts& Facts() const override { return facts_; }
    std::optional<CounterCalibration> OwnCalibration() const override { return calibration_; }
    CounterLinkStatus LinkStatus() const override;
    CounterMemory* Memory() override { return nullptr; }

private:
    void Heard(const char* data, int size);
    // The exact number of bytes of a command's reply.
    SerialExchange::Answer AskBytes(QByteArrayView command, qsizetype bytes, int idleMs,
                                    QByteArray* reply);
    bool Heartbeat(bool on);

    SerialPortEntry port_;
    int baud_;
    const platform::Clock& clock_;
    GmcVersion version_ = GmcVersion::Rfc1201;
    CounterFacts facts_;
    std::optional<CounterCalibration> calibration_;

    mutable std::mutex mutex_; // the heartbeat, fed on the link's thread
    QByteArray word_;
    std::uint32_t counts_ = 0;
    std::uint32_t beats_ = 0;
    std::uint64_t beatsRead_ = 0;
    std::uint32_t lastBeatTick_ = 0;
    SerialExchange exchange_;
};

} // namespace korvinet::device
