#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QThread;

namespace korvinet::device {

// Keeps a USB-serial port drained on a thread of its own and counts what
// arrives. The bridge chip's receive FIFO holds only a few milliseconds of
// data at the counter's baud rate, so waiting for the next 3-second sample
// before reading would lose pulses; the pump reads continuously, adds every
// byte to a running total, and the sampler works on that total: Queued() is
// what arrived and was not yet discarded, Discard() removes exactly the bytes
// a sample counted, and anything arriving in between stays for the next one.
//
// Everything else that touches the port (line settings, flushing, EEPROM)
// runs through Call() on the pump's thread between two reads, so the port
// itself is only ever used from one thread. A port built of Qt objects (a
// serial port) asks for a QThread, on which they can be made and used.
class ReceivePump {
public:
    // The port calls the pump makes on its own.
    class Port {
    public:
        enum class Error { Transient, Fatal };

        virtual ~Port() = default;
        // Reads what has arrived, waiting at most about one latency period:
        // the number of bytes (0 when nothing arrived), or a negative error.
        virtual int Read(std::uint8_t* buffer, int size) = 0;
        // The chip's line status byte (bit 1: receive overrun), or negative;
        // a port that sees the status in every packet gives the bits of all
        // packets since it was last asked.
        virtual int LineStatus() = 0;
        // Empties the chip's receive FIFO and anything read ahead from USB.
        virtual int FlushReceived() = 0;
        // Whether a negative result means the device is gone.
        virtual Error Classify(int error) const = 0;
    };

    static constexpr std::uint8_t kOverrunBit = 0x02;

    struct Options {
        int readSize = 4096;
        // The line status is polled after every this many reads.
        int statusEvery = 8;
        // Transient errors in a row after which the port counts as lost.
        int maxTransientErrors = 50;
        // Called on the pump's thread when an overrun is seen, with the total.
        std::function<void(std::uint64_t overruns)> onOverrun;
        // Called on the pump's thread with every chunk read, before Received()
        // counts it: for a protocol that reads the bytes rather than counting
        // them.
        std::function<void(const std::uint8_t* data, int size)> onReceived;
        // Called by Call() once its command is queued: a port whose reads may
        // wait long is woken, so the command runs at once.
        std::function<void()> wake;
        // The pump's thread is a QThread, for a port of Qt objects.
        bool qtThread = false;
    };

    ReceivePump(std::unique_ptr<Port> port, Options options);
    explicit ReceivePump(std::unique_ptr<Port> port) : ReceivePump(std::move(port), Options{}) {}
    // Stops the thread, then releases the port (on the calling thread).
    ~ReceivePump();
    ReceivePump(const ReceivePump&) = delete;
    ReceivePump& operator=(const ReceivePump&) = delete;

    // Bytes received and not yet discarded (at most 2^32 - 1).
    std::uint32_t Queued() const;
    // Removes count bytes (at most what is queued) from the front.
    void Discard(std::uint32_t count);
    // Flushes the port and discards everything counted so far; the result
    // is the port's. Runs on the pump's thread.
    int PurgeReceived();
    // Runs command on the pump's thread between two reads and returns its
    // result; kStopped when the pump no longer runs.
    int Call(const std::function<int()>& command);
    static constexpr int kStopped = -1000;

    // True once the port failed for good (unplugged): nothing more arrives.
    bool Lost() const { return lost_.load(); }
    std::uint64_t Received() const { return received_.load(); }
    std::uint64_t Overruns() const { return overruns_.load(); }

private:
    struct Job {
        std::function<int()> command;
        int result = 0;
        bool done = false;
    };

    void Loop();
    void RunJobs(std::unique_lock<std::mutex>& lock);
    void ReadOnce(std::uint8_t* buffer);

    std::unique_ptr<Port> port_;
    Options options_;

    // Only the pump's thread adds to received_; consumed_ never passes it.
    std::atomic<std::uint64_t> received_{0};
    std::atomic<std::uint64_t> consumed_{0};
    std::atomic<std::uint64_t> overruns_{0};
    std::atomic<bool> lost_{false};

    int reads_ = 0;
    int transientErrors_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<std::shared_ptr<Job>> jobs_;
    bool stop_ = false;
    std::thread thread_;
    std::unique_ptr<QThread> qtThread_;
};

} // namespace korvinet::device
