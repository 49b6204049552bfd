#include "data_file_fixture.h"

#include "data_file_writing.h"
#include "files/cp1252.h"
#include "support/ascii_digit_locales.h"
#include "support/example_data_file.h"
#include "support/file_size_limit.h"

#include <QDir>
#include <QProcess>

namespace korvinet::files {

using device::Reading;

namespace {

using testing::At;
using testing::DataFileTest;
using testing::FileSizeLimit;
using testing::kExampleFile;
using testing::WriteDataFile;

Reading Point(double time, double value) {
    Reading r;
    r.time = time;
    r.value = value;
    return r;
}

std::vector<Reading> ExamplePoints() {
    return {Point(At(2012, 3, 14, 9, 0, 3), 0.012), Point(At(2012, 3, 14, 9, 0, 6), 0.015),
            Point(At(2012, 3, 14, 9, 0, 9), device::TCounter::kOverrange)};
}

TEST_F(DataFileTest, WritesTheExampleFileByteForByte) {
    const QString path = Path("example.csv");
    ASSERT_TRUE(WriteDataFile(path, ExamplePoints(), counter, ExampleHeader(), regional));
    EXPECT_EQ(ReadRaw(path), kExampleFile);
}

TEST_F(DataFileTest, ReadsTheExampleFile) {
    bool ok = false;
    const DataFileContents c = ReadBack(WriteRaw("example.csv", kExampleFile), &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(c.headerLines,
              QStringList({"# Device: KVT-PULSE1", "# Units: mR/hr",
                           "# Averaging Time: 45 seconds sec", "# Title: Radiation vs. Time",
                           "# Notes: North wall, shelf 2", "# Date Saved: 3/14/2012 10:15:02 AM"}));
    EXPECT_TRUE(c.hasColumnTitles);
    EXPECT_EQ(c.bottomAxisTitle, "Time");
    EXPECT_EQ(c.leftAxisTitle, "mR/hr");
    EXPECT_EQ(c.unitIndex, 2);
    ASSERT_EQ(c.points.size(), 2u);
    EXPECT_EQ(c.points[0].time, At(2012, 3, 14, 9, 0, 3));
    EXPECT_EQ(c.points[0].value, 0.012);
    EXPECT_EQ(c.points[1].value, 0.015);
    EXPECT_FALSE(c.points[1].alarm); // the alarm is not carried
    EXPECT_EQ(c.corruptLines, 1);
    EXPECT_EQ(CorruptLinesNote(c.corruptLines),
              "Note: 1 lines in the data file were corrupt and ignored.");
}

TEST_F(DataFileTest, FullSpanGraphReadsBackIdenticallyInEveryUnit) {
    // 48 hours at one point per 3 seconds; values already at each unit's decimals.
    const double decimals[] = {10.0, 10.0, 1000.0, 1.0, 100.0};
    for (std::uint8_t unit = 0; unit < 5; ++unit) {
        counter.SetUnitCode(unit);
        std::vector<Reading> points;
        const QDateTime start(QDate(2012, 3, 14), QTime(9, 0, 3));
        const int count = unit == 2 ? 57600 : 2000;
        for (int i = 0; i < count; ++i)
            points.push_back(Point(platform::DateTimeFromQt(start.addSecs(3LL * i)),
                                   (i * 7919 % 100000) / decimals[unit]));
        DataFileHeader header = ExampleHeader();
        header.leftAxisTitle = counter.UnitName();
        const QString path = Path("full.csv");
        ASSERT_TRUE(WriteDataFile(path, points, counter, header, regional));

        bool ok = false;
        const DataFileContents c = ReadBack(path, &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(c.unitIndex, unit);
        EXPECT_EQ(c.corruptLines, 0);
        ASSERT_EQ(c.points.size(), points.size());
        for (std::size_t i = 0; i < points.size(); ++i) {
            ASSERT_EQ(c.points[i].time, points[i].time) << "unit " << int(unit) << " point " << i;
            ASSERT_EQ(c.points[i].value, points[i].value) << "unit " << int(unit) << " point " << i;
        }
    }
}

TEST_F(DataFileTest, MicroSignIsWrittenAsOneWindows1252Byte) {
    counter.SetUnitCode(4);
    DataFileHeader header = ExampleHeader();
    header.leftAxisTitle = counter.UnitName();
    const QString path = Path("micro.csv");
    ASSERT_TRUE(WriteDataFile(path, {}, counter, header, regional));
    const QByteArray bytes = ReadRaw(path);
    EXPECT_TRUE(bytes.contains("# Units: \xB5Sv/hr\r\n"));
    EXPECT_TRUE(bytes.endsWith("Time, \xB5Sv/hr\r\n"));
}

TEST_F(DataFileTest, TextBeyondWindows1252IsWrittenAsUtf8InsteadOfLost) {
    counter.SetUnitCode(3);
    DataFileHeader header = ExampleHeader();
    header.title = QStringLiteral("\u6E2C\u5B9A \u03A9");
    header.leftAxisTitle = counter.UnitName();
    const QString path = Path("utf8.csv");
    ASSERT_TRUE(WriteDataFile(path, ExamplePoints(), counter, header, regional));
    const QByteArray bytes = ReadRaw(path);
    EXPECT_TRUE(bytes.contains("# Title: \xE6\xB8\xAC\xE5\xAE\x9A \xCE\xA9\r\n"));
    EXPECT_TRUE(bytes.contains("Time, \xC2\xB5R/hr\r\n"));
    const DataFileContents c = ReadBack(path);
    EXPECT_EQ(c.headerLines.value(3), "# Title: " + header.title);
    EXPECT_EQ(c.unitIndex, 3);
    EXPECT_EQ(c.points.size(), 2u);
}

TEST_F(DataFileTest, EmptyGraphSavesHeaderAndColumnTitlesOnly) {
    const QString path = Path("empty.csv");
    ASSERT_TRUE(WriteDataFile(path, {}, counter, ExampleHeader(), regional));
    const QByteArray bytes = ReadRaw(path);
    EXPECT_EQ(bytes.count("\r\n"), 7);
    EXPECT_TRUE(bytes.endsWith("\r\nTime, mR/hr\r\n"));

    bool ok = false;
    const DataFileContents c = ReadBack(path, &ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(c.points.empty());
    EXPECT_EQ(c.corruptLines, 0);
    EXPECT_EQ(c.headerLines.size(), 6);
}

TEST_F(DataFileTest, PointAtMidnightIsWrittenAsTheDateAlone) {
    const std::vector<Reading> points = {Point(At(2012, 3, 14), 0.02),
                                         Point(At(2012, 3, 14, 0, 0, 3), 0.03)};
    const QString path = Path("midnight.csv");
    ASSERT_TRUE(WriteDataFile(path, points, counter, ExampleHeader(), regional));
    EXPECT_TRUE(ReadRaw(path).endsWith("Time, mR/hr\r\n3/14/2012, 0.020\r\n"
                                       "3/14/2012 12:00:03 AM, 0.030\r\n"));
    const DataFileContents c = ReadBack(path);
    ASSERT_EQ(c.points.size(), 2u);
    EXPECT_EQ(c.points[0].time, At(2012, 3, 14));
}

TEST_F(DataFileTest, WriteFailuresAreReported) {
    // /dev/full opens fine and fails every write: a full disk.
    std::vector<Reading> points(5000, Point(At(2012, 3, 14, 9), 0.01));
    for (std::size_t i = 0; i < points.size(); ++i)
        points[i].time += i / 86400.0;
    EXPECT_FALSE(WriteDataFile("/dev/full", points, counter, ExampleHeader(), regional));
    EXPECT_FALSE(WriteDataFile("/dev/full", {}, counter, ExampleHeader(), regional));
    EXPECT_FALSE(WriteDataFile(Path("no/such/folder.csv"), {}, counter, ExampleHeader(), regional));
    EXPECT_FALSE(WriteDataFile(QString(), {}, counter, ExampleHeader(), regional));

    // The disk fills while an earlier save is being replaced: it stays whole.
    const QString saved = Path("saved.csv");
    ASSERT_TRUE(WriteDataFile(saved, {points[0]}, counter, ExampleHeader(), regional));
    const QByteArray before = ReadRaw(saved);
    {
        FileSizeLimit diskFull(4096);
        EXPECT_FALSE(WriteDataFile(saved, points, counter, ExampleHeader(), regional));
    }
    EXPECT_EQ(ReadRaw(saved), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"saved.csv"});
}

TEST_F(DataFileTest, OpenFailsForMissingFilesAndEmptyNames) {
    DataFileReader reader(regional);
    EXPECT_FALSE(reader.Open(Path("missing.csv")));
    EXPECT_FALSE(reader.Open(QString()));
    DataFileContents c;
    EXPECT_FALSE(reader.Read(testing::UnitNames(), &c));
}

// Data lines after "Time, mR/hr", as other programs or hand edits leave them.
TEST_F(DataFileTest, DataLinesAreAcceptedOrCountedCorrupt) {
    struct Case {
        const char* name;
        QByteArray lines;
        std::vector<double> times; // accepted points
        int corrupt;
    };
    const double t3 = At(2012, 3, 14, 9, 0, 3);
    const double t6 = At(2012, 3, 14, 9, 0, 6);
    const Case cases[] = {
        {"equal times", "3/14/2012 9:00:03 AM, 1\r\n3/14/2012 9:00:03 AM, 2\r\n", {t3}, 1},
        {"backward in time compares with the last accepted",
         "3/14/2012 9:00:03 AM, 1\r\n3/14/2012 8:59:00 AM, 2\r\n3/14/2012 9:00:06 AM, 3\r\n",
         {t3, t6},
         1},
        {"blank data line",
         "3/14/2012 9:00:03 AM, 1\r\n\r\n3/14/2012 9:00:06 AM, 3\r\n",
         {t3, t6},
         1},
        {"three fields", "x, 3/14/2012 9:00:03 AM, 1\r\n3/14/2012 9:00:06 AM, 3\r\n", {t6}, 1},
        {"no comma", "3/14/2012 9:00:03 AM 1\r\n", {}, 1},
        {"overrange", "3/14/2012 9:00:03 AM, OVERRANGE\r\n", {}, 1},
        {"bad date", "13/45/2012 9:00:03 AM, 1\r\n", {}, 1},
        {"empty value", "3/14/2012 9:00:03 AM,\r\n", {}, 1},
        {"LF line ends", "3/14/2012 9:00:03 AM, 1\n3/14/2012 9:00:06 AM, 3\n", {t3, t6}, 0},
        {"no final line end", "3/14/2012 9:00:03 AM, 1\r\n3/14/2012 9:00:06 AM, 3", {t3, t6}, 0},
        {"blanks, tabs and no space",
         "  3/14/2012 9:00:03 AM\t,\t1 \r\n3/14/2012 9:00:06 AM,3\r\n",
         {t3, t6},
         0},
        {"date alone", "3/14/2012, 1\r\n", {At(2012, 3, 14)}, 0},
        {"backward before 1900 as well",
         "12/29/1899 9:00:00 AM, 1\r\n1/1/1800 9:00:00 AM, 2\r\n",
         {At(1899, 12, 29, 9)},
         1},
    };
    for (const Case& c : cases) {
        bool ok = false;
        const DataFileContents got =
            ReadBack(WriteRaw("lines.csv", QByteArray("Time, mR/hr\r\n") + c.lines), &ok);
        EXPECT_TRUE(ok) << c.name;
        EXPECT_EQ(got.corruptLines, c.corrupt) << c.name;
        ASSERT_EQ(got.points.size(), c.times.size()) << c.name;
        for (std::size_t i = 0; i < c.times.size(); ++i)
            EXPECT_EQ(got.points[i].time, c.times[i]) << c.name;
    }
}

TEST_F(DataFileTest, HeaderAndColumnTitleVariants) {
    struct Case {
        const char* name;
        QByteArray text;
        bool ok;
        int headers;
        bool hasTitles;
        QString bottom;
        QString left;
        int unit;
        int points;
        int corrupt;
    };
    const QByteArray longNote = "# Notes: " + QByteArray(300, 'n');
    const Case cases[] = {
        {"no header lines", "Time, CPM\r\n3/14/2012 9:00:03 AM, 12.5\r\n", true, 0, true, "Time",
         "CPM", 1, 1, 0},
        {"small letters", "# a\r\nTime, cpm (UNCOMP)\r\n", true, 1, true, "Time", "cpm (UNCOMP)", 0,
         0, 0},
        {"no unit name", "# a\r\nTime, Counts\r\n", true, 1, true, "Time", "Counts", -1, 0, 0},
        {"first line is data", "3/14/2012 9:00:03 AM, 0.012\r\n3/14/2012 9:00:06 AM, 0.015\r\n",
         true, 0, true, "3/14/2012 9:00:03 AM", "0.012", -1, 1, 0},
        {"title without comma", "#\r\n  Readings \r\n", true, 1, true, "", "Readings", -1, 0, 0},
        {"title split at the last comma", "Time, local, mR/hr\r\n", true, 0, true, "Time, local",
         "mR/hr", 2, 0, 0},
        {"blank line among headers", "# a\r\n# b\r\n   \r\n# c\r\nTime, mR/hr\r\n", false, 2, false,
         "", "", -1, 0, 0},
        {"headers only", "# a\r\n# b\r\n", true, 2, false, "", "", -1, 0, 0},
        {"empty file", "", true, 0, false, "", "", -1, 0, 0},
        {"long header lines", longNote + "\r\n  # indented\r\nTime, mR/hr\r\n", true, 2, true,
         "Time", "mR/hr", 2, 0, 0},
    };
    for (const Case& c : cases) {
        bool ok = false;
        const DataFileContents got = ReadBack(WriteRaw("header.csv", c.text), &ok);
        EXPECT_EQ(ok, c.ok) << c.name;
        EXPECT_EQ(got.headerLines.size(), c.headers) << c.name;
        EXPECT_EQ(got.hasColumnTitles, c.hasTitles) << c.name;
        EXPECT_EQ(got.bottomAxisTitle, c.bottom) << c.name;
        EXPECT_EQ(got.leftAxisTitle, c.left) << c.name;
        EXPECT_EQ(got.unitIndex, c.unit) << c.name;
        EXPECT_EQ(static_cast<int>(got.points.size()), c.points) << c.name;
        EXPECT_EQ(got.corruptLines, c.corrupt) << c.name;
    }
    const DataFileContents longOne =
        ReadBack(WriteRaw("long.csv", longNote + "\r\n  # indented\r\nTime, mR/hr\r\n"));
    EXPECT_EQ(longOne.headerLines.value(0), QString::fromLatin1(longNote));
    EXPECT_EQ(longOne.headerLines.value(1), "# indented");
}

TEST_F(DataFileTest, FileResavedAsUtf8KeepsItsMicroSign) {
    const QByteArray utf8 = "# Units: \xC2\xB5R/hr\n"
                            "Time, \xC2\xB5r/HR\n"
                            "3/14/2012 9:00:03 AM, 12\n";
    const DataFileContents c = ReadBack(WriteRaw("utf8.csv", utf8));
    EXPECT_EQ(c.headerLines.value(0), QStringLiteral("# Units: \u00B5R/hr"));
    EXPECT_EQ(c.unitIndex, 3);
    EXPECT_EQ(c.points.size(), 1u);
}

TEST_F(DataFileTest, RoundTripUnderGermanSettings) {
    // Dates in the German form; values keep "." and still read back.
    const platform::Regional german(QLocale(QLocale::German, QLocale::Germany));
    const QString path = Path("de.csv");
    std::vector<Reading> points = ExamplePoints();
    points.pop_back();
    ASSERT_TRUE(WriteDataFile(path, points, counter, ExampleHeader(), german));
    EXPECT_TRUE(ReadRaw(path).contains("14.03.2012 09:00:03, 0.012\r\n"));
    const DataFileContents c = ReadBack(path, nullptr, &german);
    ASSERT_EQ(c.points.size(), 2u);
    EXPECT_EQ(c.points[1].time, points[1].time);
    EXPECT_EQ(c.points[1].value, 0.015);
}

// The writer and the reader under the same regional settings, for every
// locale whose digits are ASCII: one line per locale that fails.
TEST_F(DataFileTest, DateTimesReadBackUnderEveryAsciiDigitLocale) {
    std::vector<Reading> points;
    for (double t : {At(1999, 12, 31, 23, 59, 59), At(2000, 1, 1), At(2000, 1, 1, 0, 0, 1),
                     At(2012, 3, 14, 12, 0, 0), At(2012, 3, 14, 13, 5, 9)})
        points.push_back(Point(t, 0.5));
    const QString path = Path("locale.csv");
    QStringList failures;
    for (const QLocale& locale : testing::AsciiDigitLocales()) {
        const platform::Regional r(locale);
        ASSERT_TRUE(WriteDataFile(path, points, counter, ExampleHeader(), r));
        const QStringList lines = DecodeWindows1252OrUtf8(ReadRaw(path)).split("\r\n");
        const DataFileContents c = ReadBack(path, nullptr, &r);
        QString fault;
        for (std::size_t i = 0; i < points.size() && fault.isEmpty(); ++i) {
            const QString line = lines.value(7 + static_cast<int>(i));
            if (line != r.DateTimeText(points[i].time) + ", 0.500")
                fault = QStringLiteral("wrote \"%1\"").arg(line);
            else if (c.points.size() != points.size())
                fault =
                    QStringLiteral("%1 corrupt lines, e.g. \"%2\"").arg(c.corruptLines).arg(line);
            else if (c.points[i].time != points[i].time)
                fault = QStringLiteral("\"%1\" read back as %2")
                            .arg(line)
                            .arg(c.points[i].time, 0, 'f', 8);
        }
        if (!fault.isEmpty())
            failures << locale.name() + QLatin1Char(' ') + locale.bcp47Name() + ": " + fault;
    }
    EXPECT_TRUE(failures.isEmpty()) << failures.join(QLatin1Char('\n')).toStdString();
}

TEST_F(DataFileTest, LinesWithTheFormerZoneBracketsStillRead) {
    const platform::Regional spanish(QLocale(QLocale::Spanish, QLocale::Spain));
    QByteArray file = kExampleFile;
    file.replace("3/14/2012 9:00:03 AM", "14/3/2012 9:00:03 ()");
    file.replace("3/14/2012 9:00:06 AM", "14/3/2012 9:00:06");
    const DataFileContents c = ReadBack(WriteRaw("es.csv", file), nullptr, &spanish);
    ASSERT_EQ(c.points.size(), 2u);
    EXPECT_EQ(c.points[0].time, At(2012, 3, 14, 9, 0, 3));
    EXPECT_EQ(c.points[1].time, At(2012, 3, 14, 9, 0, 6));
}

TEST_F(DataFileTest, PandasReadsTheRowsWeWrote) {
    // The system's Python, where the Debian pandas package lives.
    const QString python = QStringLiteral("/usr/bin/python3");
    const QString path = Path("pandas.csv");
    std::vector<Reading> points = ExamplePoints();
    points[2].value = 0.5;
    ASSERT_TRUE(WriteDataFile(path, points, counter, ExampleHeader(), regional));

    QProcess process;
    process.start(python, {QStringLiteral("-c"),
                           QStringLiteral("import sys, pandas\n"
                                          "f = pandas.read_csv(sys.argv[1], comment='#', "
                                          "skipinitialspace=True, encoding='cp1252')\n"
                                          "print('|'.join(f.columns))\n"
                                          "for t, v in f.itertuples(index=False):\n"
                                          "    print(t + '|' + repr(v))\n"),
                           path});
    ASSERT_TRUE(process.waitForFinished(60000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(process.readAllStandardOutput()), "Time|mR/hr\n"
                                                                  "3/14/2012 9:00:03 AM|0.012\n"
                                                                  "3/14/2012 9:00:06 AM|0.015\n"
                                                                  "3/14/2012 9:00:09 AM|0.5\n");
}

} // namespace
} // namespace korvinet::files

namespace korvinet::files {
namespace {

TEST_F(DataFileTest, ReadingsReadAsTheRegionalSettingsReadThem) {
    // Plain readings skip QLocale; every text must still give what
    // Regional::ParseNumber gives, or be refused where it refuses. (A comma
    // ends the date-time field, so no reading holds one.)
    const char* texts[] = {
        "0.012",   "-0.5", "15", "1.500", "007", "-0",  "+3",
        "1e3",     "1.",   ".5", "1 500", "inf", "--1", "0.0000000000000000000001",
        "12.34.5", "1'500"};
    const QLocale locales[] = {QLocale::c(), QLocale(QLocale::German), QLocale(QLocale::French),
                               QLocale(QLocale::English, QLocale::UnitedStates),
                               QLocale(QLocale::German, QLocale::Switzerland)};
    for (const QLocale& locale : locales) {
        SCOPED_TRACE(locale.name().toStdString());
        const platform::Regional r(locale);
        QByteArray file = "Time, cpm\n";
        std::vector<double> wanted;
        for (std::size_t i = 0; i < std::size(texts); ++i) {
            file += r.DateTimeText(At(2012, 3, 14, 9, 0, static_cast<int>(i))).toUtf8() + ", " +
                    texts[i] + "\n";
            double y = 0;
            if (r.ParseNumber(QString::fromUtf8(texts[i]), &y))
                wanted.push_back(y);
        }
        DataFileContents contents;
        std::vector<double> read;
        ASSERT_TRUE(ParseDataFileBytes(file, {}, r, &contents,
                                       [&read](double, double y) { read.push_back(y); }, {}));
        EXPECT_EQ(read, wanted);
        EXPECT_EQ(contents.corruptLines, static_cast<int>(std::size(texts) - wanted.size()));
    }
}

TEST_F(DataFileTest, LongSaveWritesEveryLineAsTheRegionalTextsAndCanBeCancelled) {
    // Three days of readings every 7.5 s (whole and half seconds), written
    // in pieces: each line is still the regional date-time and the reading.
    const platform::Regional german(QLocale(QLocale::German));
    const std::size_t count = 40000;
    const double start = At(2012, 3, 14, 23, 59, 58);
    const DataFilePoints points{count, [&](std::size_t i) { return start + i * 7.5 / 86400.0; },
                                [](std::size_t i) { return i % 7 == 0 ? -1.0 : i * 0.0125; }};
    const QString path = Path("long.csv");
    ASSERT_TRUE(WriteDataFilePoints(path, points, counter, ExampleHeader(), german));
    const QByteArray bytes = ReadRaw(path);
    const QList<QByteArray> lines = bytes.split('\n');
    ASSERT_EQ(lines.size(), static_cast<qsizetype>(count + 8));
    for (std::size_t i = 0; i < count; i += 997) {
        SCOPED_TRACE(i);
        EXPECT_EQ(QString::fromLatin1(lines[static_cast<qsizetype>(i + 7)]),
                  german.DateTimeText(points.x(i)) + ", " + counter.FormatValue(points.y(i)) +
                      "\r");
    }

    int asked = 0;
    EXPECT_FALSE(WriteDataFilePoints(path, {count, points.x, [](std::size_t) { return 2.0; }},
                                     counter, ExampleHeader(), german, [&asked](double) {
                                         ++asked;
                                         return false;
                                     }));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(ReadRaw(path), bytes);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"long.csv"});
}

} // namespace
} // namespace korvinet::files
