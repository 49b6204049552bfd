#include "device/receive_pump.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <random>
#include <thread>

namespace korvinet::device {
namespace {

constexpr int kTimeout = -7;  // transient, like a USB read timeout
constexpr int kNoDevice = -4; // fatal, like an unplugged device

// What the fake port and the test share; the pump owns the port itself.
struct Wire {
    std::mutex mutex;
    std::deque<int> reads;      // scripted Read results, taken first
    std::deque<int> statuses;   // scripted LineStatus results, then 0
    std::uint64_t arriving = 0; // bytes on the line, handed out by Read
    int readCalls = 0;
    int flushes = 0;
    std::thread::id portThread;

    void Arrive(std::uint64_t n) {
        std::lock_guard lock(mutex);
        arriving += n;
    }
    bool Drained() {
        std::lock_guard lock(mutex);
        return reads.empty() && statuses.empty() && arriving == 0;
    }
};

class FakePort final : public ReceivePump::Port {
public:
    explicit FakePort(std::shared_ptr<Wire> wire) : wire_(std::move(wire)) {}

    int Read(std::uint8_t*, int size) override {
        {
            std::lock_guard lock(wire_->mutex);
            ++wire_->readCalls;
            wire_->portThread = std::this_thread::get_id();
            if (!wire_->reads.empty()) {
                const int r = wire_->reads.front();
                wire_->reads.pop_front();
                return r;
            }
            if (wire_->arriving > 0) {
                const auto n = std::min<std::uint64_t>(wire_->arriving, size);
                wire_->arriving -= n;
                return static_cast<int>(n);
            }
        }
        // An idle line: the chip answers with an empty packet after a while.
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        return 0;
    }
    int LineStatus() override {
        std::lock_guard lock(wire_->mutex);
        if (wire_->statuses.empty())
            return 0;
        const int s = wire_->statuses.front();
        wire_->statuses.pop_front();
        return s;
    }
    int FlushReceived() override {
        std::lock_guard lock(wire_->mutex);
        ++wire_->flushes;
        wire_->arriving = 0;
        return 0;
    }
    Error Classify(int error) const override {
        return error == kTimeout ? Error::Transient : Error::Fatal;
    }

private:
    std::shared_ptr<Wire> wire_;
};

// Waits for a condition the pump's thread brings about; the limit only
// keeps a broken pump from hanging the test.
template <typename F> bool Eventually(F condition) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

struct Pumped {
    std::shared_ptr<Wire> wire = std::make_shared<Wire>();
    std::unique_ptr<ReceivePump> pump;

    explicit Pumped(ReceivePump::Options options = {}) {
        pump = std::make_unique<ReceivePump>(std::make_unique<FakePort>(wire), std::move(options));
    }
    // Scripted results must be in place before the pump's first read.
    Pumped(std::deque<int> reads, std::deque<int> statuses, ReceivePump::Options options = {}) {
        wire->reads = std::move(reads);
        wire->statuses = std::move(statuses);
        pump = std::make_unique<ReceivePump>(std::make_unique<FakePort>(wire), std::move(options));
    }
};

// ------------------------------------------------------------ reading

struct ReadCase {
    const char* name;
    std::deque<int> reads;
    int maxTransientErrors;
    std::uint64_t expectedReceived;
    bool expectedLost;
};

class PumpReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(PumpReadTest, CountsWhatWasReadAndNoticesALostDevice) {
    const ReadCase& c = GetParam();
    ReceivePump::Options options;
    options.maxTransientErrors = c.maxTransientErrors;
    Pumped p(c.reads, {}, options);
    if (c.expectedLost)
        ASSERT_TRUE(Eventually([&] { return p.pump->Lost(); }));
    else
        ASSERT_TRUE(Eventually([&] { return p.wire->Drained(); }));
    // The pump has gone past its last scripted read: nothing more will come.
    const int calls = [&] {
        std::lock_guard lock(p.wire->mutex);
        return p.wire->readCalls;
    }();
    if (!c.expectedLost) {
        ASSERT_TRUE(Eventually([&] {
            std::lock_guard lock(p.wire->mutex);
            return p.wire->readCalls > calls;
        }));
    }
    EXPECT_EQ(p.pump->Received(), c.expectedReceived);
    EXPECT_EQ(p.pump->Queued(), c.expectedReceived);
    EXPECT_EQ(p.pump->Lost(), c.expectedLost);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, PumpReadTest,
    ::testing::Values(
        // An empty read is an idle line, not the end of the device.
        ReadCase{"ZeroLengthReadsKeepReading", {5, 0, 0, 0, 3, 0, 2}, 50, 10, false},
        ReadCase{"OnlyZeroLengthReads", {0, 0, 0, 0}, 50, 0, false},
        ReadCase{"TimeoutsAreRetried", {4, kTimeout, kTimeout, 6}, 50, 10, false},
        ReadCase{"TimeoutsWithDataBetweenDoNotAddUp",
                 {kTimeout, 1, kTimeout, 1, kTimeout, 1},
                 2,
                 3,
                 false},
        ReadCase{"UnpluggedStopsReading", {4, kNoDevice, 9}, 50, 4, true},
        ReadCase{"EndlessTimeoutsCountAsLost", {kTimeout, kTimeout, kTimeout, 5}, 3, 0, true}),
    [](const auto& test) { return std::string(test.param.name); });

// ------------------------------------------------------------ overruns

TEST(ReceivePump, CountsEveryPolledOverrunFlag) {
    // Line status bytes: data ready 0x01, overrun 0x02, transmitter empty 0x60.
    const std::deque<int> statuses = {0x00, 0x02, 0x60, 0x62, 0x01, 0x03, kTimeout, 0x60};
    std::vector<std::uint64_t> reported;
    std::mutex reportedMutex;
    ReceivePump::Options options;
    options.statusEvery = 1;
    options.onOverrun = [&](std::uint64_t total) {
        std::lock_guard lock(reportedMutex);
        reported.push_back(total);
    };
    Pumped p({}, statuses, options);
    ASSERT_TRUE(Eventually([&] { return p.wire->Drained(); }));
    EXPECT_EQ(p.pump->Overruns(), 3u);
    std::lock_guard lock(reportedMutex);
    EXPECT_EQ(reported, (std::vector<std::uint64_t>{1, 2, 3}));
}

TEST(ReceivePump, PollsTheLineStatusOnlyEveryFewReads) {
    ReceivePump::Options options;
    options.statusEvery = 4;
    Pumped p({0, 0, 0}, {0x02}, options);
    // Three reads in, the status has not been asked for yet.
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard lock(p.wire->mutex);
        return p.wire->readCalls >= 3;
    }));
    ASSERT_TRUE(Eventually([&] { return p.pump->Overruns() == 1; }));
    std::lock_guard lock(p.wire->mutex); // the pump's thread is still reading
    EXPECT_GE(p.wire->readCalls, 4);
}

// ------------------------------------------------------------ the running total

TEST(ReceivePump, DiscardRemovesOnlyWhatWasCounted) {
    Pumped p;
    p.wire->Arrive(10);
    ASSERT_TRUE(Eventually([&] { return p.pump->Received() == 10; }));
    p.pump->Discard(4);
    EXPECT_EQ(p.pump->Queued(), 6u);
    p.wire->Arrive(5);
    ASSERT_TRUE(Eventually([&] { return p.pump->Received() == 15; }));
    EXPECT_EQ(p.pump->Queued(), 11u);
    p.pump->Discard(100); // more than is there: only what is there
    EXPECT_EQ(p.pump->Queued(), 0u);
    p.wire->Arrive(2);
    ASSERT_TRUE(Eventually([&] { return p.pump->Received() == 17; }));
    EXPECT_EQ(p.pump->Queued(), 2u) << "an over-large discard must not eat future bytes";
}

TEST(ReceivePump, PurgeFlushesThePortAndDropsEverythingCounted) {
    Pumped p;
    p.wire->Arrive(7);
    ASSERT_TRUE(Eventually([&] { return p.pump->Received() == 7; }));
    EXPECT_EQ(p.pump->PurgeReceived(), 0);
    EXPECT_EQ(p.pump->Queued(), 0u);
    EXPECT_EQ(p.wire->flushes, 1);
    p.wire->Arrive(3);
    ASSERT_TRUE(Eventually([&] { return p.pump->Received() == 10; }));
    EXPECT_EQ(p.pump->Queued(), 3u);
}

TEST(ReceivePump, CommandsRunOnThePortsThreadAndReturnTheirResult) {
    Pumped p;
    std::thread::id ranOn;
    EXPECT_EQ(p.pump->Call([&] {
        ranOn = std::this_thread::get_id();
        return 42;
    }),
              42);
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard lock(p.wire->mutex);
        return p.wire->portThread != std::thread::id();
    }));
    EXPECT_NE(ranOn, std::this_thread::get_id());
    std::lock_guard lock(p.wire->mutex);
    EXPECT_EQ(ranOn, p.wire->portThread);
}

TEST(ReceivePump, CommandsStillRunAfterTheDeviceWasLost) {
    Pumped p({kNoDevice}, {});
    ASSERT_TRUE(Eventually([&] { return p.pump->Lost(); }));
    EXPECT_EQ(p.pump->Call([] { return -3; }), -3);
    EXPECT_EQ(p.pump->PurgeReceived(), 0);
}

// The sampler's side runs while bytes pour in. Every byte produced is either
// in one sample or still queued: none is lost between counting and discarding.
TEST(ReceivePump, NoByteIsLostWhileSamplingRacesTheReader) {
    Pumped p;
    constexpr std::uint64_t kProduced = 200000;
    std::thread producer([&] {
        std::mt19937 random(7);
        std::uniform_int_distribution<int> chunk(1, 700);
        std::uint64_t sent = 0;
        while (sent < kProduced) {
            const auto n = std::min<std::uint64_t>(chunk(random), kProduced - sent);
            p.wire->Arrive(n);
            sent += n;
            if (sent % 7 == 0)
                std::this_thread::yield();
        }
    });
    std::uint64_t sampled = 0;
    int samples = 0;
    while (p.pump->Received() < kProduced || samples < 100) {
        const std::uint32_t n = p.pump->Queued();
        std::this_thread::yield(); // widen the window between counting and discarding
        p.pump->Discard(n);
        sampled += n;
        ++samples;
    }
    producer.join();
    ASSERT_TRUE(Eventually([&] { return p.pump->Received() == kProduced; }));
    EXPECT_EQ(sampled + p.pump->Queued(), kProduced);
    EXPECT_GT(samples, 1);
}

} // namespace
} // namespace korvinet::device
