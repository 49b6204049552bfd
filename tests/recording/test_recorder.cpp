#include "device/simulated_driver.h"
#include "platform/clock.h"
#include "platform/regional.h"
#include "recording/journal_folder.h"
#include "recording/recorder.h"
#include "support/file_size_limit.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace korvinet::recording {
namespace {

// Hears everything a sink hears, as one line each.
struct Heard final : measure::ReadingSink {
    QStringList events;
    void OnReading(const measure::SessionReading& r) override {
        events << (r.Ok() ? QStringLiteral("reading ") + r.text : QStringLiteral("failed"));
    }
    void OnCounter(const measure::CounterEvent& e) override {
        events << (e.kind == measure::CounterEvent::Kind::Connected ? QStringLiteral("connected ")
                                                                    : QStringLiteral("lost ")) +
                      e.serial;
    }
    void Stop(const std::function<void()>& done) override {
        events << QStringLiteral("stop");
        done();
    }
};

class RecorderTest : public ::testing::Test {
protected:
    platform::ManualClock clock{123456, 40982.375};
    device::SimulatedDriver driver{clock, 7};
    platform::Regional regional{QLocale::c()};
    QTemporaryDir dir;
    QString folder = dir.filePath(QStringLiteral("recordings"));
    Heard heard;

    int SampleCount() const {
        QFile file(QDir(folder).filePath(QStringLiteral("2012-03-14.samples")));
        return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') - 1 : 0;
    }
};

// Recording starts at the first tick after its cause is gone, and the
// status says the real reason until then.
TEST_F(RecorderTest, RecordingStartsWithinOneTickOfTheCauseGoingAway) {
    const struct {
        const char* name;
        QString reason;
        std::function<std::function<void()>()> cause; // makes it, returns its removal
    } cases[] = {
        {"another program records there",
         QStringLiteral("another program (process %1) records into the journal folder")
             .arg(QCoreApplication::applicationPid()),
         [this] {
             auto other = std::make_shared<QLockFile>(folder + QStringLiteral("/journal.lock"));
             QDir().mkpath(folder);
             EXPECT_TRUE(other->tryLock(0));
             return std::function<void()>([other] { other->unlock(); });
         }},
        {"a file where the folder should be", QStringLiteral("Not a directory"),
         [this] {
             QFile file(folder);
             EXPECT_TRUE(file.open(QIODevice::WriteOnly));
             return std::function<void()>([this] { QFile::remove(folder); });
         }},
        {"the disk is full", QStringLiteral("File too large"),
         [] {
             auto full = std::make_shared<testing::FileSizeLimit>(0);
             return std::function<void()>([full]() mutable { full.reset(); });
         }},
    };
    driver.AddDevice(device::SimulatedDriver::DemoDevice(0, 600));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(folder).removeRecursively();
        QFile::remove(folder);
        Recorder recorder(driver, clock, regional, {folder});
        QStringList statuses;
        recorder.SetStatusHandler([&](const QString& text) { statuses << text; });
        std::function<void()> remove = c.cause();
        recorder.StartRecording();
        ASSERT_EQ(recorder.ListCounters(), 1);
        ASSERT_EQ(recorder.Connect(0, {}), Recorder::Connection::Ready);
        clock.Advance(3000);
        recorder.Tick({});
        EXPECT_FALSE(recorder.IsRecording());
        ASSERT_EQ(statuses.size(), 1);
        EXPECT_TRUE(statuses[0].startsWith(QStringLiteral("Not recording: ")))
            << statuses[0].toStdString();
        EXPECT_TRUE(statuses[0].contains(c.reason)) << statuses[0].toStdString();
        remove();
        clock.Advance(3000);
        recorder.Tick({});
        EXPECT_TRUE(recorder.IsRecording());
        EXPECT_EQ(statuses, QStringList({statuses[0], QString()}));
        EXPECT_EQ(SampleCount(), 1); // the tick that took the folder is recorded
    }
}

// The sinks hear the counter come and go, every reading in order after the
// journal, and the end.
TEST_F(RecorderTest, SinksHearTheCounterTheReadingsAndTheEnd) {
    driver.AddDevice(device::SimulatedDriver::DemoDevice(0, 600));
    Recorder recorder(driver, clock, regional, {folder});
    recorder.AddSink(heard);
    recorder.StartRecording();
    ASSERT_EQ(recorder.ListCounters(), 1);
    ASSERT_EQ(recorder.Connect(0, {}), Recorder::Connection::Ready);
    const QString serial = recorder.Counter().Info().SerialNumber;
    clock.Advance(3000);
    driver.InjectPulses(0, 30);
    const auto taken = recorder.Tick({});
    driver.FailCall(device::SimulatedDriver::Op::GetQueueStatus);
    clock.Advance(3000);
    recorder.Tick({});
    bool ended = false;
    recorder.Close([&] { ended = true; });
    EXPECT_TRUE(ended);
    EXPECT_EQ(heard.events, QStringList({"connected " + serial, "reading " + taken.reading.text,
                                         "failed", "lost " + serial, "stop"}));
    EXPECT_EQ(SampleCount(), 1);
    EXPECT_FALSE(ReadJournalSessionState(folder).running);
    QLockFile free(folder + QStringLiteral("/journal.lock"));
    EXPECT_TRUE(free.tryLock(0)); // released
}

// In the hour the clocks go back one local time names two moments: each
// reading is journalled with the offset from UTC in force when it was taken.
TEST_F(RecorderTest, ReadingsKeepTheirOffsetWhenTheClocksGoBack) {
    driver.AddDevice(device::SimulatedDriver::DemoDevice(0, 600));
    Recorder recorder(driver, clock, regional, {folder});
    recorder.StartRecording();
    ASSERT_EQ(recorder.ListCounters(), 1);
    ASSERT_EQ(recorder.Connect(0, {}), Recorder::Connection::Ready);
    clock.SetUtcOffset(7200);
    clock.Advance(3000);
    recorder.Tick({});
    // An hour later the local time is what it was.
    clock.SetTickCount(clock.TickCount() + 3600000);
    clock.SetUtcOffset(3600);
    recorder.Tick({});
    QFile file(QDir(folder).filePath(QStringLiteral("2012-03-14.samples")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_TRUE(lines[1].startsWith("2012-03-14T09:00:03.000+02:00,")) << lines[1].constData();
    EXPECT_TRUE(lines[2].startsWith("2012-03-14T09:00:03.000+01:00,")) << lines[2].constData();
}

} // namespace
} // namespace korvinet::recording
