#include "recording/journal_sink.h"
#include "support/file_size_limit.h"
#include "support/journal_fixture.h"

namespace korvinet::recording {

using measure::SessionReading;

namespace {

using testing::At;
using testing::kMicroSv;
using testing::kMr;

class JournalSinkTest : public testing::JournalTest {};

SessionReading Taken(double time, const char* text, bool alarm = false, const QString& unit = kMr) {
    SessionReading r;
    static_cast<device::Reading&>(r) =
        testing::MakeReading(time, unit, QString::fromLatin1(text), alarm);
    r.text = QString::fromLatin1(text);
    r.unitName = unit;
    return r;
}

// Only ticks that add a point reach the journal, each in the unit it was taken
// in and marked red when it was; a failure is heard once, and so is its end.
TEST_F(JournalSinkTest, RecordsTheReadingsTakenAndReportsChangesOnce) {
    auto journal = Begin(At(14, 9, 0, 0));
    std::vector<JournalStatus> heard;
    JournalFileHeader header;
    header.device = QStringLiteral("KVT-TEST");
    JournalSink sink(
        *journal, [&] { return header; },
        [&](const JournalStatus& status) { heard.push_back(status); });

    sink.OnReading(Taken(At(14, 9, 0, 3), "0.012"));
    SessionReading overrange = Taken(At(14, 9, 0, 6), "OVERRANGE");
    overrange.status = SessionReading::Status::Overrange;
    sink.OnReading(overrange);
    SessionReading failed = Taken(At(14, 9, 0, 9), "");
    failed.status = SessionReading::Status::Failed;
    sink.OnReading(failed);
    sink.OnReading(Taken(At(14, 9, 0, 12), "0.040", true));
    {
        const testing::FileSizeLimit full(0);
        sink.OnReading(Taken(At(14, 9, 0, 15), "0.013"));
        sink.OnReading(Taken(At(14, 9, 0, 18), "0.014"));
    }
    sink.OnReading(Taken(At(14, 9, 0, 21), "0.150", false, kMicroSv));

    ASSERT_EQ(heard.size(), 2u);
    EXPECT_FALSE(heard[0].ok);
    EXPECT_TRUE(heard[1].ok);
    EXPECT_TRUE(Bytes(Path("2012-03-14.csv")).startsWith("# Device: KVT-TEST\r\n"));
    const files::DataFileContents mr = Read("2012-03-14.csv");
    ASSERT_EQ(mr.points.size(), 2u);
    EXPECT_EQ(mr.points[1].value, 0.040);
    EXPECT_EQ(Bytes(Path("2012-03-14.alarms")), "Time, mR/hr\r\n3/14/2012 9:00:12 AM, 0.040\r\n");
    const files::DataFileContents sv = Read("2012-03-14_02.csv");
    EXPECT_EQ(sv.leftAxisTitle, kMicroSv);
    ASSERT_EQ(sv.points.size(), 1u);
    EXPECT_EQ(sv.points[0].value, 0.150);
}

} // namespace
} // namespace korvinet::recording
