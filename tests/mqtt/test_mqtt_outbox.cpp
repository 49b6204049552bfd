#include "mqtt/mqtt_outbox.h"

#include "support/file_size_limit.h"
#include "support/mqtt_broker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace korvinet::mqtt {
namespace {

using korvinet::testing::Range;

MqttReading ReadingNo(std::uint64_t seq) {
    MqttReading r;
    r.seq = seq;
    r.time = QDateTime(QDate(2026, 12, 9), QTime(1, 2, 3, 456)).addSecs(3 * qint64(seq));
    r.value = 0.001 * double(seq);
    r.unitCode = 3;
    r.cpm = 7.25;
    r.counts = std::uint32_t(seq % 5);
    r.intervalMs = 3000;
    r.alarm = seq % 2 == 0;
    return r;
}

std::vector<std::uint64_t> Seqs(const std::vector<MqttReading>& readings) {
    std::vector<std::uint64_t> seqs;
    for (const auto& r : readings)
        seqs.push_back(r.seq);
    return seqs;
}

TEST(DiskOutbox, ReadingRoundTripsThroughItsLine) {
    MqttReading r = ReadingNo(9007199254740993ull); // beyond a double's integers
    r.time = QDateTime(QDate(2026, 7, 1), QTime(23, 59, 59, 999), QTimeZone(-9000));
    r.value = 0.1 + 0.2;
    r.fault = QStringLiteral("no counts \"for\" 60 seconds");
    r.ciLow = 0.25;
    r.ciHigh = 0.5;
    r.health = QStringLiteral("bursts");
    r.healthStatistic = 7.25;
    const QByteArray line = DiskOutbox::Encode(r);
    EXPECT_FALSE(line.contains('\n'));
    const auto back = DiskOutbox::Decode(line);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->seq, r.seq);
    EXPECT_EQ(back->time.toMSecsSinceEpoch(), r.time.toMSecsSinceEpoch());
    EXPECT_EQ(back->value, r.value);
    EXPECT_EQ(back->unitCode, 3);
    EXPECT_EQ(back->cpm, 7.25);
    EXPECT_EQ(back->counts, r.counts);
    EXPECT_EQ(back->alarm, r.alarm);
    EXPECT_EQ(back->fault, r.fault);
    EXPECT_EQ(back->ciLow, 0.25);
    EXPECT_EQ(back->ciHigh, 0.5);
    EXPECT_EQ(back->health, r.health);
    EXPECT_EQ(back->healthStatistic, 7.25);
    EXPECT_FALSE(DiskOutbox::Decode(line.left(line.size() - 3)));
    EXPECT_FALSE(DiskOutbox::Decode(R"({"seq":"0","time":"2026-12-09T01:02:03Z","value":1})"));
}

// Readings kept across a restart, served in order across segments, the
// acknowledged ones forgotten, a line torn by a crash cut off.
TEST(DiskOutbox, KeepsUnacknowledgedReadingsAcrossReopeningAndTornLines) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("mqtt/KV1"));
    {
        DiskOutbox outbox(folder, 10);
        QString error;
        ASSERT_TRUE(outbox.Open(&error)) << error.toStdString();
        EXPECT_EQ(outbox.LastSeq(), 0u);
        for (std::uint64_t s = 1; s <= 25; ++s)
            ASSERT_TRUE(outbox.Add(ReadingNo(s), &error)) << error.toStdString();
        EXPECT_FALSE(outbox.Add(ReadingNo(27), &error));
        EXPECT_EQ(outbox.SegmentCount(), 3);
        EXPECT_EQ(Seqs(outbox.ReadingsAfter(8, 5)), Range(9, 13));
        EXPECT_EQ(Seqs(outbox.ReadingsAfter(0, 100)), Range(1, 25));
        outbox.Acknowledge(12);
        EXPECT_EQ(outbox.SegmentCount(), 2); // 1..10 went
        EXPECT_EQ(Seqs(outbox.ReadingsAfter(12, 100)), Range(13, 25));
    } // flushed on destruction, like a clean stop

    QFile last(folder + QStringLiteral("/segment-00000000000000000021.jsonl"));
    ASSERT_TRUE(last.open(QIODevice::Append));
    last.write(R"({"seq":"26","time":"2026-12)"); // the power went here
    last.close();

    DiskOutbox outbox(folder, 10);
    QString error;
    ASSERT_TRUE(outbox.Open(&error)) << error.toStdString();
    EXPECT_EQ(outbox.AcknowledgedSeq(), 12u);
    EXPECT_EQ(outbox.LastSeq(), 25u);
    ASSERT_TRUE(outbox.Add(ReadingNo(26), &error)) << error.toStdString();
    const auto pending = outbox.ReadingsAfter(12, 100);
    EXPECT_EQ(Seqs(pending), Range(13, 26));
    EXPECT_EQ(pending.back().value, ReadingNo(26).value);

    // Everything acknowledged: only the newest segment stays, and the seq
    // goes on from there after another restart.
    outbox.Acknowledge(26);
    EXPECT_EQ(outbox.SegmentCount(), 1);
    EXPECT_TRUE(outbox.ReadingsAfter(26, 100).empty());
    ASSERT_TRUE(outbox.Flush(&error));
    DiskOutbox again(folder, 10);
    ASSERT_TRUE(again.Open(&error));
    EXPECT_EQ(again.LastSeq(), 26u);
    EXPECT_EQ(again.AcknowledgedSeq(), 26u);
}

// Readings the broker never had go after their time, whole segments at
// once, the newest segment never; the position survives a restart.
TEST(DiskOutbox, GivesUpSegmentsOlderThanTheCutoff) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("mqtt/KV1"));
    DiskOutbox outbox(folder, 10);
    QString error;
    ASSERT_TRUE(outbox.Open(&error)) << error.toStdString();
    for (std::uint64_t s = 1; s <= 30; ++s)
        ASSERT_TRUE(outbox.Add(ReadingNo(s), &error)) << error.toStdString();
    outbox.Acknowledge(3);
    // Reading 15's time: 1..10 are all older, 11..20 not all.
    DiskOutbox::Dropped dropped = outbox.DropOlderThan(ReadingNo(15).time);
    EXPECT_EQ(dropped.count, 7u);
    EXPECT_EQ(dropped.newest, ReadingNo(10).time);
    EXPECT_EQ(outbox.AcknowledgedSeq(), 10u);
    EXPECT_EQ(Seqs(outbox.ReadingsAfter(3, 100)), Range(11, 30));
    EXPECT_EQ(outbox.DropOlderThan(ReadingNo(15).time).count, 0u);

    dropped = outbox.DropOlderThan(ReadingNo(40).time);
    EXPECT_EQ(dropped.count, 10u);
    EXPECT_EQ(outbox.SegmentCount(), 1);
    DiskOutbox again(folder, 10);
    ASSERT_TRUE(again.Open(&error));
    EXPECT_EQ(again.AcknowledgedSeq(), 20u);
    EXPECT_EQ(Seqs(again.ReadingsAfter(20, 100)), Range(21, 30));
}

// A full disk: the readings it refuses are held and served all the same.
// Those the broker had meanwhile need no line; the rest follow in a segment
// of their own once the disk has room, and a restart finds them.
TEST(DiskOutbox, HoldsWhatAFullDiskRefusesUntilItCanBeWritten) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("mqtt/KV1"));
    QString error;
    {
        DiskOutbox outbox(folder, 10);
        ASSERT_TRUE(outbox.Open(&error)) << error.toStdString();
        for (std::uint64_t s = 1; s <= 3; ++s)
            ASSERT_TRUE(outbox.Add(ReadingNo(s), &error)) << error.toStdString();
        {
            const testing::FileSizeLimit full(
                QFileInfo(folder + "/segment-00000000000000000001.jsonl").size());
            for (std::uint64_t s = 4; s <= 8; ++s)
                EXPECT_FALSE(outbox.Add(ReadingNo(s), &error));
            EXPECT_EQ(Seqs(outbox.ReadingsAfter(0, 100)), Range(1, 8));
            outbox.Acknowledge(5);
        }
        ASSERT_TRUE(outbox.Add(ReadingNo(9), &error)) << error.toStdString();
        EXPECT_EQ(outbox.SegmentCount(), 2);
    }
    DiskOutbox reopened(folder, 10);
    ASSERT_TRUE(reopened.Open(&error)) << error.toStdString();
    EXPECT_EQ(reopened.LastSeq(), 9u);
    EXPECT_EQ(Seqs(reopened.ReadingsAfter(5, 100)), Range(6, 9));
}

} // namespace
} // namespace korvinet::mqtt
