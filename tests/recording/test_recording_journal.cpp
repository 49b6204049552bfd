#include "recording/journal_folder.h"
#include "recording/journal_restore.h"
#include "support/file_size_limit.h"
#include "support/journal_fixture.h"

#include <QProcess>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvinet::recording {
namespace {

using testing::At;
using testing::kMicroSv;
using testing::kMr;
using testing::Utc;

class RecordingJournalTest : public testing::JournalTest {
protected:
    // The values of the day's readings as its samples hold them, and as its
    // first data file does.
    std::vector<double> SampleValues() const {
        std::vector<double> values;
        for (const device::TimedReading& s : ReadBack(Utc(At(13, 0, 0, 0)), Utc(At(16, 0, 0, 0))))
            values.push_back(s.reading.value);
        return values;
    }
    std::vector<double> DataFileValues() const {
        std::vector<double> values;
        for (const device::Reading& point : Read("2012-03-14.csv").points)
            values.push_back(point.value);
        return values;
    }
    void Put(const char* name, const QByteArray& bytes, QIODevice::OpenMode mode = {}) const {
        QFile file(Path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | mode));
        file.write(bytes);
    }
};

// The file is a data file the reader takes as it is, and a later session
// appends to it without a second header block.
TEST_F(RecordingJournalTest, ReadingsAppendToTheDaysDataFileAcrossSessions) {
    auto journal = Begin(At(14, 9, 0, 0));
    EXPECT_TRUE(Add(*journal, At(14, 9, 0, 3), "0.012").ok);
    EXPECT_TRUE(Add(*journal, At(14, 9, 0, 6), "0.015").ok);
    EXPECT_TRUE(journal->Close().ok);
    journal = Begin(At(14, 10, 0, 0));
    EXPECT_TRUE(Add(*journal, At(14, 10, 0, 3), "0.020").ok);

    EXPECT_EQ(Bytes(Path("2012-03-14.csv")), QByteArray("# Device: KVT-PULSE1\r\n"
                                                        "# Units: mR/hr\r\n"
                                                        "# Averaging Time: 45 seconds sec\r\n"
                                                        "# Title: Basement\r\n"
                                                        "# Notes: \r\n"
                                                        "# Date Saved: 3/14/2012 9:00:03 AM\r\n"
                                                        "Time, mR/hr\r\n"
                                                        "3/14/2012 9:00:03 AM, 0.012\r\n"
                                                        "3/14/2012 9:00:06 AM, 0.015\r\n"
                                                        "3/14/2012 10:00:03 AM, 0.020\r\n"));
}

// A new day, and every unit change, starts a file with its own column titles.
TEST_F(RecordingJournalTest, NewDayAndUnitChangeStartNewFiles) {
    auto journal = Begin(At(14, 23, 59, 0));
    Add(*journal, At(14, 23, 59, 57), "0.012");
    Add(*journal, At(15, 0, 0, 0), "0.013");
    Add(*journal, At(15, 0, 0, 3), "0.140", false, kMicroSv);
    Add(*journal, At(15, 0, 0, 6), "0.014");
    journal.reset();

    QStringList names;
    for (const JournalFile& file : ListJournalFiles(folder))
        names << file.Name();
    EXPECT_EQ(names, QStringList({"2012-03-14.csv", "2012-03-15.csv", "2012-03-15_02.csv",
                                  "2012-03-15_03.csv"}));
    const struct {
        const char* name;
        int unitIndex;
        std::size_t points;
    } expected[] = {{"2012-03-14.csv", 1, 1},
                    {"2012-03-15.csv", 1, 1},
                    {"2012-03-15_02.csv", 2, 1},
                    {"2012-03-15_03.csv", 1, 1}};
    for (const auto& e : expected) {
        const files::DataFileContents contents = Read(e.name);
        EXPECT_EQ(contents.unitIndex, e.unitIndex) << e.name;
        EXPECT_EQ(contents.points.size(), e.points) << e.name;
        EXPECT_EQ(contents.corruptLines, 0) << e.name;
    }
    // Parts sort by number, not by name; other names are no journal files.
    EXPECT_EQ(ParseJournalFileName("2012-03-15_10.csv")->part, 10);
    EXPECT_LT(*ParseJournalFileName("2012-03-15_09.csv"),
              *ParseJournalFileName("2012-03-15_10.csv"));
    for (const char* other : {"2012-03-15_01.csv", "2012-02-30.csv", "notes.csv", "2012-03-15.txt"})
        EXPECT_FALSE(ParseJournalFileName(QLatin1String(other))) << other;
}

// What a crash left half written is cut off, so the next line stands on its
// own; a header block cut short is written again.
TEST_F(RecordingJournalTest, UnfinishedLinesAreCutBeforeWritingOn) {
    auto journal = Begin(At(14, 9, 0, 0));
    Add(*journal, At(14, 9, 0, 3), "0.012");
    journal.reset();
    QFile day(Path("2012-03-14.csv"));
    ASSERT_TRUE(day.open(QIODevice::Append));
    day.write("3/14/2012 9:00:06 AM, 0.01"); // "0.015" cut short would read as 0.01
    day.close();
    QFile other(Path("2012-03-13.csv"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("# Device: KVT-PULSE1\r\n# Un");
    other.close();

    journal = Begin(At(14, 9, 1, 0));
    Add(*journal, At(13, 12, 0, 0), "0.100");
    Add(*journal, At(14, 9, 1, 3), "0.016");
    const files::DataFileContents contents = Read("2012-03-14.csv");
    ASSERT_EQ(contents.points.size(), 2u);
    EXPECT_EQ(contents.points[1].value, 0.016);
    EXPECT_EQ(contents.corruptLines, 0);
    EXPECT_EQ(Read("2012-03-13.csv").headerLines.size(), 6);
    EXPECT_EQ(Read("2012-03-13.csv").points.size(), 1u);
}

// Files under the journal's names that it did not begin (another program's,
// a data file saved there, one made by hand) are never written to, cut,
// restored from, read back as history or removed when their day expires:
// the readings go to the next part.
TEST_F(RecordingJournalTest, FilesTheJournalDidNotBeginAreLeftAlone) {
    const struct {
        const char* name; // the foreign file, also on a day long expired
        QByteArray bytes;
    } cases[] = {
        {"2012-03-14.csv", "time,value\n2012-03-14T08:00:00,0.100\n2012-03-14T08:00:03,0.1"},
        {"2012-03-14.csv",
         "# Device: KVT-PULSE1\r\n# Units: mR/hr\r\n# Averaging Time: 45 seconds sec\r\n"
         "# Title: \r\n# Notes: \r\n# Date Saved: 3/14/2012 8:30:00 AM\r\nTime, mR/hr\r\n"
         "3/14/2012 8:00:00 AM, 0.100\r\n3/14/2012 8:00:03 AM, 0.1"},
        {"2012-03-14.samples", "2012-03-14T08:00:00.000Z,0.100,2,60.0,3,3000,0,,\n"
                               "2012-03-14T08:00:03.000Z,0.1"},
        {"2012-03-14.alarms", "mine\n"},
        {"2012-03-14_02.alarms", "Time, mR/hr\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QDir(folder).removeRecursively() && QDir().mkpath(folder));
        const QString expired = QString::fromLatin1(c.name).replace("03-14", "02-01");
        Put(c.name, c.bytes);
        Put(expired.toLatin1().constData(), c.bytes);
        auto journal = Begin(At(14, 7, 0, 0));
        EXPECT_TRUE(Add(*journal, At(14, 9, 0, 3), "0.012", true).ok);
        EXPECT_TRUE(Add(*journal, At(14, 9, 0, 6), "0.140", true, kMicroSv).ok);
        journal.reset(); // killed

        EXPECT_EQ(Bytes(Path(c.name)), c.bytes);
        EXPECT_EQ(Bytes(QDir(folder).filePath(expired)), c.bytes);
        EXPECT_EQ(SampleValues(), (std::vector<double>{0.012, 0.140}));
        const RestoredSession restored =
            RestoreLastSession(folder, kMicroSv, 48.0, At(14, 9, 1, 0), regional);
        ASSERT_EQ(restored.points.size(), 1u);
        EXPECT_EQ(restored.points[0].value, 0.140);
        EXPECT_TRUE(restored.points[0].alarm); // from the alarm list of its own part
        RemoveExpiredJournalFiles(folder, QDate(2012, 5, 1), 30);
        EXPECT_EQ(QDir(folder).entryList({QStringLiteral("2012-*")}),
                  QStringList({expired, QString::fromLatin1(c.name)}));
    }
}

// A day's file the journal began but can no longer write to (its mode
// changed) is followed by a new part, for the data file and the samples
// alike, not by a day of nothing recorded. Tried as a user whom modes stop,
// also when the tests run as root.
TEST_F(RecordingJournalTest, AFileItCanNoLongerWriteToIsFollowedByANewPart) {
    auto journal = Begin(At(14, 9, 0, 0));
    ASSERT_TRUE(Add(*journal, At(14, 9, 0, 3), "0.012").ok);
    journal.reset();
    const QStringList files = {Path("2012-03-14.csv"), Path("2012-03-14.samples")};
    const QByteArray before = Bytes(files[0]) + Bytes(files[1]);
    constexpr uid_t kNobody = 65534;
    for (const QString& path : QStringList{dir.path(), folder, Path("journal.state")} + files)
        ASSERT_TRUE(::geteuid() != 0 ||
                    ::chown(QFile::encodeName(path).constData(), kNobody, kNobody) == 0);
    for (const QString& path : files)
        ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner));
    const pid_t child = ::fork();
    if (child == 0) {
        RecordingJournal next(folder, regional);
        const bool ok = (::geteuid() != 0 || (::setgid(kNobody) == 0 && ::setuid(kNobody) == 0)) &&
                        next.Start(At(14, 9, 1, 0), At(14, 9, 1, 0)).ok &&
                        Add(next, At(14, 9, 1, 3), "0.013").ok &&
                        Add(next, At(14, 9, 1, 6), "0.014").ok;
        ::_exit(ok ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(Bytes(files[0]) + Bytes(files[1]), before);
    EXPECT_EQ(Read("2012-03-14_02.csv").points.size(), 2u);
    EXPECT_EQ(SampleValues(), (std::vector<double>{0.012, 0.013, 0.014})); // in _02.samples
}

// A reading goes into both the data file and the samples or into neither,
// whichever of the two a full disk fails (here a limit on file sizes, the
// line failing as the file following it reaches it), and a sample that a
// crash left without its line is taken back at the next start.
TEST_F(RecordingJournalTest, TheDataFileAndTheSamplesHoldTheSameReadings) {
    const struct {
        const char* what;
        int notes;           // a long header makes the data file the larger
        const char* follows; // the file the limit lies beyond
    } cases[] = {
        {"the sample fails", 0, "2012-03-14.samples"},
        {"the data file's line fails", 4000, "2012-03-14.csv"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(QDir(folder).removeRecursively());
        RecordingJournal journal(folder, regional);
        journal.SetFileHeader({{}, {}, {}, QString(c.notes, 'n')});
        ASSERT_TRUE(journal.Start(At(14, 9, 0, 0), At(14, 9, 0, 0)).ok);
        int n = 0;
        const auto next = [&] {
            ++n;
            return Add(journal, At(14, 9, 0, 0) + 3 * n / 86400.0,
                       QByteArray::number(0.001 * n).constData());
        };
        for (int i = 0; i < 6; ++i)
            ASSERT_TRUE(next().ok);
        int failed = 0;
        for (rlim_t room = 0; room < 80; room += 4) {
            const testing::FileSizeLimit full(
                static_cast<rlim_t>(QFileInfo(Path(c.follows)).size()) + room);
            failed += next().ok ? 0 : 1;
        }
        EXPECT_GT(failed, 3);
        EXPECT_TRUE(next().ok);
        EXPECT_EQ(SampleValues(), DataFileValues());
    }

    Put("2012-03-14.samples", JournalSampleLine(testing::MakeReading(At(14, 9, 5, 0), kMr, "0.5")),
        QIODevice::Append);
    auto journal = Begin(At(14, 9, 6, 0));
    EXPECT_TRUE(Add(*journal, At(14, 9, 6, 3), "0.6").ok);
    EXPECT_EQ(SampleValues(), DataFileValues());
}

// The unfinished end is found also where only the file's end is read.
TEST(LineFile, OpeningCutsOnlyTheUnfinishedLastLine) {
    const QByteArray line(99, 'x');
    const QByteArray lines = (line + '\n').repeated(1000); // 100 kB
    const struct {
        QByteArray bytes;
        qint64 kept;
    } cases[] = {{"ab\ncd", 3},
                 {lines + "torn", lines.size()},
                 {lines, lines.size()},
                 {QByteArray(70000, 'x'), 0},
                 {"x\n" + QByteArray(70000, 'x'), 2}};
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("lines"));
    for (const auto& c : cases) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.bytes);
        file.close();
        platform::LineFile lineFile;
        ASSERT_TRUE(lineFile.Open(path));
        EXPECT_EQ(lineFile.Size(), c.kept);
        EXPECT_EQ(QFileInfo(path).size(), c.kept);
    }
}

// A full disk fails the reading once, leaves no fragment behind and the next
// reading tries again; a folder that cannot be made fails the same way.
TEST_F(RecordingJournalTest, FailuresAreReportedOnceAndRetried) {
    auto journal = Begin(At(14, 9, 0, 0));
    ASSERT_TRUE(Add(*journal, At(14, 9, 0, 3), "0.012").ok);
    const qint64 size = QFileInfo(Path("2012-03-14.csv")).size();

    JournalStatus first;
    JournalStatus second;
    {
        const testing::FileSizeLimit full(static_cast<rlim_t>(size + 10)); // part of a line
        first = Add(*journal, At(14, 9, 0, 6), "0.015");
        second = Add(*journal, At(14, 9, 0, 9), "0.016");
    }
    const JournalStatus third = Add(*journal, At(14, 9, 0, 12), "0.017");

    EXPECT_FALSE(first.ok);
    EXPECT_TRUE(first.changed);
    EXPECT_TRUE(first.text.startsWith("Recording to ")) << first.text.toStdString();
    EXPECT_FALSE(second.ok);
    EXPECT_FALSE(second.changed);
    EXPECT_TRUE(third.ok);
    EXPECT_TRUE(third.changed);
    EXPECT_TRUE(third.text.isEmpty());
    const files::DataFileContents contents = Read("2012-03-14.csv");
    EXPECT_EQ(contents.points.size(), 2u);
    EXPECT_EQ(contents.corruptLines, 0);

    // The folder's place is taken by a file until the user clears it.
    folder = dir.filePath(QStringLiteral("blocked"));
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    RecordingJournal blocked(folder, regional);
    EXPECT_FALSE(blocked.Start(At(14, 9, 0, 0), At(14, 9, 0, 0)).ok);
    EXPECT_FALSE(Add(blocked, At(14, 9, 0, 3), "0.012").ok);
    ASSERT_TRUE(QFile::remove(folder));
    EXPECT_TRUE(Add(blocked, At(14, 9, 0, 6), "0.015").ok);
    EXPECT_EQ(Read("2012-03-14.csv").points.size(), 1u);
}

// Files are kept for the given number of days after theirs, checked at the
// start and when the day changes; 0 keeps all, and other files stay.
TEST_F(RecordingJournalTest, ExpiredFilesAreRemovedAtStartAndAtDayChange) {
    ASSERT_TRUE(QDir().mkpath(folder));
    const QStringList names = {"2012-02-12.csv",       "2012-02-12.alarms", "2012-02-13_02.csv",
                               "2012-02-13_02.alarms", "2012-02-14.csv",    "notes.csv"};
    const auto create = [&] {
        for (const QString& name : names) {
            QFile file(QDir(folder).filePath(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
    };
    const auto remaining = [&] {
        return QDir(folder).entryList(QDir::Files, QDir::Name).filter(QStringLiteral("2012-02"));
    };
    create();
    RecordingJournal keepAll(folder, regional);
    keepAll.SetKeepDays(0);
    EXPECT_TRUE(keepAll.Start(At(15, 9, 0, 0), At(15, 9, 0, 0)).ok);
    EXPECT_EQ(remaining().size(), 5);

    RecordingJournal journal(folder, regional);
    journal.SetKeepDays(30); // 14 March keeps 13 February on
    EXPECT_TRUE(journal.Start(At(14, 9, 0, 0), At(14, 9, 0, 0)).ok);
    EXPECT_EQ(remaining(),
              QStringList({"2012-02-13_02.alarms", "2012-02-13_02.csv", "2012-02-14.csv"}));
    Add(journal, At(14, 23, 59, 57), "0.012");
    EXPECT_EQ(remaining().size(), 3);
    Add(journal, At(15, 0, 0, 0), "0.012");
    EXPECT_EQ(remaining(), QStringList({"2012-02-14.csv"}));
    EXPECT_TRUE(QFile::exists(Path("notes.csv")));
}

// What a holder killed while taking the lock leaves (an empty lock, or an
// empty ".rmlock" beside a dead holder's) does not keep the folder locked;
// a lock someone holds, or is still writing, stays.
TEST(JournalFolderLock, ALockLeftByAHolderKilledWhileTakingItIsTakenOver) {
    const struct {
        const char* what;
        QByteArray lock;
        bool emptyRmlock, held /* flock on the lock */, taken;
    } cases[] = {
        {"empty, the start right after the kill", "", false, false, true},
        {"empty .rmlock", "2147483646\nkorvinet\n\n" /* no such process */, true, false, true},
        {"empty, being written", "", false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        QFile lock(dir.filePath(QStringLiteral("journal.lock")));
        QFile rmlock(lock.fileName() + QStringLiteral(".rmlock"));
        ASSERT_TRUE(lock.open(QIODevice::WriteOnly) && lock.write(c.lock) == c.lock.size());
        ASSERT_TRUE(lock.flush() && (!c.held || ::flock(lock.handle(), LOCK_EX | LOCK_NB) == 0));
        ASSERT_TRUE(!c.emptyRmlock || rmlock.open(QIODevice::WriteOnly));
        JournalFolderLock folder(dir.path());
        QString why;
        EXPECT_EQ(folder.TryLock(&why), c.taken) << why.toStdString();
    }
}

// A journal in a unit with the micro sign reads in pandas as it is (UTF-8).
TEST_F(RecordingJournalTest, PandasReadsAJournalFile) {
    auto journal = Begin(At(14, 9, 0, 0));
    Add(*journal, At(14, 9, 0, 3), "0.140", false, kMicroSv);
    Add(*journal, At(14, 9, 0, 6), "0.150", true, kMicroSv);
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, pandas\n"
                                 "f = pandas.read_csv(sys.argv[1], comment='#', "
                                 "skipinitialspace=True)\n"
                                 "print('|'.join(f.columns), len(f), f.iloc[1, 1])\n"),
                  Path("2012-03-14.csv")});
    ASSERT_TRUE(python.waitForFinished(60000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(python.readAllStandardOutput()),
              QStringLiteral("Time|\u00B5Sv/hr 2 0.15\n"));
}

} // namespace
} // namespace korvinet::recording
