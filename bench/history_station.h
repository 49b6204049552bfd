#pragma once

// A station that has run for ten years, for the benchmarks that read its
// history: a year of 3-second readings (10,512,000) after nine years of a
// reading every ten minutes, the journal's raw readings kept for its
// default 30 days, the summaries for the rest. Built once per process.
#include "recording/history_database.h"
#include "recording/history_store.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>

namespace korvinet::bench {

constexpr qint64 kSecondMs = 1000;
constexpr qint64 kDayMs = 86400 * kSecondMs;
constexpr int kOffsetSeconds = 3600; // the station keeps +01:00
constexpr int kKeepDays = 30;        // the journal's raw readings

// One journal sample line as the journal writes it, for the moment utcMs.
inline void AppendSample(QByteArray* text, qint64 utcMs, int i) {
    const QDateTime local =
        QDateTime::fromMSecsSinceEpoch(utcMs + kOffsetSeconds * kSecondMs, Qt::UTC);
    const double value = 0.010 + (i % 17) * 0.001;
    char line[128];
    const int n = std::snprintf(line, sizeof line,
                                "%sT%02d:%02d:%02d.000+01:00,%.3f,2,%.1f,3,3000,%d,%.3f,%.3f\n",
                                local.date().toString(Qt::ISODate).toLatin1().constData(),
                                local.time().hour(), local.time().minute(), local.time().second(),
                                value, value * 600, i % 97 == 0 ? 1 : 0, value * 0.6, value * 1.6);
    text->append(line, n);
}

struct Station {
    QTemporaryDir dir;
    qint64 endUtcMs = 0; // just after the last reading
    std::unique_ptr<recording::HistoryStore> store;
    double rebuildSeconds = 0.0;
    double storeMb = 0.0;

    Station() {
        const qint64 yearStart =
            QDateTime(QDate(2025, 12, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch() -
            kOffsetSeconds * kSecondMs;
        const qint64 tenYearsStart = yearStart - 9 * 365 * kDayMs;
        endUtcMs = yearStart + 365 * kDayMs;
        // Day files by local day.
        QByteArray text;
        QDate day;
        const auto flush = [&] {
            if (text.isEmpty())
                return;
            QFile file(dir.filePath(day.toString(Qt::ISODate) + QStringLiteral(".samples")));
            if (file.open(QIODevice::WriteOnly))
                file.write(text);
            text.clear();
        };
        int i = 0;
        for (qint64 t = tenYearsStart; t < endUtcMs; t += t < yearStart ? 600000 : 3000, ++i) {
            const QDate d =
                QDateTime::fromMSecsSinceEpoch(t + kOffsetSeconds * kSecondMs, Qt::UTC).date();
            if (d != day) {
                flush();
                day = d;
                text = "# time,value,unit,cpm,counts,interval_ms,alarm,band_low,band_high\n";
            }
            AppendSample(&text, t, i);
        }
        flush();

        QElapsedTimer rebuild;
        rebuild.start();
        store = std::make_unique<recording::HistoryStore>(dir.path());
        QString why;
        if (!store->Open(endUtcMs, &why))
            std::fprintf(stderr, "the history cannot be kept: %s\n", qPrintable(why));
        rebuildSeconds = rebuild.elapsed() / 1000.0;
        // As the journal keeps them: the raw readings of the last 30 days.
        const QDate oldestKept =
            QDateTime::fromMSecsSinceEpoch(endUtcMs, Qt::UTC).date().addDays(-kKeepDays);
        for (const QString& name : QDir(dir.path()).entryList({QStringLiteral("*.samples")}))
            if (QDate::fromString(name.chopped(8), Qt::ISODate) < oldestKept)
                QFile::remove(dir.filePath(name));
        for (const char* suffix : {"", "-wal"})
            storeMb +=
                QFileInfo(recording::HistoryDatabase::PathIn(dir.path()) + QLatin1String(suffix))
                    .size() /
                1e6;
    }
};

inline Station& TenYearStation() {
    static Station station;
    return station;
}

} // namespace korvinet::bench
