#include "device/simulated_driver.h"
#include "platform/clock.h"
#include "platform/regional.h"
#include "recording/unattended.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace korvinet::recording {
namespace {

using Op = device::SimulatedDriver::Op;

class UnattendedTest : public ::testing::Test {
protected:
    platform::SystemClock clock;
    device::SimulatedDriver driver{clock, 7};
    platform::Regional regional{QLocale::c()};
    QTemporaryDir dir;
    Recorder recorder{driver, clock, regional, {dir.filePath(QStringLiteral("recordings"))}};
    Unattended& unattended = Added(recorder);
    QStringList log;

    static Unattended& Added(Recorder& recorder) {
        auto owned = std::make_unique<Unattended>(recorder);
        Unattended& added = *owned;
        recorder.AddSink(std::move(owned));
        return added;
    }
    Unattended::Plan Plan() {
        Unattended::Plan plan;
        plan.sampleMs = 10;
        plan.searchMs = 20;
        plan.log = [this](const QString& line) { log << line; };
        return plan;
    }
};

// Left alone, it finds the counter when it is plugged in, and finds it again
// after it was unplugged.
TEST_F(UnattendedTest, LooksForItsCounterUntilItIsBack) {
    recorder.StartRecording();
    int readings = 0;
    Unattended::Plan plan = Plan();
    plan.ticked = [&](const measure::MeasurementSession::TickOutcome&) { ++readings; };
    unattended.Run(plan);
    const int device = driver.AddDevice(device::SimulatedDriver::DemoDevice(0, 600));
    ASSERT_TRUE(QTest::qWaitFor([&] { return readings >= 2; }, 5000));
    driver.DetachDevice(device);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.size() >= 3; }, 5000));
    driver.AddDevice(device::SimulatedDriver::DemoDevice(0, 600));
    readings = 0;
    ASSERT_TRUE(QTest::qWaitFor([&] { return readings >= 2; }, 5000));
    QStringList starts;
    for (const QString& line : log)
        starts << line.section(QLatin1Char(' '), 0, 1);
    const QString serial = recorder.Counter().Info().SerialNumber;
    EXPECT_EQ(starts, QStringList({"no counter", "logging counter", "counter " + serial + ":",
                                   "back: counter"}));
}

// A counter found but not set up is said so in the operator's words, and
// taken once the fault has gone.
TEST_F(UnattendedTest, ACounterThatCannotBeSetUpIsSaidSoAndTakenLater) {
    const struct {
        Op op;
        int nth; // listing opens the counter once, opening restarts it once
        QString line;
    } cases[] = {
        {Op::Open, 2, "cannot open the counter: Failed to open port. Device not open!"},
        {Op::Purge, 2, "cannot reset the counter: Failed to reset counter"},
        {Op::ClrRts, 1, "the counter closed: Failed to set beep"},
    };
    const int device = driver.AddDevice(device::SimulatedDriver::DemoDevice(0, 600));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        driver.FailCall(c.op, device::FT_IO_ERROR, c.nth);
        log.clear();
        Recorder other(driver, clock, regional, {});
        Added(other).Run(Plan());
        EXPECT_EQ(log, QStringList({c.line, "no counter is attached; looking again every 0.02 s"}));
        EXPECT_FALSE(driver.IsOpen(device));
        driver.ClearFaults();
        ASSERT_TRUE(QTest::qWaitFor([&] { return log.size() == 3; }, 5000));
        EXPECT_TRUE(log[2].startsWith("logging counter KV100001 (")) << log[2].toStdString();
    }
}

} // namespace
} // namespace korvinet::recording
