// Counters that answer questions, Rad Pro and GQ GMC: their replies read,
// their memories and clocks, and their faults through a pseudo-terminal.
#include "device/counter_choice.h"
#include "device/gmc_counter.h"
#include "device/rad_pro_counter.h"
#include "device/rad_pro_simulation.h"
#include "device/serial_kinds.h"
#include "platform/clock.h"
#include "support/serial_rig.h"
#include "support/wait_events.h"

#include <QDateTime>
#include <QTimeZone>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace korvinet::device {
namespace {

using testing::SerialRig;

std::vector<MemoryRecord> Datalog(const char* value, std::int64_t sinceMs, bool* read) {
    std::vector<MemoryRecord> records;
    *read = RadProCounter::ReadDatalog(QByteArrayView(value), sinceMs, &records);
    return records;
}

TEST(RadProReplies, IdentityAndValuesReadOnlyFromWholeOkReplies) {
    EXPECT_EQ(RadProCounter::Value("OK 1500\r\n"), QByteArrayView("1500"));
    EXPECT_EQ(RadProCounter::Value("OK 1500\n"), QByteArrayView("1500"));
    for (const char* bad : {"ERROR\r\n", "OK1500\r\n", "\xffOK 1\r\n", ""})
        EXPECT_FALSE(RadProCounter::Value(bad)) << bad;
    const auto id = RadProCounter::ReadIdentity("FS2011 (STM32F051C8);Rad Pro 2.0/en;b5706d93");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->deviceId, QStringLiteral("b5706d93"));
    EXPECT_EQ(RadProCounter::Model(id->hardware), QStringLiteral("FS2011"));
    EXPECT_EQ(RadProCounter::Model(QStringLiteral("Bosean FS-600")),
              QStringLiteral("Bosean FS-600"));
    for (const char* bad :
         {"FS2011;Rad Pro 2.0", "FS2011;Rad Pro;id;more", ";Rad Pro;id", "FS\x01;Rad Pro;id"})
        EXPECT_FALSE(RadProCounter::ReadIdentity(bad)) << bad;
}

TEST(RadProReplies, TheDatalogGivesIntervalsWithinSessionsAcrossTheWrap) {
    const struct {
        const char* value;
        std::int64_t sinceMs;
        bool read;
        std::vector<MemoryRecord> records;
    } cases[] = {
        {"time,tubePulseCount;;100,1542;160,1618;220,1693",
         0,
         true,
         {{160000, 60000, 76}, {220000, 60000, 75}}},
        // Only intervals ending after the time asked.
        {"time,tubePulseCount;;100,1542;160,1618;220,1693", 160000, true, {{220000, 60000, 75}}},
        // A new session: the interval across the break is unknown.
        {"time,tubePulseCount;;100,10;160,20;;400,5;460,8",
         0,
         true,
         {{160000, 60000, 10}, {460000, 60000, 3}}},
        // The lifetime count overflows to 0.
        {"time,tubePulseCount;;100,4294967290;160,4", 0, true, {{160000, 60000, 10}}},
        // Fields in another order; the clock set back breaks the session.
        {"tubePulseCount,time;5,100;9,160;12,150;20,210",
         0,
         true,
         {{160000, 60000, 4}, {210000, 60000, 8}}},
        {"time,tubePulseCount", 0, true, {}},
        {"time,tubePulseCount;;100,5;160", 0, false, {}},
        {"time,tubePulseCount;;100,5;16x,9", 0, false, {}},
        {"time;;100,5", 0, false, {}},
    };
    for (const auto& c : cases) {
        bool read = false;
        EXPECT_EQ(Datalog(c.value, c.sinceMs, &read), c.records) << c.value;
        EXPECT_EQ(read, c.read) << c.value;
    }
}

TEST(GmcReplies, ModelsWidthsCalibrationAndClockAsEachDocumentGivesThem) {
    EXPECT_EQ(GmcReplies::Model("GMC-320Re 4.26"), QStringLiteral("GMC-320"));
    EXPECT_EQ(GmcReplies::Model("GMC-600+Re 1.14"), QStringLiteral("GMC-600+"));
    EXPECT_FALSE(GmcReplies::Model("OK 1500\r\n"));
    EXPECT_FALSE(GmcReplies::Model("GMC\xff"));
    EXPECT_EQ(GmcReplies::VersionOf(QStringLiteral("GMC-320")), GmcVersion::Rfc1201);
    EXPECT_EQ(GmcReplies::VersionOf(QStringLiteral("GMC-500+")), GmcVersion::Rfc1801);
    // RFC1201: 14 bits count, bits 14 and 15 are reserved.
    EXPECT_EQ(GmcReplies::HeartbeatCount(GmcVersion::Rfc1201, "\xc0\x1c"), 28u);
    EXPECT_EQ(GmcReplies::HeartbeatCount(GmcVersion::Rfc1801, QByteArray("\x00\x01\x00\x1c", 4)),
              65564u);

    // 60 CPM for 0.39 µSv/h at offset 8, the float's bytes in each order.
    QByteArray little(256, '\0'), big(512, '\0');
    const QByteArray cpm("\x00\x3c", 2);
    little.replace(8, 6, cpm + QByteArray("\x14\xae\xc7\x3e", 4));
    big.replace(8, 6, cpm + QByteArray("\x3e\xc7\xae\x14", 4));
    EXPECT_NEAR(*GmcReplies::Sensitivity(GmcVersion::Rfc1201, little), 153.846, 0.001);
    EXPECT_NEAR(*GmcReplies::Sensitivity(GmcVersion::Rfc1801, big), 153.846, 0.001);
    EXPECT_FALSE(GmcReplies::Sensitivity(GmcVersion::Rfc1801, little)); // read the wrong way
    EXPECT_FALSE(GmcReplies::Sensitivity(GmcVersion::Rfc1201, QByteArray(256, '\xff')));
    EXPECT_FALSE(GmcReplies::Sensitivity(GmcVersion::Rfc1201, little.first(12)));
}

// ------------------------------------------------------- through a pty

// A simulation that goes wrong when told to: its replies never come, come
// as noise, come short, or stop halfway with the cable pulled.
class FaultyProtocol final : public SimulatedProtocol {
public:
    enum class Fault { None, Silent, Garbage, Short, CutAndUnplug };
    explicit FaultyProtocol(std::unique_ptr<SimulatedProtocol> inner) : inner_(std::move(inner)) {}
    int PeriodMs() const override { return inner_->PeriodMs(); }
    QByteArray PowerOn() override { return inner_->PowerOn(); }
    QByteArray Counted(std::uint32_t pulses) override {
        const QByteArray said = inner_->Counted(pulses);
        if (fault == Fault::Silent)
            return {};
        if (fault == Fault::CutAndUnplug && !said.isEmpty()) {
            cut = true;
            return said.first(said.size() / 2);
        }
        return said;
    }
    QByteArray Heard(QByteArrayView bytes) override {
        const QByteArray reply = inner_->Heard(bytes);
        switch (fault.load()) {
        case Fault::None:
            return reply;
        case Fault::Silent:
            return {};
        case Fault::Garbage:
            return QByteArray("\x00\xffOK\x13 noise", 11) + "\r\n";
        case Fault::Short:
            return reply.first(reply.size() / 2);
        case Fault::CutAndUnplug:
            cut = true;
            return reply.first(reply.size() / 2);
        }
        return reply;
    }
    std::atomic<Fault> fault{Fault::None};
    std::atomic<bool> cut{false};

private:
    std::unique_ptr<SimulatedProtocol> inner_;
};

class AnsweringCounterTest : public ::testing::Test {
protected:
    platform::SystemClock clock;
};

TEST_F(AnsweringCounterTest, FaultsOfTheRepliesFailTheSampleWithWhy) {
    using Fault = FaultyProtocol::Fault;
    const struct {
        const char* kind;
        Fault fault;
        const char* why; // the start of the message
    } cases[] = {
        {"rad-pro", Fault::Silent, "The counter on "},
        {"rad-pro", Fault::Garbage, "The counter on "},
        {"rad-pro", Fault::Short, "The counter on "},
        {"rad-pro", Fault::CutAndUnplug, "The counter on "},
        // A GMC's heartbeat that stops: the counter's allowance of silence.
        {"gmc-300", Fault::Silent, "No count from the counter on "},
        {"gmc-500", Fault::CutAndUnplug, "The counter on "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " " + std::to_string(int(c.fault)));
        auto owned = std::make_unique<FaultyProtocol>(MakeSimulation(QString::fromLatin1(c.kind)));
        FaultyProtocol& protocol = *owned;
        platform::ManualClock manual(1000, 46000.0);
        SerialRig rig(std::move(owned), SimulatedSerialKind(QString::fromLatin1(c.kind)), manual);
        ASSERT_TRUE(rig.plugged);
        ASSERT_EQ(rig.finder.List().size(), 1u);
        std::unique_ptr<CounterDevice> device = rig.finder.Make(rig.finder.List().front());
        QString error;
        ASSERT_EQ(device->Open(&error), CounterDevice::OpenResult::Opened) << error.toStdString();
        CounterSample sample;
        QString why;
        // A GMC's heartbeat starts once the simulation has heard it asked for.
        ASSERT_TRUE(testing::WaitUntil(
            [&] {
                rig.counter.Count(5);
                return device->Sample(&sample, &why) && sample.counts > 0;
            },
            3000))
            << why.toStdString();

        // What is still on its way is taken before the fault.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(device->Sample(&sample, &why)) << why.toStdString();
        protocol.fault = c.fault;
        std::thread unplug([&] {
            if (c.fault == Fault::CutAndUnplug) {
                testing::WaitUntil([&] { return protocol.cut.load(); }, 3000);
                rig.counter.Unplug();
            }
        });
        if (c.fault == Fault::CutAndUnplug)
            rig.counter.Count(7); // a GMC's word cut in half
        bool failed = false;
        // Time passes for the silent heartbeat alone: the others fail of the
        // fault itself.
        for (int i = 0; i < 100 && !failed; ++i) {
            manual.Advance(c.fault == Fault::Silent ? 1000 : 0);
            failed = !device->Sample(&sample, &why);
            if (!failed) {
                EXPECT_EQ(sample.counts, 0u); // nothing that did not read
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        unplug.join();
        EXPECT_TRUE(failed);
        EXPECT_TRUE(why.startsWith(QLatin1String(c.why))) << why.toStdString();
        (void)device->Close();
    }
}

TEST_F(AnsweringCounterTest, RadProCountsAcrossTheWrapOfItsLifetimeCount) {
    SerialRig rig(std::make_unique<RadProSimulation>(SimulatedMemory{}, 0xfffffffbu),
                  kRadProKind.toString(), clock);
    ASSERT_EQ(rig.finder.List().size(), 1u);
    std::unique_ptr<CounterDevice> device = rig.finder.Make(rig.finder.List().front());
    QString error;
    ASSERT_EQ(device->Open(&error), CounterDevice::OpenResult::Opened) << error.toStdString();
    for (const std::uint32_t counts : {3u, 10u, 0u}) { // 0xfffffffe, 8, 8
        rig.counter.Count(counts);
        CounterSample sample;
        QString why;
        ASSERT_TRUE(device->Sample(&sample, &why)) << why.toStdString();
        EXPECT_EQ(sample.counts, counts);
    }
}

TEST_F(AnsweringCounterTest, ClockHoursOffAndTheMemoryOfTheSpanBeforeAreRead) {
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    const struct {
        const char* kind;
        const char* name;
        double sensitivity; // CPM per mR/hr
        double deadTime;
        bool memory; // its layout is documented, so it is read
    } cases[] = {
        {"rad-pro", "Rad Pro FS2011", 1538.0, 0.000242, true},
        {"gmc-300", "GQ GMC-300", 1538.46, 0.0, false},
        {"gmc-500", "GQ GMC-500+", 1538.46, 0.0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        SimulatedMemory memory;
        memory.clockOffsetMs = -5 * 3600 * 1000; // five hours behind
        memory.pastS = 3 * 3600;                 // logged while nobody listened
        memory.pastCpm = 30;
        SerialRig rig(QString::fromLatin1(c.kind), clock, memory);
        const std::vector<ListedCounter> listed = rig.finder.List();
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_TRUE(listed.front().name.startsWith(QLatin1String(c.name)))
            << listed.front().name.toStdString();
        std::unique_ptr<CounterDevice> device = rig.finder.Make(listed.front());
        QString error;
        ASSERT_EQ(device->Open(&error), CounterDevice::OpenResult::Opened) << error.toStdString();
        ASSERT_TRUE(device->OwnCalibration());
        EXPECT_NEAR(device->OwnCalibration()->sensitivity, c.sensitivity, 0.01);
        EXPECT_DOUBLE_EQ(device->OwnCalibration()->deadTime, c.deadTime);

        CounterMemory* deviceMemory = device->Memory();
        ASSERT_EQ(deviceMemory != nullptr, c.memory);
        if (!deviceMemory)
            continue;
        const std::int64_t offset = deviceMemory->ClockOffsetMs();
        EXPECT_NEAR(static_cast<double>(offset), memory.clockOffsetMs, 1500.0);
        // The last two hours on the computer's clock, on the counter's.
        const std::int64_t since = now - 2 * 3600 * 1000 + offset;
        std::vector<MemoryRecord> records;
        QString why;
        ASSERT_TRUE(deviceMemory->ReadSince(since, &records, &why)) << why.toStdString();
        ASSERT_GE(records.size(), 118u);
        EXPECT_LE(records.size(), 121u);
        std::uint64_t counts = 0;
        for (std::size_t i = 0; i < records.size(); ++i) {
            EXPECT_GT(records[i].endMs, since);
            EXPECT_EQ(records[i].ms, 60000u);
            if (i > 0) {
                EXPECT_EQ(records[i].endMs - records[i - 1].endMs, 60000); // none twice
            }
            counts += records[i].counts;
        }
        EXPECT_NEAR(static_cast<double>(counts), 30.0 * static_cast<double>(records.size()), 2.0);
        // Counting goes on after the memory was read.
        CounterSample sample;
        ASSERT_TRUE(testing::WaitUntil(
            [&] {
                rig.counter.Count(4);
                return device->Sample(&sample, &why) && sample.counts > 0;
            },
            3000))
            << why.toStdString();
        (void)device->Close();
    }
}

// Counts the requests a simulation hears.
class Listening final : public SimulatedProtocol {
public:
    explicit Listening(std::unique_ptr<SimulatedProtocol> inner) : inner_(std::move(inner)) {}
    int PeriodMs() const override { return inner_->PeriodMs(); }
    QByteArray PowerOn() override { return inner_->PowerOn(); }
    QByteArray Counted(std::uint32_t pulses) override { return inner_->Counted(pulses); }
    QByteArray Heard(QByteArrayView bytes) override {
        heard += bytes.size();
        return inner_->Heard(bytes);
    }
    std::atomic<qsizetype> heard{0};

private:
    std::unique_ptr<SimulatedProtocol> inner_;
};

TEST(SerialFinder, AsksOnlyTheBridgesCountersUseOrPortsTheUserNamedAndOnce) {
    SerialPortEntry port;
    port.path = QStringLiteral("/dev/ttyUSB0");
    EXPECT_FALSE(IsCounterBridge(port));
    for (const auto& [vendor, product, bridge] : {std::tuple{0x1a86, 0x7523, true},
                                                  {0x10c4, 0xea60, true},
                                                  {0x067b, 0x2303, true},
                                                  {0x0483, 0x5740, true},
                                                  {0x0403, 0x6001, false},
                                                  {0x2341, 0x0043, false}}) {
        port.vendorId = static_cast<std::uint16_t>(vendor);
        port.productId = static_cast<std::uint16_t>(product);
        EXPECT_EQ(IsCounterBridge(port), bridge) << std::hex << vendor << ":" << product;
    }

    // A port of no known bridge and of no kind, as the system lists an
    // Arduino's: never sent a byte until the user names it.
    auto owned = std::make_unique<Listening>(MakeSimulation(kRadProKind));
    Listening& listening = *owned;
    platform::SystemClock clock;
    SerialRig rig(std::move(owned), QString(), clock);
    rig.counter.Run(nullptr);
    EXPECT_TRUE(rig.finder.List().empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(listening.heard.load(), 0);
    CounterChoice named;
    named.counter = rig.counter.Entry().path;
    rig.finder.SetChoices({named});
    const std::vector<ListedCounter> listed = rig.finder.List();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed.front().name, "Rad Pro FS2011 (" + named.counter + ")");
    const qsizetype asked = listening.heard.load();
    EXPECT_GT(asked, 0);
    EXPECT_EQ(rig.finder.List().size(), 1u); // known now: not asked again
    EXPECT_EQ(listening.heard.load(), asked);
}

} // namespace
} // namespace korvinet::device
