// "Open Recording...": the step a span is read in, the span's moments,
// the points and header lines read from a recorded journal's history, and
// what the command does with each answer of the user.
#include "app/open_recording.h"
#include "platform/datetime.h"
#include "recording/history_store.h"
#include "support/journal_fixture.h"

#include <QDateTime>
#include <map>

#include <gtest/gtest.h>

namespace korvinet::app {

using device::Reading;

namespace {

constexpr qint64 kH = 3600 * 1000;
constexpr qint64 kD = 24 * kH;
constexpr qint64 kNow = 1000 * kD;

// The step a span ending now is read in, from how far back the history's
// first reading, its raw readings, minute and hour summaries reach (in days
// before now; below 0: none).
TEST(OpenRecordingTest, TheStepKeepsTheGraphSmallAndTheSpanWhole) {
    const struct {
        const char* what;
        qint64 fromMs, toMs;
        double first, readings, minutes, hours;
        int step;
    } cases[] = {
        {"24 hours of readings", kNow - 24 * kH, kNow, 400, 30, 365, 400, 0},
        {"48 hours, the live graph's span", kNow - 48 * kH, kNow, 400, 30, 365, 400, 0},
        {"49 hours", kNow - 49 * kH, kNow, 400, 30, 365, 400, 60},
        {"7 days", kNow - 7 * kD, kNow, 400, 30, 365, 400, 60},
        {"30 days", kNow - 30 * kD, kNow, 400, 30, 365, 400, 60},
        {"69 days: 99,360 minutes", kNow - 69 * kD, kNow, 400, 30, 365, 400, 60},
        {"70 days: too many minutes", kNow - 70 * kD, kNow, 400, 30, 365, 400, 3600},
        {"a year", kNow - 365 * kD, kNow, 400, 30, 365, 400, 3600},
        {"twelve years", kNow - 12 * 365 * kD, kNow, 5000, 30, 365, 5000, 86400},
        {"a day whose readings expired", kNow - 40 * kD, kNow - 39 * kD, 400, 30, 365, 400, 60},
        {"a day older than the minutes", kNow - 390 * kD, kNow - 389 * kD, 400, 30, 365, 400, 3600},
        {"a day that begins before the readings", kNow - 31 * kD, kNow - 30 * kD + kH, 400, 30, 365,
         400, 60},
        {"a year of a history three days old", kNow - 365 * kD, kNow, 3, 3, 3, 3, 3600},
        {"24 hours of a history an hour old", kNow - 24 * kH, kNow, 1.0 / 24, 1.0 / 24, 1.0 / 24,
         1.0 / 24, 0},
        {"an empty history", kNow - 24 * kH, kNow, -1, -1, -1, -1, 0},
        {"a year of an empty history", kNow - 365 * kD, kNow, -1, -1, -1, -1, 3600},
    };
    const auto daysAgo = [](double days) {
        return days < 0 ? std::nullopt
                        : std::optional<qint64>(kNow - static_cast<qint64>(days * kD));
    };
    for (const auto& c : cases) {
        const HistoryReach reach = [&](recording::HistoryReader::Resolution r) {
            switch (r) {
            case recording::HistoryReader::Resolution::Readings:
                return daysAgo(c.readings);
            case recording::HistoryReader::Resolution::Minutes:
                return daysAgo(c.minutes);
            case recording::HistoryReader::Resolution::Hours:
                break;
            }
            return daysAgo(c.hours);
        };
        EXPECT_EQ(RecordingStepSeconds({c.fromMs, c.toMs}, daysAgo(c.first), reach), c.step)
            << c.what;
    }
}

TEST(OpenRecordingTest, SpansEndNowAndARangeIsLocalTime) {
    const qint64 now = QDateTime(QDate(2012, 3, 14), QTime(9, 0)).toMSecsSinceEpoch();
    const RecordingSpan year = RecordingSpanOf({true, 3, 0, 0}, now);
    EXPECT_EQ(year.toUtcMs, now + 1);
    EXPECT_EQ(year.fromUtcMs, now - 365 * kD);
    const double from = platform::DateTimeFromQt(QDateTime(QDate(2012, 3, 10), QTime(6, 30)));
    const RecordingSpan range = RecordingSpanOf({true, 4, from, from + 2.5}, now);
    EXPECT_EQ(range.fromUtcMs, QDateTime(QDate(2012, 3, 10), QTime(6, 30)).toMSecsSinceEpoch());
    EXPECT_EQ(range.toUtcMs, QDateTime(QDate(2012, 3, 12), QTime(18, 30)).toMSecsSinceEpoch());
}

using testing::At;
using testing::kMicroSv;
using testing::kMr;
using testing::Utc;

constexpr double kSecond = 1.0 / 86400;

// A journal with its history: from 00:00 on the 12th to 00:00 on the 15th, a
// reading every 10 minutes, and every 30 s from 21:00 on the 14th; in mR/hr
// until 22:00 on the 14th and in uSv/hr after.
class RecordingTest : public testing::JournalTest {
protected:
    const QStringList units{QStringLiteral("CPM"), kMr, kMicroSv};

    static std::vector<Reading> Readings() {
        std::vector<Reading> readings;
        int k = 0;
        for (double t = At(12, 0, 0, 0); t < At(15, 0, 0, 0) - kSecond / 2;
             t += (t < At(14, 21, 0, 0) - kSecond / 2 ? 600 : 30) * kSecond) {
            Reading r = testing::MakeReading(t, t < At(14, 22, 0, 0) ? kMr : kMicroSv, "0");
            r.value = 0.10 + (k++ % 13) * 0.01; // as the journal keeps either unit
            r.counts = 5;
            r.intervalMs = 30000;
            readings.push_back(r);
        }
        return readings;
    }
    void Record() {
        auto journal = Begin(At(12, 0, 0, 0));
        recording::HistoryStore store(folder);
        QString why;
        ASSERT_TRUE(store.Open(Utc(At(12, 0, 0, 0)), &why)) << why.toStdString();
        for (const Reading& r : Readings())
            store.Recorded(r, journal->Append(r).ok);
        store.Close();
        journal->Close();
    }
    // The points [from, to) as a brute force over the readings makes them:
    // every reading in uSv/hr, or the mean of each minute's.
    static std::vector<std::pair<double, double>> Expected(double from, double to, bool minutes) {
        std::map<double, std::pair<double, int>> sums;
        for (const Reading& r : Readings()) {
            const double t = r.time;
            if (Utc(t) < Utc(from) || Utc(t) >= Utc(to) || r.unitCode != 4)
                continue;
            const double minute = std::floor((t - At(14, 0, 0, 0)) / (60 * kSecond) + 1e-6);
            auto& [sum, n] = sums[minutes ? At(14, 0, 0, 0) + minute * 60 * kSecond : t];
            sum += r.value;
            ++n;
        }
        std::vector<std::pair<double, double>> points;
        for (const auto& [at, sum] : sums)
            points.emplace_back(at, sum.first / sum.second);
        return points;
    }
};

TEST_F(RecordingTest, ASpanReadsAsADataFileInTheUnitItEndsIn) {
    Record();
    const struct {
        const char* what;
        double from, to;
        const char* steps; // the header lines after the span's, joined by "|"
        bool minutes;
    } cases[] = {
        {"every reading across the unit change", At(14, 21, 30, 0), At(14, 23, 0, 0),
         "# Every reading|# Readings in other units left out: 60", false},
        {"three days in minutes", At(12, 0, 0, 0), At(15, 0, 0, 0),
         "# Means of 1 minute|# Readings in other units left out: 534", true},
        {"in one unit alone", At(14, 22, 0, 0), At(14, 23, 0, 0), "# Every reading", false},
    };
    for (const auto& c : cases) {
        files::DataFileContents contents;
        ReadRecording(recording::HistoryReader(folder), {Utc(c.from), Utc(c.to)}, units, regional,
                      {}, &contents);
        EXPECT_TRUE(contents.hasColumnTitles) << c.what;
        EXPECT_EQ(contents.leftAxisTitle, kMicroSv) << c.what;
        EXPECT_EQ(contents.unitIndex, 2) << c.what;
        EXPECT_EQ(contents.headerLines,
                  QStringList{"# Recording: " + regional.DateTimeText(c.from) + " to " +
                              regional.DateTimeText(c.to)} +
                      QString::fromUtf8(c.steps).split('|'))
            << c.what;
        const auto expected = Expected(c.from, c.to, c.minutes);
        ASSERT_EQ(contents.points.size(), expected.size()) << c.what;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_NEAR(contents.points[i].time, expected[i].first, 1e-3 * kSecond) << c.what;
            EXPECT_NEAR(contents.points[i].value, expected[i].second, 1e-12) << c.what;
        }
    }
}

// Each answer of the user, and each state of the journal, through the
// command: what it asked and what it did to the window.
TEST_F(RecordingTest, TheCommandOpensOnlyASpanWithReadings) {
    Record();
    const qint64 now = Utc(At(15, 0, 0, 0));
    const RecordingSpanChoice lastDay{true, 0, 0, 0};
    const struct {
        const char* what;
        bool noFolder, recorded, graphHasPoints, yes;
        RecordingSpanChoice choice;
        bool cancel;
        const char* log;
    } cases[] = {
        {"no journal", true, false, false, true, lastDay, false, "message:none"},
        {"nothing recorded", false, false, true, true, lastDay, false, "message:none"},
        {"No to clearing the graph", false, true, true, false, lastDay, false, "confirm"},
        {"the dialog cancelled", false, true, false, true, {}, false, "choose"},
        {"the reading cancelled", false, true, true, true, lastDay, true, "confirm choose"},
        {"a range before the recording", false, true, false, true,
         RecordingSpanChoice{true, 4, At(11, 0, 0, 0), At(11, 23, 0, 0)}, false,
         "choose message:empty"},
        {"a range that ends before it begins", false, true, false, true,
         RecordingSpanChoice{true, 4, At(13, 0, 0, 0), At(12, 0, 0, 0)}, false,
         "choose message:empty"},
        {"the last 24 hours", false, true, true, true, lastDay, false,
         "confirm choose close clear path:recordings show:240"},
        {"a week, before the recording began", false, true, false, true,
         RecordingSpanChoice{true, 1, 0, 0}, false, "choose close clear path:recordings show:120"},
    };
    for (const auto& c : cases) {
        const QString where = c.noFolder   ? QString()
                              : c.recorded ? folder
                                           : dir.filePath(QStringLiteral("empty"));
        QStringList log;
        RecordingSpanChoice shownWith;
        files::OpenDataFileHooks hooks;
        hooks.graphHasPoints = [&] { return c.graphHasPoints; };
        hooks.confirm = [&](const QString& question) {
            EXPECT_EQ(question, files::kOpenDataFileQuestion) << c.what;
            log << "confirm";
            return c.yes;
        };
        hooks.message = [&](const QString& text) {
            const bool none = text == NoRecordingText(where);
            EXPECT_TRUE(none || text.startsWith("The recording holds no readings from ")) << c.what;
            log << (none ? "message:none" : "message:empty");
        };
        hooks.closeDevice = [&] { log << "close"; };
        hooks.clearGraph = [&] { log << "clear"; };
        hooks.setDataFilePath = [&](const QString& path) {
            log << "path:" + QFileInfo(path).fileName();
        };
        hooks.setHeaderLines = [](const QStringList&) {};
        hooks.setAxisTitles = [](const QString&, const QString&) {};
        hooks.selectUnit = [](int) {};
        hooks.progress = [&](double) { return !c.cancel; };
        hooks.showPoints = [&](const std::vector<Reading>& points) {
            log << QStringLiteral("show:%1").arg(points.size());
        };
        hooks.unitNames = units;
        RecordingSpanChoice last;
        OpenRecordingCommand(
            hooks,
            [&](const RecordingSpanChoice& initial) {
                shownWith = initial;
                log << "choose";
                return c.choice;
            },
            {where, nullptr, now}, regional, &last);
        EXPECT_EQ(log.join(' '), QString::fromLatin1(c.log)) << c.what;
        if (log.contains("choose")) {
            // A range never chosen is offered as the last day.
            EXPECT_NEAR(shownWith.rangeTo, At(15, 0, 0, 0), 1e-3 * kSecond) << c.what;
            EXPECT_NEAR(shownWith.rangeFrom, At(14, 0, 0, 0), 1e-3 * kSecond) << c.what;
            EXPECT_EQ(last.accepted, c.choice.accepted) << c.what;
        }
    }
}

} // namespace
} // namespace korvinet::app
