#pragma once

#include "files/data_file.h"
#include "platform/datetime.h"
#include "platform/regional.h"
#include "recording/journal_reader.h"
#include "recording/recording_journal.h"
#include "support/test_reading.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

namespace korvinet::testing {

inline double At(int d, int h, int mi, int s) { // March 2012
    return platform::DateTimeFromQt(QDateTime(QDate(2012, 3, d), QTime(h, mi, s)));
}

// The moment of a local date-time, in milliseconds since 1970-01-01 UTC.
inline qint64 Utc(double local) {
    return platform::QtFromDateTime(local).toMSecsSinceEpoch();
}

inline const QString kMr = QStringLiteral("mR/hr");
inline const QString kMicroSv = QStringLiteral("\u00B5Sv/hr");

// A journal in a temporary folder under the C locale (United States texts).
class JournalTest : public ::testing::Test {
protected:
    platform::Regional regional{QLocale::c()};
    QTemporaryDir dir;
    QString folder = dir.filePath(QStringLiteral("recordings"));

    std::unique_ptr<recording::RecordingJournal> Begin(double now, double sessionStart = 0.0) {
        auto journal = std::make_unique<recording::RecordingJournal>(folder, regional);
        journal->SetFileHeader({QStringLiteral("KVT-PULSE1"), QStringLiteral("45 seconds"),
                                QStringLiteral("Basement"), QString()});
        EXPECT_TRUE(journal->Start(now, sessionStart > 0.0 ? sessionStart : now).ok);
        return journal;
    }
    static recording::JournalStatus Add(recording::RecordingJournal& journal, double time,
                                        const char* reading, bool alarm = false,
                                        const QString& unit = kMr) {
        return journal.Append(MakeReading(time, unit, QString::fromLatin1(reading), alarm));
    }
    // Every reading the journal's samples hold with from <= utcMs < to, in
    // time order.
    std::vector<device::TimedReading> ReadBack(qint64 from, qint64 to) const {
        std::vector<device::TimedReading> samples;
        recording::JournalReader(folder).Visit(from, to, [&](const device::TimedReading& s) {
            samples.push_back(s);
            return true;
        });
        return samples;
    }
    QString Path(const char* name) const { return QDir(folder).filePath(QLatin1String(name)); }
    static QByteArray Bytes(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    files::DataFileContents Read(const char* name) const {
        files::DataFileReader reader(regional);
        files::DataFileContents contents;
        EXPECT_TRUE(reader.Open(Path(name))) << name;
        EXPECT_TRUE(reader.Read({QStringLiteral("CPM"), kMr, kMicroSv}, &contents));
        return contents;
    }
};

} // namespace korvinet::testing
