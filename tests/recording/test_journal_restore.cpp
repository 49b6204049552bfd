#include "recording/journal_restore.h"
#include "support/journal_fixture.h"

namespace korvinet::recording {
namespace {

using testing::At;
using testing::kMicroSv;
using testing::kMr;

class JournalRestoreTest : public testing::JournalTest {
protected:
    RestoredSession Restore(double now, double spanHours = 48.0, const QString& unit = kMr) const {
        return RestoreLastSession(folder, unit, spanHours, now, regional);
    }
    static std::vector<double> Ys(const RestoredSession& restored) {
        std::vector<double> ys;
        for (const device::Reading& p : restored.points)
            ys.push_back(p.value);
        return ys;
    }
};

TEST_F(JournalRestoreTest, CleanEndRestoresNothing) {
    EXPECT_TRUE(Restore(At(14, 9, 0, 0)).endedCleanly); // no journal at all
    auto journal = Begin(At(14, 9, 0, 0));
    Add(*journal, At(14, 9, 0, 3), "0.012");
    journal->Close();
    const RestoredSession restored = Restore(At(14, 10, 0, 0));
    EXPECT_TRUE(restored.endedCleanly);
    EXPECT_TRUE(restored.points.empty());
}

// After a crash: the readings of the last session within the span, across
// midnight, in order, with their alarm colour and graph labels; not those of
// the clean session before it on the same day, nor a half-written last line.
TEST_F(JournalRestoreTest, UncleanEndRestoresTheLastSessionWithinTheSpan) {
    auto journal = Begin(At(14, 8, 0, 0));
    Add(*journal, At(14, 8, 0, 3), "0.100");
    journal->Close();
    journal = Begin(At(14, 8, 30, 0));
    Add(*journal, At(14, 8, 30, 3), "0.001"); // beyond a 15.5-hour span
    Add(*journal, At(14, 23, 59, 57), "0.012");
    Add(*journal, At(15, 0, 0, 0), "0.500", true);
    QFile last(Path("2012-03-15.csv"));
    ASSERT_TRUE(last.open(QIODevice::Append));
    last.write("3/15/2012 12:00:01 AM, 0.0x3\r\n"); // damaged on the disk
    last.close();
    Add(*journal, At(15, 0, 0, 3), "0.014");
    journal.reset(); // killed: no clean end
    ASSERT_TRUE(last.open(QIODevice::Append));
    last.write("3/15/2012 12:00:06 AM, 0.01");
    last.close();

    const RestoredSession restored = Restore(At(15, 0, 1, 0), 15.5);
    EXPECT_FALSE(restored.endedCleanly);
    EXPECT_EQ(restored.sessionStart, At(14, 8, 30, 0));
    EXPECT_EQ(Ys(restored), (std::vector<double>{0.012, 0.5, 0.014}));
    ASSERT_EQ(restored.points.size(), 3u);
    EXPECT_EQ(restored.points[1].time, At(15, 0, 0, 0));
    EXPECT_FALSE(restored.points[0].alarm);
    EXPECT_TRUE(restored.points[1].alarm);
    EXPECT_FALSE(restored.points[2].alarm);
    EXPECT_EQ(restored.skippedLines, 1);
    EXPECT_EQ(RestoredReadingsText(3), QStringLiteral("Restored 3 readings from the last session"));
    EXPECT_EQ(
        RestoredReadingsText(3, 2),
        QStringLiteral("Restored 3 readings from the last session (2 damaged lines skipped)"));
}

// A start reads of a large day file only the header and the last session's
// lines (the restore) and the header and the end (the journal going on).
TEST_F(JournalRestoreTest, AStartReadsOnlyWhatItNeedsOfALargeDayFile) {
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        GTEST_SKIP() << "the system does not count the bytes a process reads";
    io.close();
    const auto bytesRead = [&io] {
        EXPECT_TRUE(io.open(QIODevice::ReadOnly));
        const QByteArray rchar = io.readAll().split('\n').value(0);
        io.close();
        return rchar.mid(rchar.indexOf(' ') + 1).toLongLong();
    };
    auto journal = Begin(At(14, 0, 0, 0));
    Add(*journal, At(14, 0, 0, 0), "0.100");
    journal->Close();
    QByteArray morning; // a reading a second until 9:00, about 1 MB
    files::DataLineWriter lines(2, regional);
    lines.SetUtf8(true);
    for (int s = 1; s < 9 * 3600; ++s)
        lines.Append(At(14, 0, 0, 0) + s / 86400.0, 0.1, morning);
    QFile day(Path("2012-03-14.csv"));
    ASSERT_TRUE(day.open(QIODevice::Append));
    ASSERT_EQ(day.write(morning), morning.size());
    day.close();
    journal = Begin(At(14, 9, 0, 0));
    Add(*journal, At(14, 9, 0, 3), "0.012");
    Add(*journal, At(14, 9, 0, 6), "0.013");
    journal.reset(); // killed

    const qint64 before = bytesRead();
    const RestoredSession restored = Restore(At(14, 9, 1, 0));
    journal = Begin(At(14, 9, 1, 0), restored.sessionStart);
    EXPECT_TRUE(Add(*journal, At(14, 9, 1, 3), "0.014").ok);
    EXPECT_LT(bytesRead() - before, morning.size() / 2);
    EXPECT_EQ(Ys(restored), (std::vector<double>{0.012, 0.013}));
    EXPECT_EQ(restored.skippedLines, 0);
    EXPECT_EQ(Read("2012-03-14.csv").points.size(), 9u * 3600 + 3);
}

// A state file that does not read (damaged, cut short) is no clean end: the
// readings within the span come back.
TEST_F(JournalRestoreTest, AStateThatDoesNotReadIsAnUncleanEnd) {
    auto journal = Begin(At(14, 9, 0, 0));
    Add(*journal, At(14, 9, 0, 3), "0.012");
    journal->Close();
    for (const char* state : {"", "clean", "clean 40982.x", "runn", "\x01\xff 40982.5"}) {
        QFile file(Path("journal.state"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(state);
        file.close();
        const RestoredSession restored = Restore(At(14, 9, 1, 0));
        EXPECT_FALSE(restored.endedCleanly) << state;
        EXPECT_EQ(Ys(restored), (std::vector<double>{0.012})) << state;
    }
}

// A session that restored another goes on with it, so a second crash gives
// both back once each; a cleared graph starts the restore afresh.
TEST_F(JournalRestoreTest, RestoredSessionsChainAndClearingStartsAfresh) {
    auto journal = Begin(At(14, 9, 0, 0));
    Add(*journal, At(14, 9, 0, 3), "0.012");
    journal.reset();
    const RestoredSession first = Restore(At(14, 9, 1, 0));
    journal = Begin(At(14, 9, 1, 0), first.sessionStart);
    Add(*journal, At(14, 9, 1, 3), "0.013");
    journal.reset();
    EXPECT_EQ(Ys(Restore(At(14, 9, 2, 0))), (std::vector<double>{0.012, 0.013}));

    journal = Begin(At(14, 9, 2, 0), At(14, 9, 0, 0));
    Add(*journal, At(14, 9, 2, 3), "0.014");
    journal->MarkGraphCleared(At(14, 9, 2, 4));
    Add(*journal, At(14, 9, 2, 6), "0.015");
    journal.reset();
    EXPECT_EQ(Ys(Restore(At(14, 9, 3, 0))), (std::vector<double>{0.015}));
}

// A unit change clears the graph: only the readings after the last change
// come back, and only if the display unit is still theirs.
TEST_F(JournalRestoreTest, OnlyTheLastUnitsReadingsAndOnlyInTheDisplayUnit) {
    auto journal = Begin(At(14, 9, 0, 0));
    Add(*journal, At(14, 9, 0, 3), "0.012");
    Add(*journal, At(14, 9, 0, 6), "0.140", false, kMicroSv);
    Add(*journal, At(14, 9, 0, 9), "0.150", false, kMicroSv);
    journal.reset();

    const RestoredSession same = Restore(At(14, 9, 1, 0), 48.0, kMicroSv);
    EXPECT_EQ(Ys(same), (std::vector<double>{0.14, 0.15}));
    EXPECT_FALSE(same.otherUnit);
    const RestoredSession other = Restore(At(14, 9, 1, 0), 48.0, kMr);
    EXPECT_TRUE(other.points.empty());
    EXPECT_TRUE(other.otherUnit);
    EXPECT_TRUE(QFile::exists(Path("2012-03-14_02.csv")));
}

} // namespace
} // namespace korvinet::recording
