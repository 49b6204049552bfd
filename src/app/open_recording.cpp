#include "app/open_recording.h"

#include "device/display_units.h"
#include "platform/datetime.h"
#include "platform/regional.h"

#include <QDateTime>
#include <QDir>
#include <algorithm>
#include <array>
#include <iterator>

namespace korvinet::app {

namespace {

// The spans ending now, in hours, in the dialog's order.
constexpr qint64 kSpanHours[] = {24, 7 * 24, 30 * 24, 365 * 24};
constexpr qint64 kReadingsSpanMs = 48 * recording::kHourMs;
// The steps after every reading, finest first.
constexpr int kSteps[] = {60, 3600, 86400};

double LocalOf(qint64 utcMs) {
    return platform::DateTimeFromQt(QDateTime::fromMSecsSinceEpoch(utcMs));
}

QString StepLine(int stepSeconds) {
    switch (stepSeconds) {
    case 0:
        return QStringLiteral("# Every reading");
    case 60:
        return QStringLiteral("# Means of 1 minute");
    case 3600:
        return QStringLiteral("# Means of 1 hour");
    default:
        return QStringLiteral("# Means of 1 day");
    }
}

} // namespace

QStringList RecordingSpanNames() {
    return {QStringLiteral("Last 24 hours"), QStringLiteral("Last 7 days"),
            QStringLiteral("Last 30 days"), QStringLiteral("Last year"), QStringLiteral("Range")};
}

RecordingSpan RecordingSpanOf(const RecordingSpanChoice& choice, qint64 nowUtcMs) {
    if (choice.span >= 0 && choice.span < static_cast<int>(std::size(kSpanHours)))
        return {nowUtcMs - kSpanHours[choice.span] * recording::kHourMs, nowUtcMs + 1};
    return {platform::QtFromDateTime(choice.rangeFrom).toMSecsSinceEpoch(),
            platform::QtFromDateTime(choice.rangeTo).toMSecsSinceEpoch()};
}

int RecordingStepSeconds(const RecordingSpan& span, std::optional<qint64> firstUtcMs,
                         const HistoryReach& reach) {
    using Resolution = recording::HistoryReader::Resolution;
    const auto reaches = [&](Resolution resolution) {
        if (!firstUtcMs)
            return true; // the history holds nothing at all
        const std::optional<qint64> oldest = reach(resolution);
        return oldest && *oldest <= std::max(span.fromUtcMs, *firstUtcMs);
    };
    const qint64 length = span.toUtcMs - span.fromUtcMs;
    if (length <= kReadingsSpanMs && reaches(Resolution::Readings))
        return 0;
    for (const int step : kSteps) {
        const qint64 stepMs = step * qint64(1000);
        const bool fits = (length + stepMs - 1) / stepMs <= kMaxRecordingPoints;
        if (fits && reaches(recording::HistoryReader::ResolutionOf(step)))
            return step;
    }
    return std::end(kSteps)[-1];
}

void ReadRecording(const recording::HistoryReader& history, const RecordingSpan& span,
                   const QStringList& unitNames, const platform::Regional& regional,
                   const files::DataFileProgress& progress, files::DataFileContents* contents) {
    // Told at once, so that a progress report counts its half second from
    // the start of the reading.
    if (progress && !progress(0.0)) {
        contents->cancelled = true;
        return;
    }
    const std::optional<device::TimedReading> first = history.First();
    const int step =
        RecordingStepSeconds(span, first ? std::optional<qint64>(first->utcMs) : std::nullopt,
                             [&history](recording::HistoryReader::Resolution resolution) {
                                 return history.Reach(resolution);
                             });

    std::vector<device::Reading>& points = contents->points;
    std::array<std::int64_t, 256> readingsIn{}; // by unit code
    std::int64_t repeated = 0;                  // readings whose local time does not move on
    const auto add = [&](double time, double value, std::uint8_t unitCode, std::int64_t n) {
        if (!points.empty() && time <= points.back().time) {
            repeated += n;
            return;
        }
        device::Reading p;
        p.time = time;
        p.value = value;
        p.unitCode = unitCode;
        points.push_back(p);
        readingsIn[unitCode] += n;
    };
    const double length = static_cast<double>(std::max<qint64>(span.toUtcMs - span.fromUtcMs, 1));
    std::size_t seen = 0;
    bool going = true;
    const auto goOn = [&](qint64 utcMs) {
        if (progress && (++seen & 0xFFF) == 0)
            going = progress(static_cast<double>(utcMs - span.fromUtcMs) / length);
        return going;
    };
    if (step == 0) {
        history.Readings(span.fromUtcMs, span.toUtcMs, [&](const device::TimedReading& t) {
            // An overrange marker holds no value.
            if (!t.reading.overrange)
                add(t.reading.time, t.reading.value, t.reading.unitCode, 1);
            return goOn(t.utcMs);
        });
    } else {
        history.Steps(span.fromUtcMs, span.toUtcMs, step, [&](const recording::HistorySummary& s) {
            if (s.n > 0)
                add(recording::LocalDateTime(s.startUtcMs, s.utcOffsetSeconds), s.Mean(),
                    s.unitCode, s.n);
            return goOn(s.startUtcMs);
        });
    }
    if (!going) {
        points.clear();
        contents->cancelled = true;
        return;
    }
    if (points.empty())
        return;

    // One unit on one axis: the one the span ends in, as the user sees it
    // now.
    const std::uint8_t unitCode = points.back().unitCode;
    std::erase_if(points, [unitCode](const device::Reading& p) { return p.unitCode != unitCode; });
    const device::DisplayUnit* unit = device::FindDisplayUnit(unitCode);
    contents->hasColumnTitles = true;
    contents->bottomAxisTitle = QStringLiteral("Time");
    contents->leftAxisTitle = unit ? unit->name.toString() : QString();
    contents->unitIndex = static_cast<int>(unitNames.indexOf(contents->leftAxisTitle));
    contents->headerLines << QStringLiteral("# Recording: %1 to %2")
                                 .arg(regional.DateTimeText(LocalOf(span.fromUtcMs)),
                                      regional.DateTimeText(LocalOf(span.toUtcMs)))
                          << StepLine(step);
    std::int64_t leftOut = 0;
    for (std::size_t code = 0; code < readingsIn.size(); ++code)
        leftOut += code == unitCode ? 0 : readingsIn[code];
    if (leftOut > 0)
        contents->headerLines
            << QStringLiteral("# Readings in other units left out: %1").arg(leftOut);
    if (repeated > 0)
        contents->headerLines
            << QStringLiteral("# Readings of a repeated local hour left out: %1").arg(repeated);
}

QString NoRecordingText(const QString& journalFolder) {
    if (journalFolder.isEmpty())
        return QStringLiteral("There is no recording to open: readings are not recorded.");
    return QStringLiteral("There is no recording to open: nothing has been recorded in %1 yet.")
        .arg(QDir::toNativeSeparators(journalFolder));
}

QString EmptySpanText(const RecordingSpan& span, const platform::Regional& regional) {
    return QStringLiteral("The recording holds no readings from %1 to %2.")
        .arg(regional.DateTimeText(LocalOf(span.fromUtcMs)),
             regional.DateTimeText(LocalOf(span.toUtcMs)));
}

void OpenRecordingCommand(
    const files::OpenDataFileHooks& window,
    const std::function<RecordingSpanChoice(const RecordingSpanChoice&)>& choose,
    const RecordingSource& source, const platform::Regional& regional,
    RecordingSpanChoice* lastChoice) {
    if (source.journalFolder.isEmpty()) {
        window.message(NoRecordingText(source.journalFolder));
        return;
    }
    const recording::HistoryReader history(source.journalFolder, source.live);
    if (!history.First()) {
        window.message(NoRecordingText(source.journalFolder));
        return;
    }
    if (window.graphHasPoints() && !window.confirm(files::kOpenDataFileQuestion))
        return;
    // A range never chosen yet is offered as the last day.
    if (lastChoice->rangeFrom >= lastChoice->rangeTo) {
        lastChoice->rangeTo = LocalOf(source.nowUtcMs);
        lastChoice->rangeFrom = LocalOf(source.nowUtcMs - kSpanHours[0] * recording::kHourMs);
    }
    const RecordingSpanChoice choice = choose(*lastChoice);
    if (!choice.accepted)
        return;
    *lastChoice = choice;
    const RecordingSpan span = RecordingSpanOf(choice, source.nowUtcMs);

    // Read before anything changes, so a cancelled reading or an empty span
    // leaves the measurement and the graph as they were.
    files::DataFileContents contents;
    if (span.fromUtcMs < span.toUtcMs)
        ReadRecording(history, span, window.unitNames, regional, window.progress, &contents);
    if (contents.cancelled)
        return;
    if (contents.points.empty()) {
        window.message(EmptySpanText(span, regional));
        return;
    }
    // The journal folder stands where a data file's name would, so that the
    // statistics name it with the span and the step beneath.
    files::ShowOpenedData(window, source.journalFolder, contents, true);
}

} // namespace korvinet::app
