// LibFtdiPort and the receive pump over a scripted FTDI chip. This program
// defines the libusb calls the port and libftdi make, so they reach the
// chip below instead of a USB bus; calls for anything else go on to libusb.
// Time is simulated: it passes only while the host waits for the bus.

#include "device/libftdi_port.h"

#include <dlfcn.h>
#include <ftdi.h>
#include <libusb.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <random>
#include <thread>

namespace korvinet::device {
namespace {

// A full-speed FT232R on a counter: every pulse is one byte on the line
// (Poisson pulses, each waiting for the line while the one before is still
// on it at 921600 baud) into the chip's 256-byte receive buffer. On a read
// request the chip sends a full packet (2 status bytes, 62 data bytes) as
// soon as it holds 62 bytes, and what it holds, maybe nothing, when its
// latency timer runs out.
class ScriptedChip {
public:
    static constexpr int kPacketSize = 64;
    static constexpr int kFifoSize = 256;
    static constexpr double kLatencyMs = 2.0;
    static constexpr double kPacketMs = 0.05;     // a packet's time on the bus
    static constexpr double kByteMs = 10 / 921.6; // a byte's time on the line
    static constexpr double kControlMs = 1.0;     // a control request
    static constexpr double kSampleMs = 3000.0;

    // No pulse comes after stopMs.
    explicit ScriptedChip(double countsPerMinute, double stopMs = HUGE_VAL)
        : gap_(countsPerMinute / 60000.0), stopMs_(stopMs) {
        pulse_ = nextArrival_ = gap_(random_);
    }

    libusb_device_handle* Handle() { return reinterpret_cast<libusb_device_handle*>(&device_); }
    libusb_context* Context() { return reinterpret_cast<libusb_context*>(&context_); }
    double Now() const { return published_.load(); }
    std::uint64_t Lost() const { return lost_; }
    std::uint64_t Produced() const { return produced_; }
    std::uint64_t ProducedAtFlush() const { return producedAtFlush_; }
    // Pulses produced by each multiple of kSampleMs so far.
    const std::vector<std::uint64_t>& ProducedBySample() const { return producedBy_; }

    void Submit(libusb_transfer* transfer) { queue_.push_back(transfer); }
    void Cancel(libusb_transfer* transfer) { cancelled_.push_back(transfer); }

    // Completes the next transfer, if one comes back within tv.
    void HandleEvents(const timeval* tv) {
        const double limit = now_ + (tv ? tv->tv_sec * 1000.0 + tv->tv_usec / 1000.0 : 60000.0);
        if (!cancelled_.empty()) {
            libusb_transfer* t = cancelled_.front();
            cancelled_.pop_front();
            std::erase(queue_, t);
            Finish(t, LIBUSB_TRANSFER_CANCELLED, 0);
            return;
        }
        if (queue_.empty()) {
            RunUntil(limit);
            return;
        }
        libusb_transfer* t = queue_.front();
        const int sent = NextPacket(std::min(t->length, kPacketSize) - 2, limit);
        if (sent < 0)
            return;
        queue_.pop_front();
        Finish(t, LIBUSB_TRANSFER_COMPLETED, sent);
    }

    void Control(std::uint8_t request, std::uint16_t value) {
        RunUntil(now_ + kControlMs);
        if (request == SIO_RESET_REQUEST && value == SIO_TCIFLUSH) {
            fifo_ = 0;
            producedAtFlush_ = produced_;
        }
    }

private:
    // The data bytes of the chip's next packet once it sends it, or -1
    // when it sends none by limit.
    int NextPacket(int room, double limit) {
        RunUntil(now_);
        for (;;) {
            if (fifo_ >= room)
                return Send(room);
            const double timer = std::max(lastPacket_ + kLatencyMs, now_);
            if (nextArrival_ < timer && nextArrival_ <= limit) {
                Arrive();
                continue;
            }
            if (timer > limit) {
                RunUntil(limit);
                return -1;
            }
            SetNow(timer);
            return Send(fifo_);
        }
    }
    int Send(int n) {
        fifo_ -= n;
        SetNow(now_ + kPacketMs);
        lastPacket_ = now_;
        return n;
    }
    void RunUntil(double t) {
        while (nextArrival_ <= t)
            Arrive();
        SetNow(std::max(now_, t));
    }
    void Arrive() {
        SetNow(std::max(now_, nextArrival_));
        ++produced_;
        if (fifo_ < kFifoSize)
            ++fifo_;
        else
            ++lost_;
        // A pulse waits for the line while the one before is still on it.
        pulse_ += gap_(random_);
        nextArrival_ = std::max(pulse_, nextArrival_ + kByteMs);
        if (nextArrival_ > stopMs_)
            nextArrival_ = HUGE_VAL;
    }
    void SetNow(double t) {
        while (t > kSampleMs * static_cast<double>(producedBy_.size() + 1))
            producedBy_.push_back(produced_);
        now_ = t;
        published_.store(t);
    }
    void Finish(libusb_transfer* t, libusb_transfer_status status, int data) {
        t->status = status;
        t->actual_length = status == LIBUSB_TRANSFER_COMPLETED ? 2 + data : 0;
        if (t->actual_length >= 2) {
            t->buffer[0] = 0x01; // modem status
            t->buffer[1] = 0x60; // line status: transmitter empty
        }
        t->callback(t);
    }

    char device_ = 0, context_ = 0;
    std::mt19937_64 random_{11};
    std::exponential_distribution<double> gap_;
    double stopMs_;
    double now_ = 0, pulse_ = 0, nextArrival_ = 0, lastPacket_ = 0;
    std::atomic<double> published_{0};
    int fifo_ = 0;
    std::uint64_t produced_ = 0, lost_ = 0, producedAtFlush_ = 0;
    std::vector<std::uint64_t> producedBy_;
    std::deque<libusb_transfer*> queue_, cancelled_;
};

ScriptedChip* chip = nullptr;

template <typename F> F Next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace
} // namespace korvinet::device

using korvinet::device::chip;
using korvinet::device::Next;

extern "C" {

int libusb_submit_transfer(libusb_transfer* transfer) {
    if (!chip || transfer->dev_handle != chip->Handle())
        return Next<int (*)(libusb_transfer*)>("libusb_submit_transfer")(transfer);
    chip->Submit(transfer);
    return 0;
}

int libusb_cancel_transfer(libusb_transfer* transfer) {
    if (!chip || transfer->dev_handle != chip->Handle())
        return Next<int (*)(libusb_transfer*)>("libusb_cancel_transfer")(transfer);
    chip->Cancel(transfer);
    return 0;
}

int libusb_handle_events_timeout_completed(libusb_context* ctx, timeval* tv, int* completed) {
    if (!chip || ctx != chip->Context())
        return Next<int (*)(libusb_context*, timeval*, int*)>(
            "libusb_handle_events_timeout_completed")(ctx, tv, completed);
    if (!completed || !*completed)
        chip->HandleEvents(tv);
    return 0;
}

int libusb_control_transfer(libusb_device_handle* handle, std::uint8_t requestType,
                            std::uint8_t request, std::uint16_t value, std::uint16_t index,
                            unsigned char* data, std::uint16_t length, unsigned timeout) {
    if (!chip || handle != chip->Handle())
        return Next<int (*)(libusb_device_handle*, std::uint8_t, std::uint8_t, std::uint16_t,
                            std::uint16_t, unsigned char*, std::uint16_t, unsigned)>(
            "libusb_control_transfer")(handle, requestType, request, value, index, data, length,
                                       timeout);
    chip->Control(request, value);
    return length;
}

int libusb_release_interface(libusb_device_handle* handle, int interface) {
    if (!chip || handle != chip->Handle())
        return Next<int (*)(libusb_device_handle*, int)>("libusb_release_interface")(handle,
                                                                                     interface);
    return 0;
}

void libusb_close(libusb_device_handle* handle) {
    if (!chip || handle != chip->Handle())
        Next<void (*)(libusb_device_handle*)>("libusb_close")(handle);
}

void libusb_exit(libusb_context* ctx) {
    if (!chip || ctx != chip->Context())
        Next<void (*)(libusb_context*)>("libusb_exit")(ctx);
}

} // extern "C"

namespace korvinet::device {
namespace {

// When each read returned and how long it took, in simulated time.
struct ReadLog {
    double longestRead = 0;
    std::uint64_t read = 0;
    std::vector<std::uint64_t> readBy; // bytes read by each multiple of kSampleMs
};

class TimedPort final : public ReceivePump::Port {
public:
    TimedPort(std::unique_ptr<ReceivePump::Port> port, ReadLog& log)
        : port_(std::move(port)), log_(log) {}

    int Read(std::uint8_t* buffer, int size) override {
        const double start = chip->Now();
        const int n = port_->Read(buffer, size);
        log_.longestRead = std::max(log_.longestRead, chip->Now() - start);
        while (chip->Now() > ScriptedChip::kSampleMs * static_cast<double>(log_.readBy.size() + 1))
            log_.readBy.push_back(log_.read);
        log_.read += static_cast<std::uint64_t>(std::max(n, 0));
        return n;
    }
    int LineStatus() override { return port_->LineStatus(); }
    int FlushReceived() override { return port_->FlushReceived(); }
    Error Classify(int error) const override { return port_->Classify(error); }

private:
    std::unique_ptr<ReceivePump::Port> port_;
    ReadLog& log_;
};

// A device as libftdi leaves it after opening, on the scripted chip. The
// port frees it (ftdi_free) when it closes the device.
ftdi_context* OpenedContext() {
    auto* ftdi = static_cast<ftdi_context*>(std::calloc(1, sizeof(ftdi_context)));
    ftdi->usb_ctx = chip->Context();
    ftdi->usb_dev = chip->Handle();
    ftdi->type = TYPE_R;
    ftdi->max_packet_size = ScriptedChip::kPacketSize;
    ftdi->out_ep = 0x81;
    ftdi->usb_read_timeout = ftdi->usb_write_timeout = 1000;
    return ftdi;
}

struct PortRun {
    ScriptedChip scripted;
    ReadLog log;
    std::unique_ptr<ReceivePump> pump;

    explicit PortRun(double countsPerMinute, double stopMs = HUGE_VAL)
        : scripted(countsPerMinute, stopMs) {
        chip = &scripted;
        pump = std::make_unique<ReceivePump>(
            std::make_unique<TimedPort>(std::make_unique<LibFtdiPort>(OpenedContext()), log));
    }
    ~PortRun() {
        pump.reset();
        chip = nullptr;
    }
    // Whether the pump got the chip's time there; the limit only keeps a
    // broken port from hanging the test.
    bool RunUntil(double ms) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (scripted.Now() < ms) {
            if (std::chrono::steady_clock::now() > limit)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
};

class LibFtdiPortRate : public ::testing::TestWithParam<double> {};

// A sample counts what the pump has read by its tick. With reads that
// return as soon as a packet has come, that is every pulse produced by
// then but the few still in the chip or on the bus.
TEST_P(LibFtdiPortRate, EverySampleIsWithinOnePacketOfThePulsesOfItsInterval) {
    PortRun run(GetParam());
    constexpr int kSamples = 10;
    ASSERT_TRUE(run.RunUntil(kSamples * ScriptedChip::kSampleMs + 1));
    run.pump.reset(); // no more reads: the log is final

    const auto& produced = run.scripted.ProducedBySample();
    const auto& read = run.log.readBy;
    ASSERT_GE(produced.size(), std::size_t{kSamples});
    ASSERT_GE(read.size(), std::size_t{kSamples});
    for (int i = 0; i < kSamples; ++i) {
        const double sample = static_cast<double>(read[i] - (i > 0 ? read[i - 1] : 0));
        const double pulses = static_cast<double>(produced[i] - (i > 0 ? produced[i - 1] : 0));
        EXPECT_NEAR(sample, pulses, ScriptedChip::kPacketSize) << "sample " << i + 1;
    }
    EXPECT_EQ(run.scripted.Lost(), 0u) << "the chip's buffer overflowed";
    // A command queued behind a read waits at most for that read.
    EXPECT_LE(run.log.longestRead, 3.0) << "ms";
}

INSTANTIATE_TEST_SUITE_P(Cpm, LibFtdiPortRate, ::testing::Values(150000.0, 5500000.0),
                         [](const auto& test) {
                             return std::to_string(static_cast<long>(test.param)) + "cpm";
                         });

// A purge drops everything that arrived before it, also what was still on
// its way, and every pulse after it is counted.
TEST(LibFtdiPort, PurgeDropsWhatCameBeforeAndCountsWhatComesAfter) {
    PortRun run(1000000, 2000);
    ASSERT_TRUE(run.RunUntil(500));
    ASSERT_EQ(run.pump->PurgeReceived(), 0);
    ASSERT_TRUE(run.RunUntil(2100)); // the pulses have stopped and the chip is empty
    const std::uint32_t queued = run.pump->Queued();
    run.pump.reset();
    EXPECT_EQ(queued, run.scripted.Produced() - run.scripted.ProducedAtFlush());
    EXPECT_GT(run.scripted.ProducedAtFlush(), 0u);
}

} // namespace
} // namespace korvinet::device
