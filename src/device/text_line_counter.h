#pragma once

#include "device/counter_device.h"
#include "device/serial_link.h"
#include "device/serial_ports.h"

#include <QByteArray>
#include <QByteArrayView>
#include <mutex>
#include <optional>

namespace korvinet::platform {
class Clock;
} // namespace korvinet::platform

namespace korvinet::device {

// The lines of the common open-hardware kit, once a second at 9600 baud:
//   CPS, 12, CPM, 745, uSv/hr, 4.24, SLOW
// with SLOW, FAST or INST naming how the kit averaged its CPM. Each line
// counts the pulses of the second before it (CPS): those are the counts, and
// each line that reads covers 1000 ms. The kit's CPM and dose are its own
// averages and are not used.
//
// A line that does not read (noise on the line, a partial line, the kit's
// banner) is skipped and counted, never taken as a reading. The bytes before
// the first line end after opening may be the tail of a line: that first
// line is taken if it reads and otherwise dropped without counting it.
class TextLineDecoder {
public:
    // Longer than any line the kit sends; a longer one is noise.
    static constexpr int kMaxLine = 128;

    // The CPS of one line, without its line end; none when it does not read.
    static std::optional<std::uint32_t> ReadLine(QByteArrayView line);

    void Feed(const char* data, int size);
    // What the lines read since the last Take counted, and how many they were.
    struct Taken {
        std::uint32_t counts = 0;
        std::uint32_t lines = 0;
    };
    Taken Take();
    // Forgets the lines not taken and any partial line; the next line may
    // start anywhere.
    void Restart();

    std::uint64_t LinesRead() const { return linesRead_; }
    std::uint64_t LinesSkipped() const { return skipped_; }

private:
    void EndLine();

    QByteArray line_;
    bool synced_ = false;   // a line end has been seen since the start
    bool overlong_ = false; // the line so far is past kMaxLine: noise
    Taken taken_;
    std::uint64_t linesRead_ = 0;
    std::uint64_t skipped_ = 0;
};

// A counter that prints a text line of counts every second (see
// TextLineDecoder) on a serial port the user named as one. Without its
// lines for kSilenceMs the counter is taken to have gone (a hung kit, a
// broken cable): the sample fails rather than reading zero.
class TextLineCounter final : public CounterDevice {
public:
    static constexpr int kBaud = 9600;
    static constexpr std::uint32_t kSilenceMs = 10000;
    static constexpr std::uint32_t kLineMs = 1000;

    TextLineCounter(SerialPortEntry port, int baud, const platform::Clock& clock);

    OpenResult Open(QString* error) override;
    bool Restart() override;
    bool Sample(CounterSample* sample, QString* why) override;
    bool SetBeep(bool) override { return false; }
    bool Close() override;
    const CounterFacts& Facts() const override { return facts_; }
    std::optional<CounterCalibration> OwnCalibration() const override { return std::nullopt; }
    CounterLinkStatus LinkStatus() const override;
    CounterMemory* Memory() override { return nullptr; }

private:
    SerialPortEntry port_;
    int baud_;
    const platform::Clock& clock_;
    CounterFacts facts_;
    mutable std::mutex mutex_; // the decoder is fed on the link's thread
    TextLineDecoder decoder_;
    std::uint32_t lastLineTick_ = 0;
    SerialLink link_;
};

} // namespace korvinet::device
